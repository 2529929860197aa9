#!/usr/bin/env bash
# Runs every test of setrun: native unit tests (with sanitizers), the Windows
# tests under Wine, the end-to-end runs, the size limit of the setup program
# and a bounded fuzzing run of the package reader. Installs what it needs.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh || exit 1
mkdir -p build
echo "== building (log: build/build.log)"
scripts/build.sh >build/build.log 2>&1 || { tail -n 80 build/build.log; echo "setrun: build failed"; exit 1; }

export SETRUN_WINEPREFIX="$root/build/wineprefix"
passed=0
failed=0
failures=()

# ctest in a build folder; adds its counts to the totals.
run_ctest() {  # name, folder, extra ctest arguments...
  local name=$1 dir=$2; shift 2
  local log="$root/build/$name-ctest.log"
  echo "== $name tests"
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@") >"$log" 2>&1
  local rc=$?
  tail -n 40 "$log" | grep -E 'tests passed|tests failed|\*\*\*|Failed|Timeout' || true
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

# A single check that counts as one test.
check() {  # name, command...
  local name=$1; shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("$name"); fi
}

stub_size() {
  local limit=150000 ok=0 f size
  for f in build/win32/setrun.exe build/win64/setrun.exe; do
    size=$(stat -c %s "$f")
    echo "$f: $size bytes (limit $limit)"
    [ "$size" -lt "$limit" ] || ok=1
  done
  return $ok
}

check stub-size stub_size
check stub-imports-32 sh tests/e2e/check-imports.sh i686-w64-mingw32-objdump build/win32/setrun.exe
run_ctest native build/native -j 2
run_ctest wine build/win64 -j 2
[ -x tests/fuzz/run.sh ] && check fuzz tests/fuzz/run.sh 60

WINEPREFIX="$SETRUN_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true

echo
[ ${#failures[@]} -eq 0 ] || echo "failed: ${failures[*]}"
echo "setrun: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
