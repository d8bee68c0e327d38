#!/usr/bin/env bash
# Fifty clicks on the run button within about 100 ms launch the workers once.
. "$(dirname "$0")/lib.sh" "$1"
relay_setup
start_norvane trace
check "the window appears" wait_window
xdotool mousemove --window "$WID" $((CLIENT_X + 148)) $((CLIENT_Y + 50))
started=$(date +%s%N)
xdotool click --repeat 50 --delay 1 1
echo "50 clicks in $(( ($(date +%s%N) - started) / 1000000 )) ms"
wait_exit 30
check "exit code 0" [ "$EXIT_CODE" -eq 0 ]
trace_calls >"$WORK/calls.txt"
# Every launch counts the processors once.
check "exactly one launch" [ "$(grep -c '^KERNEL32.GetProcessAffinityMask' "$WORK/calls.txt")" -eq 1 ]
finish
