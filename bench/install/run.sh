#!/bin/sh
# Installation benchmark: installs Debian's nsis (the peer it measures
# against; only the benchmark needs it), builds setrunc, the 64-bit setup
# program and minimal_inflate.exe when needed, then runs
# bench/install/bench_install.py, or with --count bench/install/count_calls.py.
#   bench/install/run.sh [--rounds N] [--build-rounds N] [--files N] [--megabytes M]
#                        [--big-megabytes M] [--levels 6,9,12] [--corpora files,big,tiny]
#                        [--stub-before SETUP.EXE] [--prefix FOLDER]
#   bench/install/run.sh --count [--files N]
# Environment: SETRUN_BENCH_NATIVE, SETRUN_BENCH_WIN64 (build folders, default
# build/e2e-bench-native, a Release build, and build/e2e-win64).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v makensis >/dev/null; then
  apt-get install -y nsis >/dev/null || { apt-get update >/dev/null && apt-get install -y nsis >/dev/null; }
fi
script=bench_install.py
if [ "${1:-}" = --count ]; then
  script=count_calls.py
  shift
fi
native=${SETRUN_BENCH_NATIVE:-$root/build/e2e-bench-native}
win64=${SETRUN_BENCH_WIN64:-$root/build/e2e-win64}

[ -f "$win64/build.ninja" ] || cmake -S "$root" -B "$win64" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
ninja -C "$win64" setrun >/dev/null
# minimal_inflate is a target of the Windows build once
# bench/install/minimal_inflate.cmake is part of it; otherwise it is compiled
# here with the same options.
if ninja -C "$win64" -t targets all | grep -q '^minimal_inflate\.exe:'; then
  ninja -C "$win64" minimal_inflate >/dev/null
  minimal=$win64/minimal_inflate.exe
else
  minimal=$win64/bench-minimal_inflate.exe
  zlib=$(x86_64-w64-mingw32-gcc -print-file-name=libz.a)
  x86_64-w64-mingw32-gcc -O2 -s -static-libgcc -Wall -Wextra -Werror \
    -o "$minimal" "$root/bench/install/minimal_inflate.c" "$zlib"
fi
[ -f "$native/build.ninja" ] || cmake -S "$root" -B "$native" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DSETRUN_STUB_X64="$win64/setrun.exe" >/dev/null
ninja -C "$native" setrunc >/dev/null

SETRUN_BENCH_COMMAND="bench/install/run.sh $*"
export SETRUN_BENCH_COMMAND
exec python3 "$root/bench/install/$script" --setrunc "$native/setrunc" \
  --stub "$win64/setrun.exe" --minimal "$minimal" "$@"
