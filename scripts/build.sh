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
# With ccache installed, a build after the first compiles only what changed, in this
# clone or any other (paths are taken relative to the clone; the precompiled headers
# are cached too).
if command -v ccache >/dev/null; then
  extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
fi
./scripts/fetch-httplib.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
cmake --build build -j "$(nproc)" "${targets[@]}"
