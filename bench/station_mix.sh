#!/usr/bin/env bash
# A station's mix of four programs on one simulated TS-2000 at 4800 baud, through
# the built server and through hamlib's rigctld (see station_mix.py). Builds
# ovrin-server and ovrin-radio-sim in its own build folder (OVRIN_BENCH_BUILD to
# use another, e.g. build), installs rigctld when it is missing, and runs as root
# in private namespaces. Arguments go to station_mix.py, e.g.
#   bench/station_mix.sh --seconds 10 --config="--cache-ms 500" --config="--cache-ms 500 --radio-reports on"
source "$(dirname "$0")/common.sh"
if [ "${OVRIN_BENCH_PRIVATE:-}" != 1 ]; then
  need_packages libhamlib-utils
  # Configured only once: a build folder given by the caller keeps its own settings.
  [ -f "$BUILD/CMakeCache.txt" ] || cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j 2 --target ovrin-server ovrin-radio-sim
fi
private_namespaces "$@"
make_workdir
machine_header
# Already in the private namespaces: the script must not enter them again.
OVRIN_IN_NAMESPACE=1 run_driver python3 "$ROOT/bench/station_mix.py" --build "$BUILD" "$@"
