#!/usr/bin/env bash
# The repeat button: the window goes, the workers run (max(1, n - 1) of them
# for E2E_PROCESSORS, default nproc, processors), and the process keeps
# running into its 2097152 ms pause (the test ends it after checking).
. "$(dirname "$0")/lib.sh" "$1"
relay_setup
start_norvane trace
check "the window appears" wait_window
give click_repeat
wait_repeat_pause 3
check "the window is gone" window_gone
check "the process keeps running" still_running
stop_norvane
# The first run of the repeating program is a run like the run button's.
n=${E2E_PROCESSORS:-$(nproc)}
check_launch $(( n > 1 ? n - 1 : 1 )) "first run"
echo "$LAUNCH_SUMMARY, processors $n"
trace_calls >"$WORK/calls.txt"
check "then the 2097152 ms pause began" grep -qE '^KERNEL32.Sleep\([0-9a-f]*00200000\)' "$WORK/calls.txt"
check "no window was opened again" [ "$(grep -c '^USER32.CreateWindowExA([0-9a-f]*,[0-9a-f]*,"Norvane"' "$WORK/calls.txt")" -le 1 ]
check "no Norvane process left" no_norvane_process_left
finish
