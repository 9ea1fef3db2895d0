#!/usr/bin/env bash
# The Debian package as a user meets it, on this machine's own system seen through
# overlays in a private mount namespace (nothing reaches the real /usr, /etc or
# /var): dpkg -i; each file where docs/install.md says and nothing more; the units
# disabled and accepted by systemd-analyze verify; the installed program serving a
# pseudo-terminal radio headless, as the unit runs it; dpkg -r leaving nothing but
# the state folder, dpkg -P not even that. Exits 77 (skipped) without root,
# namespaces, dpkg-deb or help2man.
#   package_test.sh <source dir> <build dir> <ovrin-radio-sim>
set -euo pipefail
source=$1 build=$2 radio=$3
skip() { echo "SKIPPED: $*"; exit 77; }
if [ "${OVRIN_IN_NAMESPACE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] && unshare -n -m --propagation private true 2>/dev/null ||
    skip "a private mount namespace needs root"
  for tool in dpkg-deb dpkg-shlibdeps help2man systemd-analyze; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh)"
  done
  work=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-package-test-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  OVRIN_BUILD=$build "$source/scripts/package.sh" --no-build --out "$work" deb >/dev/null
  OVRIN_IN_NAMESPACE=1 OVRIN_WORK=$work unshare -n -m --propagation private bash -c '
    set -e
    ip link set lo up
    mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts
    mount --bind /dev/pts/ptmx /dev/ptmx
    mount -t tmpfs tmpfs /run/lock
    mkdir "$OVRIN_WORK/layers"
    mount -t tmpfs tmpfs "$OVRIN_WORK/layers"
    for d in usr etc var; do
      mkdir -p "$OVRIN_WORK/layers/$d/up" "$OVRIN_WORK/layers/$d/work"
      mount -t overlay overlay -o "lowerdir=/$d,upperdir=$OVRIN_WORK/layers/$d/up,workdir=$OVRIN_WORK/layers/$d/work" "/$d"
    done
    exec bash "$0" "$@"' "$0" "$@"
  exit $?
fi

work=$OVRIN_WORK
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
await() { for _ in $(seq 400); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done; fail "no \"$2\" in $1"; }
# What the package left in the system: files, links and whiteouts, not the folders
# an overlay copies up, nor dpkg's own records and the caches its triggers renew.
left() {
  (cd "$work/layers" && find usr/up etc/up var/up ! -type d) |
    sed 's|^\([a-z]*\)/up/|/\1/|' |
    grep -v -e '^/var/lib/dpkg/' -e '^/var/log/' -e '^/var/cache/' -e '^/etc/ld.so.cache$' \
            -e '/mimeinfo.cache$' -e '/icon-theme.cache$' | sort
}

deb=$(echo "$work"/ovrin-server_*.deb)
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }

