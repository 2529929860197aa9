#!/usr/bin/env bash
# Builds the demo installer from examples/demo and runs it under Wine in a
# fresh prefix, then lists what went where. Installs what it needs.
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
  --stub build/win64/setrun.exe -D HELLO="$root/build/win64/demo_hello.exe"
echo "== built $setup ($(stat -c %s "$setup") bytes)"
build/native/setrunc verify "$setup"

export SETRUN_WINEPREFIX=$out/wineprefix
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
echo "== registry"
WINEPREFIX=$SETRUN_WINEPREFIX WINEDEBUG=-all /usr/lib/wine/wine64 reg query \
  'HKLM\Software\Setrun Demo' >"$out/reg.txt" 2>&1 || true
sed -e 's/\r//' "$out/reg.txt" | grep -v '^$' || true
echo "== running the installed program"
tests/wine/run-in-wine.sh 'C:\Program Files\Setrun Demo\hello.exe' || true
WINEPREFIX=$SETRUN_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
exit $(( rc == 0 ? 0 : 1 ))
