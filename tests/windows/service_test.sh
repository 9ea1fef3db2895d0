#!/usr/bin/env bash
# The Windows release archive and the Windows service under Wine: the zip made by
# scripts/package.sh unpacks to a program that runs from its folder; that program
# registers itself as the service, Wine's service manager starts it, a client is
# served through COM1 (a pseudo-terminal radio whose modem lines the LD_PRELOAD
# shim records), the client keys the transmitter (by RTS and by CAT), and a stop
# while keyed drops RTS, gets the CAT release (RX;) to the radio before the port
# closes, and saves the settings in the program data folder, with the log there; the
# service is removed again and its folder stays. Exits 77 (skipped) without Wine,
# the radio simulator or the shim.
#   service_test.sh <source dir> <build-win dir> <ovrin-radio-sim> <modem shim>
# shellcheck disable=SC2317  # functions called from the trap and through until_ok
set -uo pipefail
source=$1 build=$2 radio=${3:-} shim=${4:-}
skip() { echo "SKIPPED: $*"; exit 77; }
[ -x /usr/lib/wine/wine64 ] || skip "wine64 is not installed"
[ -x "$radio" ] || skip "no radio simulator (build the Linux program first)"
[ -f "$shim" ] || skip "no modem-line shim (build the Linux program first)"
# As root: a network and pseudo-terminals of our own, so parallel runs never meet.
if [ "$(id -u)" = 0 ] && [ -z "${OVRIN_E2E_PRIVATE:-}" ] && command -v unshare >/dev/null; then
  exec env OVRIN_E2E_PRIVATE=1 unshare -n -m --propagation private bash -c \
    'ip link set lo up && mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts &&
     mount --bind /dev/pts/ptmx /dev/ptmx && mount -t tmpfs tmpfs /run/lock && exec bash "$0" "$@"' "$0" "$@"
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-service-XXXXXX")
# Every Wine process, the service manager and the service among them, carries the
# shim: Wine's serial code sets the lines with ioctl on its Unix side.
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 \
  LD_PRELOAD=$shim OVRIN_MODEM_LOG="$dir/modem.log" OVRIN_SLOW_LINE="$dir/slow"
wine=/usr/lib/wine/wine64
pids=() failed=0
cleanup() {
  kill "${pids[@]}" 2>/dev/null
  /usr/lib/wine/wineserver -k >/dev/null 2>&1
  wait 2>/dev/null
  if [ "$failed" = 0 ]; then rm -rf "$dir"; else echo "logs are kept in $dir"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAIL: $*" >&2; failed=1; exit 1; }
until_ok() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.1; done
}
folder="$WINEPREFIX/drive_c/ProgramData/Ovrin-Server"
logged() { grep -q -- "$1" "$folder/ovrin-server.log" 2>/dev/null; }
rts() { [ "$(awk '$2 == "RTS" { s = $3 } END { print s }' "$dir/modem.log" 2>/dev/null)" = "$1" ]; }
state() { "$wine" sc query ovrin-server 2>/dev/null | grep -q "STATE *: *[0-9]* *$1"; }

# --- the archive, unpacked; the program runs from its folder ---
OVRIN_BUILD=$build OVRIN_WIN_BUILD=$build "$source/scripts/package.sh" --no-build --out "$dir" zip >/dev/null ||
  fail "package.sh made no zip"
version=$(cat "$build/generated/version.txt")
mkdir "$dir/app" && (cd "$dir/app" && python3 -m zipfile -e "$dir/ovrin-server-$version-win64.zip" .) ||
  fail "the zip does not unpack"
app="$dir/app/ovrin-server-$version-win64"
for f in ovrin-server.exe README.txt FIRST-RUN.txt LICENSE.txt THIRD-PARTY.txt; do [ -s "$app/$f" ] || fail "the zip lacks $f"; done
# The licence as it is, in lines Notepad breaks; the notices name each library linked in.
[ "$(tr -d '\r' <"$app/LICENSE.txt")" = "$(cat "$source/LICENSE")" ] || fail "LICENSE.txt is not LICENSE"
[ "$(grep -c $'\r$' "$app/LICENSE.txt")" = "$(wc -l <"$app/LICENSE.txt")" ] || fail "LICENSE.txt has lines not ending in CR LF"
for library in cpp-httplib nlohmann-json libstdc++ MinGW-w64; do
  grep -q "^== .*$library" "$app/THIRD-PARTY.txt" || fail "THIRD-PARTY.txt lacks $library"
