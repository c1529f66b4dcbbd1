# shellcheck shell=bash
# What the demo and screenshot scripts share: a work folder cleaned up at exit with every
# process they started, Xvfb, the simulator on 127.0.0.1, the monitor's INI, and bounded waits
# for a window. Sourced, not run: `. "$root/scripts/lib/common.sh"` with $root the checkout.

pids=()

# Makes the work folder $work (mktemp, PREFIX.XXXXXX under $TMPDIR) and, at exit, ends the
# processes in pids and removes the folder unless KEEP is "keep".
make_work_folder() {  # PREFIX [keep]
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  keep_work=${2:-}
  trap cleanup_work EXIT
}

cleanup_work() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ "$keep_work" = keep ] || rm -rf "$work"
}

# Starts Xvfb on a free-looking display from BASE to BASE+99 and exports DISPLAY once it
# answers (up to 5 s).
start_xvfb() {  # BASE SCREEN [Xvfb options...]
  local display=":$(($1 + RANDOM % 100))" screen=$2
  shift 2
  Xvfb "$display" "$@" -screen 0 "$screen" -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb did not start on $display (see $work/xvfb.log)" >&2
  return 1
}

# Prints the first visible window that `xdotool search` finds with ARGS, within 10 s.
wait_for_window() {  # xdotool search arguments, e.g. --name '^Varnel Ver' or --class varnel-view
  local window
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && { echo "$window"; return 0; }
    sleep 0.1
  done
  echo "no window for '$*' within 10 s" >&2
  return 1
}

# Starts build/release's varnel-sim on 127.0.0.1 with a port the system picks and sets
# sim_port (its output in $work/sim.out and $work/sim.log).
# shellcheck disable=SC2120 # the options are optional
start_simulator() {  # [varnel-sim options...]
  "${root:?}/build/release/tools/sim/varnel-sim" --bind 127.0.0.1 --port 0 "$@" \
    >"$work/sim.out" 2>"$work/sim.log" &
  pids+=($!)
  for _ in $(seq 50); do grep -q listening "$work/sim.out" && break; sleep 0.1; done
  sim_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")
  [ -n "$sim_port" ] && return 0
  echo "the simulator did not start" >&2
  cat "$work/sim.log" >&2
  return 1
}

# The monitor's INI for 20 devices DM00100.. from the simulator at PORT, once a second.
write_monitor_ini() {  # PORT FILE
  printf '[Setup]\nIPAddress=127.0.0.1\nPortNo=%s\nInterval=1\nTimeOut=100\nDeviceName=0\nDeviceStart=100\nDeviceNum=20\nUnsigned=0\n' \
    "$1" >"$2"
}
