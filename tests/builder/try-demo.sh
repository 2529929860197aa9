#!/bin/sh
# setrunc try on the demo installer, built to show its wizard, run silently
# (try runs a copy marked silent) and through the wizard (--wizard, the test
# driver clicking through it): each report names the exit code, the
# installed files with their sizes and the installation folder's value, and
# either the uninstaller's run with nothing left behind or that no
# uninstaller is registered.
#   try-demo.sh SETRUNC STUB-X86 SOURCE-DIR
set -eu
setrunc=$1 stub=$2 root=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/setrun-try.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "$root/examples/demo/." "$work/"
sed -i '/^flags = \["silent"\]$/d' "$work/project.toml"
i686-w64-mingw32-gcc -Os -s -o "$work/hello.exe" "$root/examples/demo/hello.c"
i686-w64-mingw32-gcc -Os -s -shared -Wl,--kill-at -o "$work/greeting.dll" "$root/examples/demo/greeting.c"
"$setrunc" build "$work/project.toml" -o "$work/demo-setup.exe" --stub "$stub" -D HELLO="$work/hello.exe" \
  -D GREETING="$work/greeting.dll" -q
"$setrunc" inspect --json "$work/demo-setup.exe" | grep -q '"silent": false'
for option in "" --wizard; do
status=0
TMPDIR=$work "$setrunc" try --json $option "$work/demo-setup.exe" >"$work/try.json" 2>"$work/try.err" || status=$?
python3 - "$work/try.json" "$status" "$(stat -c %s "$work/hello.exe")" <<'PY' || { cat "$work/try.err" "$work/try.json" >&2; exit 1; }
import json, sys
d = json.load(open(sys.argv[1]))
status, hello = int(sys.argv[2]), int(sys.argv[3])
i = d["install"]
assert i["exit_code"] == 0 and i["meaning"] == "success", i
folder = "C:\\Program Files (x86)\\Setrun Demo\\"
files = {f["path"]: f["size"] for f in i["files"] if f["change"] == "added"}
assert files.get(folder + "hello.exe") == hello, files
for name in ("readme.txt", "licence.txt", "docs\\manual\\getting-started.txt"):
    assert folder + name in files, (name, files)
# Beside the folder: the shortcut and the font.
assert all(f["path"].startswith(folder) or f["path"].endswith(".lnk") or "\\Fonts\\" in f["path"]
           for f in i["files"]), i["files"]
assert any(r["name"] == "InstallDir" and r["after"] == folder[:-1] for r in i["registry"]), i["registry"]
# The only program started is the demo's own, run when the installation ends.
assert set(i["programs"]) <= {folder + "hello.exe"}, i["programs"]
# The demo's start-menu shortcut, once shortcuts are made, points at hello.exe
# (or shows no target when the link holds no local path).
assert all(s["path"].endswith("\\Hello.lnk") and s["target"] in (folder + "hello.exe", "")
           for s in i["shortcuts"]), i["shortcuts"]
# The embedded uninstaller removes everything the installation made. Only
# what hello.exe itself wrote when it ran (its count of runs) stays: that is
# the program's data, not the installation's, and try names it as left.
u = d["uninstall"]
assert u is not None and u["exit_code"] == 0, u
assert d["left"]["files"] == [], d["left"]
assert all(r["key"] == "HKCU\\Software\\Setrun Demo" and r["name"] == "Runs"
           for r in d["left"]["registry"]), d["left"]
assert status == (1 if d["left"]["registry"] else 0), status
PY
done
# The throwaway prefix is gone.
[ -z "$(ls "$work" | grep setrunc-try)" ] || { echo "setrunc try left its prefix behind" >&2; exit 1; }
echo "setrunc try reported the demo's installation, silently and through the wizard"
