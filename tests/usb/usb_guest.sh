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
[ ${#scenarios[@]} -gt 0 ] ||
    scenarios=(rawmidi full restart low_battery rawmidi_port busy window loopback
               fleet fleet_faults fleet_wait)
source "$(dirname "$0")/guest_common.sh"

# Four controllers, each a host and a device side of a USB bus of its own, so
# that four gadgets can be plugged in at once.
gadgets=4
for module in configfs "dummy_hcd num=$gadgets" libcomposite usb_f_midi snd-usb-audio snd-seq \
              snd-seq-midi; do
    # shellcheck disable=SC2086 # a module's parameters are words of their own
    modprobe $module || echo "modprobe $module failed" >>"$results/modules.log"
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

# ---- several gadgets -----------------------------------------------------
# How long a gadget of the four-device runs stays away for its restart, in
# ms: a run sees its device go by the port lists, looked at about once a
# second, and with four devices and their runs on two emulated cores a look
# takes a while; a shorter absence can fall between two looks.
fleet_restart=2500

# The USB device controllers, the first one first.
controllers() {
    ls /sys/class/udc | sort -V
}

# first_controllers N: the first N controllers, one a word (no process
# substitution: the guest's /dev has no /dev/fd).
first_controllers() {
    controllers | head -n "$1" | tr '\n' ' '
}

# Where the host side sees the gadget of device controller UDC: port 1 of the
# root hub of the bus whose host controller is UDC's partner.
socket_of() {
    local hcd=/sys/bus/platform/devices/${1/dummy_udc/dummy_hcd} bus
    bus=$(basename "$(ls -d "$hcd"/usb[0-9]*)")
    echo "${bus#usb}-1"
}

# Whether snd-usb-audio has a sound card on the device at SOCKET.
card_at() {
    compgen -G "/sys/bus/usb/devices/$1:*/sound/card*" >/dev/null
}

# start_gadget UDC LOG [device option...]: corvane-devsim as a gadget on UDC,
# once the host side has its sound card. Its pid goes to devsim_pids.
start_gadget() {
    local udc=$1 log=$2 socket pid
    shift 2
    socket=$(socket_of "$udc")
    "$bin/corvane-devsim" --usb-gadget "$udc" "$@" >"$log" 2>&1 &
    pid=$!
    devsim_pids+=("$pid")
    for _ in $(seq 300); do
        card_at "$socket" && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$log" >&2
    return 1
}

# Waits until a line of FILE matches PATTERN (a minute and a half at most,
# one update's time alongside others).
wait_for_line() {
    for _ in $(seq 900); do
        grep -q "$2" "$1" && return 0
        sleep 0.1
    done
    return 1
}

# The wall time of a run of its own, in seconds with milliseconds.
seconds_since() {
    echo "$(date +%s.%N) $1" | awk '{printf "%.3f", $1 - $2}'
}

# The OUTCOME column of the rows of SOCKET in the end table of FILE.
outcome_at() {
    awk -F '  +' -v socket="$2" 'table && $2 == socket {print $4} /^# +SOCKET/ {table = 1}' "$1"
}

# The SOCKET column of the end table of FILE, sorted.
table_sockets() {
    awk -F '  +' 'table {print $2} /^# +SOCKET/ {table = 1}' "$1" | sort
}

# Every device of the end table of FILE at one of the SOCKETs, each once,
# and each with its own USB socket: a run that followed a neighbour after a
# restart, or by name, would show here.
sockets_are() {
    local file=$1 expected actual
    shift
    expected=$(printf '%s\n' "$@" | sort)
    actual=$(table_sockets "$file")
    [ "$actual" = "$expected" ] ||
        { fail "the report's sockets are ${actual//$'\n'/ }, expected ${expected//$'\n'/ }"; return; }
}

# How often the host has enumerated a device at SOCKET so far.
enumerations_at() {
    dmesg | grep -c "usb $1: New USB device found"
}

# fleet_of NAME N: one corvane-flash --all with a restarting gadget on each of
# the first N controllers; leaves its wall time in NAME.seconds. Every device
# must be restarted (re-enumerated), updated whole and reported at its own
# socket.
fleet_of() {
    local name=$1 count=$2 status i udc socket
    local -a udcs=() sockets=() before=()
    read -r -a udcs <<<"$(first_controllers "$count")"
    [ ${#udcs[@]} -eq "$count" ] || { fail "expected $count USB device controllers"; return; }
    for i in "${!udcs[@]}"; do
        udc=${udcs[$i]}
        sockets[i]=$(socket_of "$udc")
        before[i]=$(enumerations_at "${sockets[$i]}")
        start_gadget "$udc" "$work/$name-$i.devsim" --prepare restart --restart-delay "$fleet_restart" \
            --exit-after-update --flash-dump "$work/$name-$i.flash" \
            --transcript "$work/$name-$i.transcript" ||
            { fail "the gadget on $udc did not appear on the host side"; return; }
    done
    local start
    start=$(date +%s.%N)
    timeout 200 "$bin/corvane-flash" --all >"$work/$name.out" 2>"$work/$name.err"
    status=$?
    seconds_since "$start" >"$work/$name.seconds"
    cat "$work/$name.out" "$work/$name.err" >&2
    [ $status -eq 0 ] || { fail "corvane-flash --all exited with $status"; return; }
    sockets_are "$work/$name.out" "${sockets[@]}" || return
    for i in "${!udcs[@]}"; do
        socket=${sockets[$i]}
        process_exited "${devsim_pids[$i]}" ||
            { fail "corvane-devsim at $socket did not exit cleanly"; return; }
        [ "$(outcome_at "$work/$name.out" "$socket")" = completed ] ||
            { fail "the device at $socket did not complete"; return; }
        [ "$(grep -c "^#[0-9]* $socket: restart into update mode$" "$work/$name.out")" -eq 1 ] ||
            { fail "no restart reported for the device at $socket"; return; }
        [ $(($(enumerations_at "$socket") - before[i])) -ge 2 ] ||
            { fail "the device at $socket was not enumerated again after its restart"; return; }
        flash_matches "$work/$name-$i.flash" ||
            { fail "the flash dump of the device at $socket differs from the payloads"; return; }
    done
    devsim_pids=()
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

# Four devices, each restarting into its update mode, updated by one
# corvane-flash --all; one alone before them, for the comparison of the times.
fleet_scenario() {
    fleet_of fleet-one 1 || return
    fleet_of fleet-four $gadgets || return
    echo "fleet_one_seconds $(cat "$work/fleet-one.seconds")" >>"$summary"
    echo "fleet_four_seconds $(cat "$work/fleet-four.seconds")" >>"$summary"
}

# One device at low battery, one that vanishes in the middle of the data, two
# that restart into update mode: the two complete, the report says why the
# others failed.
fleet_faults_scenario() {
    local -a udcs=() sockets=()
    local i status
    read -r -a udcs <<<"$(first_controllers 4)"
    [ ${#udcs[@]} -eq 4 ] || { fail "expected 4 USB device controllers"; return; }
    for i in 0 1 2 3; do
        sockets[i]=$(socket_of "${udcs[$i]}")
    done
    start_gadget "${udcs[0]}" "$work/faults-0.devsim" --transcript "$work/faults-0.transcript" --prepare low-battery &&
        start_gadget "${udcs[1]}" "$work/faults-1.devsim" --transcript "$work/faults-1.transcript" --fault vanish:block:40 &&
        start_gadget "${udcs[2]}" "$work/faults-2.devsim" --transcript "$work/faults-2.transcript" --prepare restart \
            --restart-delay "$fleet_restart" --exit-after-update --flash-dump "$work/faults-2.flash" &&
        start_gadget "${udcs[3]}" "$work/faults-3.devsim" --transcript "$work/faults-3.transcript" --prepare restart \
            --restart-delay "$fleet_restart" --exit-after-update --flash-dump "$work/faults-3.flash" ||
        { fail "a gadget did not appear on the host side"; return; }
    timeout 200 "$bin/corvane-flash" --all >"$work/faults.out" 2>"$work/faults.err"
    status=$?
    cat "$work/faults.out" "$work/faults.err" >&2
    [ $status -eq 1 ] || { fail "corvane-flash --all exited with $status, expected 1"; return; }
    sockets_are "$work/faults.out" "${sockets[@]}" || return
    local -a expected=("Low Battery" "Time out error(2)" completed completed)
    for i in 0 1 2 3; do
        local outcome
        outcome=$(outcome_at "$work/faults.out" "${sockets[$i]}")
        [ "$outcome" = "${expected[$i]}" ] ||
            { fail "the device at ${sockets[$i]} ended with '$outcome', expected '${expected[$i]}'"
              return; }
    done
    for i in 2 3; do
        process_exited "${devsim_pids[$i]}" ||
            { fail "corvane-devsim at ${sockets[$i]} did not exit cleanly"; return; }
        flash_matches "$work/faults-$i.flash" ||
            { fail "the flash dump of the device at ${sockets[$i]} differs from the payloads"
              return; }
    done
}

# corvane-flash --all --wait takes the device there at its start and one
# plugged in later (restarting into update mode, which is no second plug), and
# ends on SIGINT with its table.
fleet_wait_scenario() {
    local -a udcs=() sockets=()
    local flash status
    read -r -a udcs <<<"$(first_controllers 2)"
    [ ${#udcs[@]} -eq 2 ] || { fail "expected 2 USB device controllers"; return; }
    sockets=("$(socket_of "${udcs[0]}")" "$(socket_of "${udcs[1]}")")
    start_gadget "${udcs[0]}" "$work/wait-0.devsim" --exit-after-update \
        --flash-dump "$work/wait-0.flash" ||
        { fail "the first gadget did not appear on the host side"; return; }
    timeout 200 "$bin/corvane-flash" --all --wait >"$work/wait.out" 2>"$work/wait.err" &
    flash=$!
    wait_for_line "$work/wait.out" "^#1 ${sockets[0]}: found " ||
        { stop_process $flash; fail "corvane-flash --wait did not find the first device"; return; }
    start_gadget "${udcs[1]}" "$work/wait-1.devsim" --prepare restart --restart-delay "$fleet_restart" \
        --exit-after-update --flash-dump "$work/wait-1.flash" ||
        { stop_process $flash; fail "the second gadget did not appear on the host side"; return; }
    wait_for_line "$work/wait.out" "^#2 ${sockets[1]}: completed in " ||
        { stop_process $flash; fail "the second device was not updated"; return; }
    # Each device ends itself after its closing request.
    process_exited "${devsim_pids[0]}" && process_exited "${devsim_pids[1]}" ||
        { stop_process $flash; fail "a device did not exit cleanly after its update"; return; }
    kill -INT $flash
    for _ in $(seq 100); do
        kill -0 $flash 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 $flash 2>/dev/null; then
        stop_process $flash
        fail "SIGINT did not end corvane-flash --all --wait"
        return
    fi
    wait $flash
    status=$?
    cat "$work/wait.out" "$work/wait.err" >&2
    [ "$(grep -c ': found ' "$work/wait.out")" -eq 2 ] ||
        { fail "expected 2 devices found, the restart counted as a new plug"; return; }
    [ $status -eq 0 ] || { fail "corvane-flash --all --wait exited with $status"; return; }
    sockets_are "$work/wait.out" "${sockets[@]}" || return
    [ "$(outcome_at "$work/wait.out" "${sockets[0]}")" = completed ] &&
        [ "$(outcome_at "$work/wait.out" "${sockets[1]}")" = completed ] ||
        { fail "not both devices completed"; return; }
    flash_matches "$work/wait-0.flash" && flash_matches "$work/wait-1.flash" ||
        { fail "a flash dump differs from the payloads"; return; }
}

for name in "${scenarios[@]}"; do
    scenario "$name"
done
dmesg >"$results/dmesg.log"
mkdir -p "$results/files"
cp "$work"/*.transcript "$work"/*.devsim "$work"/*.out "$work"/*.err "$results/files/" 2>/dev/null
date +%s >"$results/finished"
