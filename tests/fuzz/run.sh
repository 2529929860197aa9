#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan) when needed and runs
# each for a bounded time: the setup program's package reader
# (setrun_package_fuzz) and setrunc's reader, inspect and verify beside the
# loader (setrun_reader_fuzz), each from the hand-assembled seed corpus for
# half of the time; then the markup of formatted texts (setrun_markup_fuzz)
# for at most 15 s more, and the font name reader (setrun_font_name_fuzz)
# for at most 10 s. Exits non-zero
# when a fuzzer finds a crash, a sanitizer report, a leak, a broken
# invariant, an input that takes more than 10 s or a single allocation of
# more than 192 MB (the inputs are kept in the artifacts folder).
#   tests/fuzz/run.sh [seconds]        (default 60, shared by the two readers)
# Environment: SETRUN_FUZZ_BUILD (build folder, default build/fuzz),
# SETRUN_FUZZ_JOBS (parallel fuzzing processes per target, default 1).
#
# Inputs go up to 256 KB: enough for a compressed record that states far
# more than the tables may hold, for tens of thousands of texts or entries,
# and for streams that many entries share.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-60}
build=${SETRUN_FUZZ_BUILD:-$root/build/fuzz}
jobs=${SETRUN_FUZZ_JOBS:-1}
each=$((seconds / 2))
[ "$each" -ge 1 ] || each=1

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if ! ninja -C "$build" setrun_package_fuzz setrun_reader_fuzz setrun_markup_fuzz \
    setrun_font_name_fuzz setrun_fuzz_seeds \
    >"$build/fuzz-build.log" 2>&1; then
  grep -E -A12 '^FAILED|error' "$build/fuzz-build.log" | head -n 40 >&2
  echo "the fuzz targets do not build; log $build/fuzz-build.log" >&2
  exit 1
fi

seeds="$build/fuzz/seeds"
artifacts="$build/fuzz/artifacts"
rm -rf "$seeds"
mkdir -p "$seeds" "$artifacts"
"$build/setrun_fuzz_seeds" "$seeds" >/dev/null

# Several processes only when asked: libFuzzer's job mode writes fuzz-N.log
# files into the current folder, which is the build folder here.
parallel=""
if [ "$jobs" -gt 1 ]; then parallel="-jobs=$jobs -workers=$jobs"; fi
cd "$build/fuzz"

fuzz() {  # target name, corpus folder, seconds, dictionary, maximum input length, seed folder...
  target=$1 corpus=$2 time=$3 dict=$4 maxlen=$5
  shift 5
  mkdir -p "$corpus"
  status=0
  # shellcheck disable=SC2086
  "$build/$target" "$corpus" "$@" \
    -dict="$here/$dict" \
    -max_total_time="$time" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=192 \
    $parallel -artifact_prefix="$artifacts/$target-" -print_final_stats=1 >"$target.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$target.log" >&2
    echo "$target found a problem (exit $status); inputs in $artifacts" >&2
    return 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$target.log")
  echo "$target: no findings in $time s (${runs:-?} inputs; log $build/fuzz/$target.log)"
}

markup_seconds=$(( seconds < 15 ? seconds : 15 ))
font_seconds=$(( seconds < 10 ? seconds : 10 ))
failed=0
fuzz setrun_package_fuzz corpus "$each" package.dict 262144 "$seeds" || failed=1
fuzz setrun_reader_fuzz reader-corpus "$each" package.dict 262144 "$seeds" || failed=1
fuzz setrun_markup_fuzz markup-corpus "$markup_seconds" markup.dict 4096 || failed=1
fuzz setrun_font_name_fuzz font-corpus "$font_seconds" font.dict 65536 || failed=1
exit "$failed"
