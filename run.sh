#!/usr/bin/env bash
# Installs what is missing, builds the program (not the tests: ./test.sh), and
# starts the server window with the options given (./run.sh --help lists them).
#   ./run.sh [OPTION]...          the server
#   ./run.sh --demo [OPTION]...   the server with a simulated radio on COM1, listening on 50000
# Without a display the server runs --headless: no window, its messages here.
set -euo pipefail
cd "$(dirname "$0")"
demo=no
args=()
for arg in "$@"; do
  if [ "$arg" = --demo ]; then demo=yes; else args+=("$arg"); fi
done
./scripts/deps.sh program
./scripts/build.sh program
if [ "$demo" = yes ]; then
  exec ./scripts/demo.sh ${args[@]+"${args[@]}"}
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: the server runs without a window (--headless); Ctrl+C ends it."
  exec ./build/ovrin-server --headless ${args[@]+"${args[@]}"}
fi
exec ./build/ovrin-server ${args[@]+"${args[@]}"}
