#!/usr/bin/env bash
# corvane-flash.exe under Wine updates the simulated device exactly as the
# Linux build does: the same conversation, byte for byte, and the same flash.
#   flash_transcript_test.sh LINUX_FLASH WINDOWS_FLASH WINE_RUN PREFIX OUTPUT_DIR
set -uo pipefail
linux_flash=$1 windows_flash=$2 wine_run=$3 prefix=$4 out=$5

if [ ! -x "$linux_flash" ]; then
  echo "SKIP: no Linux corvane-flash at $linux_flash"
  exit 77
fi
mkdir -p "$out"
status=0
# Ready at once, and through a restart into the update mode.
for prepare in ready restart; do
  device=(--simulate --prepare "$prepare" --transcript "$out/$prepare-linux.txt"
          --flash-dump "$out/$prepare-linux.flash")
  if ! "$linux_flash" "${device[@]}" >"$out/$prepare-linux.log" 2>&1; then
    echo "Linux corvane-flash failed ($prepare):"; cat "$out/$prepare-linux.log"; exit 1
  fi
  # Wine is handed the files as Unix paths; it finds them on drive Z:.
  "$wine_run" "$prefix" "$windows_flash" --simulate --prepare "$prepare" \
    --transcript "$out/$prepare-windows.txt" --flash-dump "$out/$prepare-windows.flash" \
    >"$out/$prepare-windows.log" 2>&1
  rc=$?
  if [ $rc -eq 77 ]; then
    cat "$out/$prepare-windows.log"; exit 77
  fi
  if [ $rc -ne 0 ]; then
    echo "corvane-flash.exe failed ($prepare, exit $rc):"; cat "$out/$prepare-windows.log"; exit 1
  fi
  grep -q "Firmware update completed." "$out/$prepare-windows.log" ||
    { echo "corvane-flash.exe did not complete ($prepare)"; status=1; }
  for kind in txt flash; do
    if cmp "$out/$prepare-linux.$kind" "$out/$prepare-windows.$kind"; then
      echo "$prepare: $kind byte-equal ($(wc -c <"$out/$prepare-linux.$kind") bytes)"
    else
      echo "$prepare: $kind differs"; status=1
    fi
  done
done
exit $status
