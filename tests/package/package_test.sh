#!/usr/bin/env bash
# The Debian package as a user gets it: written from this build tree,
# unpacked into a scratch root, its programs run from there with nothing of
# the build on the library path, and checked by Debian's validators.
#   package_test.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
src=$1
build=$2
version=$3

for tool in dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli \
    Xvfb gio xwininfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Installed programs, run as from a desktop: no build paths, no display.
run() {
    env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run" "$@"
}
mkdir -m 0700 "$work/run"

deb=$("$src/packaging/linux/write-deb" "$build" "$work/out")
[ "$(basename "$deb")" = "corvane-updater_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package named $(basename "$deb")"
root="$work/root"
dpkg-deb -x "$deb" "$root"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# The dependencies come from the binaries' libraries.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 librtmidi6 libstdc++6 libc6; do
    [[ "$depends" == *"$library "* ]] || fail "Depends lacks $library: $depends"
done

# Exactly the five programs, each with its version and its manual page.
programs=(corvane-devsim corvane-flash corvane-image corvane-updater corvane-updater-demo)
[ "$(ls "$root/usr/bin")" = "$(printf '%s\n' "${programs[@]}")" ] ||
    fail "usr/bin holds: $(ls "$root/usr/bin" | tr '\n' ' ')"
for program in "${programs[@]}"; do
    answer=$(run "$root/usr/bin/$program" --version)
    [ "$answer" = "$program $version" ] || fail "$program --version said '$answer'"
    man=$root/usr/share/man/man1/$program.1.gz
    [ -f "$man" ] || fail "no manual page for $program"
    warnings=$(zcat "$man" | LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l - 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "manual page of $program: $warnings"
done

# The icon at every size, each a PNG of that many pixels square.
for size in 16 22 24 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/corvane-updater.png
    [ -f "$icon" ] || fail "no ${size}x$size icon"
    [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
        fail "$icon is no PNG"
    # Width and height, big-endian, at bytes 16 to 23 of the header.
    dims=$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ')
    side=$(printf ' 0 0 %d %d' $((size / 256)) $((size % 256)))
    [ "$dims" = "$side$side" ] || fail "$icon measures$dims"
done

# The desktop entry and the metadata name what the package holds.
desktop=$root/usr/share/applications/corvane-updater.desktop
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml)
grep -qx 'Exec=corvane-updater' "$desktop" || fail "desktop entry starts something else"
grep -qx 'Icon=corvane-updater' "$desktop" || fail "desktop entry shows another icon"
grep -q '<launchable type="desktop-id">corvane-updater.desktop</launchable>' "$metainfo" ||
    fail "metadata launches another entry"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metadata names another release"
[ -f "$root/usr/share/doc/corvane-updater/copyright" ] || fail "no copyright file"

# The installed console flasher updates its simulated device ...
flash_log=$(run "$root/usr/bin/corvane-flash" --simulate 2>&1) ||
    fail "corvane-flash --simulate: $flash_log"
grep -q '^completed in ' <<<"$flash_log" || fail "corvane-flash said: $flash_log"
# ... and the installed demo window completes its update, replug and all.
demo_log=$(run "$root/usr/bin/corvane-updater-demo" --unattended 2>&1) ||
    fail "corvane-updater-demo --unattended: $demo_log"
# ... and the desktop entry starts the installed updater's window on a display.
launch_log=$("$src/tests/package/desktop_launch.sh" "$root" "$work" 2>&1) ||
    fail "$launch_log"
grep -v '^ALSA lib\|^QStandardPaths' <<<"$launch_log" || true

echo "desktop-file-validate:"
desktop_log=$(desktop-file-validate "$desktop" 2>&1) || fail "$desktop_log"
[ -z "$desktop_log" ] || fail "$desktop_log"
echo "  clean"
echo "appstreamcli validate --no-net:"
appstreamcli validate --no-net "$metainfo" 2>&1 | sed 's/^/  /' ||
    fail "metadata refused"
echo "lintian:"
lintian_status=0
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian.log" | sed 's/^/  /' || true
[ "$lintian_status" -eq 0 ] || fail "lintian found errors or warnings"
echo "  no errors, no warnings"
# Installable on this system with apt: every dependency resolves.
if [ "$(id -u)" -eq 0 ]; then
    apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
        fail "apt cannot install it: $(cat "$work/apt.log")"
    grep -q '^Inst corvane-updater ' "$work/apt.log" || fail "$(cat "$work/apt.log")"
    echo "apt-get install --simulate: resolves"
fi
echo "package: all checks passed"
