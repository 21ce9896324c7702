#!/usr/bin/env bash
# The Windows programs under Wine on the kernel's ALSA sequencer, in the USB
# rig's VM (the machine running the tests has no sound devices): boots a Wine
# prefix here, then the VM with tests/usb/wine_guest.sh.
#   wine_vm.sh LINUX_BIN_DIR IMAGE_FILE WINDOWS_BIN_DIR WINE_RUN WORK_DIR
# Exit status as usb_vm.sh's: 0 ran, 1 did not finish, 77 skipped.
set -uo pipefail
linux_bin=$1
image=$2
windows_bin=$(realpath "$3")
wine_run=$4
work=$(realpath -m "$5")
usb=$(cd "$(dirname "$0")/../usb" && pwd)

prefix=$work-prefix
"$wine_run" "$prefix" cmd /c exit >/dev/null 2>&1
status=$?
if [ $status -eq 77 ] || [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$work/results"
    echo "SKIP: no Wine prefix could be made" | tee "$work/results/skipped" >&2
    exit 77
fi
# The prefix is the VM's lower layer: nothing may write it while the VM runs.
WINEPREFIX=$prefix wineserver -k 2>/dev/null
WINEPREFIX=$prefix wineserver -w 2>/dev/null

# Boot, Wine's start (a minute or more under emulation) and four scenarios.
exec bash "$usb/usb_vm.sh" --guest "$usb/wine_guest.sh" --timeout 1500 \
    "$linux_bin" "$image" "$work" "$windows_bin" "$prefix"
