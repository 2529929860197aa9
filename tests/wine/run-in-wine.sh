#!/bin/sh
# Runs a Windows program under Wine in the test run's private prefix and
# passes on its exit code. Output goes through files: Wine's background
# services inherit the standard handles and would hold a pipe open.
#   run-in-wine.sh program.exe [arguments...]
# SETRUN_WINEPREFIX names the prefix (default: a folder beside this run's build).
set -u
prefix=${SETRUN_WINEPREFIX:-${TMPDIR:-/tmp}/setrun-wine-$(id -u)}
# No debugger: a crashing program must end, not wait for one.
export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};winedbg.exe=d"
export WINEARCH=win64
mkdir -p "$prefix"
# The first test of a run creates the prefix; the others wait for it.
(
  flock 9
  if [ ! -f "$prefix/.setrun-ready" ]; then
    /usr/lib/wine/wineboot -i >"$prefix/.boot.log" 2>&1
    # Windows and message boxes exist without a display.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      >>"$prefix/.boot.log" 2>&1
    /usr/lib/wine/wineserver -w
    touch "$prefix/.setrun-ready"
  fi
) 9>"$prefix.lock"
out=$(mktemp "${TMPDIR:-/tmp}/setrun-wine-out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/setrun-wine-err.XXXXXX")
/usr/lib/wine/wine64 "$@" >"$out" 2>"$err" </dev/null
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $rc
