#!/usr/bin/env bash
# Builds the setup program (32-bit and 64-bit) and the native tools into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

configure() {  # folder, extra cmake arguments...
  local dir=$1; shift
  # Configured again when it exists: settings added since then reach it.
  if [ -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" "$@" >/dev/null
  else
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  fi
}

configure build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
cmake --build build/win32 -j "$jobs"
configure build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
cmake --build build/win64 -j "$jobs"
configure build/native -DSETRUN_STUB_X86="$root/build/win32/setrun.exe" \
  -DSETRUN_STUB_X64="$root/build/win64/setrun.exe" \
  -DSETRUN_UNINSTALLER_X86="$root/build/win32/uninstall.exe" \
  -DSETRUN_UNINSTALLER_X64="$root/build/win64/uninstall.exe"
cmake --build build/native -j "$jobs"
