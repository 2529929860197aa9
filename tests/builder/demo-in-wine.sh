#!/bin/sh
# End to end: builds the demo installer as a silent installation with setrunc
# and the 64-bit setup program, runs it under Wine and checks the installed
# files and the installed program.
#   demo-in-wine.sh SETRUNC STUB-X64 SOURCE-DIR
# SETRUN_WINEPREFIX names the Wine prefix (see tests/wine/run-in-wine.sh).
set -eu
setrunc=$1 stub=$2 root=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/setrun-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The demo project with the silent flag, next to copies of its files.
cp -r "$root/examples/demo/." "$work/"
if ! grep -q '"silent"' "$work/project.toml"; then
  sed 's/^compression = 9$/compression = 9\n\n[layout]\nflags = ["silent"]/' \
    "$root/examples/demo/project.toml" >"$work/project.toml"
fi
grep -q '"silent"' "$work/project.toml"
x86_64-w64-mingw32-gcc -Os -s -o "$work/hello.exe" "$root/examples/demo/hello.c"
x86_64-w64-mingw32-gcc -Os -s -shared -o "$work/greeting.dll" "$root/examples/demo/greeting.c"
# The folder name tells this run's installation apart from earlier ones.
folder="Setrun Demo $$"
sed -i "s/^folder = .*/folder = \"C:\\\\\\\\$folder\"/" "$work/project.toml"
"$setrunc" build "$work/project.toml" -o "$work/demo-setup.exe" --stub "$stub" \
  -D HELLO="$work/hello.exe" -D GREETING="$work/greeting.dll" -q
"$setrunc" verify "$work/demo-setup.exe" >/dev/null

run="$root/tests/wine/run-in-wine.sh"
"$run" "$work/demo-setup.exe" >"$work/setup.out" 2>&1 || {
  echo "the demo installer failed with exit code $?" >&2
  cat "$work/setup.out" >&2
  exit 1
}
prefix=${SETRUN_WINEPREFIX:-${TMPDIR:-/tmp}/setrun-wine-$(id -u)}
installed="$prefix/drive_c/$folder"
for f in hello.exe readme.txt licence.txt docs/manual/getting-started.txt; do
  cmp "$installed/$f" "$work/$f" || { echo "$f was not installed as packaged" >&2; exit 1; }
done
"$run" "C:\\$folder\\hello.exe" >"$work/hello.out" 2>&1
grep -q "Hello from the setrun demo." "$work/hello.out" || { echo "hello.exe did not run" >&2; exit 1; }
rm -rf "$installed"
# What the demo registered (its shortcut, font, component and the runs of
# its program are checked by the installation case of the demo): its
# shortcut, component and count of runs are gone again; the font, a copy of
# one Wine already knows from the host, stays.
"$run" reg delete 'HKCU\Software\Setrun Demo' /f >/dev/null 2>&1 || true
"$run" reg delete 'HKCR\CLSID\{6A0C5E43-1F2B-4D7A-9E38-5B61C0D2A7F4}' /f >/dev/null 2>&1 || true
rm -rf "$prefix"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Setrun\ Demo

# An uninstaller: the image, the packaged log start overwritten by the file
# log, the registry entries verbatim, the closing end header; and the
# Uninstall entry naming it.
name="Setrun Uninstaller $$"
cat >"$work/unin.toml" <<TOML
stub = "x64"
uninstaller = "hello.exe"
[layout]
flags = ["silent"]
[[group]]
name = "$name"
folder = "C:\\\\$name"
flags = ["uninstall_entry"]
uninstaller = "Uninstall.exe"
registry_entries_hex = "3712000004000000 41424300"
[[group.file]]
source = "readme.txt"
TOML
"$setrunc" build "$work/unin.toml" -o "$work/unin-setup.exe" -q
"$run" "$work/unin-setup.exe" >"$work/unin.out" 2>&1 || { echo "the uninstaller package failed" >&2; exit 1; }
uninstaller="$prefix/drive_c/$name/Uninstall.exe"
size=$(stat -c %s "$work/hello.exe")
cmp -n "$size" "$uninstaller" "$work/hello.exe" || { echo "the uninstaller image was not written" >&2; exit 1; }
tail=$(tail -c 20 "$uninstaller" | od -An -tx1 | tr -d ' \n')
[ "$tail" = "3712000004000000414243007f7f020000000000" ] || { echo "uninstaller log ends with $tail" >&2; exit 1; }
"$run" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name" >"$work/reg.out" 2>&1 || true
grep -q "UninstallString.*C:\\\\$name\\\\Uninstall.exe" "$work/reg.out" || { echo "no Uninstall entry" >&2; cat "$work/reg.out" >&2; exit 1; }
"$run" reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name" /f >/dev/null 2>&1 || true
rm -rf "$prefix/drive_c/$name"
echo "demo installed and run under Wine; uninstaller written and registered"
