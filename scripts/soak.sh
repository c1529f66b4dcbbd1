#!/usr/bin/env bash
# Fault soak: runs varnel-logger against varnel-sim on 127.0.0.1 for SECONDS (default 60) while,
# at random moments, the simulator's fault changes, the logger's file system fills and frees,
# and the logger is killed (SIGKILL, sometimes SIGTERM) and started again. When mosquitto is
# installed, the logger also publishes every row to a broker of the script's own on 127.0.0.1,
# which is killed (SIGKILL, then started again) or stopped (SIGSTOP, later SIGCONT) at random,
# and one persistent QoS 1 subscriber takes the rows for the whole soak. Then it checks every
# line of every log, that no row the logger reported written is missing and that every row
# reached the subscriber with its values, prints the figures and exits 1 on any bad line, lost
# row, wrong value, row the subscriber never got, crash, hang or stall.
#
#   scripts/soak.sh [SECONDS]
#
# Environment:
#   SOAK_SEED=N       the seed of the random choices (printed; the same seed repeats the same
#                     sequence of actions, though not their exact timing)
#   SOAK_DEVICES=N    devices per row, DM00100 on (default 20)
#   SOAK_STORAGE=auto|tmpfs|prlimit
#                     how the file system fills: a small tmpfs mounted for the run and filled
#                     with a file, or the logger's file-size limit (RLIMIT_FSIZE) lowered
#                     below its log's size; auto (default) takes tmpfs when it can be mounted
#   SOAK_BROKER=auto|0
#                     auto (default): publish to a broker of the script's own when mosquitto
#                     and mosquitto_sub are installed; 0: no broker
#   SOAK_KEEP=1       keep the work folder (logs, journals, run table) after a passing run too
#
# Rows lost are counted per logger run: the rows in the output folder are counted while no
# logger runs, before each start and after each end, so the difference is what that run added.
# A run ended by SIGTERM prints "stopped: R rows written, ..."; R must equal what it added. A
# run ended by SIGKILL reports nothing, so its rows are only checked line by line.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }

duration=60
case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  "") ;;
  *)
    [[ $1 =~ ^[1-9][0-9]{0,6}$ ]] || { echo "soak: SECONDS is a whole number above 0, not '$1'" >&2; exit 2; }
    duration=$1
    ;;
esac
[ $# -le 1 ] || { echo "soak: one argument at most (see --help)" >&2; exit 2; }
devices=${SOAK_DEVICES:-20}
[[ $devices =~ ^[1-9][0-9]{0,2}$|^1000$ ]] || { echo "soak: SOAK_DEVICES is 1 to 1000" >&2; exit 2; }
first_device=100
seed=${SOAK_SEED:-$(od -An -N2 -tu2 /dev/urandom | tr -d ' ')}
[[ $seed =~ ^[0-9]+$ ]] || { echo "soak: SOAK_SEED must be a whole number" >&2; exit 2; }
RANDOM=$seed
storage=${SOAK_STORAGE:-auto}
case $storage in auto | tmpfs | prlimit) ;; *) echo "soak: SOAK_STORAGE is auto, tmpfs or prlimit" >&2; exit 2 ;; esac
broker=${SOAK_BROKER:-auto}
case $broker in auto | 0) ;; *) echo "soak: SOAK_BROKER is auto or 0" >&2; exit 2 ;; esac
if [ "$broker" = auto ] && command -v mosquitto >/dev/null && command -v mosquitto_sub >/dev/null; then
  broker=1
else
  broker=0
fi

# ---------------------------------------------------------------------------------------------
# Build and set up

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-soak.XXXXXX")
fs=$work/fs      # the file system that fills: a tmpfs, or a plain folder under the limit
logs=$fs/logs
mounted=0
sim_pid=""
logger_pid=""
journal_pid=""
broker_pid=""
broker_state=none  # up, stopped or down
subscriber_pid=""

