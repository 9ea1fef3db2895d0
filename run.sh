#!/usr/bin/env bash
# Installs what is missing, builds the program (not the tests: ./test.sh), and
# starts the server window.
#   ./run.sh          the server
#   ./run.sh --demo   the server with a simulated radio on COM1, listening on 50000
# Without a display the server runs --headless: no window, its messages here.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh program
./scripts/build.sh program
if [ "${1:-}" = "--demo" ]; then
  exec ./scripts/demo.sh
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: the server runs without a window (--headless); Ctrl+C ends it."
  exec ./build/ovrin-server --headless
fi
exec ./build/ovrin-server
