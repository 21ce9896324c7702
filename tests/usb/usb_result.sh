#!/usr/bin/env bash
# One scenario's verdict from the VM's run: usb_result.sh WORK_DIR SCENARIO.
# Exit status: 0 passed, 1 failed (or never ran), 77 the VM was skipped.
set -uo pipefail
results=$1/results
name=$2
if [ -f "$results/skipped" ]; then
    cat "$results/skipped"
    exit 77
fi
if [ ! -f "$results/$name.result" ]; then
    echo "FAIL: the VM left no result for $name"
    exit 1
fi
cat "$results/$name.log" 2>/dev/null
verdict=$(head -n 1 "$results/$name.result")
echo "$verdict"
[ "$verdict" = PASS ]
