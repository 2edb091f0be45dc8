#!/usr/bin/env bash
# Runs one command in an emulated x86-64 PC whose kernel runs i386 programs: for the 32-bit Wine
# (the i686 release under WOW64 and on 32-bit Windows) on a machine whose own kernel refuses
# i386 code.
#
# Usage: emulated-pc.sh [--rw DIR]... [--timeout SECONDS] [--cpus N] [--memory MB] -- COMMAND...
#
# The guest is Debian's own kernel (linux-image-amd64) under QEMU's software emulation
# (qemu-system-x86), booted from a small initramfs made here from busybox-static and the
# kernel's modules, over this machine's own root file system: read-only, with a throwaway layer
# in the guest's memory on top, so every program and library installed here (Wine, Xvfb, the
# build's tools) is there too. Writable at their own paths: the project folder, the cache folder
# (below) and each --rw DIR. The command runs as root in the caller's current folder with the
# caller's environment (but DISPLAY and XAUTHORITY: the guest has no display; QV_EMULATED_PC=1 is
# added), its standard output and error come back on standard output, and its exit status is this
# script's. A caller with a display (DISPLAY, as under xvfb-run) gets a virtual display of the guest's
# own. Nothing is downloaded and no disk image is kept: the guest is made anew each time.
#
# Exit status: the command's; 124 when the time limit (default 3600 s, QV_EMULATED_PC_TIMEOUT)
# ended it; 125 when the emulated PC could not run it (QEMU, the kernel or the guest failed: the
# reason and the guest's last console lines are printed on standard error).
#
# The cache folder ($QV_CACHE, default ${XDG_CACHE_HOME:-~/.cache}/qv3update) keeps the
# initramfs (made again when the kernel or this script changes) and the jobs' folders while they
# run; scripts/wine-prefix.sh keeps the guest-booted Wine prefix templates there.
#
# Measured on a 2-core host without KVM: about 3 s from QEMU's start to the command, 4 s more to
# power off.
#
# Inside the guest this same script runs as the second stage (--guest JOB, started by the
# initramfs' /init): it finishes the guest's set-up, runs the job and powers the guest off.
set -u
script=$(realpath "$0")
project=$(cd "$(dirname "$script")/.." && pwd)

qv_cache_dir() { printf '%s' "${QV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qv3update}"; }

die() { echo "emulated-pc.sh: $*" >&2; exit 125; }

# ---------------------------------------------------------------------------------------------
# The guest's second stage: the root is the overlay, /run/qv-job the job's folder.
if [ "${1:-}" = --guest ]; then
  job=$2
  export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  # Wine's server and Xvfb want shared memory and pseudo-terminals; the initramfs made only
  # /dev, /proc, /sys, /tmp and /run.
  mkdir -p /dev/shm /dev/pts
  mount -t tmpfs -o mode=1777 shm /dev/shm
  mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts
  ln -sf /proc/self/fd /dev/fd
  busybox ip link set lo up 2>/dev/null
  busybox hostname qv-emulated-pc
  # Wine keeps a file's DOS attributes (hidden, system) in an extended attribute of the user
  # namespace, which tmpfs has only from Linux 6.6 on: Wine's prefixes live on an ext4 file
  # system in memory (a RAM disk; its memory is taken only as it is written).
  scratch=/run/qv-disk
  memory_kb=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)
  if modprobe brd rd_nr=1 rd_size=$((memory_kb / 2)) 2>/dev/null &&
     mkfs.ext4 -q -F -O ^has_journal -E nodiscard /dev/ram0 2>/dev/null &&
     mkdir -p "$scratch" && mount -o noatime /dev/ram0 "$scratch"; then
    chmod 1777 "$scratch"
  else
    echo "emulated-pc.sh: no RAM disk for the Wine prefixes; they stay in tmpfs" >/dev/ttyS1
    scratch=/run
  fi
  # The command's output goes out on the second serial port, raw: the first is the kernel's
  # console, and a terminal's line discipline would add carriage returns.
  stty -F /dev/ttyS1 raw -echo 2>/dev/null
  (
    # shellcheck disable=SC1091
    source "$job/env"
    export QV_EMULATED_PC=1 QV_EMULATED_PC_SCRATCH=$scratch
    cd "$(cat "$job/cwd")" || exit 125
    mapfile -d '' -t command <"$job/command"
    # A caller with a display (xvfb-run) gets a virtual display of its own in the guest.
    if [ -e "$job/display" ]; then
      command=(xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "${command[@]}")
    fi
    # A program whose output is a terminal (Wine's console) draws on it with escape codes: the
    # output is a pipe.
    "${command[@]}" </dev/null 2>&1 | cat
    exit "${PIPESTATUS[0]}"
  ) >/dev/ttyS1 2>&1
  echo $? >"$job/status.new"
  mv "$job/status.new" "$job/status"
  sync
  # An init that ends panics the kernel: power off instead.
  busybox poweroff -f
  exit 0
fi

