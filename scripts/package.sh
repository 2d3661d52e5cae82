#!/usr/bin/env bash
# Builds the players' release archive ostrel-<version>-win32.zip: ostrel.dll,
# ostrel-tool.exe and a short read-me, and SHA256SUMS beside it (the archive
# and the two programs in it).  The version is the one ostrel.dll's version
# resource carries (CMake's project VERSION, written by the build into
# generated/ostrel_version.h), so the archive's name cannot disagree with the DLL.
#
# The same commit gives the same bytes on any machine with the same Debian
# toolchain, in any folder, at any time: the build keeps folders out of the
# binaries and stamps them with the release's date (SOURCE_DATE_EPOCH, else
# the last commit's time; generated/source_date_epoch), and the archive's
# entries carry that date, a fixed order and fixed attributes.
#
# Usage: scripts/package.sh [--no-build] [OUT_DIR]     (OUT_DIR: build/package)
# The DLL build is build/dll, or the folder OSTREL_WIN_BIN names.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
umask 022
build=1
if [ "${1:-}" = "--no-build" ]; then
  build=0
  shift
fi
bin=${OSTREL_WIN_BIN:-$root/build/dll}
out=${1:-$root/build/package}

if [ "$build" = 1 ]; then
  [ -f "$bin/CMakeCache.txt" ] || cmake --preset dll -B "$bin" >/dev/null
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
# The date the binaries were stamped with, so that the archive agrees with them.
date=$(cat "$bin/generated/source_date_epoch" 2>/dev/null || true)
if ! [[ "$date" =~ ^[0-9]+$ ]]; then
  echo "package: no release date in $bin/generated/source_date_epoch (build it again)" >&2
  exit 1
fi
# A zip entry's time cannot be earlier than 1980.
[ "$date" -ge 315532800 ] || date=315532800

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$bin/ostrel.dll" "$bin/ostrel-tool.exe" "$stage/"
# Players read it in Notepad: Windows line ends.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/README-players.txt >"$stage/README.txt"
chmod 644 "$stage/ostrel.dll" "$stage/ostrel-tool.exe" "$stage/README.txt"
touch -d "@$date" "$stage/ostrel.dll" "$stage/ostrel-tool.exe" "$stage/README.txt"
mkdir -p "$out"
name="ostrel-$version-win32.zip"
archive="$out/$name"
rm -f "$archive.tmp" "$out/SHA256SUMS.tmp"
# zip writes local times: in UTC every machine writes the same.  -X leaves out
# the owner and the extra time fields; the entries go in the order named here.
(cd "$stage" && TZ=UTC zip -q -X -D "$archive.tmp" ostrel.dll ostrel-tool.exe README.txt)
# The archive, then the programs as unpacked from it, in sha256sum's format;
# Windows line ends for Notepad (sha256sum -c reads them too).
sum() { sha256sum <"$1" | cut -d' ' -f1; }
printf '%s  %s\r\n' "$(sum "$archive.tmp")" "$name" "$(sum "$stage/ostrel.dll")" ostrel.dll \
  "$(sum "$stage/ostrel-tool.exe")" ostrel-tool.exe >"$out/SHA256SUMS.tmp"
mv "$archive.tmp" "$archive"
mv "$out/SHA256SUMS.tmp" "$out/SHA256SUMS"
echo "$archive"
