#!/bin/sh
# Builds the package fuzz target (clang, libFuzzer, ASan+UBSan) when needed and
# runs it from the hand-assembled seed corpus for a bounded time. Exits
# non-zero when the fuzzer finds a crash, a sanitizer report, a leak or a
# broken invariant (the input is kept in the artifacts folder).
#   tests/fuzz/run.sh [seconds]        (default 60)
# Environment: SETRUN_FUZZ_BUILD (build folder, default build/fuzz),
# SETRUN_FUZZ_JOBS (parallel fuzzing processes, default 1).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-60}
build=${SETRUN_FUZZ_BUILD:-$root/build/fuzz}
jobs=${SETRUN_FUZZ_JOBS:-1}

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" setrun_package_fuzz setrun_fuzz_seeds >/dev/null

seeds="$build/fuzz/seeds"
corpus="$build/fuzz/corpus"
artifacts="$build/fuzz/artifacts"
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$artifacts"
"$build/setrun_fuzz_seeds" "$seeds"

# Several processes only when asked: libFuzzer's job mode writes fuzz-N.log
# files into the current folder, which is the build folder here.
parallel=""
if [ "$jobs" -gt 1 ]; then parallel="-jobs=$jobs -workers=$jobs"; fi
status=0
cd "$build/fuzz"
# shellcheck disable=SC2086
"$build/setrun_package_fuzz" "$corpus" "$seeds" \
  -dict="$here/package.dict" \
  -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
  $parallel -artifact_prefix="$artifacts/" -print_final_stats=1 >fuzz.log 2>&1 || status=$?

if [ "$status" -ne 0 ]; then
  tail -n 60 fuzz.log >&2
  echo "package fuzzing found a problem (exit $status); inputs in $artifacts" >&2
  exit 1
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' fuzz.log)
echo "package fuzzing: no findings in $seconds s (${runs:-?} inputs; log $build/fuzz/fuzz.log)"

# The markup of formatted texts: a short run of its own (at most 15 s).
markup_seconds=$(( seconds < 15 ? seconds : 15 ))
ninja -C "$build" setrun_markup_fuzz >/dev/null
markup="$build/fuzz-markup"
mkdir -p "$markup/corpus" "$markup/artifacts"
status=0
(cd "$markup" && "$build/setrun_markup_fuzz" "$markup/corpus" -dict="$here/markup.dict" \
  -max_total_time="$markup_seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$markup/artifacts/" -print_final_stats=1 >fuzz.log 2>&1) || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$markup/fuzz.log" >&2
  echo "markup fuzzing found a problem (exit $status); inputs in $markup/artifacts" >&2
  exit 1
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$markup/fuzz.log")
echo "markup fuzzing: no findings in $markup_seconds s (${runs:-?} inputs; log $markup/fuzz.log)"
