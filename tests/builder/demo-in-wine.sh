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
sed 's/^compression = 9$/compression = 9\n\n[layout]\nflags = ["silent"]/' \
  "$root/examples/demo/project.toml" >"$work/project.toml"
grep -q '"silent"' "$work/project.toml"
x86_64-w64-mingw32-gcc -Os -s -o "$work/hello.exe" "$root/examples/demo/hello.c"
# The folder name tells this run's installation apart from earlier ones.
folder="Setrun Demo $$"
sed -i "s/^folder = .*/folder = \"C:\\\\\\\\$folder\"/" "$work/project.toml"
"$setrunc" build "$work/project.toml" -o "$work/demo-setup.exe" --stub "$stub" \
  -D HELLO="$work/hello.exe" -q
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
echo "demo installed and run under Wine"
