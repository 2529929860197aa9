#!/usr/bin/env bash
# Builds the demo installer from examples/demo and runs it under Wine in a
# fresh prefix, then lists what went where. Installs what it needs.
# The demo uses the builder's default, the 32-bit setup program (the one
# customers get), and runs it in a 64-bit prefix, as on 64-bit Windows: its
# files go to "Program Files (x86)" and its HKLM\Software keys below
# Wow6432Node.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
mkdir -p build
echo "== building (log: build/build.log)"
scripts/build.sh >build/build.log 2>&1 || { tail -n 60 build/build.log; exit 1; }

out=$root/build/demo
mkdir -p "$out"
setup=$out/demo-setup.exe
build/native/setrunc build examples/demo/project.toml -o "$setup" \
  -D HELLO="$root/build/win32/demo_hello.exe"
echo "== built $setup ($(stat -c %s "$setup") bytes)"
build/native/setrunc verify "$setup"

export SETRUN_WINEPREFIX=$out/wineprefix SETRUN_WINEARCH=win64
rm -rf "$SETRUN_WINEPREFIX" "$SETRUN_WINEPREFIX.lock"
echo "== running the installer under Wine (prefix $SETRUN_WINEPREFIX)"
set +e
tests/wine/run-in-wine.sh "$setup"
rc=$?
set -e
case $rc in
  255) shown=-1 ;;
  254) shown=-2 ;;
  *) shown=$rc ;;
esac
echo "exit code: $shown"

drive_c=$SETRUN_WINEPREFIX/drive_c
echo "== installed files"
find "$drive_c" -newer "$SETRUN_WINEPREFIX/.setrun-ready" -type f \
  ! -path '*/windows/*' ! -path '*/users/*/Temp/*' ! -path '*/ProgramData/*' 2>/dev/null \
  | sed "s|$drive_c|C:|" | sort
echo "== registry (as the 32-bit setup program sees it: /reg:32)"
tests/wine/run-in-wine.sh reg query 'HKLM\Software\Setrun Demo' /reg:32 >"$out/reg.txt" 2>&1 || true
tr -d '\r' <"$out/reg.txt" | grep -v '^$' || true
folder=$(tr -d '\r' <"$out/reg.txt" | sed -nE 's/^ +InstallDir +REG_SZ +(.*)$/\1/p')
echo "== running the installed program"
tests/wine/run-in-wine.sh "${folder:-C:\Program Files (x86)\Setrun Demo}\\hello.exe" || true
WINEPREFIX=$SETRUN_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
exit $(( rc == 0 ? 0 : 1 ))
