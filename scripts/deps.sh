#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the program and the tests
# need and the machine does not have yet. Safe to run again.
#   scripts/deps.sh           for everything (./test.sh)
#   scripts/deps.sh program   for building and running the program only (./run.sh)
#   scripts/deps.sh fuzz      for the fuzz targets (fuzz/run.sh)
set -euo pipefail
# Liberation Sans has the metrics the window was drawn for.
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev libgl-dev libxcb1-dev netcat-openbsd
          fonts-dejavu-core fonts-liberation)
# The status page's JSON (header-only; the Windows program takes it from here too).
packages+=(nlohmann-json3-dev)
if [ "${1:-}" = fuzz ]; then
  # clang with its sanitizer and libFuzzer run-times; GoogleTest, which the build's
  # test folder asks for.
  packages+=(clang libclang-rt-dev libgtest-dev)
elif [ "${1:-}" != program ]; then
  packages+=(libgtest-dev googletest xvfb xauth xdotool x11-utils imagemagick socat fontconfig)
  # Builds after the first compile only what changed (scripts/build.sh uses it when present).
  packages+=(ccache)
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

# cpp-httplib, the status page's HTTP server (the build scripts fetch it too).
"$(dirname "$0")/fetch-httplib.sh"
