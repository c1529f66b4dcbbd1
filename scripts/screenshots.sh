#!/usr/bin/env bash
# Regenerates the README's screenshots under docs/: the main window while it logs from the
# simulator on 127.0.0.1, the settings dialog and the version dialog, each under Xvfb; then the
# chart viewer's (viewer/scripts/screenshot.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target varnel varnel-sim >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-shots.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

build/release/tools/sim/varnel-sim --port 0 >"$work/sim.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do grep -q listening "$work/sim.out" && break; sleep 0.1; done
port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$work/sim.out")
cp build/release/varnel "$work/"
printf '[Setup]\nIPAddress=127.0.0.1\nPortNo=%s\nInterval=1\nTimeOut=100\nDeviceName=0\nDeviceStart=100\nDeviceNum=20\nUnsigned=0\n' \
  "$port" >"$work/varnel.ini"

display=":$((200 + RANDOM % 100))"
Xvfb "$display" -noreset -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

(cd "$work" && exec ./varnel) &
pids+=($!)
find_window() {
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 && return
    sleep 0.1
  done
  echo "window '$1' did not appear" >&2
  exit 1
}
main=$(find_window '^Varnel Ver')
xdotool mousemove --window "$main" 194 56 click 1
sleep 2.5
import -window "$main" docs/main-window.png
xdotool mousemove --window "$main" 45 56 click 1
settings=$(find_window '^設定$')
sleep 0.5
import -window "$settings" docs/settings-dialog.png
xdotool key --window "$settings" Escape 2>/dev/null || true
xdotool mousemove --window "$settings" 224 283 click 1
sleep 0.5
xdotool mousemove --window "$main" 276 97 click 1
version=$(find_window '^Version$')
sleep 0.5
import -window "$version" docs/version-dialog.png
xdotool mousemove --window "$version" 197 132 click 1
sleep 0.3
xdotool mousemove --window "$main" 46 97 click 1
echo "docs/main-window.png docs/settings-dialog.png docs/version-dialog.png"
viewer/scripts/screenshot.sh
