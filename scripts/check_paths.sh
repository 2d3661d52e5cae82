#!/usr/bin/env bash
# Fails when a tracked file names a path above the repository's root (such as
# ../something beside the clone): a fresh clone with nothing beside it must
# build, test and run the demo on its own.
#
# Each "../" chain is resolved from where it starts: after ${CMAKE_SOURCE_DIR}/
# (or a script's $root/, $here/, $top/) from the root; after
# ${CMAKE_CURRENT_SOURCE_DIR}/, ${CMAKE_CURRENT_LIST_DIR}/ or $(dirname "$0")/
# from the file's own folder; standing alone, from the root in a script that
# first changes to the root (the scripts' `cd "$(dirname "$0")/.."`) and from
# the file's own folder anywhere else (includes, document links). Chains after
# any other prefix are relative to something this check cannot know and are
# left alone.
#   usage: check_paths.sh [REPOSITORY]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# Scripts that run from the root.
mapfile -t rooted < <(git grep -l -I -F 'cd "$(dirname "$0")/.."' -- . || true)

git grep -n -I -E '\.\./' -- . ':!scripts/check_paths.sh' | awk -v rooted="${rooted[*]-}" '
BEGIN {
  n = split(rooted, r, " ")
  for (i = 1; i <= n; i++) at_root[r[i]] = 1
  bad = 0
}
function depth(path,   parts) {  # folders between the root and the file
  return split(path, parts, "/") - 1
}
{
  file = $0; sub(/:.*/, "", file)
  rest = substr($0, length(file) + 2)
  line = rest; sub(/:.*/, "", line)
  text = substr(rest, length(line) + 2)
  pos = 0
  while (match(text, /(\.\.\/)+/)) {
    start = RSTART; len = RLENGTH; ups = len / 3
    before = substr(text, 1, start - 1)
    base = ""
    if (before ~ /\$\{(CMAKE_SOURCE_DIR|PROJECT_SOURCE_DIR)\}\/$/ || before ~ /\$\{?(root|here|top)\}?\/$/)
      base = "root"
    else if (before ~ /\$\{CMAKE_CURRENT_(SOURCE|LIST)_DIR\}\/$/ || before ~ /\$\(dirname "\$0"\)\/$/)
      base = "folder"
    else if (before == "" || before ~ /[^A-Za-z0-9_.\/}$)-]$/)
      base = (file in at_root) ? "root" : "folder"
    if (base != "") {
      room = (base == "root") ? 0 : depth(file)
      if (ups > room) {
        printf "%s:%s: names a path above the repository: %s\n", file, line, substr(text, start, len + 24)
        bad = 1
      }
    }
    text = substr(text, start + len)
  }
}
END { exit bad }
' || { echo "check_paths: a clone must need nothing beside it (see the lines above)" >&2; exit 1; }
echo "check_paths: no tracked file names a path above the repository"
