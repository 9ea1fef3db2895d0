#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
./scripts/build.sh
# The Windows program is cross-built at the lowest priority while the Linux tests
# run: those spend most of their time waiting on sockets and timers, and a niced
# compile gives way whenever one of them wants a CPU.
winlog=$(mktemp)
setsid nice -n 19 ./scripts/build-windows.sh >"$winlog" 2>&1 &
winbuild=$!
trap 'kill -- -"$winbuild" 2>/dev/null || true; rm -f "$winlog"' EXIT
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300 "$@"
# The Windows program's tests under Wine, once its build is done.
if ! wait "$winbuild"; then
  cat "$winlog"
  echo "The Windows build failed." >&2
  exit 1
fi
tail -n 1 "$winlog"
ctest --test-dir build-win --output-on-failure -j "$(nproc)" --timeout 300 "$@"
# The release artefacts into dist/, from the programs just built.
./scripts/package.sh --no-build
