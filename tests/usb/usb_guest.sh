#!/usr/bin/env bash
# Runs inside the VM as its first process, on the host's root file system
# (read-only): loads the USB and sound modules, then runs each scenario with
# corvane-devsim as a USB MIDI gadget on dummy_hcd and the updater on the host
# side of the same kernel, which sees the gadget as a plugged-in USB MIDI
# device through snd-usb-audio. Each scenario leaves NAME.result (PASS or
# FAIL: why) and NAME.log in the results share.
#   usb_guest.sh BIN_DIR IMAGE_FILE [SCENARIO...]
# Powers the VM off at the end.
set -uo pipefail

bin=$1
image=$2
shift 2
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(rawmidi full restart low_battery rawmidi_port busy window loopback)
source "$(dirname "$0")/guest_common.sh"

for module in configfs dummy_hcd libcomposite usb_f_midi snd-usb-audio snd-seq snd-seq-midi; do
    modprobe "$module" || echo "modprobe $module failed" >>"$results/modules.log"
done
mount -t configfs none /sys/kernel/config
# Without its sequencer device nodes the sequencer part of the backend lists nothing.
[ -e /dev/snd/seq ] || echo "no /dev/snd/seq" >>"$results/modules.log"

# ---- helpers -------------------------------------------------------------
# The host side's card of the gadget, once snd-usb-audio has enumerated it.
host_card_up() {
    grep -q "$product" /proc/asound/cards
}

wait_host_card() {
    for _ in $(seq 300); do
        host_card_up && return 0
        sleep 0.1
    done
    return 1
}

# corvane-devsim is the gadget unless devsim_link says otherwise; it is there
# once the host sees the device.
devsim_link=(--usb-gadget auto)
devsim_visible() {
    wait_host_card
}

# ---- scenarios -----------------------------------------------------------
# The raw MIDI backend's own tests on the link (a gadget of their own).
rawmidi_scenario() {
    timeout 120 "$bin/usb_rawmidi_test" >"$work/rawmidi.out" 2>&1
    local status=$?
    cat "$work/rawmidi.out" >&2
    [ $status -eq 0 ] || { fail "usb_rawmidi_test exited with $status"; return; }
    ! grep -q '\[  SKIPPED \]' "$work/rawmidi.out" || fail "usb_rawmidi_test skipped tests"
}

full_scenario() {
    start_devsim "$work/full.devsim" --exit-after-update --flash-dump "$work/full.flash" ||
        { cat "$work/full.devsim" >&2; fail "the gadget did not appear on the host side"; return; }
    "$bin/corvane-flash" --list >&2
    timeout 200 "$bin/corvane-flash" >"$work/full.out" 2>"$work/full.err"
    local status=$?
    cat "$work/full.out" "$work/full.err" >&2
    [ $status -eq 0 ] || { fail "corvane-flash exited with $status"; return; }
    devsim_exited || { fail "corvane-devsim did not exit cleanly"; return; }
    flash_matches "$work/full.flash" || { fail "the flash dump differs from the payloads"; return; }
    echo "usb_seconds $(elapsed "$work/full.out")" >>"$summary"
}

restart_scenario() {
    local before after
    before=$(dmesg | grep -c 'New USB device found')
    start_devsim "$work/restart.devsim" --prepare restart --restart-delay 1000 \
        --exit-after-update --flash-dump "$work/restart.flash" \
        --transcript "$work/restart.transcript" ||
        { fail "the gadget did not appear on the host side"; return; }
    timeout 200 "$bin/corvane-flash" >"$work/restart.out" 2>"$work/restart.err"
    local status=$?
    cat "$work/restart.out" "$work/restart.err" >&2
    [ $status -eq 0 ] || { fail "corvane-flash exited with $status"; return; }
    devsim_exited || { fail "corvane-devsim did not exit cleanly"; return; }
    grep -q '^hint: Please restart the device.$' "$work/restart.out" ||
        { fail "no restart hint shown"; return; }
    local identities
    identities=$(grep -c '^> F0 7E 00 06 01 F7$' "$work/restart.transcript")
    [ "$identities" -eq 2 ] || { fail "expected 2 identity requests, the device got $identities"; return; }
    after=$(dmesg | grep -c 'New USB device found')
    # Enumerated at the start and again after the restart's disconnect (which
    # the second enumeration implies).
    [ $((after - before)) -ge 2 ] ||
        { fail "expected 2 enumerations, the host saw $((after - before))"; return; }
    flash_matches "$work/restart.flash" || { fail "the flash dump differs from the payloads"; return; }
}