# --- every file where docs/install.md says, and nothing else ---
expected="/usr/bin/ovrin-server
/usr/lib/systemd/system/ovrin-server.service
/usr/lib/systemd/system/ovrin-server@.service
/usr/share/applications/ovrin-server.desktop
/usr/share/doc/ovrin-server/README.md.gz
/usr/share/doc/ovrin-server/changelog.Debian.gz
/usr/share/doc/ovrin-server/command-languages.md.gz
/usr/share/doc/ovrin-server/copyright
/usr/share/doc/ovrin-server/install.md.gz
/usr/share/icons/hicolor/32x32/apps/ovrin-server.png
/usr/share/icons/hicolor/scalable/apps/ovrin-server.svg
/usr/share/man/man1/ovrin-server.1.gz"
expected=$(echo "$expected" | sort)  # in the order left() gives, whatever the locale
got=$(left)
[ "$got" = "$expected" ] || fail "dpkg -i put in place:
$got
not:
$expected"
# The guide names each as the package installs it (the units under /lib).
for file in $expected; do
  named=${file/#\/usr\/lib\/systemd/\/lib\/systemd}
  case $named in
    /usr/share/doc/ovrin-server/*)  # in the folder's row, by name
      grep -F -- "| \`/usr/share/doc/ovrin-server/\` |" "$source/docs/install.md" | grep -qF -- "\`${named##*/}\`" ||
        fail "docs/install.md does not name ${named##*/} in /usr/share/doc/ovrin-server/"
      continue ;;
  esac
  grep -qF -- "$named" "$source/docs/install.md" || fail "docs/install.md does not name $named"
done
# The licences: this program's (GPL-3+) and those of the libraries compiled in, in
# Debian's machine-readable format; the changelog at the package's version.
doc=/usr/share/doc/ovrin-server
[ "$(head -n1 $doc/copyright)" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
  fail "the copyright file is not in the machine-readable format"
for stanza in 'Files: \*' 'License: GPL-3\+' 'Files: build-deps/cpp-httplib/\*' 'Files: nlohmann/\*' 'License: Expat'; do
  grep -Eqx -- "$stanza" $doc/copyright || fail "the copyright file lacks \"$stanza\""
done
grep -qF 'Permission is hereby granted' $doc/copyright || fail "the copyright file lacks the Expat licence's text"
grep -Evq '^([A-Z][A-Za-z-]*: .*|[ \t].*|)$' $doc/copyright && fail "the copyright file has a line that is no field: $(grep -Ev '^([A-Z][A-Za-z-]*: .*|[ \t].*|)$' $doc/copyright | head -n1)"
version=$(dpkg-query -W -f='${Version}' ovrin-server)
changes=$(zcat $doc/changelog.Debian.gz | dpkg-parsechangelog -l - -S Version) ||
  fail "dpkg-parsechangelog cannot read changelog.Debian.gz"
[ "$changes" = "$version" ] || fail "changelog.Debian.gz is of version $changes, the package $version"
[ -x /usr/bin/ovrin-server ] || fail "/usr/bin/ovrin-server is not executable"
zcat /usr/share/man/man1/ovrin-server.1.gz | grep -q -- 'headless' || fail "the man page lacks --headless"
# Installed disabled: no unit is wanted by any target until the operator enables it.
if ls /etc/systemd/system/*.wants/ovrin-server* >/dev/null 2>&1; then fail "a unit was enabled"; fi
for unit in ovrin-server.service ovrin-server@.service; do
  out=$(systemd-analyze verify --man=no "/lib/systemd/system/$unit" 2>&1) && [ -z "$out" ] ||
    fail "systemd-analyze verify $unit: $out"
done

# --- the installed program, as the unit runs it, serving a pseudo-terminal radio ---
"$radio" --mode cat --delay 0 >"$work/radio" 2>/dev/null & pids+=($!)
await "$work/radio" /dev/
pty=$(head -n1 "$work/radio")
/usr/bin/ovrin-server --headless --config-dir /var/lib/ovrin-server --com "$pty" --port 50000 2>"$work/log" &
server=$!
pids+=("$server")
await "$work/log" "Listening on TCP port 50000"
exec 4<>/dev/tcp/127.0.0.1/50000
printf 'FA;' >&4
answer=$(timeout 20 head -c 14 <&4) || true
exec 4>&-
[ "$answer" = 'FA00014074000;' ] || fail "a client got \"$answer\" from the installed program"
kill -TERM "$server"
wait "$server" || fail "the installed program ended with status $?"
[ -f /var/lib/ovrin-server/Ovrin-Bridge.ini ] || fail "no settings saved in /var/lib/ovrin-server"

# --- removed: only the state folder stays; purged: not even that ---
dpkg -r ovrin-server >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -r failed"; }
stray=$(left | grep -v '^/var/lib/ovrin-server/' || true)
[ -z "$stray" ] || fail "dpkg -r left: $stray"
left | grep -q '^/var/lib/ovrin-server/Ovrin-Bridge.ini$' || fail "dpkg -r took the settings"
dpkg -P ovrin-server >>"$work/dpkg.log" 2>&1 || fail "dpkg -P failed"
[ -z "$(left)" ] || fail "dpkg -P left: $(left)"
echo "$(basename "$deb") ($(stat -c %s "$deb") bytes): installed, checked, served a client, removed"
