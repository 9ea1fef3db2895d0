#!/usr/bin/env bash
# Makes the release artefacts into dist/, at the version of project() in the top
# CMakeLists.txt:
#   ovrin-server-VERSION-win64.zip    the Windows program, README.txt, FIRST-RUN.txt
#   ovrin-server_VERSION_ARCH.deb     the Linux program for Debian 12 / Raspberry Pi OS
# Builds the programs first where needed (scripts/build.sh program,
# scripts/build-windows.sh program); needs help2man and dpkg-dev (scripts/deps.sh).
# OVRIN_MAINTAINER sets the package's Maintainer field.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh program >/dev/null
./scripts/build-windows.sh program >/dev/null
version=$(cat build/generated/version.txt)
mkdir -p dist
work=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
# Text for Notepad: lines end in CR LF.
crlf() { sed 's/\r$//; s/$/\r/' "$@"; }

# --- the Windows archive: one folder, unzipped where the program is to stay ---
name="ovrin-server-$version-win64"
mkdir "$work/$name"
cp build-win/ovrin-server.exe "$work/$name/"
crlf README.md >"$work/$name/README.txt"
sed "s/@VERSION@/$version/" packaging/first-run.txt | crlf >"$work/$name/FIRST-RUN.txt"
touch -d "@$(git log -1 --format=%ct 2>/dev/null || date +%s)" "$work/$name" "$work/$name"/*
rm -f "dist/$name.zip"
(cd "$work" && cmake -E tar cf "$OLDPWD/dist/$name.zip" --format=zip "$name")

# --- the Debian package ---
root="$work/deb"
DESTDIR="$root" cmake --install build --prefix /usr >/dev/null
# Debian 12 keeps system units in /lib/systemd/system (its /lib is /usr/lib).
mkdir -p "$root/lib/systemd"
mv "$root/usr/lib/systemd/system" "$root/lib/systemd/"
rmdir -p --ignore-fail-on-non-empty "$root/usr/lib/systemd"
mkdir -p "$root/usr/share/man/man1" "$root/usr/share/doc/ovrin-server"
help2man --no-info --no-discard-stderr --section=1 --version-string="$version" \
  --name="make a radio's serial port reachable over TCP/IP" build/ovrin-server |
  gzip -9n >"$root/usr/share/man/man1/ovrin-server.1.gz"
for doc in README.md docs/install.md docs/command-languages.md; do
  gzip -9n <"$doc" >"$root/usr/share/doc/ovrin-server/$(basename "$doc").gz"
done
# The libraries it links, as dpkg-shlibdeps finds their packages (it reads
# debian/control in the folder it runs in).
mkdir -p "$work/src/debian"
printf 'Source: ovrin-server\n\nPackage: ovrin-server\nArchitecture: any\n' >"$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O "$root/usr/bin/ovrin-server" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
mkdir "$root/DEBIAN"
install -m 755 packaging/debian/postinst packaging/debian/prerm packaging/debian/postrm "$root/DEBIAN/"
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$(dpkg --print-architecture)/" \
    -e "s/@SIZE@/$(du -sk --exclude=DEBIAN "$root" | cut -f1)/" -e "s/@DEPENDS@/$depends/" \
    -e "s/@MAINTAINER@/${OVRIN_MAINTAINER:-Ovrin-Server <ovrin-server@invalid>}/" \
    packaging/debian/control.in >"$root/DEBIAN/control"
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
deb="dist/ovrin-server_${version}_$(dpkg --print-architecture).deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
ls -l "dist/$name.zip" "$deb" | awk '{print $5, $9}'
