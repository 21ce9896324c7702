# What the VM's guests share, sourced by each as it starts on the host's root
# file system (read-only): the mounts, the results share, power-off at the
# end, corvane-devsim's start and end, and the scenario bookkeeping. Every
# writable thing lives in a tmpfs on /run, so that no directory of the shared
# root is covered (the build under test may be anywhere, /tmp too).
# The guest sets bin, image and (for start_devsim) devsim_link and
# devsim_visible before it calls them.

results=/run/results
export PATH=/usr/sbin:/usr/bin:/sbin:/bin

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs run /run
mkdir -p "$results"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 results "$results"
echo 1 >/proc/sys/kernel/sysrq
date +%s >"$results/booted"

power_off() {
    sync
    echo o >/proc/sysrq-trigger
    sleep 60
}
trap power_off EXIT

export HOME=/run/home TMPDIR=/run/tmp XDG_RUNTIME_DIR=/run/xdg QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# The programs keep their instance locks below /tmp, which the read-only
# shared root cannot hold: /tmp gets a writable layer on top, so that whatever
# lives below it (the build under test, perhaps) stays in view.
mkdir -p /run/tmp-upper /run/tmp-work
if ! { modprobe overlay &&
       mount -t overlay overlay -o lowerdir=/tmp,upperdir=/run/tmp-upper,workdir=/run/tmp-work /tmp; }; then
    echo "no writable /tmp" >>"$results/modules.log"
fi

work=/run/work
mkdir -p "$work"
summary=$results/summary
: >"$summary"
product="BRAX Lumen Series"
devsim_pid=""
devsim_link=()
# The further corvane-devsim processes of a scenario with several devices,
# ended with the scenario as devsim_pid is.
devsim_pids=()

stop_process() {
    local pid=$1
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

stop_devsim() {
    local pid
    for pid in $devsim_pid "${devsim_pids[@]}"; do
        stop_process "$pid"
    done
    devsim_pid=""
    devsim_pids=()
}

# Starts corvane-devsim on devsim_link (its own sequencer ports when empty)
# and waits until it is ready and devsim_visible says the updater's side can
# see it.
start_devsim() {
    local log=$1
    shift
    "$bin/corvane-devsim" "${devsim_link[@]}" "$@" >"$log" 2>&1 &
    devsim_pid=$!
    for _ in $(seq 300); do
        grep -q ready "$log" && break
        kill -0 "$devsim_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    devsim_visible
}

# Waits for process PID to end by itself (or after SIGTERM with
# "terminate"); false unless it exited with 0.
process_exited() {
    local pid=$1 status=""
    [ "${2:-}" = terminate ] && kill -TERM "$pid"
    for _ in $(seq 200); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            status=$?
            break
        fi
        sleep 0.1
    done
    [ "$status" = 0 ]
}

# The same for corvane-devsim.
devsim_exited() {
    process_exited "$devsim_pid" "${1:-}"
    local status=$?
    devsim_pid=""
    return $status
}

# The payloads must stand in flash: INFO (image bytes 512..4607) at 0x149000,
# MAIN (image bytes 4864..926463) at 0x68000.
flash_matches() {
    local dump=$1
    [ -f "$dump" ] &&
        cmp -s -n 4096 -i 512:$((0x149000)) "$image" "$dump" &&
        cmp -s -n 921600 -i 4864:$((0x68000)) "$image" "$dump"
}

# The seconds of "completed in X s" in a corvane-flash summary.
elapsed() {
    sed -n 's/.*completed in \([0-9.]*\) s.*/\1/p' "$1" | tail -n 1
}

# scenario NAME: runs NAME_scenario, records its verdict (what it prints, or
# PASS) and its log.
scenario() {
    local name=$1 status verdict start
    local log=$results/$name.log
    echo "== $name" >"$log"
    start=$(date +%s)
    "${name}_scenario" >"$work/$name.verdict" 2>>"$log"
    status=$?
    stop_devsim
    verdict=$(head -n 1 "$work/$name.verdict")
    if [ -z "$verdict" ]; then
        verdict=PASS
        [ $status -eq 0 ] || verdict="FAIL: the scenario ended with status $status"
    fi
    echo "$verdict" >"$results/$name.result"
    echo "$name: $verdict ($(($(date +%s) - start)) s)" >>"$summary"
}

fail() {
    echo "FAIL: $*"
    return 1
}
