#!/bin/sh
# Builds the demo installer: setrunc (native build), the 32-bit setup program
# (the builder's default), the demo program and its component (32-bit
# Windows build), then examples/demo/project.toml.
#
#   examples/demo/build-demo.sh [OUTPUT-FOLDER]
#
# NATIVE_BUILD and WIN32_BUILD name the build folders to use (default
# build/demo-native and build/demo-win32).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
native=${NATIVE_BUILD:-$root/build/demo-native}
win32=${WIN32_BUILD:-$root/build/demo-win32}
out=${1:-$root/build/demo}
mkdir -p "$out"

cmake -S "$root" -B "$native" -G Ninja >/dev/null
ninja -C "$native" setrunc
cmake -S "$root" -B "$win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
ninja -C "$win32" setrun

# The demo program and its component: targets demo_hello and demo_greeting
# of the Windows build.
ninja -C "$win32" demo_hello demo_greeting

"$native/setrunc" build "$root/examples/demo/project.toml" -o "$out/demo-setup.exe" \
  --stub "$win32/setrun.exe" -D HELLO="$win32/demo_hello.exe" -D GREETING="$win32/demo_greeting.dll"
"$native/setrunc" verify "$out/demo-setup.exe"