low_battery_scenario() {
    start_devsim "$work/battery.devsim" --prepare low-battery ||
        { fail "the gadget did not appear on the host side"; return; }
    timeout 60 "$bin/corvane-flash" >"$work/battery.out" 2>"$work/battery.err"
    local status=$?
    cat "$work/battery.out" "$work/battery.err" >&2
    [ $status -eq 1 ] || { fail "corvane-flash exited with $status, expected 1"; return; }
    grep -qx 'Error: Low Battery' "$work/battery.err" || { fail "no 'Low Battery' error"; return; }
    devsim_exited terminate || { fail "corvane-devsim did not exit cleanly"; return; }
}

# Another program holds the device's input: the updater says it cannot open it.
busy_scenario() {
    start_devsim "$work/busy.devsim" || { fail "the gadget did not appear on the host side"; return; }
    local card
    card=$(grep -F "$product" /proc/asound/cards | head -n 1 | awk '{print $1}')
    exec 3</dev/snd/midiC${card}D0
    timeout 60 "$bin/corvane-flash" >"$work/busy.out" 2>"$work/busy.err"
    local status=$?
    exec 3<&-
    cat "$work/busy.out" "$work/busy.err" >&2
    [ $status -eq 1 ] || { fail "corvane-flash exited with $status, expected 1"; return; }
    grep -qx "Error: Can't open MIDI In device." "$work/busy.err" ||
        { fail "no 'Can't open MIDI In device.' error"; return; }
}

window_scenario() {
    start_devsim "$work/window.devsim" --exit-after-update --flash-dump "$work/window.flash" ||
        { fail "the gadget did not appear on the host side"; return; }
    timeout 200 "$bin/usb_window_driver" >&2
    local status=$?
    [ $status -eq 0 ] || { fail "the window did not complete the update ($status)"; return; }
    devsim_exited || { fail "corvane-devsim did not exit cleanly"; return; }
    flash_matches "$work/window.flash" || { fail "the flash dump differs from the payloads"; return; }
}

# corvane-devsim on a gadget it did not make, found by the gadget side's name.
rawmidi_port_scenario() {
    local gadget=/sys/kernel/config/usb_gadget/corvane-rig
    mkdir -p "$gadget/strings/0x409" "$gadget/configs/c.1/strings/0x409" \
        "$gadget/functions/midi.usb0"
    echo 0x1d6b >"$gadget/idVendor"
    echo 0x0104 >"$gadget/idProduct"
    echo "$product" >"$gadget/strings/0x409/product"
    echo MIDI >"$gadget/configs/c.1/strings/0x409/configuration"
    ln -s "$gadget/functions/midi.usb0" "$gadget/configs/c.1/"
    ls /sys/class/udc | head -n 1 >"$gadget/UDC"
    devsim_link=(--rawmidi f_midi)
    start_devsim "$work/port.devsim" --prepare low-battery
    local started=$?
    devsim_link=(--usb-gadget auto)
    if [ $started -eq 0 ]; then
        timeout 60 "$bin/corvane-flash" >"$work/port.out" 2>"$work/port.err"
        local status=$?
        cat "$work/port.devsim" "$work/port.out" "$work/port.err" >&2
        stop_devsim
        if [ $status -ne 1 ]; then
            fail "corvane-flash exited with $status, expected 1"
        elif ! grep -qx 'Error: Low Battery' "$work/port.err"; then
            fail "no 'Low Battery' error"
        fi
    else
        cat "$work/port.devsim" >&2
        fail "corvane-devsim did not answer on the gadget's port"
    fi
    echo >"$gadget/UDC"
    rm "$gadget/configs/c.1/midi.usb0"
    rmdir "$gadget/configs/c.1/strings/0x409" "$gadget/configs/c.1" \
        "$gadget/functions/midi.usb0" "$gadget/strings/0x409" "$gadget"
}

# The same update on the in-process loopback in this VM, for the comparison.
loopback_scenario() {
    timeout 200 "$bin/corvane-flash" --simulate >"$work/loopback.out" 2>"$work/loopback.err"
    local status=$?
    cat "$work/loopback.out" "$work/loopback.err" >&2
    [ $status -eq 0 ] || { fail "corvane-flash --simulate exited with $status"; return; }
    echo "loopback_seconds $(elapsed "$work/loopback.out")" >>"$summary"
}

for name in "${scenarios[@]}"; do
    scenario "$name"
done
dmesg >"$results/dmesg.log"
mkdir -p "$results/files"
cp "$work"/*.transcript "$work"/*.devsim "$work"/*.out "$work"/*.err "$results/files/" 2>/dev/null
date +%s >"$results/finished"
