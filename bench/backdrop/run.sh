#!/bin/sh
# Builds (when needed) and runs the backdrop repaint benchmark under Wine in a
# private prefix, and prints its figures.
#   bench/backdrop/run.sh [rounds] [paints per round]
# Environment: SETRUN_BENCH_BUILD (the x86_64 Windows build folder, default
# build/win64).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${SETRUN_BENCH_BUILD:-$root/build/win64}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
fi
ninja -C "$build" -j 2 backdrop_bench >/dev/null
export WINEPREFIX="$root/build/bench-wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/.ready" ]; then
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  # No display needed: Wine's null driver draws into memory like any other.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  touch "$WINEPREFIX/.ready"
fi
out=$(mktemp)
status=0
/usr/lib/wine/wine64 "$build/backdrop_bench.exe" "$@" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
rm -f "$out"
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
