#!/usr/bin/env bash
# Runs every test of setrun: native unit tests (with sanitizers), the Windows
# tests of both builds under Wine, the end-to-end installations of both setup
# programs, the size limit of the setup program and a bounded fuzzing run of
# the package reader. Installs what it needs. Ends with the line
#   setrun: N passed, M failed, K skipped
# Tests are skipped only when this machine cannot run 32-bit code (the
# reason is printed); SETRUN_WINE32 names another 32-bit Wine loader to
# probe than /usr/lib/wine/wine.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$SECONDS
scripts/install-deps.sh || exit 1
mkdir -p build
echo "== building (log: build/build.log)"
scripts/build.sh >build/build.log 2>&1 || { tail -n 80 build/build.log; echo "setrun: build failed"; exit 1; }
echo "built in $((SECONDS - started)) s"

passed=0
failed=0
skipped=0
failures=()
skip_reasons=()

# The 32-bit setup program and the 32-bit tests need 32-bit code to run under
# Wine: the kernel must run it and 32-bit Wine (wine32:i386) must be there.
wine32=${SETRUN_WINE32:-/usr/lib/wine/wine}
if probe=$("$wine32" --version 2>&1); then
  run32=1
  echo "32-bit Wine: $probe"
else
  run32=0
  why32="32-bit code does not run here ($wine32 --version: ${probe:-no output}); see scripts/install-deps.sh"
  echo "!! SKIPPING THE 32-BIT RUNS: $why32"
fi

# ctest in a build folder; adds its counts to the totals.
run_ctest() {  # name, folder, extra ctest arguments...
  local name=$1 dir=$2; shift 2
  local log="$root/build/$name-ctest.log"
  local start=$SECONDS
  echo "== $name tests"
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@") >"$log" 2>&1
  local rc=$?
  tail -n 40 "$log" | grep -E 'tests passed|tests failed|\*\*\*|Failed|Timeout' || true
  echo "$name: $((SECONDS - start)) s"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+|tests failed out of' "$log" | tail -n 1)
  total=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$line")
  bad=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$line")
  if [ -z "$total" ]; then
    echo "$name: ctest did not finish (exit $rc); see $log"
    failed=$((failed + 1)); failures+=("$name")
    return
  fi
  passed=$((passed + total - bad)); failed=$((failed + bad))
  [ "$rc" -eq 0 ] || failures+=("$name")
  # The failing checks themselves, so a CI log says what went wrong.
  [ "$rc" -eq 0 ] || grep -E -A4 '(error|Failure)$|^\[  FAILED  \]|Expected|Which is' "$log" | head -n 60
}

# Counts the tests that ctest would run with the given arguments as skipped.
skip_ctest() {  # name, folder, extra ctest arguments...
  local name=$1 dir=$2; shift 2
  local count
  count=$(cd "$dir" && ctest -N "$@" | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
  count=${count:-0}
  echo "!! $name: $count tests skipped (no 32-bit code)"
  skipped=$((skipped + count))
  skip_reasons+=("$name: $count")
}

# A single check that counts as one test.
check() {  # name, command...
  local name=$1; shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("$name"); fi
}

# Both setup programs' sizes, and the uninstaller's (the same rules): each
# fails when it reaches its limit, 80,000 bytes for the 32-bit program and
# 88,000 for the 64-bit one; CI's hard limit of 150,000 bytes (the package
# marker must end within the first 200,000) stays, for both.
stub_size() {
  local hard=150000 ok=0 f size limit
  for f in build/win32/setrun.exe build/win64/setrun.exe \
           build/win32/uninstall.exe build/win64/uninstall.exe; do
    size=$(stat -c %s "$f")
    case $f in *win32*) limit=80000 ;; *) limit=88000 ;; esac
    if [ "$size" -lt "$limit" ]; then
      echo "$f: $size bytes, $((limit - size)) left under its limit of $limit (CI's hard limit $hard)"
    else
      echo "$f: $size bytes: AT OR OVER its limit of $limit (CI's hard limit $hard)"
      ok=1
    fi
    [ "$size" -lt "$hard" ] || ok=1
  done
  return $ok
}

# Wine prefixes: one per suite, shared by the tests of the suite (see
# tests/wine/run-in-wine.sh); the installation tests make their own below
# build/native/install-wine. The 64-bit suites (the builder's demo run and
# the Windows tests of the 64-bit build) share build/wineprefix.
export SETRUN_WINEPREFIX="$root/build/wineprefix" SETRUN_WINEARCH=win64
prefix32="$root/build/wineprefix-x86"
prefix32on64="$root/build/wineprefix-x86-wow64"

check stub-size stub_size
# Native tests and the installations; the 32-bit setup program's ones carry
# the label x86.
if [ "$run32" -eq 1 ]; then
  run_ctest native build/native -j 2
else
  run_ctest native build/native -j 2 -LE x86
  skip_ctest install-x86 build/native -L x86
fi
run_ctest wine build/win64 -j 2
# The Windows tests of the 32-bit build: in a 32-bit prefix (32-bit Windows)
# and, the Windows programs among them again, in a 64-bit one (a 32-bit
# program on 64-bit Windows: redirected system folder and registry).
if [ "$run32" -eq 1 ]; then
  SETRUN_WINEPREFIX=$prefix32 SETRUN_WINEARCH=win32 run_ctest wine32 build/win32 -j 2
  SETRUN_WINEPREFIX=$prefix32on64 SETRUN_WINEARCH=win64 \
    run_ctest wine32-wow64 build/win32 -j 2 -L wine
else
  run_ctest wine32 build/win32 -j 2 -LE wine
  skip_ctest wine32 build/win32 -L wine
  skip_ctest wine32-wow64 build/win32 -L wine
fi
[ -x tests/fuzz/run.sh ] && check fuzz tests/fuzz/run.sh 60

for p in "$SETRUN_WINEPREFIX" "$prefix32" "$prefix32on64"; do
  [ -d "$p" ] && WINEPREFIX="$p" /usr/lib/wine/wineserver -k 2>/dev/null
done

echo
echo "took $((SECONDS - started)) s"
[ ${#failures[@]} -eq 0 ] || echo "failed: ${failures[*]}"
if [ "$skipped" -gt 0 ]; then
  list=$(printf '%s, ' "${skip_reasons[@]}")
  echo "!! SKIPPED $skipped tests of the 32-bit build (${list%, }): $why32"
fi
echo "setrun: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
