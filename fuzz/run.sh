#!/usr/bin/env bash
# Builds the libFuzzer programs with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-fuzz/ (clang) and runs one of them, at low priority.
#
#   fuzz/run.sh settings|datapath|rfc2217 [seconds] [libFuzzer flags...]
#       fuzzes for the given time (default 60 s); new inputs collect in
#       build-fuzz/corpus/<target>/, crashes in build-fuzz/crashes/<target>/.
#   fuzz/run.sh settings|datapath|rfc2217 merge
#       adds to fuzz/corpus/<target>/ those collected inputs that reach code the
#       checked-in corpus does not (edges only, not hit counts, which keeps the
#       checked-in corpus small).
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-}
case "$target" in
  settings) max_len=1100 ;;
  datapath) max_len=2048 ;;
  rfc2217) max_len=1024 ;;
  *) echo "usage: $0 settings|datapath|rfc2217 [seconds|merge] [libFuzzer flags...]" >&2; exit 2 ;;
esac
mode=${2:-60}
shift $(( $# < 2 ? $# : 2 ))

# clang and its libFuzzer, when missing (./test.sh does not install them).
./scripts/deps.sh fuzz
# Both targets may run at once (one a core): they take turns at building.
mkdir -p build-fuzz
(
  flock 9
  ./scripts/fetch-httplib.sh
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DOVRIN_FUZZ=ON -DOVRIN_WITH_QT=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  nice -n 10 cmake --build build-fuzz --target "fuzz_$target" -j "$(nproc)" >/dev/null
) 9>build-fuzz/.build-lock

seeds=fuzz/corpus/$target
work=build-fuzz/corpus/$target
crashes=build-fuzz/crashes/$target
mkdir -p "$work" "$crashes"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if [ "$mode" = merge ]; then
  exec nice -n 10 "build-fuzz/fuzz_$target" -merge=1 -use_counters=0 -max_len="$max_len" \
    -artifact_prefix="$crashes/" "$@" "$seeds" "$work"
fi
exec nice -n 10 "build-fuzz/fuzz_$target" -max_total_time="$mode" -max_len="$max_len" \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$@" "$work" "$seeds"
