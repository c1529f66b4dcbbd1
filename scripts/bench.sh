#!/usr/bin/env bash
# Builds the optimised benchmark and runs it; arguments go to varnel-bench
# (--samples N, --idle-seconds S, --quick).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release --target varnel-bench
exec build/release/bench/varnel-bench "$@"
