#!/usr/bin/env bash
# cmake --install of the build into a scratch prefix: the program in bin/,
# stripped when a strip command is given, its menu entry and icons where desktops
# look for them, the entry accepted by desktop-file-validate where that is installed.
#   install_test.sh <cmake> <build dir> <built ovrin-server> [<strip>]
set -euo pipefail
cmake=$1 build=$2 program=$3 strip=${4:-}

prefix=$(mktemp -d "${TMPDIR:-/tmp}/ovrin install-XXXXXX")  # a blank, as in many home folders
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/ovrin-server" ] || fail "no program in bin/"
if [ -n "$strip" ]; then
  "$strip" -o "$prefix/stripped" "$program"
  cmp -s "$prefix/stripped" "$prefix/bin/ovrin-server" || fail "bin/ovrin-server is not the built program, stripped"
  cmp -s "$program" "$prefix/stripped" && fail "the built program has nothing to strip: is this the test's own build?"
else
  cmp -s "$program" "$prefix/bin/ovrin-server" || fail "bin/ovrin-server is not the built program"
fi

entry="$prefix/share/applications/ovrin-server.desktop"
[ -f "$entry" ] || fail "no desktop entry"
expect() { grep -qxF "$1" "$entry" || fail "the desktop entry lacks the line: $1"; }
expect "[Desktop Entry]"
expect "Type=Application"
expect "Name=Ovrin-Server"
expect "Comment=Serial port server"
expect "Exec=\"$prefix/bin/ovrin-server\""
expect "Icon=ovrin-server"
expect "Terminal=false"
expect "Categories=Network;HamRadio;"

png="$prefix/share/icons/hicolor/32x32/apps/ovrin-server.png"
[ -f "$png" ] || fail "no 32x32 icon"
# PNG signature, then the IHDR chunk's width and height (big-endian, 32 each).
[ "$(od -An -tx1 -j0 -N8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "the icon is not a PNG"
[ "$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')" = 0000002000000020 ] || fail "the icon is not 32x32"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/ovrin-server.svg" || fail "no scalable icon"

if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
else
  echo "desktop-file-validate not installed (desktop-file-utils): the entry's syntax is not checked"
fi
echo "installed and checked under $prefix"
