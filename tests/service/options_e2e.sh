#!/usr/bin/env bash
# The built program headless, set up from the command line alone: the line, the
# modem lines, PTT control and the kept-open port given as options, the radio
# named by its device path, and an allow-list. Checks the port as opened (its
# termios and the log), the settings file saved on SIGTERM, a client from outside
# the list closed without a byte and logged once, and one inside it served.
# Runs in private network and pty namespaces (root), so it collides with nothing;
# exits 77 (skipped) where they cannot be made.
#   options_e2e.sh <ovrin-server> <ovrin-radio-sim>
set -euo pipefail
server=$1 radio=$2
if [ "${OVRIN_IN_NAMESPACE:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ] || ! unshare -n -m --propagation private true 2>/dev/null; then
    echo "SKIPPED: private namespaces need root (unshare -n -m)"; exit 77
  fi
  exec unshare -n -m --propagation private env OVRIN_IN_NAMESPACE=1 bash -c '
    ip link set lo up
    mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts
    mount --bind /dev/pts/ptmx /dev/ptmx
    mount -t tmpfs tmpfs /run/lock  # lock files named after our private ptys
    exec bash "$0" "$@"' "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-options-XXXXXX")
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; echo "--- server log:" >&2; cat "$work/log" >&2 || true; exit 1; }
# Waits up to 20 s for a pattern in a file (a loaded machine runs the suite in parallel).
await() { for _ in $(seq 400); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done; fail "no \"$2\" in $1"; }

"$radio" --mode cat --delay 0 >"$work/radio" 2>/dev/null & pids+=($!)
await "$work/radio" /dev/
pty=$(head -n1 "$work/radio")

"$server" --headless --config-dir "$work/cfg" --port 50000 --line 4800,e,7,1 --rts off --dtr on \
  --ptt-rts on --keep-port-open on --com "$pty" --allow 127.0.0.1/32,::1 2>"$work/log" & pids+=($!)
server_pid=$!
await "$work/log" "Listening"
grep -q -- "--com $pty: COM1, through $work/cfg/dosdevices/com1 (made now)" "$work/log" || fail "no COM name for $pty"
await "$work/log" "Serial port COM1 ($pty) open, 4800,e,7,1, DTR on, RTS off (PTT)"
# The port as the driver has it: 4800 baud, one stop bit. A pseudo-terminal keeps
# those but always reads back cs8 -parenb (the kernel's pty forces them), so the
# data bits and parity are the log's word above.
line=$(stty -F "$pty" -a)
for want in "speed 4800 baud" " -cstopb "; do
  [[ "$line" == *"$want"* ]] || fail "stty -F $pty lacks \"$want\": $line"
done

# From outside the list: closed before a byte either way, logged once.
for _ in 1 2; do
  got=$(printf 'FA;' | timeout 5 nc -s 127.0.0.2 127.0.0.1 50000 | od -An -c) || true
  [ -z "$got" ] || fail "a client at 127.0.0.2 got: $got"
done
await "$work/log" "Client 127.0.0.2 refused: not on the allow-list"
[ "$(grep -c 'Client 127.0.0.2 refused' "$work/log")" = 1 ] || fail "the refusal was logged more than once"
grep -q "Client 127.0.0.2 connected" "$work/log" && fail "127.0.0.2 was taken in"

# From inside it: served, the answer read as soon as it is whole.
exec 4<>/dev/tcp/127.0.0.1/50000
printf 'FA;' >&4
got=$(timeout 20 head -c 14 <&4) || true
exec 4>&-
[ "$got" = FA00014074000\; ] || fail "the client at 127.0.0.1 got \"$got\", not the frequency"

kill -TERM "$server_pid"
wait "$server_pid" || fail "the server ended with status $?"
ini="$work/cfg/Ovrin-Bridge.ini"
field() { dd if="$ini" bs=1 skip="$1" count="$2" status=none; }
# Baud, bits, parity, stop, Host IP Port; Com Port, DTR, RTS, kept open, PTT control.
record="$(field 47 18)|$(field 67 10)"
[ "$record" = "4800  7Even 150000|COM1  1011" ] || fail "settings file holds \"$record\""
echo "options_e2e: port opened 4800,e,7,1 DTR on RTS off, record saved with them, 127.0.0.2 refused"
