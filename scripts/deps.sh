#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the program and the tests
# need and the machine does not have yet. Safe to run again.
#   scripts/deps.sh           for everything (./test.sh)
#   scripts/deps.sh program   for building and running the program only (./run.sh)
set -euo pipefail
# Liberation Sans has the metrics the window was drawn for.
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev libgl-dev libxcb1-dev netcat-openbsd
          fonts-dejavu-core fonts-liberation)
# The status page's JSON (header-only; the Windows program takes it from here too).
packages+=(nlohmann-json3-dev)
if [ "${1:-}" != program ]; then
  packages+=(libgtest-dev googletest xvfb xauth xdotool x11-utils imagemagick socat fontconfig)
  # The end-to-end tests' real clients: pyserial's rfc2217:// and hamlib's rigctl;
  # ip for their private networks (a veth pair for a client whose network vanishes).
  packages+=(python3-serial libhamlib-utils iproute2)
  # The Windows program: cross-built, and tested under Wine.
  packages+=(g++-mingw-w64-x86-64-posix wine64)
  # The release artefacts (scripts/package.sh): the man page and the package's dependencies.
  packages+=(help2man dpkg-dev)
  # The status page read as a visitor reads it: curl, and a real browser driven by a test.
  packages+=(curl chromium chromium-driver python3-selenium)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# cpp-httplib, the status page's HTTP server. Debian's libcpp-httplib-dev ships it
# split: declarations, the rest in a shared library built with OpenSSL, zlib and
# brotli, which the static Windows program cannot link and which hides what the
# server needs to bound each connection. Both programs use the whole header from
# Debian's source package of the same library instead, fetched with apt (no
# deb-src line needed on this machine) into build-deps/cpp-httplib.
root="$(cd "$(dirname "$0")/.." && pwd)"
httplib="$root/build-deps/cpp-httplib"
if [ ! -f "$httplib/httplib.h" ]; then
  echo "Fetching Debian's source of cpp-httplib into $httplib"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  . /etc/os-release
  mkdir -p "$work/parts" "$work/lists/partial" "$work/cache/archives/partial" "$work/src"
  for suite in "$VERSION_CODENAME" "$VERSION_CODENAME-security"; do
    uri=http://deb.debian.org/debian
    [ "$suite" = "$VERSION_CODENAME" ] || uri=http://deb.debian.org/debian-security
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n\n' \
      "$uri" "$suite" /usr/share/keyrings/debian-archive-keyring.gpg >> "$work/parts/debian-src.sources"
  done
  apt=(apt-get -qq -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
       -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o "APT::Sandbox::User=$(id -un)")
  "${apt[@]}" update
  (cd "$work/src" && "${apt[@]}" source cpp-httplib >/dev/null)
  header="$(find "$work/src" -maxdepth 2 -name httplib.h | head -1)"
  [ -n "$header" ] || { echo "cpp-httplib's source has no httplib.h" >&2; exit 1; }
  mkdir -p "$httplib"
  cp "$header" "$(dirname "$header")/LICENSE" "$httplib/"
  (cd "$work/src" && ls ./*.dsc) > "$httplib/SOURCE"
fi
