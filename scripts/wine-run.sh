#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix, quietly.
# Used by ctest (as the cross-compiling emulator) and by the scripts.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# ctest reads 77 as "skipped": a machine that cannot run 32-bit code cannot run
# the Windows tier at all, which is not a failure of the code under test.
if ! bash "$here/scripts/wine-probe.sh" -v; then exit 77; fi
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH="${WINEARCH:-win32}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
exec wine "$@"