# ---------------------------------------------------------------------------------------------
# The host side.
rw=() timeout=${QV_EMULATED_PC_TIMEOUT:-3600} cpus=${QV_EMULATED_PC_CPUS:-2}
memory=${QV_EMULATED_PC_MEMORY:-6144}
while [ $# -gt 0 ]; do
  case "$1" in
    --rw) rw+=("$(realpath "$2")") || exit 64; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --cpus) cpus=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "emulated-pc.sh: unknown option $1" >&2; exit 64 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: emulated-pc.sh [--rw DIR]... [--timeout S] -- COMMAND..." >&2; exit 64; }

qemu=$(command -v qemu-system-x86_64) || die "no qemu-system-x86_64 (scripts/setup.sh test installs qemu-system-x86)"
[ -x /bin/busybox ] && /bin/busybox --list | grep -qx switch_root ||
  die "no static busybox (/bin/busybox from busybox-static)"
# The newest installed Debian kernel; its modules must be installed beside it.
kernel=${QV_EMULATED_PC_KERNEL:-$(ls /boot/vmlinuz-*-amd64 2>/dev/null | sort -V | tail -n 1)}
[ -n "$kernel" ] && [ -r "$kernel" ] || die "no kernel /boot/vmlinuz-*-amd64 (linux-image-amd64)"
kversion=${kernel##*/vmlinuz-}
[ -d "/lib/modules/$kversion" ] || die "no modules for the kernel $kversion (/lib/modules/$kversion)"

cache=$(qv_cache_dir)/emulated-pc
mkdir -p "$cache/jobs" || die "cannot make the cache folder $cache"

# The initramfs: busybox, the modules the shares need (virtio's PCI transport, 9p over virtio,
# overlay), in the order modprobe gives, and /init. Made once per kernel and version of this
# script.
make_initramfs() {
  local out=$1 dir modules m
  dir=$(mktemp -d "$cache/.initramfs.XXXXXX") || return 1
  mkdir -p "$dir/bin" "$dir/modules" "$dir/proc" "$dir/sys" "$dir/dev" "$dir/lower" \
           "$dir/layer" "$dir/newroot" "$dir/job"
  cp /bin/busybox "$dir/bin/busybox"
  modules=$(for m in virtio_pci 9pnet_virtio 9p overlay; do
              modprobe -S "$kversion" --show-depends "$m"
            done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }')
  [ -n "$modules" ] || { rm -rf "$dir"; return 1; }
  for m in $modules; do
    case "$m" in
      *.ko) cp "$m" "$dir/modules/" ;;
      *.ko.xz) xz -dc "$m" >"$dir/modules/$(basename "${m%.xz}")" ;;
      *.ko.zst) zstd -qdc "$m" >"$dir/modules/$(basename "${m%.zst}")" ;;
      *) rm -rf "$dir"; return 1 ;;
    esac
    basename "${m%.*}" | sed 's/\.ko$//; s/$/.ko/' >>"$dir/modules/order"
  done
  sed -n '/^#--init--$/,/^#--end--$/p' "$script" | sed '1d;$d' >"$dir/init"
  chmod 755 "$dir/init"
  (cd "$dir" && find . -mindepth 1 | LC_ALL=C sort | cpio --quiet -o -H newc -R 0:0 | gzip -9n) \
    >"$out.new" || { rm -rf "$dir" "$out.new"; return 1; }
  rm -rf "$dir"
  mv "$out.new" "$out"
}
stamp=$(sha256sum "$script" | cut -c1-12)
initramfs=$cache/initramfs-$kversion-$stamp.cpio.gz
if [ ! -s "$initramfs" ]; then
  (
    flock 9
    [ -s "$initramfs" ] || make_initramfs "$initramfs"
  ) 9>"$cache/.initramfs.lock" || die "cannot make the initramfs for the kernel $kversion"
fi

