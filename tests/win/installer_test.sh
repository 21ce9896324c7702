#!/usr/bin/env bash
# The Windows installer in a fresh Wine prefix: a silent install puts the
# programs under Program Files, the shortcuts in the Start menu and the entry in
# Add/Remove Programs; the installed corvane-flash.exe runs a whole update on
# the simulated device, and the shortcuts start the windows (START_MENU_TEST,
# on the display); a silent uninstall takes all of it away again. Written with
# a signing certificate, the installer, the installed programs and the
# uninstaller are signed.
#   installer_test.sh WRITE_INSTALLER BUILD_DIR WINE_RUN OUTPUT_DIR START_MENU_TEST
set -uo pipefail
write_installer=$1 build=$2 wine_run=$3 out=$4 start_menu_test=$5
source "$(dirname "$0")/package_checks.sh"

for tool in makensis wine osslsigncode openssl; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
if [ -z "${DISPLAY:-}" ]; then
  echo "SKIP: no display for the installed programs' windows"
  exit 77
fi
rm -rf "$out"
mkdir -p "$out"
use_test_signer "$out"
installer=$("$write_installer" "$build" "$out" 2>"$out/makensis.log") ||
  { echo "the installer could not be written:"; cat "$out/makensis.log"; exit 1; }
echo "installer: $(basename "$installer"), $(wc -c <"$installer") bytes"
check_signed "$installer"

prefix="$out/prefix"
program_dir="$prefix/drive_c/Program Files/Corvane Updater"
menu_dir="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Corvane Updater"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvaneUpdater'
wine() { "$wine_run" "$prefix" "$@"; }
# Wine's programs, the uninstaller's copy of itself in the temporary folder
# among them, have all ended when the server has.
settle() { WINEPREFIX=$prefix wineserver -w; }


wine "$installer" /S >"$out/install.log" 2>&1
rc=$?
[ $rc -eq 77 ] && { cat "$out/install.log"; exit 77; }
settle
[ $rc -eq 0 ] || fail "the installer exited $rc"
for file in corvane-updater.exe corvane-updater-demo.exe corvane-flash.exe corvane-image.exe \
            README.txt uninstall.exe; do
  [ -f "$program_dir/$file" ] || fail "not installed: $file"
done
for shortcut in "Corvane Updater.lnk" "Corvane Updater Demo.lnk"; do
  [ -s "$menu_dir/$shortcut" ] || fail "no Start-menu shortcut $shortcut"
done
wine reg query "$key" /v UninstallString >"$out/key.log" 2>&1 ||
  fail "no uninstall entry $key"
grep -q 'uninstall.exe' "$out/key.log" || fail "the uninstall entry names no uninstaller"
echo "installed: $(ls "$program_dir" | tr '\n' ' ')"
check_signed "$program_dir"/*.exe

check_simulated_update 'C:\Program Files\Corvane Updater\corvane-flash.exe' installed

wine "$start_menu_test" >"$out/start-menu.log" 2>&1
rc=$?
settle
if [ $rc -ne 0 ] || ! grep -q '\[  PASSED  \] 2 tests' "$out/start-menu.log"; then
  fail "the programs did not start from the Start menu (exit $rc):"
  cat "$out/start-menu.log"
else
  echo "started from the Start menu: the demo completed an update, the updater opened its window"
fi

wine 'C:\Program Files\Corvane Updater\uninstall.exe' /S >"$out/uninstall.log" 2>&1
rc=$?
settle
[ $rc -eq 0 ] || fail "the uninstaller exited $rc"
[ -e "$program_dir" ] && fail "left behind: $(ls -A "$program_dir" | tr '\n' ' ')"
[ -e "$menu_dir" ] && fail "the Start-menu folder is left behind"
wine reg query "$key" >/dev/null 2>&1 && fail "the uninstall entry is left behind"
[ $status -eq 0 ] && echo "uninstalled: no program folder, shortcuts or uninstall entry left"
settle
# A passing run leaves no prefix behind (some 700 MB); a failing one stays to look into.
[ $status -eq 0 ] && rm -rf "$prefix"
exit $status
