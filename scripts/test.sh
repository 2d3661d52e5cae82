#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what it needs,
# builds ostrel.dll and the native builds, then runs every tier:
#   native unit tests and Wine end-to-end tests (ASan+UBSan build),
#   the Windows unit tier under Wine, the unit tests again under TSan,
#   and a short smoke run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)

bash scripts/setup.sh

jobs=$(nproc)
build() {  # preset [target...]
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j "$jobs" ${1:+--target "$@"}
}

declare -a results=()
run_tier() {  # name, ctest args...
  local name=$1
  shift
  echo "=== $name"
  if ctest "$@" --output-on-failure; then
    results+=("$name: passed")
  else
    results+=("$name: FAILED")
  fi
}

echo "=== build: ostrel.dll and the Windows testbed (MinGW i686)"
build dll
echo "=== build: native ASan+UBSan"
build native-asan
echo "=== build: native TSan (unit tests)"
build native-tsan unit_tests
echo "=== build: fuzz targets (clang, libFuzzer)"
build fuzz

export OSTREL_WIN_BIN="$root/build/dll"
run_tier "unit (ASan+UBSan)" --test-dir build/native-asan -L unit -j "$jobs"
run_tier "end to end (Wine)" --test-dir build/native-asan -L e2e
run_tier "Windows unit (Wine)" --test-dir build/dll
# TSan's runtime needs the lower address-space randomisation of older kernels.
TSAN_OPTIONS="halt_on_error=1" run_tier "unit (TSan)" --test-dir build/native-tsan -L unit
run_tier "fuzz smoke" --test-dir build/fuzz -L fuzz -j "$jobs"

echo
echo "=== summary ($(( $(date +%s) - start )) s)"
failed=0
passed=0
for r in "${results[@]}"; do
  echo "  $r"
  case "$r" in *FAILED) failed=$((failed + 1)) ;; *) passed=$((passed + 1)) ;; esac
done
echo "tiers: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
