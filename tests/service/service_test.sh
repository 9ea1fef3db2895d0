#!/usr/bin/env bash
# cmake --install into a scratch prefix, then systemd-analyze on the installed
# units (the one for one radio, the template for several): verify accepts their
# settings and ExecStart naming a program that is there, any remark failing the
# test; security rates their sandbox 2.5 or better. Exits 77 (skipped) where
# systemd-analyze is missing.
#   service_test.sh <cmake> <build dir>
set -euo pipefail
cmake=$1 build=$2
if ! command -v systemd-analyze >/dev/null; then
  echo "SKIPPED: systemd-analyze is not installed (Debian package systemd): the units are not verified"
  exit 77
fi
prefix=$(mktemp -d "${TMPDIR:-/tmp}/ovrin service-XXXXXX")  # a blank, as ExecStart must quote
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
for name in ovrin-server.service ovrin-server@.service; do
  unit="$prefix/lib/systemd/system/$name"
  [ -f "$unit" ] || { echo "FAIL: no $name in lib/systemd/system" >&2; exit 1; }
  if ! out=$(systemd-analyze verify --man=no "$unit" 2>&1) || [ -n "$out" ]; then
    echo "FAIL: systemd-analyze verify $unit:" >&2
    echo "$out" >&2
    exit 1
  fi
  # --threshold counts in tenths: 25 is an exposure of 2.5.
  if ! out=$(systemd-analyze security --offline=yes --threshold=25 "$unit" 2>&1); then
    echo "FAIL: systemd-analyze security rates $name over 2.5:" >&2
    echo "$out" | grep -E '✗|Overall' >&2
    exit 1
  fi
  echo "$name: verified; $(echo "$out" | grep -o 'Overall exposure level.*')"
done
