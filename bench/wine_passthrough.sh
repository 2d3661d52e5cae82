#!/usr/bin/env bash
# Cost of a pass-through export: the same call made by hostsim through
# ostrel.dll and by the plain copy straight into WS2_32, in one run under Wine.
# Prints nanoseconds per call for each (median of several alternating rounds)
# and the ratio.  Usage: bench/wine_passthrough.sh [calls] [htonl|getsockopt]
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-5000000}
function=${2:-htonl}
rounds=${ROUNDS:-5}
bin=${OSTREL_WIN_BIN:-build/dll}
run() {  # dir -> ns per call
  (cd "$bin/testbed/$1" && printf 'bench_passthrough %s %s\nexit\n' "$calls" "$function" |
     ../../../../scripts/wine-run.sh hostsim.exe 2>/dev/null | tr -d '\r' | awk '/^ok [0-9.]+$/ {print $2}')
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
through=() plain=()
for _ in $(seq "$rounds"); do
  through+=("$(run client)")
  plain+=("$(run plain)")
done
t=$(printf '%s\n' "${through[@]}" | median)
p=$(printf '%s\n' "${plain[@]}" | median)
echo "function: $function, calls per round: $calls, rounds: $rounds"
echo "through ostrel.dll: $t ns/call"
echo "plain WS2_32:       $p ns/call"
awk -v t="$t" -v p="$p" 'BEGIN {printf "ratio: %.3f\n", t / p}'
