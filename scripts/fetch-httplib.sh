#!/usr/bin/env bash
# Fetches cpp-httplib, the status page's HTTP server, into build-deps/cpp-httplib
# when its header is not there yet; every build script calls it, so a fresh clone
# builds without scripts/deps.sh having run. Safe to run again.
#
# Debian's libcpp-httplib-dev ships the library split: declarations, the rest in a
# shared library built with OpenSSL, zlib and brotli, which the static Windows
# program cannot link and which hides what the server needs to bound each
# connection. Both programs use the whole header from Debian's source package of
# the same library instead, fetched with apt (no deb-src line needed on this
# machine, nor root).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
httplib="$root/build-deps/cpp-httplib"
[ -f "$httplib/httplib.h" ] && exit 0

cannot() {
  cat >&2 <<END
Could not fetch cpp-httplib, the status page's HTTP server, from Debian's archive:
$1
The program cannot be built without it. Either
  - connect this machine to the internet (http://deb.debian.org) and run the
    build again: it fetches cpp-httplib by itself (or: scripts/fetch-httplib.sh), or
  - on a machine that has the internet, run scripts/fetch-httplib.sh in a copy of
    this folder, and copy its build-deps/cpp-httplib/ (httplib.h, LICENSE, SOURCE)
    into build-deps/cpp-httplib/ here.
END
  exit 1
}
command -v apt-get >/dev/null || cannot "apt-get is not installed (this fetch needs Debian or a derivative)."
[ -r /etc/os-release ] || cannot "/etc/os-release is missing: which Debian release this is is not known."
[ -r /usr/share/keyrings/debian-archive-keyring.gpg ] ||
  cannot "Debian's archive keys are missing (the package debian-archive-keyring)."

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
# apt-get update says a failed download as a warning and succeeds; the index it
# did not get shows as no source package below.
"${apt[@]}" update >"$work/update.log" 2>&1 || true
if ! (cd "$work/src" && "${apt[@]}" source cpp-httplib >"$work/source.log" 2>&1); then
  cannot "$(grep -h -m 3 -e '^[EW]:' "$work/update.log" "$work/source.log" || tail -n 3 "$work/source.log")"
fi
header="$(find "$work/src" -maxdepth 2 -name httplib.h | head -1)"
[ -n "$header" ] || cannot "its source package has no httplib.h."
mkdir -p "$httplib"
cp "$header" "$(dirname "$header")/LICENSE" "$httplib/"
(cd "$work/src" && ls ./*.dsc) > "$httplib/SOURCE"
