#!/usr/bin/env bash
# Builds Kelvane and the device simulator, starts the simulator on 127.0.0.1:5001 and opens
# Kelvane on $DISPLAY (through Wine on Linux). Without a display, Kelvane runs on a virtual
# one and a screenshot of a short session is saved to build/kelvane.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source tools/packages.sh
kelvane_need_packages "${KELVANE_BUILD_PACKAGES[@]}" imagemagick xdotool

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_TEST_PREFIX=native. >/dev/null
cmake --build build/native --target kelvane-sim
cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKELVANE_TEST_PREFIX=win. >/dev/null
cmake --build build/win --target kelvane

# The simulated device, stopped when Kelvane closes.
build/native/tools/kelvane-sim --address 127.0.0.1 --port 5001 &
sim=$!
xvfb=""
cleanup() {
    kill "$sim" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 0.3
if ! kill -0 "$sim" 2>/dev/null; then
    echo "The device simulator could not start (is port 5001 in use?)." >&2
    exit 1
fi

if [ -n "${DISPLAY:-}" ]; then
    KELVANE_DISPLAY=$DISPLAY tools/wine-exec.sh build/win/kelvane.exe
    exit 0
fi

# No display: a virtual one, a short session driven like an operator would, and a screenshot.
display=:86
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export KELVANE_DISPLAY=$display DISPLAY=$display
tools/wine-exec.sh build/win/kelvane.exe &
app=$!
tools/demo-session.sh || true
import -window root build/kelvane.png
echo "Screenshot of a short session: build/kelvane.png"
# Nobody can use a window on a virtual display: close it as the operator would (Alt+F4).
wid=$(xdotool search --name '^Kelvane$' | head -n 1 || true)
[ -n "$wid" ] && xdotool windowfocus "$wid" key alt+F4 2>/dev/null || true
for _ in $(seq 1 50); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
