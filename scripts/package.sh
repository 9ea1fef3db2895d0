#!/usr/bin/env bash
# Makes the release artefacts, at the version of project() in the top
# CMakeLists.txt:
#   ovrin-server-VERSION-win64.zip    the Windows program, README.txt, FIRST-RUN.txt
#   ovrin-server_VERSION_ARCH.deb     the Linux program for Debian 12 / Raspberry Pi OS
#   scripts/package.sh [--no-build] [--out DIR] [zip] [deb]
# Without zip or deb, both. Builds the programs first (scripts/build.sh program,
# scripts/build-windows.sh program) unless --no-build is given; writes into dist/
# unless --out names another folder. Needs help2man and dpkg-dev (scripts/deps.sh).
# OVRIN_BUILD and OVRIN_WIN_BUILD name the build folders (build, build-win);
# OVRIN_MAINTAINER sets the package's Maintainer field.
set -euo pipefail
cd "$(dirname "$0")/.."
build=1 out=dist want=()
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build=0 ;;
    --out) out=$2; shift ;;
    zip | deb) want+=("$1") ;;
    *) echo "package.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ ${#want[@]} -gt 0 ] || want=(zip deb)
wants() { [[ " ${want[*]} " == *" $1 "* ]]; }
if [ "$build" = 1 ]; then
  ./scripts/build.sh program >/dev/null
  if wants zip; then ./scripts/build-windows.sh program >/dev/null; fi
fi
bld=${OVRIN_BUILD:-build}
version=$(cat "$bld/generated/version.txt")
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
# Text for Notepad: lines end in CR LF.
crlf() { sed 's/\r$//; s/$/\r/' "$@"; }
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
# The libraries compiled into the program, each with its notice, as their
# licences ask of every copy; the Windows program also carries MinGW-w64's
# runtime (winpthreads among it).
notices() {
  echo "Ovrin-Server $version is built with these libraries, each under its own licence."
  echo
  echo "== cpp-httplib (the status page's HTTP server) =="
  cat build-deps/cpp-httplib/LICENSE
  echo
  echo "== JSON for Modern C++ (nlohmann-json; the status page's JSON) =="
  cat /usr/share/doc/nlohmann-json3-dev/copyright
  if [ "$1" = windows ]; then
    echo
    echo "== MinGW-w64 runtime and winpthreads (linked into ovrin-server.exe) =="
    cat /usr/share/doc/mingw-w64-x86-64-dev/copyright
  fi
}

# --- the Windows archive: one folder, unzipped where the program is to stay ---
if wants zip; then
  name="ovrin-server-$version-win64"
  mkdir "$work/$name"
  cp "${OVRIN_WIN_BUILD:-build-win}/ovrin-server.exe" "$work/$name/"
  crlf README.md >"$work/$name/README.txt"
  sed "s/@VERSION@/$version/" packaging/first-run.txt | crlf >"$work/$name/FIRST-RUN.txt"
  for licence in LICENSE LICENSE.txt LICENSE.md COPYING; do
    if [ -f "$licence" ]; then crlf "$licence" >"$work/$name/LICENSE.txt"; fi
  done
  notices windows | crlf >"$work/$name/THIRD-PARTY.txt"
  touch -d "@$stamp" "$work/$name" "$work/$name"/*
  rm -f "$out/$name.zip"
  (cd "$work" && cmake -E tar cf "$out/$name.zip" --format=zip "$name")
  echo "$(stat -c %s "$out/$name.zip") $out/$name.zip"
fi

# --- the Debian package ---
if wants deb; then
  root="$work/deb"
  DESTDIR="$root" cmake --install "$bld" --prefix /usr >/dev/null
  # Debian 12 keeps system units in /lib/systemd/system (its /lib is /usr/lib).
  mkdir -p "$root/lib/systemd"
  mv "$root/usr/lib/systemd/system" "$root/lib/systemd/"
  rmdir -p --ignore-fail-on-non-empty "$root/usr/lib/systemd"
  mkdir -p "$root/usr/share/man/man1" "$root/usr/share/doc/ovrin-server"
  help2man --no-info --no-discard-stderr --section=1 --version-string="$version" \
    --name="make a radio's serial port reachable over TCP/IP" "$bld/ovrin-server" |
    gzip -9n >"$root/usr/share/man/man1/ovrin-server.1.gz"
  for doc in README.md docs/install.md docs/command-languages.md; do
    gzip -9n <"$doc" >"$root/usr/share/doc/ovrin-server/$(basename "$doc").gz"
  done
  for licence in LICENSE LICENSE.txt LICENSE.md COPYING; do
    if [ -f "$licence" ]; then cp "$licence" "$root/usr/share/doc/ovrin-server/copyright"; fi
  done
  notices linux | gzip -9n >"$root/usr/share/doc/ovrin-server/THIRD-PARTY.txt.gz"
  # The libraries it links, as dpkg-shlibdeps finds their packages (it reads
  # debian/control in the folder it runs in).
  mkdir -p "$work/src/debian"
  printf 'Source: ovrin-server\n\nPackage: ovrin-server\nArchitecture: any\n' >"$work/src/debian/control"
  depends=$(cd "$work/src" && dpkg-shlibdeps -O "$root/usr/bin/ovrin-server" 2>/dev/null |
              sed -n 's/^shlibs:Depends=//p')
  [ -n "$depends" ] || { echo "package.sh: dpkg-shlibdeps found no libraries" >&2; exit 1; }
  mkdir "$root/DEBIAN"
  install -m 755 packaging/debian/postinst packaging/debian/prerm packaging/debian/postrm "$root/DEBIAN/"
  arch=$(dpkg --print-architecture)
  sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" \
      -e "s/@SIZE@/$(du -sk --exclude=DEBIAN "$root" | cut -f1)/" -e "s/@DEPENDS@/$depends/" \
      -e "s/@MAINTAINER@/${OVRIN_MAINTAINER:-Ovrin-Server <ovrin-server@invalid>}/" \
      packaging/debian/control.in >"$root/DEBIAN/control"
  (cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
  find "$root" -exec touch -h -d "@$stamp" {} +
  deb="$out/ovrin-server_${version}_$arch.deb"
  SOURCE_DATE_EPOCH=$stamp dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
  echo "$(stat -c %s "$deb") $deb"
fi
