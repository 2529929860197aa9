#!/bin/sh
# A run that cannot load its package ends with -1, which a shell reads as 255.
#   startup-exit-code.sh setrun.exe
set -u
here=$(dirname "$0")
sh "$here/../wine/run-in-wine.sh" "$1" '/SC:\setrun-no-such-folder\missing.exe'
rc=$?
if [ "$rc" -ne 255 ]; then
  echo "missing package: exit code $rc, expected 255" >&2
  exit 1
fi
echo "missing package: exit code 255"
