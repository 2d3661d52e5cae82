#!/usr/bin/env bash
# Runs a command inside an emulated x86-64 Debian machine (qemu-system, software
# emulation) where Wine can run 32-bit programs: for hosts whose kernel refuses
# 32-bit x86 code (scripts/wine-probe.sh fails there).
#
#   bash scripts/wine-vm.sh [--] COMMAND...   run COMMAND in the guest, in the same
#                                             directory; exits with its status
#   bash scripts/wine-vm.sh --image           only build the guest image (once)
#   bash scripts/wine-vm.sh --rebuild-image   build it again from nothing
#
# The directory above the repository (and the one holding its git data, the
# current directory and OSTREL_VM_SHARES, a colon-separated list) is shared with
# the guest through 9p at the same absolute path, so build trees with absolute
# paths work there as they are. The guest sees the current environment's
# OSTREL_*, WINE*, CTEST_*, GTEST_*, ASAN_*, UBSAN_*, TSAN_* and LSAN_*
# variables. Its disk is thrown away after every run (qemu -snapshot), so any
# number of runs may share one image; the guest has its own loopback, so its
# tests do not bind the host's ports, and no network.
#
# The image carries a pristine Wine prefix (making one takes Wine minutes under
# emulation): in the guest WINEPREFIX names it unless the caller set one, and
# OSTREL_WINE_PREFIX_TEMPLATE / OSTREL_WINE_PREFIX_DIR tell the e2e driver to
# copy it to the guest's own disk.
#
# The image (Debian 12 with Wine, the runtime libraries of the native test
# programs, cmake's ctest and a kernel) is built once with debootstrap into
# OSTREL_VM_CACHE (default /var/cache/ostrel-wine-vm). Needs root for that, and
# installs qemu-system-x86, debootstrap and e2fsprogs when they are missing.
# Other settings: OSTREL_VM_MEMORY (MiB, default 6144), OSTREL_VM_CPUS (default
# the host's core count), OSTREL_VM_VERBOSE=1 (the guest's console on stderr).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache=${OSTREL_VM_CACHE:-/var/cache/ostrel-wine-vm}
memory=${OSTREL_VM_MEMORY:-6144}
cpus=${OSTREL_VM_CPUS:-$(nproc)}
mirror=${OSTREL_VM_MIRROR:-http://deb.debian.org/debian}
# Bump when the package list or the guest's start-up changes: images of an older
# version are rebuilt.
image_version=2
# Where the image keeps its ready-made Wine prefix.
guest_prefix=/var/lib/ostrel-wine-vm/wineprefix

log() { echo "wine-vm: $*" >&2; }
die() {
  log "$*"
  exit 125
}

SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

need_tools() {
  local missing=()
  command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
  command -v debootstrap >/dev/null || missing+=(debootstrap)
  command -v mkfs.ext4 >/dev/null || missing+=(e2fsprogs)
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >&2 ||
    { $SUDO apt-get update -q >&2 &&
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >&2; }
}

# What the guest needs beyond a minimal Debian: Wine as scripts/setup.sh
# installs it, the shared libraries of the native ASan/UBSan/TSan test programs
# and of the reference service, ctest, objdump for the DLL table checks.
GUEST_PACKAGES=(
  linux-image-amd64 kmod procps iproute2 util-linux
  wine wine32:i386 libwine:i386
  cmake binutils-mingw-w64-i686
  libasan8 libubsan1 libtsan2 libstdc++6 libssl3 libcpp-httplib0.11 libbrotli1 zlib1g
  python3
)

# The guest's first process, kept in the image: mounts the control share and
# hands over to the start-up script there (written by each run, so that it can
# change without a new image).
write_boot_init() {
  cat > "$1" <<'EOF'
#!/bin/sh
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev 2>/dev/null
mount -t tmpfs tmpfs /run
modprobe -a 9p 9pnet_virtio
mkdir -p /run/ctl
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 ctl /run/ctl && exec /bin/sh /run/ctl/init
echo "ostrel-init: no control share" >&2
echo o > /proc/sysrq-trigger
sleep 10
EOF
  chmod 755 "$1"
}

# The rest of the start-up: mounts what a test run needs and the shares, runs
# the command with its output on the second serial port, reports its status in
# the control share and powers off.
write_run_init() {
  cat > "$1" <<'EOF'
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
hostname ostrel-vm
ip link set lo up
# No network and no name server: a name outside the hosts file is plainly not
# found (asking an absent server would say "try again" instead).
sed -i 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf
while read -r tag dir; do
  mkdir -p "$dir"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose "$tag" "$dir"
done < /run/ctl/shares
out=/dev/ttyS1
stty -F $out raw -echo 2>/dev/null
echo "booted in $(cut -d' ' -f1 /proc/uptime) s" > /run/ctl/booted
HOME=/root sh /run/ctl/command < /dev/null > $out 2>&1
echo $? > /run/ctl/status.tmp
mv /run/ctl/status.tmp /run/ctl/status
sync
umount -a -t 9p 2>/dev/null
echo o > /proc/sysrq-trigger
sleep 10
EOF
}

build_image() {
  need_tools
  mkdir -p "$cache"
  local work="$cache/work"
  $SUDO rm -rf "$work"
  mkdir -p "$work"
  local root="$work/root" t0
  t0=$(date +%s)
  log "debootstrap bookworm (a few minutes)"
  $SUDO debootstrap --variant=minbase --include=ca-certificates bookworm "$root" "$mirror" > "$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log" >&2; die "debootstrap failed (log: $work/debootstrap.log)"; }
  log "debootstrap done ($(( $(date +%s) - t0 )) s); installing Wine and the test runtime"
  local src
  for src in /etc/apt/sources.list.d/debian.sources; do
    [ -f "$src" ] && $SUDO cp "$src" "$root/etc/apt/sources.list.d/"
  done
  [ -f "$root/etc/apt/sources.list.d/debian.sources" ] && $SUDO rm -f "$root/etc/apt/sources.list"
  # A kernel and an initramfs that can reach the virtio disk.
  $SUDO mkdir -p "$root/etc/initramfs-tools/conf.d"
  printf '%s\n' virtio_pci virtio_blk ext4 | $SUDO tee -a "$root/etc/initramfs-tools/modules" >/dev/null
  echo MODULES=list | $SUDO tee "$root/etc/initramfs-tools/conf.d/ostrel-vm" >/dev/null
  $SUDO mount -t proc proc "$root/proc" 2>/dev/null || true
  local rc=0
  $SUDO chroot "$root" /bin/sh -ec "
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -q
    apt-get install -y -q --no-install-recommends ${GUEST_PACKAGES[*]}
    apt-get clean
    rm -rf /var/lib/apt/lists/*
  " > "$work/chroot.log" 2>&1 || rc=$?
  $SUDO umount "$root/proc" 2>/dev/null || true
  if [ $rc -ne 0 ]; then
    tail -n 30 "$work/chroot.log" >&2
    die "package install in the guest failed (log: $work/chroot.log)"
  fi
  write_boot_init "$work/ostrel-init"
  $SUDO cp "$work/ostrel-init" "$root/sbin/ostrel-init"
  echo ostrel-vm | $SUDO tee "$root/etc/hostname" >/dev/null
  printf '127.0.0.1 localhost\n127.0.1.1 ostrel-vm\n::1 localhost\n' | $SUDO tee "$root/etc/hosts" >/dev/null
  local kernel initrd
  kernel=$(ls "$root"/boot/vmlinuz-* | sort -V | tail -n 1)
  initrd=$(ls "$root"/boot/initrd.img-* | sort -V | tail -n 1)
  [ -f "$kernel" ] && [ -f "$initrd" ] || die "no kernel or initramfs in the guest"
  cp "$kernel" "$work/vmlinuz"
  cp "$initrd" "$work/initrd.img"
  log "making the disk image"
  local size_mb
  size_mb=$(( $(du -sm "$root" | cut -f1) + 3072 ))
  rm -f "$work/root.img"
  mkfs.ext4 -q -L ostrel-vm -d "$root" "$work/root.img" "${size_mb}M" > "$work/mkfs.log" 2>&1 ||
    { cat "$work/mkfs.log" >&2; die "mkfs.ext4 failed"; }
  $SUDO rm -rf "$root"
  log "making the Wine prefix inside the guest (minutes: emulated)"
  local t1
  t1=$(date +%s)
  local make_prefix="mkdir -p $guest_prefix && WINEPREFIX=$guest_prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wineboot -i && WINEPREFIX=$guest_prefix wineserver -w && test -f $guest_prefix/system.reg"
  local prc=0
  (cd / && run_guest "$work" on sh -c "$make_prefix") > "$work/prefix.log" 2>&1 || prc=$?
  if [ "$prc" = 125 ]; then  # no status: the guest did not boot or died; once more
    cat "$work/prefix.log" >&2
    log "making the Wine prefix: the guest gave no status; starting it once more"
    prc=0
    (cd / && run_guest "$work" on sh -c "rm -rf $guest_prefix && $make_prefix") > "$work/prefix.log" 2>&1 || prc=$?
  fi
  [ "$prc" = 0 ] || { cat "$work/prefix.log" >&2; die "making the Wine prefix in the guest failed"; }
  log "Wine prefix made ($(( $(date +%s) - t1 )) s)"
  echo "$image_version" > "$work/version"
  rm -rf "$cache/image.old"
  [ -d "$cache/image" ] && mv "$cache/image" "$cache/image.old"
  mv "$work" "$cache/image"
  rm -rf "$cache/image.old"
  log "image ready in $cache/image ($(( $(date +%s) - t0 )) s)"
}

image_ready() {
  [ -f "$cache/image/root.img" ] && [ "$(cat "$cache/image/version" 2>/dev/null)" = "$image_version" ]
}

ensure_image() {
  image_ready && return 0
  # One builder at a time; the others wait for it and use its image.
  mkdir -p "$cache"
  exec 9> "$cache/build.lock"
  flock 9
  image_ready || build_image
  flock -u 9
  exec 9>&-
}

# The directories the guest sees at their own paths (run_guest), filled below.
declare -a shares=()

# Boots the image in IMAGE_DIR, runs COMMAND in the current directory and
# returns its status (125 when the guest gave none). PERSIST=on keeps what the
# guest writes to its disk (only while the image is being built).
run_guest() {  # IMAGE_DIR PERSIST COMMAND...
  local image=$1 persist=$2
  shift 2
  local ctl
  ctl=$(mktemp -d "/tmp/ostrel-wine-vm.$$.XXXXXX")
  local virtfs=() i=0 s
  : > "$ctl/shares"
  for s in "${shares[@]}"; do
    virtfs+=(-virtfs "local,path=$s,mount_tag=share$i,security_model=none,id=share$i")
    echo "share$i $s" >> "$ctl/shares"
    i=$((i + 1))
  done
  virtfs+=(-virtfs "local,path=$ctl,mount_tag=ctl,security_model=none,id=ctl")
  write_run_init "$ctl/init"
  {
    echo "#!/bin/sh"
    local name
    while IFS= read -r name; do
      case "$name" in OSTREL_VM_*) continue ;; esac
      printf 'export %s=%q\n' "$name" "${!name}"
    done < <(compgen -e | grep -E '^(OSTREL_|WINE|CTEST_|GTEST_|ASAN_|UBSAN_|TSAN_|LSAN_)' || true)
    printf 'export TERM=dumb LANG=C.UTF-8\n'
    # The Wine prefix made when the image was built: the Windows unit tier uses
    # it as it is and the e2e driver copies it to the guest's own disk, where
    # making one would take Wine minutes and a prefix in the 9p share is slow.
    # The guest's disk is thrown away after the run, so every run starts clean.
    printf 'if [ -f %s/system.reg ]; then\n' "$guest_prefix"
    printf '  export OSTREL_WINE_PREFIX_TEMPLATE=%s OSTREL_WINE_PREFIX_DIR=/var/tmp/ostrel-wine\n' "$guest_prefix"
    printf '  export WINEPREFIX="${WINEPREFIX:-%s}"\n' "$guest_prefix"
    printf 'fi\n'
    printf 'cd %q || exit 125\n' "$(pwd -P)"
    printf 'exec'
    printf ' %q' "$@"
    printf '\n'
  } > "$ctl/command"
  local console="$ctl/console.log"
  [ "${OSTREL_VM_VERBOSE:-0}" = 1 ] && console=/dev/stderr
  local snapshot=on
  [ "$persist" = on ] && snapshot=off
  local start
  start=$(date +%s)
  # SMAP off: qemu 7.2's emulation faults the kernel on a 32-bit program's
  # return from a signal handler with it on (Wine dies at once).  The kernel
  # skips its check that the emulated timer ticks through the IO-APIC: on a
  # busy host the emulation is too slow for it, and the guest panics at boot
  # ("IO-APIC + timer doesn't work!").
  qemu-system-x86_64 \
    -machine q35 -accel tcg,thread=multi,tb-size=1024 -cpu max,-smap -smp "$cpus" -m "$memory" \
    -nodefaults -display none -no-reboot \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw init=/sbin/ostrel-init console=ttyS0 quiet loglevel=3 panic=-1 no_timer_check" \
    -drive "file=$image/root.img,format=raw,if=virtio,snapshot=$snapshot" \
    -serial "file:$console" -serial stdio \
    "${virtfs[@]}" < /dev/null &
  qemu_pid=$!
  wait "$qemu_pid" || true
  qemu_pid=""
  local rc=125
  no_status=0
  if [ -f "$ctl/status" ]; then
    rc=$(cat "$ctl/status")
    [ "${OSTREL_VM_VERBOSE:-0}" = 1 ] && log "$(cat "$ctl/booted" 2>/dev/null); whole run $(( $(date +%s) - start )) s"
  else
    no_status=1
    log "the guest stopped without the command's status; its console:"
    tail -n 40 "$ctl/console.log" >&2 || true
  fi
  rm -rf "$ctl"
  return "$rc"
}

qemu_pid=""
no_status=0
cleanup() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null || true
  rm -rf /tmp/ostrel-wine-vm.$$.* 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

case "${1:-}" in
  --image)
    ensure_image
    exit 0
    ;;
  --rebuild-image)
    mkdir -p "$cache"
    exec 9> "$cache/build.lock"
    flock 9
    build_image
    exit 0
    ;;
  --)
    shift
    ;;
esac
[ $# -gt 0 ] || die "usage: wine-vm.sh [--] COMMAND... | --image | --rebuild-image"

need_tools
ensure_image

# Directories to share: the repository's parent, then OSTREL_VM_SHARES, then
# the current directory; one that lies inside another already shared is left out.
add_share() {
  local d
  d=$(cd "$1" 2>/dev/null && pwd -P) || return 0
  # Never a folder that holds the guest's /tmp: Wine keeps its server socket
  # there, and a 9p share cannot hold sockets (a clone in /tmp shares itself).
  case "/tmp/" in "${d%/}"/*) return 0 ;; esac
  local s
  for s in "${shares[@]}"; do
    case "$d/" in "$s"/*) return 0 ;; esac
  done
  shares+=("$d")
}
# A worktree's git data may lie in another checkout: share the folder that holds both.
candidates=("$(dirname "$here")")
common=$(git -C "$here" rev-parse --path-format=absolute --git-common-dir 2>/dev/null || true)
[ -n "$common" ] && candidates+=("$(dirname "$(dirname "$common")")")
while IFS= read -r d; do add_share "$d"; done < <(printf '%s\n' "${candidates[@]}" | awk '{ print length, $0 }' | sort -n | cut -d' ' -f2-)
add_share "$here"
IFS=: read -r -a extra <<< "${OSTREL_VM_SHARES:-}"
for d in "${extra[@]}"; do [ -n "$d" ] && add_share "$d"; done
add_share "$(pwd -P)"

rc=0
run_guest "$cache/image" off "$@" || rc=$?
# A guest that stopped without the command's status (it could not boot, or
# died under it) is started once more; its console's last lines are in the
# log above.  A second silence is a failure, never a pass.
if [ "$rc" = 125 ] && [ "$no_status" = 1 ]; then
  log "starting the guest once more"
  rc=0
  run_guest "$cache/image" off "$@" || rc=$?
fi
exit "$rc"
