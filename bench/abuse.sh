#!/usr/bin/env bash
# What misbehaving clients cost the built server, each attack against a fresh one:
# a client writing while another's turn holds the port (parked data), a remote
# serial port client asking for the signature in a loop and reading nothing, a raw
# client reading nothing while the radio talks, a flood of connections. Peak and resident memory, descriptors, an honest client served.
# Arguments go to ovrin-abuse (e.g. --run unread --seconds 10); with --window the
# server runs with its window on a private Xvfb; with --server PATH another build.
# As root it runs in private namespaces (see common.sh).
source "$(dirname "$0")/common.sh"
[ "${OVRIN_BENCH_PRIVATE:-}" = 1 ] || build_bench
private_namespaces "$@"
make_workdir
machine_header
server=("--server" "$BUILD/ovrin-server")
args=()
xvfb=()
for a in "$@"; do
  [ "$a" = "--server" ] && server=()
  if [ "$a" = "--window" ]; then export OVRIN_BENCH_WINDOW=1; xvfb=(xvfb-run -a -s "-screen 0 1024x768x24"); else args+=("$a"); fi
done
run_driver "${xvfb[@]}" "$BUILD/ovrin-abuse" "${server[@]}" "${args[@]}"
