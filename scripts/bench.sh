#!/usr/bin/env bash
# Builds the optimised benchmarks and runs them: the read cycle against its raw loopback floor,
# idle CPU and memory (arguments go to varnel-bench: --samples N, --idle-seconds S, --quick),
# then start-up to the window shown against a bare window, then the chart viewer's open time and
# memory against a plain reader and its follow latency.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release --target varnel-bench varnel-startup-bench varnel-viewer-bench
build/release/bench/varnel-bench "$@"
echo
build/release/bench/varnel-startup-bench
echo
build/release/bench/varnel-viewer-bench
