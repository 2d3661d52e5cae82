#!/usr/bin/env bash
# Builds the players' release archive ostrel-<version>-win32.zip: ostrel.dll,
# ostrel-tool.exe and a short read-me.  The version is the one ostrel.dll's
# version resource carries (CMake's project VERSION, written by the build into
# generated/ostrel_version.h), so the archive's name cannot disagree with the DLL.
#
# Usage: scripts/package.sh [--no-build] [OUT_DIR]     (OUT_DIR: build/package)
# The DLL build is build/dll, or the folder OSTREL_WIN_BIN names.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=1
if [ "${1:-}" = "--no-build" ]; then
  build=0
  shift
fi
bin=${OSTREL_WIN_BIN:-$root/build/dll}
out=${1:-$root/build/package}

if [ "$build" = 1 ]; then
  [ -f "$bin/CMakeCache.txt" ] || cmake --preset dll >/dev/null
  cmake --build "$bin" -j2 --target ostrel ostrel-tool
fi
header="$bin/generated/ostrel_version.h"
version=$(sed -n 's/^#define OSTREL_VERSION_TEXT "\(.*\)"$/\1/p' "$header" 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "package: no version in $header (is $bin a DLL build?)" >&2
  exit 1
fi
for f in ostrel.dll ostrel-tool.exe; do
  if [ ! -f "$bin/$f" ]; then
    echo "package: $bin/$f is missing" >&2
    exit 1
  fi
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$bin/ostrel.dll" "$bin/ostrel-tool.exe" "$stage/"
# Players read it in Notepad: Windows line ends.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/README-players.txt >"$stage/README.txt"
mkdir -p "$out"
archive="$out/ostrel-$version-win32.zip"
rm -f "$archive.tmp"
(cd "$stage" && zip -q -X -D "$archive.tmp" ostrel.dll ostrel-tool.exe README.txt)
mv "$archive.tmp" "$archive"
echo "$archive"
