#!/usr/bin/env bash
# Holds the library's sources to their floors: a file may include headers of its
# own folder and of floors below it, never of a floor above or beside it, and only
# the Windows platform layer and the *_win32.cpp files may name Windows headers.
#
#   base                          byte and text helpers: the ground under everything
#   platform, digest              the ground floor proper; neither includes the other
#   core                          what every subsystem uses
#   redirect < ranked < sockets < snapshot < script    the subsystems
#   library                       DLL entry, start-up and tear-down: connects them all
#
# Then the tool (tools/ostrel-tool), whose wings stand on the whole library:
#
#   common                        what every wing uses
#   pe < doctor                   the PE readers and patch-exe; the players' check
#   operator                      the operators' commands, beside pe and doctor
#   (the folder's top)            main.cpp and the command table: connects them all
#
# Only operator/ and the top may include the reference service (service/): the
# players' build carries common/, pe/ and doctor/ and is built without it.
#
# Usage: check_layers.sh [SRC_DIR [TOOL_DIR]]; exits 1 and lists every offending line.
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
tool=${2:-"$src/../tools/ostrel-tool"}

rank() {
  case $1 in
    base) echo 0 ;;
    platform | digest) echo 1 ;;
    core) echo 2 ;;
    redirect) echo 3 ;;
    ranked) echo 4 ;;
    sockets) echo 5 ;;
    snapshot) echo 6 ;;
    script) echo 7 ;;
    library) echo 8 ;;
    *) echo "" ;;
  esac
}

# "LINE TARGET" for every quoted include of a file that names a folder
# (generated headers and same-folder names name none).
folder_includes() {
  grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*/' "$1" |
    sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1 \2/' || true
}

# Lists the lines of file (shown as label) that name a Windows header.
windows_headers() {
  local hit
  while IFS= read -r hit; do
    echo "$2:${hit%%:*}: names a Windows header outside the Windows layers"
  done < <(grep -niE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(windows|winsock2?|ws2tcpip|ws2spi|iphlpapi|shlobj|psapi|winreg|winbase|windef|winnt)\.h>' "$1" || true)
}

bad=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  own=${rel%%/*}
  own_rank=$(rank "$own")
  if [ -z "$own_rank" ]; then
    echo "$rel: folder '$own' has no floor in scripts/check_layers.sh"
    bad=1
    continue
  fi
  windows_ok=0
  case $rel in platform/win32/* | *_win32.cpp) windows_ok=1 ;; esac
  while read -r line target; do
    folder=${target%%/*}
    [ "$folder" = "$own" ] && continue
    target_rank=$(rank "$folder")
    if [ -z "$target_rank" ] || [ "$target_rank" -ge "$own_rank" ]; then
      echo "$rel:$line: includes \"$target\", which is not below the '$own' floor"
      bad=1
    fi
  done < <(folder_includes "$file")
  found=""
  [ "$windows_ok" = 0 ] && found=$(windows_headers "$file" "$rel")
  if [ -n "$found" ]; then
    echo "$found"
    bad=1
  fi
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

# The tool's wings: the floor of each (the folder's top is above them all),
# and which wings each may include besides its own and the library's.
tool_may_include() {
  case $1 in
    common) echo "" ;;
    pe) echo "common" ;;
    doctor) echo "common pe" ;;
    operator) echo "common service" ;;
    top) echo "common pe doctor operator service" ;;
    *) echo "none" ;;
  esac
}
while IFS= read -r file; do
  rel=${file#"$tool"/}
  case $rel in */*) own=${rel%%/*} ;; *) own=top ;; esac
  allowed=$(tool_may_include "$own")
  if [ "$allowed" = none ]; then
    echo "tool/$rel: folder '$own' has no floor in scripts/check_layers.sh"
    bad=1
    continue
  fi
  while read -r line target; do
    folder=${target%%/*}
    [ "$folder" = "$own" ] && continue
    [ -n "$(rank "$folder")" ] && continue  # the library, below every wing
    case " $allowed " in *" $folder "*) continue ;; esac
    echo "tool/$rel:$line: includes \"$target\", which is not below the tool's '$own' wing"
    bad=1
  done < <(folder_includes "$file")
  found=""
  case $rel in *_win32.cpp) ;; *) found=$(windows_headers "$file" "tool/$rel") ;; esac
  if [ -n "$found" ]; then
    echo "$found"
    bad=1
  fi
done < <(find "$tool" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if [ "$bad" = 0 ]; then echo "layers: every include keeps to its floor"; fi
exit "$bad"
