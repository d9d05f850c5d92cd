#!/usr/bin/env bash
# Runs a Windows executable under Wine for ctest and the scripts: a private Wine prefix
# and a private Xvfb display, both made on first use and shared by later runs.
#   tools/wine-exec.sh program.exe [args...]
# KELVANE_WINEPREFIX and KELVANE_DISPLAY override where the prefix lives and which display is used.
# KELVANE_WINE_LOGPIXELS=N runs it in a prefix of its own whose screen is at N DPI (96 is 100 %).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
logpixels=${KELVANE_WINE_LOGPIXELS:-}
export WINEPREFIX=${KELVANE_WINEPREFIX:-$root/build/wine-prefix${logpixels:+-dpi$logpixels}}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEARCH=win64
display=${KELVANE_DISPLAY:-:87}
export DISPLAY=$display

lock_dir=$(dirname "$WINEPREFIX")
mkdir -p "$lock_dir"

# One Xvfb per display number; started once and left running for the next test.
display_ready() { xdpyinfo -display "$display" >/dev/null 2>&1; }
if ! display_ready; then
    exec 8>"$lock_dir/.xvfb${display#:}.lock"
    flock 8
    if ! display_ready; then
        nohup Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        for _ in $(seq 1 100); do
            display_ready && break
            sleep 0.05
        done
        display_ready || { echo "wine-exec: Xvfb did not start on $display" >&2; exit 2; }
    fi
    flock -u 8
fi

# The prefix: booted once, then told not to wait for a window manager (closing a window
# otherwise costs 2 s) and to end a crashing program instead of showing the crash dialog.
if [ ! -f "$WINEPREFIX/.kelvane-ready" ]; then
    exec 9>"$lock_dir/.wine-prefix.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.kelvane-ready" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        if [ -n "$logpixels" ]; then
            wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$logpixels" /f \
                >/dev/null 2>&1
        fi
        wineserver -w
        touch "$WINEPREFIX/.kelvane-ready"
    fi
    flock -u 9
fi

exec wine "$@"
