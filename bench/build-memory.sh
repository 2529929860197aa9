#!/bin/sh
# Peak memory of `setrunc build` and `setrunc verify` on a large source: a
# sparse file of zeros (compresses to almost nothing) and a file of random
# bytes (does not compress), built with one thread and with two.
#   bench/build-memory.sh [--size 3G] [--random 512M] [--level 9]
# Prints one line per run: peak resident memory (GNU time's maximum RSS),
# user and wall seconds, the input and the output size.
# Environment: SETRUN_BENCH_NATIVE (build folder, default build/bench-native,
# a Release build of its own), TMPDIR (where the files are made; they are
# removed at the end).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
native=${SETRUN_BENCH_NATIVE:-$root/build/bench-native}
size=3G
random=512M
level=9
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --random) random=$2; shift 2 ;;
    --level) level=$2; shift 2 ;;
    *) echo "usage: $0 [--size 3G] [--random 512M] [--level 9]" >&2; exit 2 ;;
  esac
done
[ -x /usr/bin/time ] || { echo "bench: needs GNU time (apt-get install time)" >&2; exit 1; }

[ -f "$native/build.ninja" ] || cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$native" setrunc >/dev/null
setrunc=$native/setrunc

work=$(mktemp -d "${TMPDIR:-/tmp}/setrun-build-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf 'MZ' >"$work/stub.exe"
truncate -s 2048 "$work/stub.exe"
mkdir "$work/zeros" "$work/random"
truncate -s "$size" "$work/zeros/big.bin"          # sparse: costs no disk
head -c "$random" /dev/urandom >"$work/random/big.bin"
for kind in zeros random; do
  printf 'compression = %s\n[[group]]\n[[group.file]]\nsource = "%s/big.bin"\n' \
    "$level" "$kind" >"$work/$kind.toml"
done

mb() { echo $(( $1 / 1048576 )); }
# command label, then the command; prints peak MiB, user s, wall s.
measure() {
  label=$1; shift
  /usr/bin/time -f '%M %U %e' -o "$work/time" "$@" >"$work/log" 2>&1 ||
    { cat "$work/log"; echo "bench: $label failed" >&2; exit 1; }
  read -r kb user wall <"$work/time"
  printf '%-28s %9s %9s %9s' "$label" $(( kb / 1024 )) "$user" "$wall"
}

echo "level $level; load average before: $(cut -d' ' -f1 /proc/loadavg)"
printf '%-28s %9s %9s %9s %10s %10s\n' "run" "peak MiB" "user s" "wall s" "input MiB" "output MiB"
for kind in zeros random; do
  input=$(stat -c %s "$work/$kind/big.bin")
  for jobs in 1 2; do
    measure "build $kind -j $jobs" "$setrunc" build "$work/$kind.toml" -o "$work/setup.exe" \
      --stub "$work/stub.exe" -j "$jobs" -q
    printf ' %10s %10s\n' "$(mb "$input")" "$(mb "$(stat -c %s "$work/setup.exe")")"
  done
  measure "verify $kind" "$setrunc" verify "$work/setup.exe"
  printf ' %10s %10s\n' "$(mb "$input")" "-"
  rm -f "$work/setup.exe"
done
