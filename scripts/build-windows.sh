#!/usr/bin/env bash
# Cross-builds the Windows program into build-win/: one static ovrin-server.exe with
# its icon and version, and (unless "program" is given) its tests for Wine.
#   scripts/build-windows.sh           the program and its tests
#   scripts/build-windows.sh program   only build-win/ovrin-server.exe
# Installs Debian's MinGW-w64 cross compiler when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "Installing the MinGW-w64 cross compiler"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64-posix
fi
./scripts/fetch-httplib.sh
extra=(-DOVRIN_WITH_QT=OFF) targets=()
[ "${CI:-}" = "true" ] && extra+=(-DOVRIN_WERROR=ON)
# With ccache installed, a build after the first compiles only what changed, in this
# clone or any other (paths are taken relative to the clone; the precompiled headers
# are cached too).
if command -v ccache >/dev/null; then
  extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
fi
if [ "${1:-}" = program ]; then
  targets=(--target ovrin-server)
  [ -f build-win/CMakeCache.txt ] || extra+=(-DBUILD_TESTING=OFF)
else
  extra+=(-DBUILD_TESTING=ON -DOVRIN_RADIO_SIM="$PWD/build/ovrin-radio-sim"
          -DOVRIN_MODEM_SHIM="$PWD/build/tests/e2e/ovrin_modem_shim.so")
fi
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  "${extra[@]}" >/dev/null
cmake --build build-win -j "$(nproc)" "${targets[@]}"