done
"$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
"$wine" "$app/ovrin-server.exe" --version >"$dir/version" 2>&1
grep -q "^Ovrin-Server v1\.10\.01" "$dir/version" || fail "the unpacked program printed: $(cat "$dir/version")"

"$radio" --mode cat --log "$dir/radio.log" >"$dir/radio.out" 2>&1 &
pids+=($!)
until_ok 5 grep -q '^/dev/' "$dir/radio.out" || fail "the radio simulator named no device"
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$(head -n1 "$dir/radio.out")" /f >/dev/null 2>&1
# The prefix made in full (wineboot goes on in the background) before services.
/usr/lib/wine/wineserver -w
# Wine ends its service manager, and the services, once no other program runs.
mkfifo "$dir/keep"
"$wine" cmd <"$dir/keep" >/dev/null 2>&1 &
pids+=($!)
exec 4>"$dir/keep"

# --- installed with options, started by the service manager ---
port=$((40000 + RANDOM % 9990))
"$wine" "$app/ovrin-server.exe" --install-service --port "$port" --ptt-rts on >"$dir/install.out" 2>&1 ||
  fail "--install-service: $(cat "$dir/install.out")"
grep -q "Service ovrin-server installed" "$dir/install.out" || fail "install said: $(cat "$dir/install.out")"
"$wine" reg query 'HKLM\System\CurrentControlSet\Services\ovrin-server' /v ImagePath 2>/dev/null |
  grep -q -- "--service --port $port --ptt-rts on" || fail "the service does not run with the options given"
WINEDEBUG=err+sc "$wine" sc start ovrin-server >"$dir/start.out" 2>&1
until_ok 30 logged "Listening on TCP port $port" || fail "the service does not listen on $port"
until_ok 10 state RUNNING || fail "the service manager does not report it running"
logged "settings folder C:\\\\ProgramData\\\\Ovrin-Server" || fail "the settings folder is not the program data folder"

# --- a client served through COM1; it keys; the stop releases ---
exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "no connection to $port"
printf 'FA;' >&3
answer=$(timeout 15 head -c 14 <&3)
[ "$answer" = "FA00014074000;" ] || fail "the client got \"$answer\" through the service"
printf '\033\033ATH1' >&3
until_ok 10 rts 1 || fail "RTS did not rise for the in-band command"
until_ok 5 logged "PTT keyed" || fail "the key is not logged"
# The same client keys by CAT too, on a line that takes 50 ms a byte (the shim):
# the stop must wait for the release to leave before it closes the port.
touch "$dir/slow"
printf 'TX;' >&3
until_ok 10 grep -q "PTT on" "$dir/radio.log" || fail "TX; did not key the radio"
rm -f "$folder/Ovrin-Bridge.ini"
"$wine" sc stop ovrin-server >/dev/null 2>&1
until_ok 15 state STOPPED || fail "the service did not stop"
rts 0 || fail "RTS still up after the stop"
until_ok 5 grep -q "PTT off" "$dir/radio.log" || fail "the radio did not hear the release (RX;) before the port closed"
exec 3>&-
logged "Asked to end: saving the settings" || fail "the stop is not logged"
logged "Ended" || fail "the service did not end as a stop ends it"
[ "$(stat -c %s "$folder/Ovrin-Bridge.ini" 2>/dev/null)" = 1033 ] || fail "no settings saved in $folder"

# --- removed; its folder stays ---
"$wine" "$app/ovrin-server.exe" --uninstall-service >"$dir/uninstall.out" 2>&1 ||
  fail "--uninstall-service: $(cat "$dir/uninstall.out")"
"$wine" sc query ovrin-server >/dev/null 2>&1 && fail "the service is still registered"
[ -f "$folder/ovrin-server.log" ] || fail "the folder went with the service"
echo "zip $(stat -c %s "$dir/ovrin-server-$version-win64.zip") bytes: unpacked, run; the service installed," \
  "started, served a client, keyed, stopped (RTS down, the CAT release heard, settings saved) and removed under Wine"
exit 0
