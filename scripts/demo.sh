#!/usr/bin/env bash
# Runs the monitor against the bundled controller simulator on 127.0.0.1.
# With a display, the window opens for you to press 実行 (Run); the log is printed after you
# close it. Without one, the window runs under Xvfb: Run is pressed for you, it logs for a few
# seconds, stops, exits, prints the CSV and saves a screenshot of the running window beside it.
# --view also opens the chart viewer on the log once the monitor has begun it, and follows it
# as it grows (headless: a screenshot of the viewer too).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib/common.sh

view=0
for arg in "$@"; do
  case "$arg" in
    --view) view=1 ;;
    *) echo "usage: scripts/demo.sh [--view]" >&2; exit 2 ;;
  esac
done
targets=(varnel varnel-sim)
[ "$view" = 1 ] && targets+=(varnel-view)

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target "${targets[@]}"

# The folder stays: it holds the log and the screenshots the demo names.
make_work_folder varnel-demo keep
start_simulator --pattern counter
port=$sim_port

# The monitor reads the INI beside its executable, so it runs from a copy with a demo INI
# that points at the simulator. The log is written to the current directory.
cp build/release/varnel "$work/varnel"
write_monitor_ini "$port" "$work/varnel.ini"
cd "$work"
echo "simulator on 127.0.0.1:$port; monitor in $work"

print_log() {
  for csv in "$work"/*.csv; do
    [ -e "$csv" ] || { echo "no log was written"; return; }
    echo "== $csv =="
    cat "$csv"
  done
}

# The viewer opens the folder's newest log, the monitor's, as soon as there is one. Its
# settings (recent files) stay in the demo's directory.
start_viewer() {
  for _ in $(seq 600); do
    compgen -G "$work/*.csv" >/dev/null && break
    sleep 0.5
  done
  XDG_CONFIG_HOME="$work/config" exec "$root/build/release/viewer/varnel-view" "$work"
}

if [ -n "${DISPLAY:-}" ]; then
  viewer_pid=""
  if [ "$view" = 1 ]; then
    start_viewer &
    viewer_pid=$!
    pids+=("$viewer_pid")
    echo "the chart viewer opens once you press 実行 (Run)"
  fi
  ./varnel
  print_log
  if [ -n "$viewer_pid" ]; then
    echo "close the viewer to end the demo"
    wait "$viewer_pid" 2>/dev/null || true
  fi
  exit 0
fi

start_xvfb 90 1400x700x24 -noreset

./varnel &
varnel_pid=$!
pids+=("$varnel_pid")
window=$(wait_for_window --name '^Varnel Ver')

# Button centres in client coordinates: Run (157,44), Stop (239,44), Exit (9,85), 75 x 25.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
click 194 56
sleep 4
import -window "$window" "$work/running.png" 2>/dev/null ||
  import -window root "$work/running.png"
if [ "$view" = 1 ]; then
  start_viewer &
  pids+=($!)
  viewer=$(wait_for_window --class varnel-view)
  # Beside the monitor, whose buttons are clicked below.
  xdotool windowmove "$viewer" 340 0
  sleep 5
  import -window "$viewer" "$work/viewer.png"
fi
click 276 56
sleep 1
click 46 97
for _ in $(seq 50); do kill -0 "$varnel_pid" 2>/dev/null || break; sleep 0.1; done
print_log
echo "screenshot of the running window: $work/running.png"
[ "$view" = 1 ] && echo "screenshot of the viewer following the log: $work/viewer.png"
exit 0
