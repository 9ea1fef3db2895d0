#!/usr/bin/env bash
# Installs what is missing, builds, and starts the server window.
#   ./run.sh          the server
#   ./run.sh --demo   the server with a simulated radio on COM1, listening on 50000
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
./scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: the window runs offscreen (QT_QPA_PLATFORM=offscreen)."
  export QT_QPA_PLATFORM=offscreen
fi
if [ "${1:-}" = "--demo" ]; then
  exec ./scripts/demo.sh
fi
exec ./build/ovrin-server
