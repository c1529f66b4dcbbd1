#!/usr/bin/env bash
# Builds the optimised benchmarks and runs them:
#   1. back to back: the read cycle against its raw loopback floor, idle CPU and memory;
#   2. at the real cadence: Interval 1 s against a responder that stamps datagrams in the
#      kernel, beside a plain client process at the same cadence (about 35 s);
#   3. start-up to the window shown against a bare window;
#   4. the headless logger: CPU per cycle against the monitor's, idle CPU, peak memory against a
#      bare Qt Core program, the cost of --sync row (about 30 s);
#   5. the chart viewer: opening a day's log against a plain reader, memory, follow latency;
#   6. the chart viewer: opening a week of daily logs as one timeline against a plain reader,
#      memory (writes about 380 MB of logs to a temporary folder);
#   7. the logger publishing to a broker of its own (mosquitto on 127.0.0.1): live latency and
#      a day's replay against a plain libmosquitto client, memory while the day drains, CPU
#      per row with and without publishing (about 2 minutes; writes a day's log, about 50 MB).
# Options: --samples N and --idle-seconds S go to (1), --cycles N and --warmup W to (2),
# --quick makes every part a smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."

back_to_back=()
cadence=()
quick=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) back_to_back+=("$1"); cadence+=("$1"); quick+=("$1"); shift ;;
    --samples|--idle-seconds) back_to_back+=("$1" "${2:?$1 needs a value}"); shift 2 ;;
    --cycles|--warmup) cadence+=("$1" "${2:?$1 needs a value}"); shift 2 ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done

cmake --preset release >/dev/null
cmake --build --preset release --target varnel-bench varnel-cadence-bench varnel-startup-bench \
  varnel-logger-bench varnel-viewer-bench varnel-viewer-week-bench varnel-publish-bench
build/release/bench/varnel-bench "${back_to_back[@]}"
echo
build/release/bench/varnel-cadence-bench "${cadence[@]}"
echo
build/release/bench/varnel-startup-bench
echo
build/release/bench/varnel-logger-bench "${quick[@]}"
echo
build/release/bench/varnel-viewer-bench "${quick[@]}"
echo
build/release/bench/varnel-viewer-week-bench "${quick[@]}"
echo
build/release/bench/varnel-publish-bench "${quick[@]}"
