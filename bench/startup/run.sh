#!/bin/sh
# Start-up benchmark (not a test): the time from starting a setup program to
# its first page drawn, under Wine, against a trivial Windows program started
# the same way in the same run.
#   bench/startup/run.sh [rounds]          (default 15)
# Needs scripts/build.sh first (build/native/setrunc, both setup programs and
# the demo program). Builds in build/bench-startup: the benchmark programs,
# a corpus of 2,000 files (bench/install/make_corpus.py, 20 MB) and four
# installers (the demo and the 2,000 files, each with the 32-bit and the
# 64-bit setup program, the builder's standard wizard), and runs them in a
# private prefix with Wine's null display driver (drawing into memory).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
rounds=${1:-15}
out=$root/build/bench-startup
mkdir -p "$out"
for bits in 32 64; do
  case $bits in 32) cc=i686-w64-mingw32-gcc ;; 64) cc=x86_64-w64-mingw32-gcc ;; esac
  $cc -O2 -Wall -Wextra -Werror -s -static-libgcc -o "$out/startup_bench$bits.exe" \
    "$root/bench/startup/startup_bench.c"
  $cc -Os -Wall -Wextra -Werror -s -static-libgcc -mwindows -o "$out/trivial$bits.exe" \
    "$root/bench/startup/trivial_window.c"
done
setrunc=$root/build/native/setrunc
[ -d "$out/corpus" ] || python3 "$root/bench/install/make_corpus.py" "$out/corpus" --files 2000 --megabytes 20
cat >"$out/files.toml" <<TOML
product = "Startup Bench"
version = "1.0"
publisher = "setrun"
[[group]]
folder = "#Program Files#\\\\Startup Bench"
[[group.file]]
source = "corpus"
TOML
for bits in 32 64; do
  case $bits in 32) stub=$root/build/win32/setrun.exe ;; 64) stub=$root/build/win64/setrun.exe ;; esac
  "$setrunc" build "$root/examples/demo/project.toml" -o "$out/demo$bits.exe" --stub "$stub" -q \
    -D HELLO="$root/build/win32/demo_hello.exe"
  "$setrunc" build "$out/files.toml" -o "$out/files$bits.exe" --stub "$stub" -q
done
export SETRUN_WINEPREFIX=$out/wineprefix SETRUN_WINEARCH=win64
run="$root/tests/wine/run-in-wine.sh"
win() { echo "Z:$1" | tr / '\\'; }
for bits in 32 64; do
  echo "== $bits-bit programs ($(stat -c %s "$out/files$bits.exe") bytes with 2,000 files)"
  "$run" "$out/startup_bench64.exe" "$rounds" \
    "trivial Windows program=$(win "$out/trivial$bits.exe")" \
    "setup: the demo=$(win "$out/demo$bits.exe")" \
    "setup: 2,000 files=$(win "$out/files$bits.exe")"
done
WINEPREFIX=$SETRUN_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
