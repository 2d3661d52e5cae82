#!/usr/bin/env bash
# Long fuzzing runs by hand: builds the fuzz targets (clang, libFuzzer,
# ASan+UBSan) and runs every target for SECONDS each (default 60), one after
# another on one core, from its seed corpus and its work corpus in the build
# tree.  Prints each target's runs and result; fails if any target found
# something (its crash input is left in build/fuzz/findings/).  With RUNS,
# each target also stops once it has run that many inputs.
#   bash scripts/fuzz.sh 600
#   bash scripts/fuzz.sh 1800 1000000
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
runs_limit=${2:--1}
case $seconds in '' | *[!0-9]*) echo "usage: $0 [SECONDS [RUNS]]" >&2; exit 2 ;; esac
case $runs_limit in -1) ;; '' | *[!0-9]*) echo "usage: $0 [SECONDS [RUNS]]" >&2; exit 2 ;; esac

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2
out=build/fuzz/tests/fuzz
mkdir -p build/fuzz/findings
failed=0
printf '%-26s %12s %8s  %s\n' target runs seconds result
for src in tests/fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  corpus=${name#fuzz_}
  mkdir -p "$out/work-$corpus"
  log=$(mktemp)
  start=$(date +%s)
  rc=0
  "$out/$name" -max_total_time="$seconds" -runs="$runs_limit" -rss_limit_mb=1024 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/findings/$name-" \
    "$out/work-$corpus" "tests/fuzz/corpus/$corpus" >"$log" 2>&1 || rc=$?
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
  result=clean
  if [ "$rc" -ne 0 ]; then
    result="FAILED (exit $rc; log kept in build/fuzz/findings/$name.log)"
    cp "$log" "build/fuzz/findings/$name.log"
    failed=1
  fi
  printf '%-26s %12s %8s  %s\n' "$name" "${runs:-?}" "$(($(date +%s) - start))" "$result"
  rm -f "$log"
done
exit "$failed"
