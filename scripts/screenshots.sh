#!/usr/bin/env bash
# Regenerates the README's screenshots under docs/: the main window while it logs from the
# simulator on 127.0.0.1, the settings dialog and the version dialog, each under Xvfb; then the
# chart viewer's (viewer/scripts/screenshot.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib/common.sh
cmake --preset release >/dev/null
cmake --build --preset release --target varnel varnel-sim >/dev/null

make_work_folder varnel-shots
start_simulator
cp build/release/varnel "$work/"
write_monitor_ini "$sim_port" "$work/varnel.ini"
start_xvfb 200 640x480x24 -noreset

(cd "$work" && exec ./varnel) &
pids+=($!)
main=$(wait_for_window --name '^Varnel Ver')
xdotool mousemove --window "$main" 194 56 click 1
sleep 2.5
import -window "$main" docs/main-window.png
xdotool mousemove --window "$main" 45 56 click 1
settings=$(wait_for_window --name '^設定$')
sleep 0.5
import -window "$settings" docs/settings-dialog.png
xdotool key --window "$settings" Escape 2>/dev/null || true
xdotool mousemove --window "$settings" 224 283 click 1
sleep 0.5
xdotool mousemove --window "$main" 276 97 click 1
version=$(wait_for_window --name '^Version$')
sleep 0.5
import -window "$version" docs/version-dialog.png
xdotool mousemove --window "$version" 197 132 click 1
sleep 0.3
xdotool mousemove --window "$main" 46 97 click 1
echo "docs/main-window.png docs/settings-dialog.png docs/version-dialog.png"
viewer/scripts/screenshot.sh
