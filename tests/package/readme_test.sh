#!/usr/bin/env bash
# The README's operator commands, run as they stand: the fenced block after the
# "readme-operator-commands" marker, line by line, from a folder that looks like
# the repository's root, with ostrel-tool and ostrel-service on the PATH.  Every
# line must succeed and the block must show what the README says it shows.
# Usage: readme_test.sh SOURCE_DIR OSTREL_TOOL OSTREL_SERVICE
set -euo pipefail
src=$1 tool=$2 service=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$tool" "$work/bin/ostrel-tool"
ln -s "$service" "$work/bin/ostrel-service"
ln -s "$src/deploy" "$work/deploy"

block=$(awk '/<!-- readme-operator-commands -->/ {found=1; next}
             found && /^```sh$/ {inside=1; next}
             inside && /^```$/ {exit}
             inside {print}' "$src/README.md")
[ -n "$block" ] || { echo "FAIL: no operator command block in README.md" >&2; exit 1; }
out=$(cd "$work" && PATH="$work/bin:$PATH" bash -euo pipefail -c "$block" 2>&1) || {
  echo "FAIL: the README's operator commands failed:" >&2
  echo "$out" >&2
  exit 1
}
echo "$out"
for expected in "0x7FE59444 web-aa54rz5i.legacy.test" "0x05BF381D Stats-R6F8SU2Z.legacy.test" \
  "answer.bin: lookup answer of" "code verifies" "0x7FE59444 127.0.0.1 127.0.0.2" '"entries": 2' \
  "serial 7, default port 16567, 2 servers" "192.0.2.8:16568 flags 3" "challenge verifies" \
  "server address      203.0.113.5" 'verifies for provider ID "dev-provider"' \
  "000102030405060708090a0b0c0d0e0fd6878ab7d89e368cdff5d2ea64232f157870354a2e518c5972bf975b66be2911"; do
  grep -qF -- "$expected" <<<"$out" || { echo "FAIL: output lacks '$expected'" >&2; exit 1; }
done
