#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what it needs,
# builds ostrel.dll and the native builds, then runs every tier:
#   native unit tests and Wine end-to-end tests (ASan+UBSan build),
#   the Windows unit tier under Wine, a five-minute soak of both modes under
#   Wine, the unit tests again under TSan,
#   a short smoke run of every fuzz target, and the players' release built
#   twice from scratch and compared byte for byte; the benchmarks are built only.
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
total_passed=0
total_failed=0
total_skipped=0
# A command that a tier's ctest runs through, when set for that call (the VM).
runner=()
run_tier() {  # name, ctest args...
  local name=$1
  shift
  echo "=== $name"
  local log
  log=$(mktemp)
  local rc=0
  "${runner[@]}" ctest "$@" --output-on-failure 2>&1 | tee "$log" || rc=1
  # "NN% tests passed, F tests failed out of T"
  local line failed=0 total=0 skipped=0
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log" || true)
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  fi
  rm -f "$log"
  # A tier that ran nothing, or failed without saying which test, counts as one failure.
  if [ "$failed" -eq 0 ] && { [ "$total" -eq 0 ] || [ "$rc" -ne 0 ]; }; then failed=1; fi
  total_passed=$((total_passed + total - failed - skipped))
  total_failed=$((total_failed + failed))
  total_skipped=$((total_skipped + skipped))
  if [ "$rc" -eq 0 ] && [ "$failed" -eq 0 ]; then
    local note=""
    [ "$skipped" -gt 0 ] && note=", $skipped skipped"
    results+=("$name: $((total - failed - skipped)) passed$note")
  else
    results+=("$name: FAILED ($failed of $total)")
  fi
}

echo "=== build: the Python 2 runtime for the dedicated-server tests"
bash scripts/py2rt.sh
echo "=== build: ostrel.dll and the Windows testbed (MinGW i686)"
build dll
echo "=== build: native ASan+UBSan"
build native-asan
echo "=== build: native TSan (unit tests, script module tests)"
build native-tsan unit_tests script_runtime_tests
echo "=== build: fuzz targets (clang, libFuzzer)"
build fuzz
# Every benchmark is built (never run here) so that one that stops compiling,
# or a warning only -O3 shows, fails the run.
echo "=== build: native release with the benchmarks (built, not run)"
build native-release

export OSTREL_WIN_BIN="$root/build/dll"
wine_note=""
wine_runner=()
wine_vm_broken=0
if ! bash scripts/wine-probe.sh -v; then
  if [ "${OSTREL_WINE_VM:-1}" = 1 ]; then
    # An emulated x86-64 machine runs the Wine tiers instead (slow: software emulation).
    wine_note="Wine cannot run 32-bit programs on this machine: the Wine tiers ran inside an emulated VM (scripts/wine-vm.sh); OSTREL_WINE_VM=0 skips them"
    wine_runner=(bash scripts/wine-vm.sh --)
    echo "=== build: the Wine VM's image (once; about 8 minutes on a fresh machine)"
    if ! bash scripts/wine-vm.sh --image; then
      wine_vm_broken=1
      wine_note="the emulated VM for the Wine tiers could not be built: both Wine tiers count as failed"
    fi
  else
    wine_note="Wine cannot run 32-bit programs on this machine: OSTREL_WINE_VM=0 skipped the Windows unit tier, and the end-to-end tier ran only its DLL table checks (objdump)"
  fi
  echo "=== NOTE: $wine_note"
fi
# No native test binds a fixed port (they meet the reference endpoints on ports
# the system chose): the tier runs in parallel, beside any other run.
run_tier "unit (ASan+UBSan)" --test-dir build/native-asan -L unit -j "$jobs"
if [ "$wine_vm_broken" = 1 ]; then
  total_failed=$((total_failed + 2))
  results+=("end to end (Wine): FAILED (no VM)" "Windows unit (Wine): FAILED (no VM)")
else
  runner=("${wine_runner[@]}")
  run_tier "end to end (Wine)" --test-dir build/native-asan -L e2e
  run_tier "Windows unit (Wine)" --test-dir build/dll
  run_tier "soak, short (Wine)" --test-dir build/native-asan -L soak
  runner=()
fi
TSAN_OPTIONS="halt_on_error=1" run_tier "unit (TSan)" --test-dir build/native-tsan -L unit -j "$jobs"
run_tier "fuzz smoke" --test-dir build/fuzz -L fuzz -j "$jobs"
run_tier "release rebuilt byte for byte" --test-dir build/native-asan -L release

echo
echo "=== summary ($(( $(date +%s) - start )) s)"
for r in "${results[@]}"; do echo "  $r"; done
[ -n "$wine_note" ] && echo "  NOTE: $wine_note"
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" -eq 0 ]
