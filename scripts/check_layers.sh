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
# Usage: check_layers.sh [SRC_DIR]; exits 1 and lists every offending line.
# One awk process reads every file: a process per include line took minutes on a
# loaded machine.
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
src=${src%/}

mapfile -t files < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | LC_ALL=C sort)
[ "${#files[@]}" -gt 0 ] || { echo "no sources under $src"; exit 1; }
awk -v src="$src/" '
    BEGIN {
      rank["base"] = 0
      rank["platform"] = 1; rank["digest"] = 1
      rank["core"] = 2
      rank["redirect"] = 3; rank["ranked"] = 4; rank["sockets"] = 5
      rank["snapshot"] = 6; rank["script"] = 7
      rank["library"] = 8
      windows = "^[ \t]*#[ \t]*include[ \t]*<(windows|winsock2?|ws2tcpip|ws2spi|iphlpapi|shlobj|psapi|winreg|winbase|windef|winnt)\\.h>"
      bad = 0
    }
    FNR == 1 {
      rel = substr(FILENAME, length(src) + 1)
      own = rel; sub(/\/.*/, "", own)
      known = own in rank
      if (!known) { print rel ": folder '\''" own "'\'' has no floor in scripts/check_layers.sh"; bad = 1 }
      windows_ok = rel ~ /^platform\/win32\// || rel ~ /_win32\.cpp$/
    }
    !known { next }
    /^[ \t]*#[ \t]*include[ \t]*"/ {
      target = $0
      sub(/^[ \t]*#[ \t]*include[ \t]*"/, "", target)
      sub(/".*/, "", target)
      if (index(target, "/") == 0) next  # generated headers and same-folder names
      folder = target; sub(/\/.*/, "", folder)
      if (folder == own) next
      if (!(folder in rank) || rank[folder] >= rank[own]) {
        print rel ":" FNR ": includes \"" target "\", which is not below the '\''" own "'\'' floor"
        bad = 1
      }
      next
    }
    !windows_ok && tolower($0) ~ windows {
      print rel ":" FNR ": names a Windows header outside the Windows layers"
      bad = 1
    }
    END {
      if (!bad) print "layers: every include keeps to its floor"
      exit bad
    }' "${files[@]}"
