#!/bin/sh
# Fails when a source file includes a header from a higher layer, or from
# another folder of its own layer. The layers, from the ground up:
#   0 base/                              byte format, primitives, run-wide state
#   1 package/                           package reader
#   2 paths/                             folder variables, destination paths
#   3 engine/                            installation engine (uses paths/)
#   4 backdrop/                          backdrop window, painting shared with the wizard
#   5 wizard/, integration/              the wizard's windows and the shell
#   6 startup/                           entry point and run flow; wires the seams
#   6 uninstaller/                       the uninstaller program (on top, beside startup/)
# The builder (builder/) shares only the ground. A call that must go up is
# handed down as a seam (a function pointer set by startup).
#   check-layers.sh [repository root]
set -u
root=${1:-$(dirname "$0")/../..}
cd "$root" || exit 1

rank() {
  case $1 in
    base) echo 0 ;;
    package) echo 1 ;;
    paths) echo 2 ;;
    engine) echo 3 ;;
    backdrop) echo 4 ;;
    wizard|integration) echo 5 ;;
    startup|uninstaller) echo 6 ;;
    *) echo none ;;
  esac
}

status=0
checked=0
for folder in base package paths engine wizard backdrop integration startup uninstaller builder; do
  [ -d "$folder" ] || continue
  for file in $(find "$folder" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc' \) | sort); do
    checked=$((checked + 1))
    # Each project include as "line:folder/header".
    for hit in $(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]*/' "$file" |
                 sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/'); do
      line=${hit%%:*}
      header=${hit#*:}
      target=${header%%/*}
      [ "$target" = "$folder" ] && continue
      if [ "$folder" = builder ]; then
        [ "$target" = base ] && continue
        echo "$file:$line: includes $header: the builder shares only base/" >&2
        status=1
        continue
      fi
      mine=$(rank "$folder")
      theirs=$(rank "$target")
      if [ "$theirs" = none ] || [ "$theirs" -ge "$mine" ]; then
        echo "$file:$line: includes $header: $folder/ (layer $mine) may include only lower layers" >&2
        status=1
      fi
    done
  done
done
[ "$checked" -gt 0 ] || { echo "no sources found under $root" >&2; exit 1; }
[ $status -eq 0 ] && echo "layers: $checked files, no include runs up or sideways"
exit $status
