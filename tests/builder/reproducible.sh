#!/bin/sh
# Reproducible output: the 32-bit setup program and the demo's programs built
# again in a fresh build folder are the same bytes as those of the regular
# build, and so are the demo installers setrunc makes from either pair. The
# PE time stamp is 0, or SOURCE_DATE_EPOCH when that is set at link time.
# The 64-bit setup program, when given, is checked for its time stamp.
#   reproducible.sh SETRUNC SOURCE-DIR REGULAR-WIN32-BUILD WORK-DIR [STUB-X64]
set -eu
setrunc=$1 root=$2 regular=$3 work=$4 stub64=${5:-}
rm -rf "$work"
mkdir -p "$work"
fresh="$work/win32 again"   # another path, with a space: no path may show in the output

timestamp() {  # PE file -> its link time stamp, decimal
  pe=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -tu4 -j $((pe + 8)) -N 4 "$1" | tr -d ' '
}

cmake -S "$root" -B "$fresh" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >"$work/configure.log" 2>&1 ||
  { tail -n 20 "$work/configure.log" >&2; exit 1; }
cmake --build "$fresh" -j 2 --target setrun demo_hello demo_greeting >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; exit 1; }

status=0
for program in setrun.exe demo_hello.exe demo_greeting.dll; do
  if ! cmp "$regular/$program" "$fresh/$program"; then
    echo "$program differs between two build folders" >&2
    status=1
  fi
  stamp=$(timestamp "$fresh/$program")
  expected=${SOURCE_DATE_EPOCH:-0}
  [ "$stamp" = "$expected" ] || { echo "$program has the time stamp $stamp, not $expected" >&2; status=1; }
done

if [ -n "$stub64" ]; then
  stamp=$(timestamp "$stub64")
  [ "$stamp" = "${SOURCE_DATE_EPOCH:-0}" ] || { echo "$stub64 has the time stamp $stamp" >&2; status=1; }
fi

# The demo installer from each build, written to different folders.
for side in a b; do
  mkdir -p "$work/$side"
  cp -r "$root/examples/demo/." "$work/$side/demo"
done
"$setrunc" build "$work/a/demo/project.toml" -o "$work/a/setup.exe" --stub "$regular/setrun.exe" \
  -D HELLO="$regular/demo_hello.exe" -D GREETING="$regular/demo_greeting.dll" -q
"$setrunc" build "$work/b/demo/project.toml" -o "$work/b/setup.exe" --stub "$fresh/setrun.exe" \
  -D HELLO="$fresh/demo_hello.exe" -D GREETING="$fresh/demo_greeting.dll" -q -j 1
cmp "$work/a/setup.exe" "$work/b/setup.exe" || { echo "two builds of the demo installer differ" >&2; status=1; }

# SOURCE_DATE_EPOCH at link time becomes the time stamp.
rm -f "$fresh/setrun.exe"
SOURCE_DATE_EPOCH=1700000000 cmake --build "$fresh" --target setrun >>"$work/build.log" 2>&1
stamp=$(timestamp "$fresh/setrun.exe")
[ "$stamp" = 1700000000 ] || { echo "with SOURCE_DATE_EPOCH=1700000000 the time stamp is $stamp" >&2; status=1; }

[ "$status" -eq 0 ] && rm -rf "$work" && echo "the setup program, the demo program and the demo installer are reproducible"
exit "$status"
