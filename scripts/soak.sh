#!/usr/bin/env bash
# The soak: both modes of ostrel.dll under Wine for MINUTES (default 60)
# against the reference service on loopback, then one table of what was
# checked and how the two processes grew; exit 0 only when every line holds.
#
#   bash scripts/soak.sh [MINUTES]
#
# Builds what it needs first (the DLL build and the native ASan build, as
# scripts/test.sh does; run scripts/setup.sh once on a fresh machine). Where
# Wine cannot run 32-bit programs (scripts/wine-probe.sh), the run goes into
# the emulated machine of scripts/wine-vm.sh, as the other Wine tiers do.
# What it prints and how to read it: bench/README.md, "Soak".
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-60}
jobs=$(nproc)

bash scripts/py2rt.sh >/dev/null
for preset in dll native-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j "$jobs" >/dev/null
done
# A planted fault's build may be named instead (the folder of ostrel.dll and testbed/).
export OSTREL_WIN_BIN="${OSTREL_WIN_BIN:-$PWD/build/dll}"
soak=(build/native-asan/tests/soak/ostrel_soak "$minutes")
if bash scripts/wine-probe.sh >/dev/null 2>&1; then
  exec "${soak[@]}"
fi
echo "soak: Wine cannot run 32-bit programs here: the soak runs in the emulated machine (scripts/wine-vm.sh)" >&2
exec bash scripts/wine-vm.sh -- "${soak[@]}"
