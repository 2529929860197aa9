#!/bin/sh
# Builds (when needed) and runs the inflater benchmark (bench/inflater_bench.c)
# of the 32-bit and the 64-bit Windows build under Wine, and prints its
# figures: the setup program's inflater against Debian's static zlib.
#   bench/run-inflater.sh [--quick]
# Environment: SETRUN_BENCH_WIN32, SETRUN_BENCH_WIN64 (build folders, default
# build/win32 and build/win64).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$root/build/bench-wineprefix
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
mkdir -p "$prefix"
status=0
for bits in 32 64; do
  if [ "$bits" = 32 ]; then
    build=${SETRUN_BENCH_WIN32:-$root/build/win32} toolchain=mingw-i686 wine=/usr/lib/wine/wine
  else
    build=${SETRUN_BENCH_WIN64:-$root/build/win64} toolchain=mingw-x86_64 wine=/usr/lib/wine/wine64
  fi
  [ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" >/dev/null
  ninja -C "$build" setrun_inflater_bench >/dev/null
  # Output through a file: Wine's background services would hold a pipe open.
  out=$prefix/inflater-$bits.txt
  "$wine" "$build/setrun_inflater_bench.exe" "$@" >"$out" 2>&1 </dev/null || status=$?
  cat "$out"
  echo
done
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
