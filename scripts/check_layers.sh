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
# One awk process reads every file: a process per include line took minutes on a
# loaded machine.
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
src=${src%/}
tool=${2:-"$src/../tools/ostrel-tool"}
tool=${tool%/}

sources() { [ -d "$1" ] && find "$1" -type f \( -name '*.h' -o -name '*.cpp' \) | LC_ALL=C sort; true; }
mapfile -t files < <(sources "$src")
mapfile -t tool_files < <(sources "$tool")
[ "$((${#files[@]} + ${#tool_files[@]}))" -gt 0 ] || { echo "no sources under $src or $tool"; exit 1; }
awk -v src="$src/" -v tool="$tool/" '
    BEGIN {
      rank["base"] = 0
      rank["platform"] = 1; rank["digest"] = 1
      rank["core"] = 2
      rank["redirect"] = 3; rank["ranked"] = 4; rank["sockets"] = 5
      rank["snapshot"] = 6; rank["script"] = 7
      rank["library"] = 8
      # The tool: which wings each may include besides its own and the library.
      wing["common"] = " "
      wing["pe"] = " common "
      wing["doctor"] = " common pe "
      wing["operator"] = " common service "
      wing["top"] = " common pe doctor operator service "
      windows = "^[ \t]*#[ \t]*include[ \t]*<(windows|winsock2?|ws2tcpip|ws2spi|iphlpapi|shlobj|psapi|winreg|winbase|windef|winnt)\\.h>"
      bad = 0
    }
    FNR == 1 {
      in_tool = index(FILENAME, tool) == 1
      if (in_tool) {
        rel = substr(FILENAME, length(tool) + 1)
        shown = "tool/" rel
        own = rel ~ /\// ? rel : "top"
        sub(/\/.*/, "", own)
        known = own in wing
        windows_ok = rel ~ /_win32\.cpp$/
      } else {
        rel = substr(FILENAME, length(src) + 1)
        shown = rel
        own = rel; sub(/\/.*/, "", own)
        known = own in rank
        windows_ok = rel ~ /^platform\/win32\// || rel ~ /_win32\.cpp$/
      }
      if (!known) { print shown ": folder '\''" own "'\'' has no floor in scripts/check_layers.sh"; bad = 1 }
    }
    !known { next }
    /^[ \t]*#[ \t]*include[ \t]*"/ {
      target = $0
      sub(/^[ \t]*#[ \t]*include[ \t]*"/, "", target)
      sub(/".*/, "", target)
      if (index(target, "/") == 0) next  # generated headers and same-folder names
      folder = target; sub(/\/.*/, "", folder)
      if (folder == own) next
      if (in_tool) {
        if (folder in rank || index(wing[own], " " folder " ")) next
        print shown ":" FNR ": includes \"" target "\", which is not below the tool'\''s '\''" own "'\'' wing"
        bad = 1
      } else if (!(folder in rank) || rank[folder] >= rank[own]) {
        print shown ":" FNR ": includes \"" target "\", which is not below the '\''" own "'\'' floor"
        bad = 1
      }
      next
    }
    !windows_ok && tolower($0) ~ windows {
      print shown ":" FNR ": names a Windows header outside the Windows layers"
      bad = 1
    }
    END {
      if (!bad) print "layers: every include keeps to its floor"
      exit bad
    }' "${files[@]}" "${tool_files[@]}"
