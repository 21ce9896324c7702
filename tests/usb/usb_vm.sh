#!/usr/bin/env bash
# Boots a Linux kernel in a VM (QEMU, software emulation: KVM does not run
# nested here) whose userland is this machine's own root file system, shared
# read-only over 9p, so the build under test runs inside unchanged. The guest
# script (usb_guest.sh unless --guest names another) runs every scenario in
# one boot and leaves a result file per scenario in WORK_DIR/results, which
# usb_result.sh reads.
#   usb_vm.sh [--guest SCRIPT] [--timeout SECONDS] BIN_DIR IMAGE_FILE WORK_DIR [ARGUMENT...]
# The arguments after WORK_DIR go to the guest (for usb_guest.sh: the
# scenarios to run, every one unless some are named).
# Exit status: 0 the guest ran the scenarios, 1 it did not finish, 77 skipped
# (no QEMU, kernel or busybox, or the VM did not boot).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
guest=$here/usb_guest.sh
# Boot, four updates over USB, one over the loopback, then the four-device
# runs (two to three and a half minutes of it), on two emulated cores: three
# and a half to six minutes here, depending on the other builds; the limit
# only catches a guest that hangs.
guest_timeout=720
while [ $# -gt 0 ]; do
    case $1 in
    --guest) guest=$(realpath "$2"); shift 2 ;;
    --timeout) guest_timeout=$2; shift 2 ;;
    *) break ;;
    esac
done
bin=$(realpath "$1")
image=$(realpath "$2")
work=$(realpath -m "$3")
shift 3
guest_args=("$@")
skip=77

results=$work/results
rm -rf "$work"
mkdir -p "$results" "$work/initramfs"

skip_all() {
    echo "SKIP: $*" >&2
    echo "SKIP: $*" >"$results/skipped"
    exit $skip
}

command -v qemu-system-x86_64 >/dev/null || skip_all "qemu-system-x86_64 is not installed"
command -v cpio >/dev/null || skip_all "cpio is not installed"
[ -x /bin/busybox ] || skip_all "busybox-static is not installed"
kernel=$(ls /boot/vmlinuz-*-amd64 2>/dev/null | sort -V | tail -n 1)
[ -n "$kernel" ] || skip_all "no Debian kernel in /boot (linux-image-amd64)"
release=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$release
[ -f "$modules/modules.dep" ] || skip_all "no modules for $release"
[ -r "$kernel" ] || skip_all "$kernel is not readable"

# The initramfs only mounts the shared root: busybox and the 9p modules, in
# the order their dependencies need.
declare -A loaded=()
order=()
add_module() {
    local path=$1 dep
    [ -n "${loaded[$path]:-}" ] && return
    loaded[$path]=1
    for dep in $(grep "^$path:" "$modules/modules.dep" | cut -d: -f2); do
        add_module "$dep"
    done
    order+=("$path")
}
for name in virtio_pci 9pnet_virtio 9p; do
    path=$(grep -o "^[^:]*/$name\.ko" "$modules/modules.dep" | head -n 1)
    [ -n "$path" ] || skip_all "the kernel has no module $name"
    add_module "$path"
done
root=$work/initramfs
mkdir -p "$root/bin" "$root/lib" "$root/proc" "$root/sys" "$root/dev" "$root/newroot"
cp /bin/busybox "$root/bin/busybox"
{
    echo '#!/bin/busybox sh'
    echo '/bin/busybox mount -t proc proc /proc'
    echo '/bin/busybox mount -t devtmpfs dev /dev'
    for path in "${order[@]}"; do
        cp "$modules/$path" "$root/lib/"
        echo "/bin/busybox insmod /lib/$(basename "$path")"
    done
    echo '/bin/busybox mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=524288,cache=loose root /newroot'
    echo '/bin/busybox umount /dev /proc'
    echo "exec /bin/busybox switch_root /newroot /bin/bash $guest $bin $image ${guest_args[*]@Q}"
} >"$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio" ||
    skip_all "cannot pack the initramfs"

start=$(date +%s)
# Not "-cpu max": under it Wine's user-mode iretq faults in the emulation.
timeout $((guest_timeout + 30)) qemu-system-x86_64 \
    -machine pc,accel=tcg -cpu Haswell-v4 -smp 2 -m 2048 \
    -kernel "$kernel" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 quiet loglevel=4" \
    -fsdev local,id=rootfs,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=rootfs,mount_tag=root \
    -fsdev local,id=results,path="$results",security_model=none \
    -device virtio-9p-pci,fsdev=results,mount_tag=results \
    -nographic -monitor none -no-reboot >"$work/console.log" 2>&1
status=$?
echo "VM ran $(($(date +%s) - start)) s (QEMU exit status $status)"

if [ ! -f "$results/booted" ]; then
    tail -n 30 "$work/console.log" >&2
    skip_all "the VM did not boot"
fi
if [ ! -f "$results/finished" ]; then
    tail -n 40 "$work/console.log" >&2
    echo "FAIL: the guest did not finish its scenarios" >&2
    exit 1
fi
cat "$results/summary"
# The same full update over USB and over the loopback, in this one VM.
usb=$(sed -n 's/^usb_seconds //p' "$results/summary")
loopback=$(sed -n 's/^loopback_seconds //p' "$results/summary")
if [ -n "$usb" ] && [ -n "$loopback" ]; then
    echo "full update: $usb s over USB, $loopback s over the loopback," \
        "ratio $(echo "$usb $loopback" | awk '{printf "%.1f", $1 / $2}')"
fi
# One corvane-flash --all with four restarting devices against one alone.
one=$(sed -n 's/^fleet_one_seconds //p' "$results/summary")
four=$(sed -n 's/^fleet_four_seconds //p' "$results/summary")
if [ -n "$one" ] && [ -n "$four" ]; then
    echo "--all with restarts: one device $one s, four at once $four s," \
        "ratio $(echo "$four $one" | awk '{printf "%.2f", $1 / $2}')"
fi
exit 0
