#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian 12 machine.
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32 libwine:i386
  libcpp-httplib-dev libcli11-dev
  procps zip unzip
  # The release's reproducibility check builds it again with the clock moved.
  faketime
  # The Wine tiers on machines that cannot run 32-bit code run inside an emulated
  # x86-64 machine (scripts/wine-vm.sh), whose image debootstrap builds.
  qemu-system-x86 debootstrap e2fsprogs
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ "$(dpkg --print-foreign-architectures | grep -c '^i386$')" = 0 ]; then
  dpkg --add-architecture i386
  missing+=(i386-arch)
fi
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi
echo "setup: installing: ${missing[*]}"

SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
install_args=(-y -q --no-install-recommends)
real_packages=()
for p in "${PACKAGES[@]}"; do real_packages+=("$p"); done

try_normal() {
  $SUDO apt-get update -q && $SUDO apt-get install "${install_args[@]}" "${real_packages[@]}"
}

# The i386 index of the security suite can fail to download on this mirror, which
# leaves apt unable to line up i386 and amd64 versions.  Fall back to a source list
# that holds only the base suite of the main archive.
try_base_only() {
  local dir
  dir=$(mktemp -d /tmp/ostrel-apt.XXXXXX)
  local src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    # Keep the stanzas of the main archive only, and of their suites the base one.
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /URIs:[^\n]*security/ || /Suites:[^\n]*-security/ { next }
         { print }' "$src" |
      sed -E '/^Suites:/ s/ [a-z]+-[a-z-]+//g' > "$dir/base.sources"
  else
    printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" "Suites: bookworm" \
      "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" > "$dir/base.sources"
  fi
  local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$dir")
  $SUDO apt-get "${opts[@]}" update -q && \
    $SUDO apt-get "${opts[@]}" install "${install_args[@]}" "${real_packages[@]}"
}

if ! try_normal; then
  echo "setup: normal install failed; retrying with the base suite only"
  try_base_only
fi
echo "setup: done"
