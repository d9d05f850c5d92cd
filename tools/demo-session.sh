#!/usr/bin/env bash
# Drives the Kelvane window on $DISPLAY the way an operator would, with the keyboard only:
# type the simulator's address, Enter to connect, set DIO0 to Output/High and Write it, Read
# it back, then a range Read of DIOs 0 to 3. Used by run.sh for its screenshot.
set -euo pipefail
wid=""
for _ in $(seq 1 200); do
    wid=$(xdotool search --name '^Kelvane$' 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    sleep 0.1
done
[ -n "$wid" ] || { echo "demo-session: no Kelvane window" >&2; exit 1; }
sleep 0.5
xdotool windowfocus "$wid" 2>/dev/null || true
keys() { xdotool key --delay 60 "$@"; sleep 0.3; }

xdotool type --delay 40 127.0.0.1
keys Return            # Enter connects; the focus goes to Disconnect
sleep 0.5
keys Tab Down          # DIO0 mode: Output
keys Tab Down          # DIO0 state: High
keys Tab space         # Write
keys Tab space         # Read
for _ in $(seq 1 12); do xdotool key Tab; done # past DIO1 to DIO3
sleep 0.2
keys Tab Tab           # Start DIO stays 0; End DIO
keys BackSpace 3
keys Tab Tab space     # the range Read
sleep 1
