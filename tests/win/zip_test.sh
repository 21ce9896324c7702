#!/usr/bin/env bash
# The Windows zip as a user gets it: exactly the four programs and README.txt
# at its top, intact; unpacked into a folder with spaces in its name, the
# programs run from there (each answers --version) and the unpacked corvane-flash.exe completes an
# update on the simulated device. Written with a signing certificate, each of
# its programs is signed; written without one, none is, and the writer says so,
# unless signing is required, when it writes nothing.
#   zip_test.sh WRITE_ZIP BUILD_DIR WINE_RUN PREFIX OUTPUT_DIR
set -uo pipefail
write_zip=$1 build=$2 wine_run=$3 prefix=$4 out=$5
source "$(dirname "$0")/package_checks.sh"

for tool in zip unzip wine osslsigncode openssl; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
rm -rf "$out"
mkdir -p "$out"

# Without the signing variables, whatever the environment running the test holds.
unsigned=$(env -u CORVANE_SIGN_CERT -u CORVANE_SIGN_KEY \
  "$write_zip" "$build" "$out/unsigned" 2>"$out/unsigned.log") ||
  { echo "the unsigned zip could not be written:"; cat "$out/unsigned.log"; exit 1; }
grep -q "NOT signing" "$out/unsigned.log" || fail "the zip's writer did not say that it does not sign"
unzip -q "$unsigned" -d "$out/unsigned/unpacked" || fail "the unsigned zip did not unpack"
check_unsigned "$out/unsigned/unpacked"/*.exe
[ $status -eq 0 ] && echo "unsigned zip: the writer says so, no program carries a signature"
rm -rf "$out/unsigned"

# A release cannot be written unsigned.
if env -u CORVANE_SIGN_CERT -u CORVANE_SIGN_KEY CORVANE_SIGN_REQUIRED=1 \
  "$write_zip" "$build" "$out/release" >/dev/null 2>"$out/release.log"; then
  fail "a release zip was written without a signing certificate"
fi
grep -q "must be signed" "$out/release.log" || fail "the release zip's writer did not say why it stopped"
rm -rf "$out/release"

use_test_signer "$out"
zip_file=$("$write_zip" "$build" "$out") || { echo "the zip could not be written"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "zip: $(basename "$zip_file"), $(wc -c <"$zip_file") bytes"

[ "$(basename "$zip_file")" = "corvane-updater-$version-windows-x64.zip" ] ||
  fail "the zip is named $(basename "$zip_file")"
unzip -tq "$zip_file" >"$out/test.log" 2>&1 || { fail "the zip is damaged:"; cat "$out/test.log"; }
expected=$(printf '%s\n' README.txt corvane-flash.exe corvane-image.exe corvane-updater-demo.exe \
  corvane-updater.exe)
listed=$(unzip -Z1 "$zip_file" | LC_ALL=C sort)
[ "$listed" = "$expected" ] || fail "the zip holds: $(echo "$listed" | tr '\n' ' ')"

unpacked="$out/Corvane Updater $version"
unzip -q "$zip_file" -d "$unpacked" || fail "the zip did not unpack"
readme="$unpacked/README.txt"
[ "$(head -n 1 "$readme")" = $'Corvane Updater '"$version"$' for Windows (64-bit)\r' ] ||
  fail "README.txt does not begin with the version line and a Windows line end"
grep -qv $'\r$' "$readme" && fail "README.txt has lines without a Windows line end"
check_signed "$unpacked"/*.exe

wine() { "$wine_run" "$prefix" "$@"; }
for program in corvane-updater corvane-updater-demo corvane-flash corvane-image; do
  answer=$(wine "$unpacked/$program.exe" --version 2>/dev/null | tr -d '\r')
  [ "$answer" = "$program $version" ] || fail "the unpacked $program.exe --version said '$answer'"
done
check_simulated_update "$unpacked/corvane-flash.exe" unpacked
[ $status -eq 0 ] && rm -rf "$unpacked"
exit $status
