#!/usr/bin/env bash
# Makes the release artefacts, at the version of project() in the top
# CMakeLists.txt:
#   ovrin-server-VERSION-win64.zip    the Windows program, README.txt, FIRST-RUN.txt,
#                                     LICENSE.txt, THIRD-PARTY.txt
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
maintainer=${OVRIN_MAINTAINER:-Ovrin-Server <ovrin-server@invalid>}
[ -f LICENSE ] || { echo "package.sh: no LICENSE" >&2; exit 1; }
# The libraries compiled into the program, each with its notice, as their
# licences ask of every copy. The static Windows program also carries GCC's
# runtime (libstdc++, libgcc) and MinGW-w64's (its C runtime, winpthreads).
notices() {
  echo "Ovrin-Server $version is free software under the GNU General Public License,"
  echo "version 3 or later (LICENSE.txt). It is built with these libraries, each"
  echo "under its own licence."
  echo
  echo "== cpp-httplib (the status page's HTTP server) =="
  cat build-deps/cpp-httplib/LICENSE
  echo
  echo "== JSON for Modern C++ (nlohmann-json; the status page's JSON) =="
  cat /usr/share/doc/nlohmann-json3-dev/copyright
  echo
  echo "== GCC's runtime: libstdc++ and libgcc (linked into ovrin-server.exe) =="
  echo "GNU General Public License, version 3 or later (the text is LICENSE.txt), with"
  echo "the GCC Runtime Library Exception, version 3.1:"
  echo
  sed -n '/^GCC RUNTIME LIBRARY EXCEPTION$/,/requirements of the license of GCC\.$/p' \
    /usr/share/doc/gcc-mingw-w64-base/copyright
  echo
  echo "== MinGW-w64 runtime and winpthreads (linked into ovrin-server.exe) =="
  cat /usr/share/doc/mingw-w64-x86-64-dev/copyright
}
# A licence's text as a paragraph of a Debian copyright file: each line indented
# by one space, an empty one between others as " .", none at the end.
paragraph() {
  sed 's/[[:space:]]*$//' "$@" | awk 'NF { for (; blank > 0; blank--) print " ."; print " " $0; next } { blank++ }'
}
# The package's copyright file in Debian's machine-readable format: this program
# and the libraries compiled into it.
copyright() {
  local years httplib json
  years=$(git log --format=%cd --date=format:%Y 2>/dev/null | sort -u | sed -n '1p;$p' | paste -sd- | sed 's/^\(.*\)-\1$/\1/')
  httplib=$(sed 's|^\./||; s|\.dsc$||' build-deps/cpp-httplib/SOURCE)
  json=$(dpkg-query -W -f='${Version}' nlohmann-json3-dev)
  cat <<END
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Ovrin-Server
Upstream-Contact: $maintainer
Comment: /usr/bin/ovrin-server is built from the Ovrin-Server sources with two
 header-only libraries compiled in: cpp-httplib (the status page's HTTP
 server) and JSON for Modern C++ (the status page's JSON). Both are under the
 Expat licence, also known as the MIT licence.

Files: *
Copyright: ${years:-$(date -u -d "@$stamp" +%Y)} The Ovrin-Server developers
License: GPL-3+

Files: build-deps/cpp-httplib/*
Copyright: $(sed -n 's/^Copyright (c) //p' build-deps/cpp-httplib/LICENSE)
License: Expat
Comment: cpp-httplib, from Debian's source package $httplib.

Files: nlohmann/*
Copyright: 2013-2022 Niels Lohmann
 2009 Florian Loitsch
 2008-2009 Bjoern Hoehrmann <bjoern@hoehrmann.de>
License: Expat
Comment: JSON for Modern C++, from Debian's package nlohmann-json3-dev $json
 (/usr/include/nlohmann).

License: GPL-3+
 This program is free software: you can redistribute it and/or modify it
 under the terms of the GNU General Public License as published by the Free
 Software Foundation, either version 3 of the License, or (at your option)
 any later version.
 .
 This program is distributed in the hope that it will be useful, but WITHOUT
 ANY WARRANTY; without even the implied warranty of MERCHANTABILITY or
 FITNESS FOR A PARTICULAR PURPOSE. See the GNU General Public License for
 more details.
 .
 On Debian systems, the complete text of the GNU General Public License
 version 3 can be found in "/usr/share/common-licenses/GPL-3".

License: Expat
END
  # The licence's text without its title and copyright line.
  sed -n '/^Permission is hereby granted/,$p' build-deps/cpp-httplib/LICENSE | paragraph
}
# The package's changelog in Debian's format: one entry, this version.
changelog() {
  cat <<END
ovrin-server ($version) unstable; urgency=medium

  * Ovrin-Server $version, packaged by scripts/package.sh.

 -- $maintainer  $(LC_ALL=C date -u -R -d "@$stamp")
END
}

# --- the Windows archive: one folder, unzipped where the program is to stay ---
if wants zip; then
  name="ovrin-server-$version-win64"
  mkdir "$work/$name"
  cp "${OVRIN_WIN_BUILD:-build-win}/ovrin-server.exe" "$work/$name/"
  crlf README.md >"$work/$name/README.txt"
  sed "s/@VERSION@/$version/" packaging/first-run.txt | crlf >"$work/$name/FIRST-RUN.txt"
  crlf LICENSE >"$work/$name/LICENSE.txt"
  notices | crlf >"$work/$name/THIRD-PARTY.txt"
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
  copyright >"$root/usr/share/doc/ovrin-server/copyright"
  changelog | gzip -9n >"$root/usr/share/doc/ovrin-server/changelog.Debian.gz"
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
      -e "s/@MAINTAINER@/$maintainer/" \
      packaging/debian/control.in >"$root/DEBIAN/control"
  (cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
  find "$root" -exec touch -h -d "@$stamp" {} +
  deb="$out/ovrin-server_${version}_$arch.deb"
  SOURCE_DATE_EPOCH=$stamp dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
  echo "$(stat -c %s "$deb") $deb"
fi
