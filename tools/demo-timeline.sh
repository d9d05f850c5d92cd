#!/usr/bin/env bash
# Drives the Kelvane window on $DISPLAY through a short session with a simulator that flips
# some inputs by itself (kelvane-sim --toggle 1,5), with the keyboard: nine DIOs, DIO0 set to
# Output/High, a range Read of every DIO, a disconnect and a reconnect; then opens the Timeline
# (Ctrl+T), fits it to the session and puts its cursor and marker on the chart. Prints the
# Timeline's window ID, for a screenshot (docs/timeline.png was taken so):
#   kelvane-sim --toggle 1,5 --toggle-ms 400 & tools/wine-exec.sh build/win/kelvane.exe &
#   import -window "$(tools/demo-timeline.sh | tail -n 1)" timeline.png
# $1: the simulator's port (5001).
set -euo pipefail
port=${1:-5001}
wid=""
for _ in $(seq 1 200); do
    wid=$(xdotool search --name '^Kelvane$' 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    sleep 0.1
done
[ -n "$wid" ] || { echo "demo-timeline: no Kelvane window" >&2; exit 1; }
sleep 0.5
xdotool mousemove 300 20
xdotool windowfocus "$wid" 2>/dev/null || true
keys() { xdotool key --delay 60 "$@"; sleep 0.3; }

xdotool type --delay 40 127.0.0.1
keys Tab ctrl+a
xdotool type --delay 40 "$port"
keys Return            # Enter connects; the focus goes to Disconnect
keys alt+a t Down Return # nine DIOs
sleep 0.5
keys Tab Down          # DIO0 mode: Output
keys Tab Down          # DIO0 state: High
keys Tab space         # Write
keys Tab space         # Read
range_read() {         # past DIO1 to DIO8 to End DIO: 8, then the range Read
    for _ in $(seq 1 32); do xdotool key Tab; done
    keys Tab Tab BackSpace 8 Tab Tab space
}
range_read
sleep 3
keys alt+c             # Disconnect
sleep 1.5
keys alt+c             # Connect again; the focus is on Disconnect
keys Tab Tab Tab Tab space # DIO0's Read
range_read
sleep 2.5
keys ctrl+t
sleep 0.5
tid=$(xdotool search --name '^Kelvane Timeline$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$tid")"
keys f
# A marker by a click, then the cursor a little later.
xdotool mousemove $((X + WIDTH * 45 / 100)) $((Y + 120)) click 1
sleep 0.3
xdotool mousemove $((X + WIDTH * 62 / 100)) $((Y + 150))
sleep 0.6
echo "$tid"
