#!/usr/bin/env bash
# The server with a simulated radio on COM1, listening on TCP port 50000.
# Started by ./run.sh --demo after the build; can also be run on its own.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
sim="$build/ovrin-radio-sim"
server="$build/ovrin-server"
link="$build/dosdevices/com1"
settings="$build/Ovrin-Bridge.ini"
backup="$settings.before-demo"
log="$build/radio-sim.log"

for program in "$sim" "$server"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing; build first (./scripts/build.sh or ./run.sh --demo)." >&2
    exit 1
  fi
done
# Without a display the server runs without a window; its messages come here.
server_options=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  server_options=(--headless)
fi

sim_pid=""
server_pid=""
settings_taken=no   # set once any settings file of the user's is safe in $backup
# shellcheck disable=SC2317  # called from the traps
cleanup() {
  trap - EXIT INT TERM HUP
  # The server first, so whatever it writes on the way out is written before
  # the settings are put back.
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  # The simulator removes its link itself; this covers it having been killed hard.
  [ -L "$link" ] && rm -f "$link"
  # Put the settings back as they were: the demo's own run leaves none behind.
  if [ -e "$backup" ]; then
    mv -f "$backup" "$settings"
    echo "demo: restored your settings file $settings."
  elif [ "$settings_taken" = yes ] && [ -e "$settings" ]; then
    rm -f "$settings"
    echo "demo: removed the settings file the demo run wrote ($settings)."
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Saved settings may say Off-line or name another port or TCP port; the demo
# needs the defaults (COM1, 9600,n,8,2, port 50000), which a missing file gives.
if [ -e "$backup" ]; then
  # An earlier demo did not get to restore it: that backup is the user's file.
  if [ -e "$settings" ]; then
    mv -f "$settings" "$settings.demo-leftover"
    echo "demo: an earlier demo left $backup; kept it, moved the current $settings to $settings.demo-leftover."
  fi
elif [ -e "$settings" ]; then
  mv "$settings" "$backup"
  echo "demo: moved your settings file aside to $backup for the demo; it is restored on exit."
fi
settings_taken=yes

if (exec 3<>/dev/tcp/127.0.0.1/50000) 2>/dev/null; then
  echo "demo: warning: something already listens on TCP port 50000; the server cannot use it." >&2
fi

mkdir -p "$build/dosdevices"
: >"$log"
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

  Simulated radio (Kenwood-style CAT) on $(readlink "$link"), linked as $link: the server's COM1.
  Server listening on port 50000 — try:  printf 'FA;' | nc -w1 localhost 50000
      answer: FA00014074000;   also MD;  ID;  IF;  and FA00007074000; to set VFO A
      (not nc -q1: it half-closes the connection, which the server takes as the client leaving)
  Bytes to and from the radio are logged in $log (tail -f $log).
  Stop with Ctrl+C or by closing the server window.

EOF

# Waited for rather than run in the foreground, so a signal to this script
# is acted on at once and also ends the server.
"$server" "${server_options[@]}" &
server_pid=$!
status=0
wait "$server_pid" || status=$?
server_pid=""
exit "$status"
