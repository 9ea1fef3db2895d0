#!/usr/bin/env bash
# Fault and load runs on the built server: 1 MiB each way, a 60 s flood, the
# radio's device pulled and put back (a connected client served again), immediate
# reconnects, 1000 connect cycles, refused clients.
# Arguments go to ovrin-faults (e.g. --run flood --flood-seconds 10); with
# --server PATH another build of the server is tested. Exit status 1 on a FAIL.
source "$(dirname "$0")/common.sh"
build_bench
make_workdir
machine_header
server=("--server" "$BUILD/ovrin-server")
for a in "$@"; do [ "$a" = "--server" ] && server=(); done
run_driver "$BUILD/ovrin-faults" "${server[@]}" "$@"
