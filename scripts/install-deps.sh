#!/usr/bin/env bash
# Installs what setrun needs to build and test on Debian 12. Safe to run again:
# it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config python3 util-linux
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine64 xvfb xauth x11-apps imagemagick zip
  libgtest-dev zlib1g-dev libtomlplusplus-dev libdeflate-dev libstb-dev
  clang libclang-rt-14-dev
  libssl-dev openssl osslsigncode
  fonts-dejavu-core
)
# The 32-bit setup program runs under Debian's 32-bit Wine, the same version
# as wine64; it needs the i386 architecture. Installing it may upgrade a few
# amd64 Wine libraries to the matching version.
wine32=wine32:i386

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
need32=0
installed "$wine32" || need32=1
if [ ${#missing[@]} -eq 0 ] && [ "$need32" -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if [ "$need32" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Enabling the i386 architecture (for $wine32)"
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Without 32-bit Wine everything else still works: scripts/test.sh then
# reports the 32-bit runs as skipped.
if [ "$need32" -eq 1 ]; then
  echo "Installing: $wine32"
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$wine32" >/dev/null; then
    echo "WARNING: $wine32 could not be installed: the 32-bit setup program cannot be" \
      "run here, and scripts/test.sh will skip its runs" >&2
  fi
fi
