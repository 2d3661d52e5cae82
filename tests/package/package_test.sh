#!/usr/bin/env bash
# The release archive: scripts/package.sh over an existing DLL build makes
# ostrel-<version>-win32.zip whose version is the project's and the one in the
# DLL's version resource, holding exactly ostrel.dll and ostrel-tool.exe as
# built and the players' read-me of that version.
# Usage: package_test.sh SOURCE_DIR DLL_BUILD_DIR PROJECT_VERSION
set -euo pipefail
src=$1 bin=$2 version=$3
if [ ! -f "$bin/ostrel.dll" ] || [ ! -f "$bin/ostrel-tool.exe" ]; then
  echo "no DLL build in '$bin': skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

archive=$(OSTREL_WIN_BIN="$bin" bash "$src/scripts/package.sh" --no-build "$work/out")
[ "$archive" = "$work/out/ostrel-$version-win32.zip" ] || fail "archive is '$archive'"

resource=$(i686-w64-mingw32-windres -i "$bin/ostrel.dll" -O rc |
  sed -n 's/.*VALUE "ProductVersion", "\(.*\)".*/\1/p')
[ "$resource" = "$version" ] || fail "the DLL's version resource says '$resource', the project $version"

listing=$(unzip -Z1 "$archive" | sort | tr '\n' ' ')
[ "$listing" = "README.txt ostrel-tool.exe ostrel.dll " ] || fail "archive holds: $listing"
unzip -q "$archive" -d "$work/x"
cmp "$work/x/ostrel.dll" "$bin/ostrel.dll" || fail "ostrel.dll differs from the build's"
cmp "$work/x/ostrel-tool.exe" "$bin/ostrel-tool.exe" || fail "ostrel-tool.exe differs"
grep -q "Ostrel client library $version for players" "$work/x/README.txt" || fail "read-me version"
grep -q "ostrel-tool.exe patch-exe GAME.exe" "$work/x/README.txt" || fail "read-me lacks patch-exe"
# The first thing a player reads after the title is what to double-click.
first=$(sed -n '4p' "$work/x/README.txt")
[ "${first#Double-click ostrel-tool.exe}" != "$first" ] || fail "read-me starts with: $first"
grep -q "ostrel-tool.exe doctor" "$work/x/README.txt" || fail "read-me lacks doctor"
grep -q $'\r$' "$work/x/README.txt" || fail "read-me without Windows line ends"

# A build folder without a version header is refused, and no archive appears.
mkdir -p "$work/empty"
if OSTREL_WIN_BIN="$work/empty" bash "$src/scripts/package.sh" --no-build "$work/out2" 2>"$work/err"; then
  fail "packaged a folder without a build"
fi
grep -q "no version" "$work/err" || fail "refusal: $(cat "$work/err")"
[ ! -e "$work/out2" ] || [ -z "$(ls -A "$work/out2")" ] || fail "archive left behind"
echo "ok: $archive"
