#!/usr/bin/env bash
# The release archive: scripts/package.sh over an existing DLL build makes
# ostrel-<version>-win32.zip whose version is the project's and the one in the
# DLL's version resource, holding exactly ostrel.dll and ostrel-tool.exe as
# built and the players' read-me of that version, in a fixed order, with the
# build's release date and fixed attributes; and SHA256SUMS beside it that
# checks the archive and what comes out of it.
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

listing=$(unzip -Z1 "$archive" | tr '\n' ' ')
[ "$listing" = "ostrel.dll ostrel-tool.exe README.txt " ] || fail "archive holds: $listing"
# Every entry: rw-r--r--, and the date the binaries carry (zip keeps even seconds).
date=$(cat "$bin/generated/source_date_epoch")
while read -r mode _ _ _ _ _ when name; do
  [ "$mode" = "-rw-r--r--" ] || fail "$name has mode $mode"
  at=$(TZ=UTC date -d "${when:0:4}-${when:4:2}-${when:6:2} ${when:9:2}:${when:11:2}:${when:13:2}" +%s)
  [ $((at - date)) -ge -2 ] && [ $((at - date)) -le 2 ] || fail "$name dated $when, the release $date"
done < <(TZ=UTC unzip -Z -T "$archive" | grep '^-')
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
grep -q "certutil -hashfile" "$work/x/README.txt" || fail "read-me lacks how to check a download"

# SHA256SUMS: the archive, then the two programs, each line as sha256sum writes
# it with a Windows line end, and every line true of the files.
sums=$work/out/SHA256SUMS
[ "$(cut -c67- "$sums" | tr -d '\r' | tr '\n' ' ')" = "$(basename "$archive") ostrel.dll ostrel-tool.exe " ] ||
  fail "SHA256SUMS names: $(cat -A "$sums")"
[ "$(grep -c $'^[0-9a-f]\\{64\\}  [^ ]*\r$' "$sums")" = 3 ] || fail "SHA256SUMS lines: $(cat -A "$sums")"
cp "$archive" "$work/x/"
(cd "$work/x" && sha256sum --quiet -c "$sums") || fail "SHA256SUMS does not check"

# A build folder without a version header is refused, and no archive appears.
mkdir -p "$work/empty"
if OSTREL_WIN_BIN="$work/empty" bash "$src/scripts/package.sh" --no-build "$work/out2" 2>"$work/err"; then
  fail "packaged a folder without a build"
fi
grep -q "no version" "$work/err" || fail "refusal: $(cat "$work/err")"
[ ! -e "$work/out2" ] || [ -z "$(ls -A "$work/out2")" ] || fail "archive left behind"
# So is one whose binaries have no release date to give the archive.
mkdir -p "$work/undated/generated"
cp "$bin/ostrel.dll" "$bin/ostrel-tool.exe" "$work/undated/"
cp "$bin/generated/ostrel_version.h" "$work/undated/generated/"
if OSTREL_WIN_BIN="$work/undated" bash "$src/scripts/package.sh" --no-build "$work/out3" 2>"$work/err"; then
  fail "packaged binaries without a release date"
fi
grep -q "no release date" "$work/err" || fail "refusal: $(cat "$work/err")"
echo "ok: $archive"