# Running, not ended (a child that ended stays a zombie until it is waited for).
alive() {
  local state=""
  [ -r "/proc/$1/stat" ] && read -r _ _ state _ 2>/dev/null <"/proc/$1/stat"
  [ -n "$state" ] && [ "$state" != Z ]
}

stop_logger_now() {
  if [ -n "$logger_pid" ]; then
    kill -KILL "$logger_pid" 2>/dev/null || true
    wait "$logger_pid" 2>/dev/null || true
    logger_pid=""
  fi
  if [ -n "$journal_pid" ]; then
    # It ends with the logger's output, or was still waiting for a logger to start.
    for _ in $(seq 20); do alive "$journal_pid" || break; sleep 0.1; done
    kill "$journal_pid" 2>/dev/null || true
    wait "$journal_pid" 2>/dev/null || true
    journal_pid=""
  fi
}

stop_subscriber() {
  [ -n "$subscriber_pid" ] || return 0
  kill "$subscriber_pid" 2>/dev/null || true
  wait "$subscriber_pid" 2>/dev/null || true
  subscriber_pid=""
}

stop_broker() {
  [ -n "$broker_pid" ] || return 0
  kill -CONT "$broker_pid" 2>/dev/null || true
  kill "$broker_pid" 2>/dev/null || true
  for _ in $(seq 50); do alive "$broker_pid" || break; sleep 0.1; done
  kill -KILL "$broker_pid" 2>/dev/null || true
  wait "$broker_pid" 2>/dev/null || true
  broker_pid=""
  broker_state=down
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  stop_logger_now
  stop_subscriber
  stop_broker
  if [ -n "$sim_pid" ]; then
    { printf 'quit\n' >&"$sim_in"; } 2>/dev/null
    for _ in $(seq 50); do alive "$sim_pid" || break; sleep 0.1; done
    kill -KILL "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  local keep=${SOAK_KEEP:-0}
  [ "$status" -ne 0 ] && keep=1
  if [ "$mounted" = 1 ]; then
    [ "$keep" = 1 ] && cp -a "$logs" "$work/logs" 2>/dev/null
    umount "$fs" 2>/dev/null || umount -l "$fs"
  fi
  if [ "$keep" = 1 ]; then
    echo "soak: logs, journals and the run table are in $work (seed $seed)" >&2
  else
    rm -rf "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# A simulator that died must fail a command, not kill the script. Trapped rather than
# ignored, so that the programs under test start with the default action.
trap ':' PIPE

die() {
  echo "soak: $*" >&2
  exit 1
}

step() { printf '\n== %s ==\n' "$*"; }

step "build (release)"
cmake --preset release >"$work/build.log" 2>&1 || { cat "$work/build.log"; die "configure failed"; }
cmake --build --preset release --target varnel-logger varnel-sim varnel-soak-check \
  >>"$work/build.log" 2>&1 || { cat "$work/build.log"; die "build failed"; }
logger_bin=$PWD/build/release/logger/varnel-logger
sim_bin=$PWD/build/release/tools/sim/varnel-sim
check_bin=$PWD/build/release/tools/soak_check/varnel-soak-check
echo "varnel-logger, varnel-sim and varnel-soak-check built in build/release"

mkdir -p "$fs" "$work/journal"
# A log's worth of a run and ample room: about 200 bytes a row, a row a second.
fs_bytes=$(((duration * 1024 > 1048576 ? duration * 1024 : 1048576) / 4096 * 4096))
if [ "$storage" != prlimit ] && mount -t tmpfs -o "size=$fs_bytes,mode=0755" varnel-soak "$fs" 2>/dev/null; then
  mounted=1
  storage=tmpfs
  storage_text="tmpfs of $((fs_bytes / 1024)) KiB mounted at $fs, filled with a file"
elif [ "$storage" = tmpfs ]; then
  die "cannot mount a tmpfs (needs root); SOAK_STORAGE=prlimit uses the file-size limit"
else
  command -v prlimit >/dev/null || die "neither mount -t tmpfs nor prlimit (util-linux) works here"
  storage=prlimit
  storage_text="the logger's file-size limit (prlimit --fsize), lowered to its log's size"
  fsize_hard=$(prlimit --pid $$ --fsize --noheadings --raw --output HARD)
fi
mkdir -p "$logs"

# ---------------------------------------------------------------------------------------------
# The simulator, switched through its standard input

coproc SIM { exec "$sim_bin" --control --port 0 2>"$work/sim.log"; }
# shellcheck disable=SC2153 # coproc sets SIM_PID
sim_pid=$SIM_PID
sim_out=${SIM[0]}
sim_in=${SIM[1]}
read -r -t 10 -u "$sim_out" listening || die "the simulator did not start (see $work/sim.log)"
[[ $listening =~ ^varnel-sim\ listening\ on\ 127\.0\.0\.1:([0-9]+)$ ]] ||
  die "unexpected first line from the simulator: $listening"
port=${BASH_REMATCH[1]}

sim_command() {
  local answer
  printf '%s\n' "$1" >&"$sim_in" || die "the simulator takes no more commands (see $work/sim.log)"
  read -r -t 10 -u "$sim_out" answer || die "no answer from the simulator to '$1'"
  [ "$answer" = "ok $1" ] || die "the simulator answered '$answer' to '$1'"
}

# ---------------------------------------------------------------------------------------------
# The broker and its subscriber

broker_kills=0
broker_stops=0
subscriber_starts=0

# Starts the broker on $broker_port; false when it ended or did not listen within 10 s.
start_broker() {
  mosquitto -c "$work/broker/mosquitto.conf" >>"$work/broker.log" 2>&1 {sim_in}>&- {sim_out}<&- &
  broker_pid=$!
  for _ in $(seq 200); do
    alive "$broker_pid" || break
    if (exec 3<>"/dev/tcp/127.0.0.1/$broker_port") 2>/dev/null; then
      broker_state=up
      return 0
    fi
    sleep 0.05
  done
  wait "$broker_pid" 2>/dev/null || true
  broker_pid=""
  return 1
}

# The one subscriber of the soak: QoS 1 and a persistent session, so rows queue for it while
# it is away; it connects again by itself after the broker's restarts.
start_subscriber() {
  subscriber_starts=$((subscriber_starts + 1))
  mosquitto_sub -h 127.0.0.1 -p "$broker_port" -q 1 -c -i varnel-soak-subscriber \
    -t varnel/soak/rows >>"$work/received.txt" 2>>"$work/subscriber.log" {sim_in}>&- {sim_out}<&- &
  subscriber_pid=$!
}

# Broker faults: a stopped broker is continued; a running one is killed or stopped.
broker_fault() {
  if [ "$broker_state" = stopped ]; then
    kill -CONT "$broker_pid"
    broker_state=up
  elif [ $((RANDOM % 2)) -eq 0 ]; then
    broker_kills=$((broker_kills + 1))
    kill -KILL "$broker_pid"
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=""
    broker_state=down  # started again after the next pause
  else
    broker_stops=$((broker_stops + 1))
    kill -STOP "$broker_pid"
    broker_state=stopped
  fi
}

broker_up() {
  if [ "$broker_state" = stopped ]; then
    kill -CONT "$broker_pid"
    broker_state=up
  fi
  if [ "$broker_state" = down ]; then
    start_broker || die "the broker did not start again on 127.0.0.1:$broker_port (see $work/broker.log)"
  fi
  return 0
}

mqtt_section=""
if [ "$broker" = 1 ]; then
  mkdir -p "$work/broker"
  : >"$work/received.txt"
  # A free port: one that nothing answers on, and that the broker can then listen on.
  for _ in $(seq 20); do
    broker_port=$((20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$broker_port") 2>/dev/null && continue
    # Saved after every change, so that a killed broker keeps what it acknowledged.
    cat >"$work/broker/mosquitto.conf" <<EOF
listener $broker_port 127.0.0.1
allow_anonymous true
persistence true
persistence_location $work/broker/
autosave_on_changes true
autosave_interval 1
max_queued_messages 0
user $(id -un)
EOF
    start_broker && break
  done
  [ "$broker_state" = up ] || die "no broker could be started on 127.0.0.1 (see $work/broker.log)"
  start_subscriber
  sleep 1.5  # subscribed, and its session saved, before the first row
  mqtt_section=$'\n[MQTT]\nHost=127.0.0.1\nPort='"$broker_port"$'\nTopic=varnel/soak\nKeepAlive=5'
fi

# The config points at the simulator (and the broker) before any logger polls.
config=$work/soak.ini
cat >"$config" <<EOF
[Setup]
IPAddress=127.0.0.1
PortNo=$port
Interval=1
TimeOut=100
DeviceName=0
DeviceStart=$first_device
DeviceNum=$devices
Unsigned=0$mqtt_section
EOF

# ---------------------------------------------------------------------------------------------
# Storage

full=0
fills=0

# Limit for a process while the storage is "full": its newest log's size, plus up to a row's
# worth so that some appends are cut short half-way rather than refused whole.
fsize_limit() {
  local newest size=0
  newest=$(find "$logs" -maxdepth 1 -name '*.csv' -printf '%f\n' | sort | tail -n 1)
  [ -n "$newest" ] && size=$(stat -c %s "$logs/$newest")
  echo $((size + RANDOM % 300))
}

fill_storage() {
  fills=$((fills + 1))
  full=1
  if [ "$storage" = tmpfs ]; then
    dd if=/dev/zero of="$fs/fill" bs=64K status=none 2>/dev/null || true
  else
    prlimit --pid "$logger_pid" --fsize="$(fsize_limit):"
  fi
}

free_storage() {
  full=0
  if [ "$storage" = tmpfs ]; then
    rm -f "$fs/fill"
  elif [ -n "$logger_pid" ]; then
    prlimit --pid "$logger_pid" --fsize="$fsize_hard:"
  fi
}

# ---------------------------------------------------------------------------------------------
# Logger runs

runs=0
kills=0
terms=0
kill_restarts=0
term_restarts=0
problems=()
rows_before=0
run_journal=""
reported_total=0
added_by_terms=0
published_by_terms=0
lost=0
extra=0
unwritten_at_exit=0
declare -A logger_totals=([requests]=0 [resends]=0 [dropped]=0 [errors]=0)
printf 'run\tended by\tstorage\trows added\treported written\texit\n' >"$work/runs.tsv"

problem() {
  problems+=("$*")
  echo "soak: PROBLEM: $*" >&2
}

# Data rows in the output folder: every line that is not a header.
count_rows() {
  local files=("$logs"/*.csv)
  [ -e "${files[0]}" ] || { echo 0; return; }
  "$check_bin" --count-rows "${files[@]}"
}

start_logger() {
  runs=$((runs + 1))
  run_journal=$work/journal/run-$(printf %03d "$runs").log
  rows_before=$(count_rows)
  local limit=()
  [ "$storage" = prlimit ] && [ "$full" = 1 ] && limit=(prlimit --fsize="$(fsize_limit):")
  # The journal goes through a pipe: a file-size limit must not cut it short.
  rm -f "$work/journal.pipe"
  mkfifo "$work/journal.pipe"
  : >"$run_journal"
  cat <"$work/journal.pipe" >"$run_journal" {sim_in}>&- {sim_out}<&- &
  journal_pid=$!
  "${limit[@]}" "$logger_bin" --config "$config" --output "$logs" --sync row \
    >"$work/journal.pipe" 2>&1 {sim_in}>&- {sim_out}<&- &
  logger_pid=$!
  # Ready once it prints its first line, after its signal handling is in place.
  for _ in $(seq 200); do
    grep -q '^[0-9-]* [0-9:]* varnel-logger ' "$run_journal" && return 0
    alive "$logger_pid" || break
    sleep 0.05
  done
  alive "$logger_pid" || return 0  # reported by end_run
  problem "run $runs: the logger printed nothing within 10 s of its start"
}

# Ends the running logger with SIGKILL or SIGTERM (or finds it gone) and checks what it left.
end_run() {
  local how=$1 status=0 state=free
  [ "$full" = 1 ] && state=full
  if ! alive "$logger_pid"; then
    wait "$logger_pid" 2>/dev/null || status=$?
    problem "run $runs: the logger ended by itself with status $status (journal $run_journal)"
    how=self
  else
    kill -s "$how" "$logger_pid"
    if [ "$how" = TERM ]; then
      # Up to a second for the cycle in flight, then the backlog: far less than this bound.
      for _ in $(seq 100); do alive "$logger_pid" || break; sleep 0.1; done
      if alive "$logger_pid"; then
        problem "run $runs: the logger still ran 10 s after SIGTERM (journal $run_journal)"
        kill -KILL "$logger_pid"
      fi
    fi
    wait "$logger_pid" 2>/dev/null || status=$?
  fi
  logger_pid=""
  wait "$journal_pid" 2>/dev/null || true
  journal_pid=""
  local added=$(($(count_rows) - rows_before)) reported=-
  if [ "$how" = TERM ]; then
    terms=$((terms + 1))
    local summary
    summary=$(grep -E ' stopped: [0-9]+ rows? written, [0-9]+ requests?, [0-9]+ resends?, [0-9]+ datagrams? dropped, [0-9]+ errors?(, [0-9]+ rows? published, [0-9]+ rows? unsent)?$' \
      "$run_journal" | tail -n 1 || true)
    if [ -z "$summary" ]; then
      problem "run $runs: no summary line after SIGTERM (status $status, journal $run_journal)"
    else
      read -r reported requests resends dropped errors published < <(sed -E \
        's/.* stopped: ([0-9]+) rows? written, ([0-9]+) requests?, ([0-9]+) resends?, ([0-9]+) datagrams? dropped, ([0-9]+) errors?(, ([0-9]+) rows? published.*)?$/\1 \2 \3 \4 \5 \7/' \
        <<<"$summary")
      published_by_terms=$((published_by_terms + ${published:-0}))
      reported_total=$((reported_total + reported))
      added_by_terms=$((added_by_terms + added))
      logger_totals[requests]=$((logger_totals[requests] + requests))
      logger_totals[resends]=$((logger_totals[resends] + resends))
      logger_totals[dropped]=$((logger_totals[dropped] + dropped))
      logger_totals[errors]=$((logger_totals[errors] + errors))
      if [ "$added" -lt "$reported" ]; then
        lost=$((lost + reported - added))
        problem "run $runs: reported $reported rows written, the folder gained $added"
      elif [ "$added" -gt "$reported" ]; then
        extra=$((extra + added - reported))
        problem "run $runs: reported $reported rows written, the folder gained $added"
      fi
    fi
    local unwritten
    unwritten=$(sed -nE 's/.* ([0-9]+) rows? could not be written to .*/\1/p' "$run_journal" | tail -n 1)
    # Exit 1 is right only when rows were left unwritten, which needs a full file system.
    if [ "$status" -eq 1 ] && [ -n "$unwritten" ] && [ "$state" = full ]; then
      unwritten_at_exit=$((unwritten_at_exit + unwritten))
    elif [ "$status" -ne 0 ]; then
      problem "run $runs: exit status $status after SIGTERM with the storage $state (journal $run_journal)"
    fi
  elif [ "$how" = KILL ]; then
    kills=$((kills + 1))
    [ "$status" -eq 137 ] || problem "run $runs: status $status after SIGKILL"
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$runs" "$how" "$state" "$added" "$reported" "$status" \
    >>"$work/runs.tsv"
}

# What the subscriber received against the logs: prints "messages distinct rows missing wrong
# strays" (messages received, distinct file and row pairs among them, rows in the logs, rows
# never received, rows received with other values than logged, rows received that no log
# holds) and notes the first of each kind in $work/subscriber-notes.txt.
check_received() {
  local files=("$logs"/*.csv)
  [ -e "${files[0]}" ] || files=()
  awk -v received="$work/received.txt" -v notes="$work/subscriber-notes.txt" '
    function note(kind, text) { if (noted[kind]++ < 10) print kind ": " text >notes }
    FILENAME == received {
      if (!match($0, /"file":"[^"]*"/)) next
      file = substr($0, RSTART + 8, RLENGTH - 9)
      match($0, /"row":[0-9]+/); row = substr($0, RSTART + 6, RLENGTH - 6)
      match($0, /"time":"[^"]*"/); stamp = substr($0, RSTART + 8, RLENGTH - 9)
      line = substr(stamp, 1, 10) "," substr(stamp, 12, 8)
      match($0, /"values":\{[^}]*\}/)
      n = split(substr($0, RSTART + 10, RLENGTH - 11), values, ",")
      for (i = 1; i <= n; i++) { sub(/^"[^"]*":/, "", values[i]); line = line "," values[i] }
      messages++
      key = file "\t" row
      if (!(key in got)) { distinct++; got[key] = line }
      else if (got[key] != line) { wrong++; note("copy differs", key ": " line) }
      next
    }
    FNR == 1 { name = FILENAME; sub(/.*\//, "", name); row = 0 }
    {
      sub(/\r$/, "")
      if ($0 ~ /^YYYY-MM-DD/) next
      key = name "\t" (++row)
      rows++
      logged[key] = 1
      if (!(key in got)) { missing++; note("not received", key) }
      else if (got[key] != $0) { wrong++; note("other values", key ": " got[key] " logged " $0) }
    }
    END {
      for (key in got) if (!(key in logged)) { strays++; note("in no log", key) }
      printf "%d %d %d %d %d %d\n", messages, distinct, rows, missing, wrong, strays
    }' "$work/received.txt" "${files[@]}"
}

# Waits up to $1 seconds for the subscriber to hold every row of the logs.
wait_for_subscriber() {
  for _ in $(seq "$(($1 * 2))"); do
    : >"$work/subscriber-notes.txt"
    read -r _ _ _ sub_missing _ _ < <(check_received)
    [ "$sub_missing" -eq 0 ] && return 0
    sleep 0.5
  done
  return 1
}

# ---------------------------------------------------------------------------------------------
# The soak

declare -A injected=([silent]=0 [delay]=0 [twice]=0 [badlength]=0 [altaddress]=0
  [unsolicited]=0 [drop]=0 [none]=0)
fault_kinds=(silent delay twice badlength altaddress unsolicited drop none)

# Sets `fault`; no command substitution, so that RANDOM stays one sequence.
pick_fault() {
  local kind=${fault_kinds[RANDOM % ${#fault_kinds[@]}]}
  case $kind in
    # Beyond the time-out of 100 ms, well within the 10 s an answer is still waited for.
    delay) fault=delay:$((150 + RANDOM % 1350)) ;;
    unsolicited) fault=unsolicited:$((20 + RANDOM % 280)) ;;
    drop) fault=drop:$((2 + RANDOM % 5)) ;;
    *) fault=$kind ;;
  esac
}

pause() {
  local ms=$((200 + RANDOM % 2800))
  sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
}

step "soak: $duration s, seed $seed, DM$(printf %05d $first_device) x $devices, storage: $storage"
echo "simulator on 127.0.0.1:$port; storage: $storage_text"
if [ "$broker" = 1 ]; then
  broker_text=", broker up"
  echo "broker on 127.0.0.1:$broker_port; subscriber of varnel/soak/rows (QoS 1, persistent)"
fi
start_logger
end_at=$((SECONDS + duration))
while [ "$SECONDS" -lt "$end_at" ]; do
  pause
  if [ "$broker_state" = down ]; then
    broker_up
  fi
  if [ -n "$subscriber_pid" ] && ! alive "$subscriber_pid"; then
    wait "$subscriber_pid" 2>/dev/null || true
    start_subscriber
  fi
  if ! alive "$logger_pid"; then
    end_run self
    start_logger
    continue
  fi
  action=$((RANDOM % (broker == 1 ? 12 : 10)))
  if [ "$action" -ge 10 ]; then
    broker_fault
  elif [ "$action" -lt 6 ]; then
    pick_fault
    sim_command "fault $fault"
    injected[${fault%%:*}]=$((injected[${fault%%:*}] + 1))
  elif [ "$action" -lt 8 ]; then
    if [ "$full" = 1 ]; then free_storage; else fill_storage; fi
  elif [ "$action" -lt 9 ]; then
    end_run KILL
    kill_restarts=$((kill_restarts + 1))
    start_logger
  else
    end_run TERM
    term_restarts=$((term_restarts + 1))
    start_logger
  fi
done

# The end: a healthy controller and free storage must bring fresh rows soon, whatever came
# before; then the last run ends by SIGTERM like any other.
step "recovery: fault none, storage free${broker_text:-}"
sim_command "fault none"
[ "$full" = 1 ] && free_storage
[ "$broker" = 1 ] && broker_up
if ! alive "$logger_pid"; then
  end_run self
  start_logger
fi
recovery_start=$SECONDS
fresh=$(date -d "@$(($(date +%s) + 1))" +%Y-%m-%d,%H:%M:%S)
recovered=""
for _ in $(seq 300); do
  newest=$(find "$logs" -maxdepth 1 -name '*.csv' -printf '%f\n' | sort | tail -n 1)
  if [ -n "$newest" ]; then
    last=$(tail -n 1 "$logs/$newest" | cut -c 1-19)
    if [[ $last =~ ^[0-9-]+,[0-9:]+$ ]] && [[ ! $last < $fresh ]]; then
      recovered=$((SECONDS - recovery_start))
      break
    fi
  fi
  alive "$logger_pid" || break
  sleep 0.1
done
if [ -n "$recovered" ]; then
  echo "fresh rows again after ${recovered} s"
else
  problem "no fresh row within 30 s of a healthy controller and free storage (journal $run_journal)"
fi
# The backlog of the broker's outages drains behind the live rows before the last stop; the
# logger's reconnection waits up to 60 s.
if [ "$broker" = 1 ]; then
  delivered_start=$SECONDS
  if wait_for_subscriber 90; then
    echo "every row so far at the subscriber after $((SECONDS - delivered_start)) s"
  fi
fi
end_run TERM
if [ "$broker" = 1 ]; then
  wait_for_subscriber 30 || true
  stop_subscriber
  stop_broker
  read -r sub_messages sub_distinct sub_rows sub_missing sub_wrong sub_strays < <(check_received)
  [ "$sub_missing" -eq 0 ] || problem "$sub_missing of $sub_rows rows never reached the subscriber (see $work/subscriber-notes.txt)"
  [ "$sub_wrong" -eq 0 ] || problem "$sub_wrong rows reached the subscriber with other values than logged"
  [ "$sub_strays" -eq 0 ] || problem "$sub_strays rows reached the subscriber that no log holds"
fi
printf 'counts\n' >&"$sim_in"
read -r -t 10 -u "$sim_out" sim_counts || sim_counts="(no answer)"
sim_command quit
wait "$sim_pid" || problem "the simulator ended with status $?"
sim_pid=""

# ---------------------------------------------------------------------------------------------
# Every line of every log

step "checking every log line"
log_files=("$logs"/*.csv)
[ -e "${log_files[0]}" ] || log_files=()
for file in "${log_files[@]}"; do
  # A file ends at a line's end, or is empty; never inside a row.
  [ -s "$file" ] && [ -n "$(tail -c 1 "$file")" ] && problem "$(basename "$file") ends inside a line"
done
check=$work/check.txt
# The checker reads the logs with the viewer's reader and computes the simulator's values
# with its own code; it exits 1 on a wrong line, which the figures below report.
check_status=0
"$check_bin" --first "$first_device" --devices "$devices" --notes "$work/bad-lines.txt" \
  "${log_files[@]}" >"$check" || check_status=$?
[ "$check_status" -le 1 ] || die "the log checker failed with status $check_status"
read -r files_f headers_f rows_f bad_f wrong_f wrongrows_f disorder_f <"$check"
files_n=${files_f#*=} headers_n=${headers_f#*=} rows_n=${rows_f#*=}
bad_n=${bad_f#*=} wrong_n=${wrong_f#*=} wrongrows_n=${wrongrows_f#*=} disorder_n=${disorder_f#*=}
[ "$bad_n" -eq 0 ] || problem "$bad_n bad lines"
[ "$wrong_n" -eq 0 ] || problem "$wrong_n wrong values in $wrongrows_n rows"
[ "$disorder_n" -eq 0 ] || problem "$disorder_n rows earlier than the row before them"
[ "$rows_n" -gt 0 ] || problem "no row was logged at all"
if [ -s "$work/bad-lines.txt" ]; then
  echo "first bad lines:" >&2
  cat "$work/bad-lines.txt" >&2
fi

# ---------------------------------------------------------------------------------------------
# Figures

faults_total=0
faults_text=""
for kind in "${fault_kinds[@]}"; do
  faults_total=$((faults_total + injected[$kind]))
  faults_text+="${faults_text:+, }$kind ${injected[$kind]}"
done
step "soak figures"
cat <<EOF
duration:               $duration s (seed $seed), DM$(printf %05d $first_device) x $devices, TimeOut 100 ms, Interval 1 s, --sync row
storage:                $storage_text
rows:                   $rows_n in $files_n files under $headers_n headers
faults injected:        $faults_total ($faults_text)
file-system fills:      $fills
restarts:               $((kill_restarts + term_restarts)) (kills $kill_restarts, terms $term_restarts), besides the final SIGTERM
logger runs:            $runs; ended by SIGTERM: $terms, rows they reported written $reported_total, rows they added $added_by_terms
logger totals (SIGTERM runs): requests ${logger_totals[requests]}, resends ${logger_totals[resends]}, datagrams dropped ${logger_totals[dropped]}, errors ${logger_totals[errors]}
rows held in memory and not written at a SIGTERM on full storage (the logger said so, exit 1): $unwritten_at_exit
simulator:              ${sim_counts#ok counts }
rows lost:              $lost
rows beyond those reported: $extra
wrong values:           $wrong_n
bad lines:              $bad_n
rows out of time order: $disorder_n
EOF
if [ "$broker" = 1 ]; then
  cat <<EOF
broker:                 mosquitto on 127.0.0.1:$broker_port; kills $broker_kills, stops $broker_stops; rows published by SIGTERM runs $published_by_terms
subscriber:             $sub_messages messages, $sub_distinct distinct rows ($((sub_messages - sub_distinct)) duplicates), $subscriber_starts starts
rows not at the subscriber: $sub_missing of $sub_rows
rows with other values at the subscriber: $sub_wrong; rows in no log: $sub_strays
EOF
else
  echo "broker:                 none (mosquitto and mosquitto_sub not installed, or SOAK_BROKER=0)"
fi
if [ ${#problems[@]} -gt 0 ]; then
  echo
  echo "soak: FAILED, ${#problems[@]} problems:"
  printf '  %s\n' "${problems[@]}"
  column -t -s $'\t' "$work/runs.tsv" 2>/dev/null || cat "$work/runs.tsv"
  exit 1
fi
echo
echo "soak: passed"
