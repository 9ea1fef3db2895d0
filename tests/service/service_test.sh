#!/usr/bin/env bash
# cmake --install into a scratch prefix, then systemd-analyze verify on the
# installed unit: its settings, and ExecStart naming a program that is there.
# Any remark fails the test. Exits 77 (skipped) where systemd-analyze is missing.
#   service_test.sh <cmake> <build dir>
set -euo pipefail
cmake=$1 build=$2
if ! command -v systemd-analyze >/dev/null; then
  echo "SKIPPED: systemd-analyze is not installed (Debian package systemd): the unit is not verified"
  exit 77
fi
prefix=$(mktemp -d "${TMPDIR:-/tmp}/ovrin service-XXXXXX")  # a blank, as ExecStart must quote
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
unit="$prefix/lib/systemd/system/ovrin-server.service"
[ -f "$unit" ] || { echo "FAIL: no ovrin-server.service in lib/systemd/system" >&2; exit 1; }
if ! out=$(systemd-analyze verify --man=no "$unit" 2>&1) || [ -n "$out" ]; then
  echo "FAIL: systemd-analyze verify $unit:" >&2
  echo "$out" >&2
  exit 1
fi
echo "systemd-analyze verify accepts $unit"
