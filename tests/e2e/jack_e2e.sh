#!/usr/bin/env bash
# The updater and the simulated device as two processes talking over a real
# MIDI stack: a JACK server with the dummy driver, owned by this script.
#   jack_e2e.sh BIN_DIR IMAGE_FILE WORK_DIR
# Exit status: 0 passed, 1 failed, 77 skipped (no JACK server could start).
set -uo pipefail

bin=$1
image=$2
work=$3
skip=77

mkdir -p "$work"
rm -f "$work"/*

jackd_pid=""
devsim_pid=""

stop() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
cleanup() {
    stop "$devsim_pid"
    stop "$jackd_pid"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if ! command -v jackd >/dev/null; then
    echo "SKIP: jackd is not installed" >&2
    exit $skip
fi

# A server of our own name, so that other JACK servers on the machine are
# neither disturbed nor used. A period of 1024 frames at 48 kHz carries blocks
# of 4,700 bytes without loss on a loaded 2-core machine; 5.3 ms or less does not.
export JACK_DEFAULT_SERVER="corvane-e2e-$$"
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 1024 >"$work/jackd.log" 2>&1 &
jackd_pid=$!

# The server is up once a client can reach it.
up=""
for _ in $(seq 100); do
    kill -0 "$jackd_pid" 2>/dev/null || break
    if jack_lsp >/dev/null 2>&1; then
        up=1
        break
    fi
    sleep 0.1
done
if [ -z "$up" ]; then
    echo "SKIP: the JACK server did not start:" >&2
    tail -n 5 "$work/jackd.log" >&2
    exit $skip
fi

# Starts corvane-devsim with the given options and waits until its ports are there.
start_devsim() {
    local log=$1
    shift
    "$bin/corvane-devsim" "$@" >"$log" 2>&1 &
    devsim_pid=$!
    for _ in $(seq 100); do
        grep -q 'ready' "$log" && return 0
        kill -0 "$devsim_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$log" >&2
    fail "corvane-devsim did not open its ports"
}

# Waits for corvane-devsim to end by itself (or, with "terminate", after
# SIGTERM) and checks that it ended cleanly.
devsim_exited() {
    local status=""
    [ "${1:-}" = terminate ] && kill -TERM "$devsim_pid"
    for _ in $(seq 100); do
        if ! kill -0 "$devsim_pid" 2>/dev/null; then
            wait "$devsim_pid"
            status=$?
            break
        fi
        sleep 0.1
    done
    [ -n "$status" ] || fail "corvane-devsim did not exit after the update"
    [ "$status" -eq 0 ] || fail "corvane-devsim exited with $status"
    devsim_pid=""
}

# The payloads must stand in flash: INFO (image bytes 512..4607) at 0x149000,
# MAIN (image bytes 4864..926463) at 0x68000.
check_flash() {
    local dump=$1
    [ -f "$dump" ] || fail "no flash dump $dump"
    cmp -s -n 4096 -i 512:$((0x149000)) "$image" "$dump" || fail "INFO payload differs in $dump"
    cmp -s -n 921600 -i 4864:$((0x68000)) "$image" "$dump" || fail "MAIN payload differs in $dump"
}

run_flash() {
    local name=$1
    shift
    timeout 300 "$bin/corvane-flash" "$@" >"$work/$name.out" 2>"$work/$name.err"
}

echo "== full update of the built-in image"
start_devsim "$work/full.devsim" --exit-after-update --flash-dump "$work/full.flash" \
    --transcript "$work/full.transcript"
run_flash full
status=$?
[ $status -eq 0 ] || { cat "$work/full.err" >&2; fail "corvane-flash exited with $status"; }
devsim_exited
check_flash "$work/full.flash"
# Nothing timed out, so nothing was fenced: one version query, 226 blocks.
[ "$(grep -c '^> F0 52 00 6E 64 44 F7$' "$work/full.transcript")" -eq 1 ] ||
    fail "a clean run sent more than one version query"
[ "$(grep -c '^> F0 52 00 6E 02 ' "$work/full.transcript")" -eq 226 ] ||
    fail "a clean run did not send each block once"
tail -n 1 "$work/full.out"

# A device whose flash keeps it busy: it reads nothing for the whole stall,
# then answers everything in order. The update completes.
stalled_update() {
    local name=$1
    shift
    echo "== $name"
    start_devsim "$work/$name.devsim" --exit-after-update --flash-dump "$work/$name.flash" "$@"
    run_flash "$name"
    status=$?
    [ $status -eq 0 ] || { cat "$work/$name.err" >&2; fail "corvane-flash exited with $status"; }
    devsim_exited
    check_flash "$work/$name.flash"
    tail -n 1 "$work/$name.out"
}
stalled_update stall-then-lost --fault busy:block:50:3600 --fault drop:block:51
stalled_update stall-then-refused --fault busy:block:50:3600 --fault refuse:block:51
stalled_update long-stall --fault busy:block:50:10000
# A fence whose answer is lost must not take the next result for it: the last
# block answered late, its fence unanswered, the closing request refused.
stalled_update lost-fence-answer --fault busy:block:226:2500 --fault drop:version:2 \
    --fault refuse:closing:1
# A device that answers no version query while it writes, a block answer lost
# near the end (each block after it costs a wait and a fence more).
stalled_update no-fence-answered --fault drop:version:2x1000 --fault drop:block:220

echo "== a lost version query, then the permission refused"
# The box comes at the refusal, one version wait (60 s) after the start.
start_devsim "$work/permission.devsim" --fault drop:version:1 --fault refuse:permission:1
started=$(date +%s)
run_flash permission
status=$?
took=$(($(date +%s) - started))
[ $status -eq 1 ] || fail "corvane-flash exited with $status, expected 1"
grep -qx 'Error: Cannot be updated to this version.' "$work/permission.err" ||
    fail "no 'Cannot be updated to this version.' error"
[ "$took" -le 66 ] || fail "the box came after $took s, not at the refusal"
devsim_exited terminate
tail -n 1 "$work/permission.out"

echo "== the device restarts into its update mode"
start_devsim "$work/restart.devsim" --prepare restart --restart-delay 1000 --exit-after-update \
    --flash-dump "$work/restart.flash" --transcript "$work/restart.transcript"
run_flash restart
status=$?
[ $status -eq 0 ] || { cat "$work/restart.err" >&2; fail "corvane-flash exited with $status"; }
devsim_exited
grep -q '^status: Ready for firmware update!$' "$work/restart.out" || fail "no restart request shown"
grep -q '^hint: Please restart the device.$' "$work/restart.out" || fail "no restart hint shown"
# Two runs: the first asked for the restart, the second found the device back.
identities=$(grep -c '^> F0 7E 00 06 01 F7$' "$work/restart.transcript")
[ "$identities" -eq 2 ] || fail "expected 2 identity requests, the device got $identities"
check_flash "$work/restart.flash"
tail -n 1 "$work/restart.out"

echo "== the device vanishes in the middle of the data"
# Its JACK ports go away; the run must end at once, not after 32 block waits.
start_devsim "$work/vanish.devsim" --fault vanish:block:100
timeout 20 "$bin/corvane-flash" >"$work/vanish.out" 2>"$work/vanish.err"
status=$?
[ $status -ne 124 ] || fail "the run did not end when the device went"
[ $status -eq 1 ] || fail "corvane-flash exited with $status, expected 1"
grep -qx 'Error: Time out error(2)' "$work/vanish.err" || fail "no 'Time out error(2)' error"
devsim_exited terminate
tail -n 1 "$work/vanish.out"

echo "== a device with a weak battery"
start_devsim "$work/battery.devsim" --prepare low-battery
run_flash battery
status=$?
[ $status -eq 1 ] || fail "corvane-flash exited with $status, expected 1"
grep -qx 'Error: Low Battery' "$work/battery.err" || fail "no 'Low Battery' error"
devsim_exited terminate
tail -n 1 "$work/battery.out"

echo "PASS"
