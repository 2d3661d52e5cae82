#!/usr/bin/env bash
# Cost of a pass-through export: the same call made by hostsim through
# ostrel.dll and by the plain copy straight into WS2_32, under Wine.  The two
# copies take turns, and which one goes first alternates round by round, so
# neither always meets a warm (or a cold) machine.  Prints nanoseconds per call
# for each (median of the rounds), the per-call difference in nanoseconds and
# the ratio.  Usage: bench/wine_passthrough.sh [calls] [htonl|getsockopt]
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-5000000}
function=${2:-htonl}
rounds=${ROUNDS:-6}
bin=${OSTREL_WIN_BIN:-build/dll}
wine_run=$(pwd)/scripts/wine-run.sh
run() {  # dir -> ns per call
  (cd "$bin/testbed/$1" && printf 'bench_passthrough %s %s\nexit\n' "$calls" "$function" |
     "$wine_run" hostsim.exe 2>/dev/null | tr -d '\r' | awk '/^ok [0-9.]+$/ {print $2}')
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
through=() plain=()
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then
    through+=("$(run client)")
    plain+=("$(run plain)")
  else
    plain+=("$(run plain)")
    through+=("$(run client)")
  fi
done
t=$(printf '%s\n' "${through[@]}" | median)
p=$(printf '%s\n' "${plain[@]}" | median)
echo "function: $function, calls per round: $calls, rounds: $rounds (first copy alternating)"
echo "through ostrel.dll: $t ns/call"
echo "plain WS2_32:       $p ns/call"
awk -v t="$t" -v p="$p" 'BEGIN {printf "difference: %.2f ns/call, ratio: %.3f\n", t - p, t / p}'
