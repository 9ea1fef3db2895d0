#!/usr/bin/env bash
# Runs a Windows program under Wine (64-bit, quiet, no .NET or Gecko prompts).
#   wine-run.sh PROGRAM ARGS...   in $WINEPREFIX, made on first use
#   wine-run.sh --fresh           makes $WINEPREFIX anew and waits until it is ready
set -euo pipefail
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
: "${WINEPREFIX:?WINEPREFIX names the prefix to run in}"
export WINEPREFIX
[ -x "$wine" ] || { echo "wine64 is not installed (scripts/deps.sh installs it)" >&2; exit 1; }
if [ "${1:-}" = --fresh ]; then
  [ -d "$WINEPREFIX" ] && { /usr/lib/wine/wineserver -k 2>/dev/null || true; }
  rm -rf "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  exit 0
fi
exec "$wine" "$@"
