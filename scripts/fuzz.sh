#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset "fuzz": clang, the code under test instrumented, Address
# and UndefinedBehavior sanitizers) and runs each one for SECONDS (default 30) from a copy of its
# seed corpus in fuzz/corpus/<harness>/, so the seeds in the repository stay as they are. Prints
# executions and coverage per harness; fails when any harness reports a finding, whose input is
# kept under build/fuzz/findings/. The harnesses are those of fuzz/CMakeLists.txt, the viewer's
# log reader (log_parser_fuzzer) among them.
#
#   scripts/fuzz.sh [SECONDS]
#   build/fuzz/fuzz/<harness> build/fuzz/findings/<harness>/crash-...   # replays a finding
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
  -h | --help)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
esac
seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: SECONDS must be a positive whole number, not '$seconds'" >&2
  exit 2
fi

scripts/install-deps.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
findings="$build/findings"
rm -rf "$findings"
mkdir -p "$findings"
# On tmpfs when there is one: the harnesses write and sync files at every run.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work="$(mktemp -d -p /dev/shm varnel-fuzz.XXXXXX)"
else
  work="$(mktemp -d)"
fi
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

failed=()
summary=()
while read -r harness; do
  [ -n "$harness" ] || continue
  seeds="fuzz/corpus/$harness"
  if [ ! -d "$seeds" ]; then
    echo "fuzz.sh: $harness has no seed corpus in $seeds" >&2
    failed+=("$harness")
    continue
  fi
  corpus="$work/$harness/corpus"
  scratch="$work/$harness/scratch"
  mkdir -p "$corpus" "$scratch" "$findings/$harness"
  cp -R "$seeds/." "$corpus/"
  log="$work/$harness/log"
  printf '\n== fuzz %s (%s s) ==\n' "$harness" "$seconds"
  status=0
  # A unit slower than 25 s is a hang; files the harness writes go to its scratch folder.
  TMPDIR="$scratch" "$build/fuzz/$harness" "$corpus" -max_total_time="$seconds" -timeout=25 \
    -print_final_stats=1 -artifact_prefix="$findings/$harness/" >"$log" 2>&1 || status=$?
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  coverage="$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz.sh: $harness found a fault (exit $status); input kept in $findings/$harness/" >&2
    failed+=("$harness")
    summary+=("$(printf '%-22s FINDING  executions %s, %s' "$harness" "${executions:-?}" \
      "${coverage:-no coverage line}")")
  else
    rmdir "$findings/$harness" 2>/dev/null || true
    summary+=("$(printf '%-22s ok       executions %s, %s' "$harness" "${executions:-?}" \
      "${coverage:-no coverage line}")")
  fi
done <"$build/fuzz/harnesses.txt"

printf '\n== fuzz summary (%s s each) ==\n' "$seconds"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: findings or errors in: ${failed[*]}" >&2
  exit 1
fi
