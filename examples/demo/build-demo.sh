#!/bin/sh
# Builds the demo installer: setrunc (native build), the 32-bit setup program
# (the builder's default) and the demo program (32-bit Windows build), then
# examples/demo/project.toml.
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

# The demo program: target demo_hello when the Windows build has it,
# otherwise compiled here with the same options.
if ninja -C "$win32" -t targets all | grep -q '^demo_hello\.exe:'; then
  ninja -C "$win32" demo_hello
  hello="$win32/demo_hello.exe"
else
  i686-w64-mingw32-gcc -Os -s -Wall -Wextra -Werror -o "$out/hello.exe" "$root/examples/demo/hello.c"
  hello="$out/hello.exe"
fi

"$native/setrunc" build "$root/examples/demo/project.toml" -o "$out/demo-setup.exe" \
  --stub "$win32/setrun.exe" -D HELLO="$hello"
"$native/setrunc" verify "$out/demo-setup.exe"
