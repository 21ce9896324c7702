#!/usr/bin/env bash
# Starts the updater from the desktop entry of an unpacked package, as a
# desktop's launcher does (GIO), on a virtual X display of its own, and checks
# that the window that comes up belongs to the installed program and to the
# entry; then ends the program and the display.
#   desktop_launch.sh ROOT WORK_DIR
set -uo pipefail
root=$1 work=$2
program=$root/usr/bin/corvane-updater
title='BRAX Corvane System v1.10 Updater'

# The processes running the installed updater.
launched() {
    local exe
    for exe in /proc/[0-9]*/exe; do
        [ "$(readlink "$exe" 2>/dev/null)" = "$program" ] && basename "$(dirname "$exe")"
    done
}
server=
trap 'pids=$(launched); [ -n "$pids" ] && kill $pids 2>/dev/null; [ -n "$server" ] && kill $server && wait $server' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The server picks a free display itself and names it once it takes clients,
# so runs side by side cannot end up on each other's display. It must not
# reset when its last client leaves: the look for the window below connects
# and leaves every 100 ms, and a program connecting while the server resets
# is turned away ("could not connect to display").
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
server=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "the virtual display did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(cat "$work/display")
# The X window with the updater's title, as xwininfo lists it: 0x... "title": ...
# A copy started while another runs elsewhere on the machine has its number
# after the title.
window_id() {
    xwininfo -root -tree |
        awk -v t="\"$title" '{ at = index($0, t) } at && substr($0, at + length(t)) ~ /^( \([0-9]+\))?":/ {
            print $1; exit
        }'
}

env -u LD_LIBRARY_PATH -u QT_QPA_PLATFORM PATH="$root/usr/bin:$PATH" \
    XDG_DATA_DIRS="$root/usr/share:/usr/share" XDG_RUNTIME_DIR="$work/run" \
    gio launch "$root/usr/share/applications/corvane-updater.desktop" ||
    fail "gio could not launch the desktop entry"
id=
for _ in $(seq 300); do
    id=$(window_id)
    [ -n "$id" ] && break
    sleep 0.1
done
[ -n "$id" ] || fail "no window titled '$title' within 30 s"

pid=$(xprop -id "$id" _NET_WM_PID | awk '{ print $3 }')
[ "$(readlink "/proc/$pid/exe")" = "$program" ] ||
    fail "the window belongs to $(readlink "/proc/$pid/exe"), not the installed updater"
# Launchers tie a window to its entry by the window's class.
wm_class=$(xprop -id "$id" WM_CLASS | sed 's/^[^=]*= //')
entry_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/corvane-updater.desktop")
[[ "$wm_class" == *"\"$entry_class\"" ]] ||
    fail "the window's class is $wm_class, the entry's $entry_class"
echo "desktop entry: started the installed corvane-updater, window class $wm_class"
