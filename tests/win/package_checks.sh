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
