#!/usr/bin/env bash
# Builds ostrel.dll and the testbed, then runs the demo: the library inside the
# stand-in host game under Wine, against the reference service on loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
bash scripts/py2rt.sh
cmake --preset dll >/dev/null
cmake --build build/dll -j "$jobs"
cmake --preset native-debug >/dev/null
cmake --build build/native-debug -j "$jobs" --target ostrel_demo
# Where this machine cannot run 32-bit code, the demo runs inside an emulated
# x86-64 machine (scripts/wine-vm.sh; its image is built the first time, about
# 8 minutes); OSTREL_WINE_VM=0 runs it here instead, where it says what it cannot show.
runner=()
if [ "${OSTREL_WINE_VM:-1}" = 1 ] && ! bash scripts/wine-probe.sh; then
  runner=(bash scripts/wine-vm.sh --)
fi
OSTREL_WIN_BIN="$(pwd)/build/dll" exec "${runner[@]}" build/native-debug/tests/e2e/ostrel_demo
