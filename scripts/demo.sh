#!/usr/bin/env bash
# Builds the demo installer from examples/demo, shows its wizard on a virtual
# display (Xvfb) in a fresh Wine prefix and walks it to the end with the test
# driver, as a user would, saving a picture of every page; then lists what
# went where and runs the installed program. The ten-line project of
# examples/minimal and the full-screen one of examples/custom are walked the
# same way. Installs what it needs.
#
#   scripts/demo.sh [--docs]
#
# Pictures: build/demo/screenshots/demo-N-PAGE.png (and minimal-, custom-,
# and demo-144dpi- of two pages with the display at 144 DPI);
# --docs also copies them to docs/screenshots (the README shows those).
# The demo uses the builder's default, the 32-bit setup program (the one
# customers get), and runs it in a 64-bit prefix, as on 64-bit Windows: its
# files go to "Program Files (x86)" and its HKLM\Software keys below
# Wow6432Node.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
docs=0
[ "${1:-}" = "--docs" ] && docs=1
scripts/install-deps.sh
mkdir -p build
echo "== building (log: build/build.log)"
scripts/build.sh >build/build.log 2>&1 || { tail -n 60 build/build.log; exit 1; }

out=$root/build/demo
shots=$out/screenshots
mkdir -p "$out"
rm -rf "$shots"
setup=$out/demo-setup.exe
hello=$root/build/win32/demo_hello.exe
greeting=$root/build/win32/demo_greeting.dll
build/native/setrunc build examples/demo/project.toml -o "$setup" -D HELLO="$hello" \
  -D GREETING="$greeting"
echo "== built $setup ($(stat -c %s "$setup") bytes)"
build/native/setrunc verify "$setup"

export SETRUN_WINEPREFIX=$out/wineprefix SETRUN_WINEARCH=win64
rm -rf "$SETRUN_WINEPREFIX" "$SETRUN_WINEPREFIX.lock" "$SETRUN_WINEPREFIX-home" "$SETRUN_WINEPREFIX-logs"
walk() {  # project, picture name, walk_project.py arguments...
  local project=$1 name=$2; shift 2
  python3 tests/wizard/walk_project.py --setrunc build/native/setrunc --stub build/win32/setrun.exe \
    --prefix "$SETRUN_WINEPREFIX" --arch win64 --project "$project" "$@" \
    --screenshots "$shots" --name "$name"
}
echo "== the minimal project's wizard (examples/minimal), walked on a virtual display"
walk examples/minimal/project.toml minimal
echo "== the customised project's full-screen wizard (examples/custom)"
walk examples/custom/project.toml custom --shot screen
echo "== the demo's wizard, walked on a virtual display (prefix $SETRUN_WINEPREFIX)"
walk examples/demo/project.toml demo -D HELLO="$hello" -D GREETING="$greeting"
echo "== the demo's welcome and folder pages at 144 DPI (Wine's LogPixels: 150 %)"
walk examples/demo/project.toml demo-144dpi --dpi 144 --pages welcome,folder \
  -D HELLO="$hello" -D GREETING="$greeting"
echo "exit code: 0"
echo "== pictures of the pages"
ls "$shots"
if [ "$docs" -eq 1 ]; then
  mkdir -p docs/screenshots
  cp "$shots"/*.png docs/screenshots/
  echo "copied to docs/screenshots"
fi

drive_c=$SETRUN_WINEPREFIX/drive_c
echo "== installed files"
find "$drive_c" -newer "$SETRUN_WINEPREFIX/.setrun-ready" -type f \
  ! -path '*/windows/*' ! -path '*/users/*/Temp/*' ! -path '*/ProgramData/*' ! -path '*/setrun-walk/*' \
  ! -path '*/wizard-driver/*' 2>/dev/null | sed "s|$drive_c|C:|" | sort
echo "== registry (as the 32-bit setup program sees it: /reg:32)"
tests/wine/run-in-wine.sh reg query 'HKLM\Software\Setrun Demo' /reg:32 >"$out/reg.txt" 2>&1 || true
tr -d '\r' <"$out/reg.txt" | grep -v '^$' || true
folder=$(tr -d '\r' <"$out/reg.txt" | sed -nE 's/^ +InstallDir +REG_SZ +(.*)$/\1/p')
echo "== Start menu shortcut"
find "$drive_c"/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Setrun\ Demo \
  -name '*.lnk' 2>/dev/null | sed "s|$drive_c|C:|" || true
echo "== font, component and program runs (registry)"
list() {  # key, reg query arguments...
  local key=$1; shift
  tests/wine/run-in-wine.sh reg query "$key" "$@" 2>/dev/null | tr -d '\r' | grep -v '^$' || true
}
list 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v 'DejaVu Sans Mono (TrueType)'
list 'HKCR\CLSID\{6A0C5E43-1F2B-4D7A-9E38-5B61C0D2A7F4}' /s /reg:32
list 'HKCU\Software\Setrun Demo' /v Runs
echo "== running the installed program"
tests/wine/run-in-wine.sh "${folder:-C:\Program Files (x86)\Setrun Demo}\\hello.exe" || true
WINEPREFIX=$SETRUN_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
