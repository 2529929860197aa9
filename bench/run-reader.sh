#!/bin/sh
# Builds (when needed) and runs the package reader benchmark in a Release
# build of its own, and prints its figures.
#   bench/run-reader.sh [--quick]
# Environment: SETRUN_BENCH_BUILD (build folder, default build/readertests-bench).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SETRUN_BENCH_BUILD:-$root/build/readertests-bench}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" setrun_reader_bench >/dev/null
exec "$build/setrun_reader_bench" "$@"
