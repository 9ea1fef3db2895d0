#!/usr/bin/env bash
# Speed and memory of the built server, side by side with Debian's ser2net: start
# to listening, idle CPU (listening, on-line), the first command on a new
# connection, round trips of a CAT command (closed loop and random pauses),
# answers paced at 9600 baud, a MiB each way, CPU seconds and peak resident
# memory, and each command language with one client and three. Arguments go to ovrin-bench (e.g. --commands 1000 --idle-seconds 10,
# --only paced); with --server PATH another build is measured; with --window our
# server runs with its window on a private Xvfb instead of headless. As root it
# runs in private namespaces (see common.sh).
source "$(dirname "$0")/common.sh"
if [ "${OVRIN_BENCH_PRIVATE:-}" != 1 ]; then
  need_packages ser2net
  build_bench
fi
private_namespaces "$@"
make_workdir
machine_header
echo "ser2net: $(ser2net -v 2>&1 | head -1)"
server=("--server" "$BUILD/ovrin-server")
args=()
xvfb=()
for a in "$@"; do
  [ "$a" = "--server" ] && server=()
  if [ "$a" = "--window" ]; then export OVRIN_BENCH_WINDOW=1; xvfb=(xvfb-run -a -s "-screen 0 1024x768x24"); else args+=("$a"); fi
done
run_driver "${xvfb[@]}" "$BUILD/ovrin-bench" "${server[@]}" --sim "$BUILD/ovrin-radio-sim" --ser2net "$(command -v ser2net)" "${args[@]}"
