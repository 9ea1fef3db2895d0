#!/usr/bin/env bash
# Configures and builds into build/ (the program's folder is build/).
set -euo pipefail
cd "$(dirname "$0")/.."
extra=()
[ "${CI:-}" = "true" ] && extra+=(-DOVRIN_WERROR=ON)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" "$@" >/dev/null
cmake --build build -j "$(nproc)"
