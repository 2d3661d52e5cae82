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
OSTREL_WIN_BIN="$(pwd)/build/dll" exec build/native-debug/tests/e2e/ostrel_demo
