#!/usr/bin/env bash
# Takes the README's pictures of the chart viewer under Xvfb: docs/viewer.png (English captions)
# and docs/viewer-ja.png (Japanese), over two hours of a log of the simulator's values: 20
# devices DM00100.. as the monitor logs `varnel-sim --pattern counter` once a second, signed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. scripts/lib/common.sh
cmake --preset release >/dev/null
cmake --build --preset release --target varnel-view >/dev/null

make_work_folder varnel-view-shots

# The simulator's counter pattern: value = (device * 4099 + n) mod 65536, n = read commands
# answered before; a cycle of 20 devices is 3 commands of at most 8.
log="$work/2026-12-09 09-00-00.csv"
awk -v rows=7200 'BEGIN {
  printf "YYYY-MM-DD,HH:MM:SS"
  for (d = 100; d < 120; d++) printf ",DM%05d", d
  printf "\r\n"
  for (k = 0; k < rows; k++) {
    s = 9 * 3600 + k
    printf "2026-12-09,%02d:%02d:%02d", int(s / 3600), int(s / 60) % 60, s % 60
    for (i = 0; i < 20; i++) {
      v = ((100 + i) * 4099 + 3 * k + int(i / 8)) % 65536
      printf ",%d", (v >= 32768 ? v - 65536 : v)
    }
    printf "\r\n"
  }
}' >"$log"

start_xvfb 300 1100x700x24

shoot() {  # LANG, output
  XDG_CONFIG_HOME="$work/config-$1" LANG=$1 LC_ALL=$1 build/release/viewer/varnel-view "$log" &
  local pid=$!
  local window
  window=$(wait_for_window --class varnel-view)
  sleep 1.5
  # The crosshair over the chart.
  xdotool mousemove --window "$window" 610 250
  sleep 0.5
  import -window "$window" "$2"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}
shoot C.UTF-8 docs/viewer.png
shoot ja_JP.UTF-8 docs/viewer-ja.png
echo "docs/viewer.png docs/viewer-ja.png"
