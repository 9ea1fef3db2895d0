#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
./scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300 "$@"
# The Windows program, cross-built, and its tests under Wine.
./scripts/build-windows.sh
ctest --test-dir build-win --output-on-failure -j "$(nproc)" --timeout 300 "$@"
# The release artefacts into dist/, from the programs just built.
./scripts/package.sh --no-build
