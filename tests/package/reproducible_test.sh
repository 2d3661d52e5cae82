#!/usr/bin/env bash
# The players' release rebuilt byte for byte: two copies of the source tree, each
# committed alone at the same date, in folders of different names and depths,
# each packaged from scratch by scripts/package.sh, the first with its build
# folder inside the tree and the second outside it and with the clock some 500
# days ahead.  ostrel.dll, ostrel-tool.exe, the archive and SHA256SUMS must be
# identical, and the programs must carry the commit's date in their PE headers.
# When they differ it says where, and whether a folder's name or the clock got in.
# Two full builds of the two programs: a few minutes.
# Usage: reproducible_test.sh [SOURCE_DIR]     (default: the repository it is in)
set -euo pipefail
src=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
  echo "no MinGW toolchain: skipped"
  exit 77
fi
work=$(mktemp -d /tmp/ostrel-rebuild.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The date the copies are committed at: the one a release of this tree gets.
date=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 1700000000)}

# The tree as it stands (uncommitted edits too, build output not), committed on
# its own so that the build finds the date in git as a packager's clone does.
copy_tree() {  # destination
  mkdir -p "$1"
  if git -C "$src" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$src" && git ls-files -z -co --exclude-standard | tar --null --ignore-failed-read -T - -c) |
      tar -x -C "$1"
  else
    tar -C "$src" --exclude=./build --exclude=./.git -c . | tar -x -C "$1"
  fi
  (cd "$1" && git init -q && git add -A &&
    GIT_AUTHOR_DATE="$date +0000" GIT_COMMITTER_DATE="$date +0000" \
      git -c user.name=release -c user.email=release@example.invalid -c commit.gpgsign=false \
      commit -q -m release)
}

# Folder names without separators: dlltool spells a path's '/' and '-' as '_'.
tree_a=$work/treeone
tree_b=$work/deeper/place/treetwo
build_b=$work/deeper/buildtwo
copy_tree "$tree_a"
copy_tree "$tree_b"

package() {  # tree build_folder out log [clock command...]
  local tree=$1 bin=$2 out=$3 log=$4
  shift 4
  local start=$SECONDS
  if ! (cd "$tree" && env -u SOURCE_DATE_EPOCH OSTREL_WIN_BIN="$bin" "$@" bash scripts/package.sh "$out") \
    >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "packaging in $tree failed"
  fi
  echo "$(basename "$tree"): built and packaged in $((SECONDS - start)) s"
}
package "$tree_a" "$tree_a/build/dll" "$work/out_a" "$work/a.log"
later=()
if command -v faketime >/dev/null; then
  # The build sees its files' real times; only the clock is ahead.
  later=(NO_FAKE_STAT=1 faketime -f +500d)
else
  echo "note: no faketime (scripts/setup.sh installs it): the second build is later by its own minutes only"
fi
package "$tree_b" "$build_b" "$work/out_b" "$work/b.log" "${later[@]}"

pe_stamp() {  # file: the PE header's TimeDateStamp
  local pe
  pe=$(od -An -tu4 -j 60 -N4 "$1" | tr -d ' ')
  od -An -tu4 -j $((pe + 8)) -N4 "$1" | tr -d ' '
}
# What got in, when two files differ: a folder's name, the clock in the PE time stamp.
explain() {  # file_a file_b
  local f
  for f in "$1" "$2"; do
    if [ "$(head -c 2 "$f")" = MZ ]; then
      echo "  $f: $(stat -c %s "$f") bytes, PE time stamp $(pe_stamp "$f")" >&2
    else
      echo "  $f: $(stat -c %s "$f") bytes" >&2
    fi
    for name in treeone treetwo buildtwo; do
      grep -qa "$name" "$f" && echo "  $f holds the folder name '$name'" >&2
    done
  done
  echo "  first differing bytes (offset, octal values):" >&2
  cmp -l "$1" "$2" 2>/dev/null | head -n 8 | sed 's/^/    /' >&2 || true
}

version=$(sed -n 's/^#define OSTREL_VERSION_TEXT "\(.*\)"$/\1/p' "$tree_a/build/dll/generated/ostrel_version.h")
archive=ostrel-$version-win32.zip
different=0
for pair in "$tree_a/build/dll/ostrel.dll $build_b/ostrel.dll" \
  "$tree_a/build/dll/ostrel-tool.exe $build_b/ostrel-tool.exe" \
  "$work/out_a/$archive $work/out_b/$archive" "$work/out_a/SHA256SUMS $work/out_b/SHA256SUMS"; do
  read -r a b <<<"$pair"
  if ! cmp -s "$a" "$b"; then
    echo "differs: $(basename "$a")" >&2
    explain "$a" "$b"
    different=1
  fi
done
[ "$different" = 0 ] || fail "the two builds differ"

for f in ostrel.dll ostrel-tool.exe; do
  stamp=$(pe_stamp "$tree_a/build/dll/$f")
  [ "$stamp" = "$date" ] || fail "$f's PE time stamp is $stamp, the commit's date $date"
done
echo "ok: ostrel.dll, ostrel-tool.exe, $archive and SHA256SUMS identical; PE time stamps $date"