# The job's folder: the command, its folder and environment, the shares; the guest writes its
# status there.
job=$(mktemp -d "$cache/jobs/job.XXXXXX") || die "cannot make a job folder in $cache/jobs"
cleanup() { rm -rf "$job"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
printf '%s' "$PWD" >"$job/cwd"
printf '%s\0' "$@" >"$job/command"
printf '%s' "$script" >"$job/script"
[ -n "${DISPLAY:-}" ] && : >"$job/display"
export -p | grep -Ev '^declare -x (DISPLAY|XAUTHORITY|WAYLAND_DISPLAY|SHLVL|OLDPWD|PWD|_)(=|$)' \
  >"$job/env"
# Writable at their own paths: the cache folder, the project folder and the --rw folders; one
# 9p share each (mount tag rwN), listed for /init as "TAG PATH" lines. All of them are cached in
# the guest (cache=loose), as the root is: with less caching (cache=none or mmap) the larger
# programs mapped from a share read pages of zeros there (every GoogleTest program of the i686
# build crashed on an instruction of zero bytes). The host changes nothing in them while the guest
# runs, and the guest writes everything back before it powers off.
shares=("$(qv_cache_dir)" "$project" "${rw[@]}")
share_args=()
: >"$job/mounts"
i=0
for path in "${shares[@]}"; do
  [ -d "$path" ] || die "no folder $path to share"
  # A folder inside one shared already is writable through it.
  inside=0
  while read -r _ shared; do
    case "$path/" in "$shared"/*) inside=1 ;; esac
  done <"$job/mounts"
  [ $inside = 1 ] && continue
  # security_model=none: the files keep their owners and modes as the host has them (QEMU runs
  # as root, as the tests do); multidevs=remap: inode numbers stay unique across file systems.
  share_args+=(-fsdev "local,id=rw$i,path=$path,security_model=none,multidevs=remap"
               -device "virtio-9p-pci,fsdev=rw$i,mount_tag=rw$i")
  printf 'rw%s %s\n' "$i" "$path" >>"$job/mounts"
  i=$((i + 1))
done

# -accel tcg,thread=multi: software emulation (these machines have no KVM), one host thread per
#   guest processor;
# -cpu qemu64: with -cpu max, QEMU 7.2's emulated iret reads the user stack as the kernel and
#   SMAP forbids it, which kills every Wine process; qemu64 is also 10-15 % faster;
# -machine q35, -nodefaults: no devices but the ones named here;
# two serial ports: ttyS0 the kernel's console into a file, ttyS1 the command's output;
# the root file system read-only (the guest's writes go to its memory), the other shares
# writable; -no-reboot: a panic (panic=-1) ends QEMU instead of restarting the guest.
console=$job/console.log
started=$(date +%s)
timeout -k 10 "$timeout" "$qemu" -accel tcg,thread=multi -cpu qemu64 -smp "$cpus" -m "$memory" \
  -machine q35 -nodefaults -no-user-config -display none -no-reboot -monitor none \
  -serial "file:$console" -chardev stdio,id=out,signal=off -serial chardev:out \
  -kernel "$kernel" -initrd "$initramfs" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" \
  -fsdev "local,id=root,path=/,security_model=none,multidevs=remap,readonly=on" \
  -device virtio-9p-pci,fsdev=root,mount_tag=hostroot \
  -fsdev "local,id=job,path=$job,security_model=none" \
  -device virtio-9p-pci,fsdev=job,mount_tag=job \
  "${share_args[@]}" </dev/null
qemu_status=$?
if [ -f "$job/status" ]; then
  exit "$(cat "$job/status")"
fi
if [ $qemu_status -eq 124 ] || [ $qemu_status -eq 137 ]; then
  echo "emulated-pc.sh: the time limit of $timeout s ended the emulated PC (after $(( $(date +%s) - started )) s)" >&2
  exit 124
fi
{
  echo "emulated-pc.sh: the emulated PC ended without the command's status (QEMU status $qemu_status; kernel $kversion); its last console lines:"
  tail -n 15 "$console" 2>/dev/null | tr -d '\r' | sed 's/^/  /'
} >&2
exit 125

# The initramfs' /init, copied into it from here (busybox sh, PID 1):
#--init--
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
fail() {
  echo "emulated-pc init: $*" >/dev/console
  poweroff -f
}
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules/order); do
  insmod "/modules/$m" || fail "cannot load the module $m"
done
opts=trans=virtio,version=9p2000.L,msize=512000
# The host's root, read-only and cached (it does not change while the guest runs), under a
# layer in memory: overlay wants a writable upper layer of its own.
# The virtio devices are probed after their modules load: the first mount may have to wait.
tries=0
until mount -t 9p -o "$opts,cache=loose,ro" hostroot /lower 2>/dev/null; do
  tries=$((tries + 1))
  [ $tries -lt 100 ] || fail "cannot mount the host's root (no virtio 9p device hostroot)"
  usleep 50000
done
mount -t tmpfs -o mode=755,size=80% layer /layer
mkdir -p /layer/upper /layer/work
mount -t overlay -o lowerdir=/lower,upperdir=/layer/upper,workdir=/layer/work overlay /newroot ||
  fail "cannot make the overlay"
mount -t 9p -o "$opts" job /job || fail "cannot mount the job's folder"
# The guest's own /run, in memory (the job's folder, the layers of Wine prefixes). /tmp stays the
# host's, seen through the overlay: its files are there, and what the guest writes stays in memory.
mount -t tmpfs -o mode=755,size=80% run /newroot/run
mkdir -p /newroot/run/qv-job
mount --move /job /newroot/run/qv-job
# The writable shares.
while read -r tag path; do
  mkdir -p "/newroot$path"
  mount -t 9p -o "$opts,cache=loose" "$tag" "/newroot$path" || fail "cannot mount $path"
done </newroot/run/qv-job/mounts
mount --move /dev /newroot/dev
mount --move /proc /newroot/proc
mount --move /sys /newroot/sys
exec switch_root /newroot /bin/bash "$(cat /newroot/run/qv-job/script)" --guest /run/qv-job
#--end--
