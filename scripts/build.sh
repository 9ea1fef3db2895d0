#!/usr/bin/env bash
# Configures and builds into build/ (the program's folder is build/), Release.
#   scripts/build.sh           everything: the program, its tools, tests, benchmarks
#   scripts/build.sh program   only the program and the radio simulator (for --demo)
set -euo pipefail
cd "$(dirname "$0")/.."
extra=() targets=()
[ "${CI:-}" = "true" ] && extra+=(-DOVRIN_WERROR=ON)
if [ "${1:-}" = program ]; then
  targets=(--target ovrin-server ovrin-radio-sim)
  # A first build leaves the tests out (no GoogleTest needed); a build/ that has
  # them keeps them, so switching between the two rebuilds nothing.
  [ -f build/CMakeCache.txt ] || extra+=(-DBUILD_TESTING=OFF)
else
  extra+=(-DBUILD_TESTING=ON)
fi
./scripts/fetch-httplib.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
cmake --build build -j "$(nproc)" "${targets[@]}"
