#!/bin/sh
# Runs a Windows program under Wine in the test run's private prefix and
# passes on its exit code. Output goes through files: Wine's background
# services inherit the standard handles and would hold a pipe open.
#   run-in-wine.sh program.exe [arguments...]
# SETRUN_WINEPREFIX names the prefix (default: a folder in the temporary
# folder). SETRUN_WINEARCH chooses the kind of prefix: win64 (the default; it
# runs 64-bit programs, and 32-bit ones the way 64-bit Windows does, with the
# file system and registry redirection) or win32 (32-bit Windows: 32-bit
# programs only, no redirection). A prefix keeps the kind it was made with;
# asking for the other kind of an existing prefix is an error (exit 125), as
# is a prefix that cannot be made.
set -u
prefix=${SETRUN_WINEPREFIX:-${TMPDIR:-/tmp}/setrun-wine-$(id -u)}
wanted=${SETRUN_WINEARCH:-}
# No debugger: a crashing program must end, not wait for one.
export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};winedbg.exe=d"

fail() {
  echo "run-in-wine.sh: $*" >&2
  exit 125
}

loader_for() {  # kind of prefix
  case $1 in
    win64) echo /usr/lib/wine/wine64 ;;
    win32) echo /usr/lib/wine/wine ;;
    *) fail "unknown kind of Wine prefix '$1' (win32 or win64)" ;;
  esac
}

mkdir -p "$prefix" || fail "cannot create $prefix"
# The first program of a run creates the prefix; the others wait for it. The
# marker .setrun-ready holds the prefix's kind.
(
  flock 9
  if [ ! -f "$prefix/.setrun-ready" ]; then
    arch=${wanted:-win64}
    loader=$(loader_for "$arch") || exit 125
    [ -x "$loader" ] || fail "$loader is missing: cannot make a $arch prefix"
    log="$prefix/.boot.log"
    # The null graphics driver: windows and message boxes exist without a display.
    if ! WINEARCH=$arch "$loader" wineboot -i >"$log" 2>&1 ||
       ! WINEARCH=$arch "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
         >>"$log" 2>&1 ||
       ! /usr/lib/wine/wineserver -w ||
       [ ! -f "$prefix/system.reg" ] || [ ! -d "$prefix/drive_c/windows" ]; then
      tail -n 20 "$log" >&2
      fail "could not create the $arch Wine prefix $prefix (log: $log)"
    fi
    echo "$arch" >"$prefix/.setrun-ready"
  fi
) 9>"$prefix.lock" || exit 125

# Prefixes made before the kind was recorded are 64-bit ones.
arch=$(cat "$prefix/.setrun-ready")
arch=${arch:-win64}
if [ -n "$wanted" ] && [ "$wanted" != "$arch" ]; then
  fail "$prefix is a $arch prefix, not $wanted; remove it or choose another SETRUN_WINEPREFIX"
fi
loader=$(loader_for "$arch") || exit 125
export WINEARCH="$arch"

out=$(mktemp "${TMPDIR:-/tmp}/setrun-wine-out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/setrun-wine-err.XXXXXX")
"$loader" "$@" >"$out" 2>"$err" </dev/null
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $rc
