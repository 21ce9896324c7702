#!/usr/bin/env bash
# Runs inside the VM as its first process: the Windows programs under Wine,
# whose winmm goes through the kernel's ALSA sequencer, against corvane-devsim
# on sequencer ports of its own and against the sequencer's "Midi Through"
# loopback. Each scenario leaves NAME.result and NAME.log in the results
# share, as usb_guest.sh's do.
#   wine_guest.sh BIN_DIR IMAGE_FILE WINDOWS_BIN_DIR WINE_PREFIX [SCENARIO...]
# BIN_DIR holds the Linux corvane-devsim, WINDOWS_BIN_DIR the Windows
# programs, WINE_PREFIX a prefix booted on the host (booting one in here takes
# over a minute), which gets a writable layer in the VM.
# Wine 8 ends every winmm program with SIGSEGV once the sequencer driver is
# loaded, so a run is judged by what it prints and by its leaving, never by
# its exit code. Powers the VM off at the end.
set -uo pipefail

bin=$1
image=$2
windows_bin=$3
host_prefix=$4
shift 4
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(link full vanish window)
source "$(dirname "$0")/guest_common.sh"

for module in snd-seq snd-seq-dummy; do
    modprobe "$module" || echo "modprobe $module failed" >>"$results/modules.log"
done

# Wine reads a PE file wrongly from the 9p share: the programs run from a copy.
win=/run/win
mkdir -p "$win" /run/prefix /run/prefix-upper /run/prefix-work
for program in corvane-flash corvane-updater midi_link_check window_update_check; do
    cp "$windows_bin/$program.exe" "$win/"
done
mount -t overlay overlay \
    -o lowerdir="$host_prefix",upperdir=/run/prefix-upper,workdir=/run/prefix-work /run/prefix ||
    echo "no writable Wine prefix" >>"$results/modules.log"
export WINEPREFIX=/run/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# One display and one Wine server for every scenario: Wine starts its own
# services once, not once per program.
Xvfb :7 -noreset -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
export DISPLAY=:7
for _ in $(seq 300); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
wineserver -p
start=$(date +%s)
timeout 300 wine cmd /c exit >/dev/null 2>&1
echo "wine_start_seconds $(($(date +%s) - start))" >>"$summary"

# The device is there for Wine once the sequencer lists its client: Wine
# enumerates MIDI ports when a program loads winmm's driver.
devsim_visible() {
    for _ in $(seq 100); do
        grep -q "\"$product\"" /proc/asound/seq/clients && return 0
        sleep 0.1
    done
    return 1
}

# Runs a Windows program with a time limit; its output without Windows' line
# ends.
run_windows() {
    local limit=$1 out=$2 err=$3
    shift 3
    timeout "$limit" wine "$@" 2>"$err.raw" | tr -d '\r' >"$out"
    tr -d '\r' <"$err.raw" | grep -v '^ALSA lib ' >"$err"
}

# No sequencer client of Wine's is left once the program has gone.
wine_ports_closed() {
    ! grep -qi 'wine' /proc/asound/seq/clients
}

# ---- scenarios -----------------------------------------------------------
# Block-sized messages out through winmm and back in through it, joined by
# the sequencer's "Midi Through", one at a time as the updater's conversation
# goes: Wine's sequencer client has room for about one such message on its
# way in, and the sequencer drops what does not fit.
link_scenario() {
    run_windows 600 "$work/link.out" "$work/link.err" "$win/midi_link_check.exe" \
        --in "Midi Through Port-0" --out "Midi Through Port-0" --count 5000 --size 4700 --window 1
    cat "$work/link.out" "$work/link.err" >&2
    grep -q '^link: every message came back once and whole$' "$work/link.out" ||
        { fail "messages were lost, doubled or damaged: $(head -n 1 "$work/link.out")"; return; }
    echo "link $(head -n 1 "$work/link.out")" >>"$summary"
}

full_scenario() {
    start_devsim "$work/full.devsim" --exit-after-update --flash-dump "$work/full.flash" ||
        { cat "$work/full.devsim" >&2; fail "corvane-devsim did not start"; return; }
    run_windows 600 "$work/full.out" "$work/full.err" "$win/corvane-flash.exe"
    cat "$work/full.out" "$work/full.err" >&2
    grep -qx 'status: Firmware update completed.' "$work/full.out" ||
        { fail "corvane-flash.exe did not complete the update"; return; }
    devsim_exited || { fail "corvane-devsim did not exit cleanly"; return; }
    flash_matches "$work/full.flash" || { fail "the flash dump differs from the payloads"; return; }
    wine_ports_closed || fail "Wine's sequencer ports stayed open"
    echo "wine_seconds $(elapsed "$work/full.out")" >>"$summary"
}

# The device's ports go away in the middle of the data: the run ends with the
# block's time-out box and leaves.
vanish_scenario() {
    start_devsim "$work/vanish.devsim" --fault vanish:block:40 ||
        { fail "corvane-devsim did not start"; return; }
    run_windows 300 "$work/vanish.out" "$work/vanish.err" "$win/corvane-flash.exe"
    local status=$?
    cat "$work/vanish.out" "$work/vanish.err" >&2
    [ $status -ne 124 ] || { fail "corvane-flash.exe hung"; return; }
    grep -qx 'Error: Time out error(2)' "$work/vanish.err" ||
        { fail "no 'Time out error(2)' box"; return; }
    wine_ports_closed || fail "Wine's sequencer ports stayed open"
}

window_scenario() {
    start_devsim "$work/window.devsim" --exit-after-update --flash-dump "$work/window.flash" ||
        { fail "corvane-devsim did not start"; return; }
    run_windows 600 "$work/window.out" "$work/window.err" "$win/window_update_check.exe" \
        "$win/corvane-updater.exe" "$results/window.bmp"
    cat "$work/window.out" "$work/window.err" >&2
    grep -qx 'window: completed and closed' "$work/window.out" ||
        { fail "$(grep -m 1 '^FAIL' "$work/window.out" || echo "the window check did not end")"; return; }
    devsim_exited || { fail "corvane-devsim did not exit cleanly"; return; }
    flash_matches "$work/window.flash" || fail "the flash dump differs from the payloads"
}

for name in "${scenarios[@]}"; do
    scenario "$name"
done
wineserver -k
dmesg >"$results/dmesg.log"
date +%s >"$results/finished"
