#!/usr/bin/env bash
# The server with a simulated radio on COM1, listening on TCP port 50000; any
# option of the server may follow (--port 53000, --rfc2217-port 50001, --clients 3,
# --com COM4 for another COM name of the radio). Started by ./run.sh --demo after
# the build; can also be run on its own. The demo keeps its settings in a folder
# of its own, removed at its end: your settings are never read or touched.
#   OVRIN_BUILD_DIR   where the programs are (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${OVRIN_BUILD_DIR:-build}
sim="$build/ovrin-radio-sim"
server="$build/ovrin-server"

for program in "$sim" "$server"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing; build first (./scripts/build.sh or ./run.sh --demo)." >&2
    exit 1
  fi
done

# What the demo sets up itself: the radio's COM name, and the ports it tells about.
port=50000 com=1 rfc2217=""
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  arg=${args[i]} value=""
  case $arg in
    --*=*) value=${arg#*=} arg=${arg%%=*} ;;
    *) value=${args[i + 1]:-} ;;
  esac
  case $arg in
    --port) port=$value ;;
    --rfc2217-port) rfc2217=$value ;;
    --config-dir)
      echo "demo: the demo keeps its settings in a folder of its own; start it without --config-dir." >&2
      exit 2 ;;
    --com)
      if [[ $value =~ ^[Cc][Oo][Mm]([1-9][0-9]*)$ ]]; then
        com=${BASH_REMATCH[1]}
      else
        echo "demo: the demo's radio is the simulator; give --com a COM name (COM1, COM4, ...) or none." >&2
        exit 2
      fi ;;
  esac
done

# Without a display the server runs without a window; its messages come here.
server_options=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  server_options=(--headless)
fi

folder=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-demo-XXXXXX")
link="$folder/dosdevices/com$com"
log="$folder/radio-sim.log"
sim_pid=""
server_pid=""
# shellcheck disable=SC2317  # called from the traps
cleanup() {
  trap - EXIT INT TERM HUP
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "demo: warning: something already listens on TCP port $port; the server cannot use it." >&2
fi

mkdir -p "$folder/dosdevices"
"$sim" --mode cat --link "$link" --log "$log" >/dev/null &
sim_pid=$!
for _ in $(seq 100); do
  [ -L "$link" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    sim_pid=""
    echo "demo: the radio simulator did not start (see above)." >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -L "$link" ]; then
  echo "demo: the radio simulator made no link $link within 5 s." >&2
  exit 1
fi

cat <<EOF

  Simulated radio (Kenwood-style CAT) on $(readlink "$link"): the server's COM$com.
  Server listening on port $port — try:  printf 'FA;' | nc -w1 localhost $port
      answer: FA00014074000;   also MD;  ID;  IF;  and FA00007074000; to set VFO A
      (not nc -q1: it half-closes the connection, which the server takes as the client leaving)
EOF
if [ -n "$rfc2217" ]; then
  cat <<EOF
  Remote serial port (RFC 2217) on port $rfc2217 — try:
      python3 -c 'import serial; p = serial.serial_for_url("rfc2217://localhost:$rfc2217", timeout=2); p.write(b"FA;"); print(p.read(14))'
EOF
fi
cat <<EOF
  Bytes to and from the radio are logged in $log (tail -f $log).
  Settings are kept in $folder for the demo only.
  Stop with Ctrl+C or by closing the server window.

EOF

# Waited for rather than run in the foreground, so a signal to this script
# is acted on at once and also ends the server. The demo's COM name and folder
# first: a --com given after them names the same port.
"$server" ${server_options[@]+"${server_options[@]}"} --config-dir "$folder" --com "COM$com" "$@" &
server_pid=$!
status=0
wait "$server_pid" || status=$?
server_pid=""
exit "$status"
