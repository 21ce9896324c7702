# What the tests of the Windows packages check alike; sourced by them once
# `wine` (a function running a program in their prefix) and `out` are set.

status=0
fail() {
  echo "FAIL: $*"
  status=1
}

# Runs the packaged corvane-flash.exe at EXE, the WHERE copy, on its simulated device.
check_simulated_update() {
  local exe=$1 where=$2 rc
  wine "$exe" --simulate >"$out/flash.log" 2>&1
  rc=$?
  if [ $rc -ne 0 ] || ! grep -q "Firmware update completed." "$out/flash.log"; then
    fail "the $where corvane-flash.exe --simulate exited $rc:"
    cat "$out/flash.log"
  else
    echo "$where corvane-flash.exe --simulate: completed"
  fi
}

# Signs what the package writers write from now on with a throw-away
# self-signed code-signing certificate made in DIR, its key under a password.
use_test_signer() {
  local dir=$1
  openssl req -x509 -newkey rsa:2048 -days 1 -subj "/CN=Corvane Updater test signer" \
    -addext extendedKeyUsage=codeSigning -passout pass:test-password \
    -keyout "$dir/signer-key.pem" -out "$dir/signer.pem" >"$dir/openssl.log" 2>&1 ||
    { echo "the test certificate could not be made:"; cat "$dir/openssl.log"; exit 1; }
  export CORVANE_SIGN_CERT=$dir/signer.pem CORVANE_SIGN_KEY=$dir/signer-key.pem
  export CORVANE_SIGN_PASS=test-password
}

# Each FILE carries a signature that verifies against the test certificate.
check_signed() {
  local file
  for file in "$@"; do
    if ! osslsigncode verify -CAfile "$CORVANE_SIGN_CERT" -in "$file" >"$out/verify.log" 2>&1; then
      fail "$(basename "$file") is not signed by the test certificate:"
      cat "$out/verify.log"
    fi
  done
}

# Each FILE carries no signature at all.
check_unsigned() {
  local file
  for file in "$@"; do
    osslsigncode verify -in "$file" >"$out/verify.log" 2>&1
    grep -q "No signature found" "$out/verify.log" ||
      fail "$(basename "$file") is signed, or not a Windows executable"
  done
}
