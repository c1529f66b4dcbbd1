#!/usr/bin/env bash
# The whole check: installs what is missing, then builds and runs every test in the debug
# build and again under Address and UndefinedBehavior sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

step() { printf '\n== %s ==\n' "$*"; }

step "format"
scripts/check-format.sh

for preset in dev asan; do
  step "build ($preset)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  step "tests ($preset)"
  ctest --preset "$preset"
done
