#!/usr/bin/env bash
# Hostile input from a second process: while the real program waits in its
# control window, hostile_sender posts made-up values that only the system
# should hand over (a notification header, a timer procedure, device
# contexts), then 100 000 random messages with random numbers, wParam and
# lParam, sent (with a 5 s limit) or posted to window 2, its three buttons
# and the hidden "PostEventClass" window; after every 500 it waits until the
# program has taken them and checks the window. What is left out, and why, is
# listed at the head of hostile_messages.h: only what by the system's own
# rules closes, clicks, hides or freezes the window. Afterwards a real click
# on the run button must still start the workers and end the process with
# code 0.
# The everyday run sends 20 000 of them; NORVANE_SOAK=1 sends all 100 000.
#   NORVANE_HOSTILE_SEED, NORVANE_HOSTILE_COUNT override the seed and count.
. "$(dirname "$0")/lib.sh" "$1"
seed=${NORVANE_HOSTILE_SEED:-7411}
count=${NORVANE_HOSTILE_COUNT:-$([ -n "${NORVANE_SOAK:-}" ] && echo 100000 || echo 20000)}
SENDER=$E2E_BUILD/tests/e2e/hostile_sender.exe
echo "seed $seed, $count messages"

# A crash ends the process with Wine's report on stderr instead of a dialog
# that would wait on the display.
$WINE reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
# Only the calls that show the launch: the trace stays small however many
# messages arrive.
relay_setup
$WINE reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'KERNEL32.CreateThread;KERNEL32.SetThreadPriority;KERNEL32.ExitProcess' /f >/dev/null 2>&1

start_norvane trace
check "the window appears" wait_window
started=$(date +%s%N)
timeout 600 $WINE "$SENDER" "$seed" "$count" </dev/null >"$WORK/sender.out" 2>&1
sender_rc=$?
echo "sender: exit code $sender_rc after $(( ($(date +%s%N) - started) / 1000000 )) ms"
tr -d '\r' <"$WORK/sender.out" | grep -v '^pointer-messages' | head -n 600
check "every forged case survived" [ "$(grep -c ': survived' "$WORK/sender.out")" -eq 6 ]
check "$count messages with no fault" [ "$sender_rc" -eq 0 ]
grep -a 'Unhandled' "$WORK/trace.raw" | head -n 3
check "the program is still running" still_running

click_run
wait_exit 30
check "a real click on the run button then ends it with exit code 0" [ "$EXIT_CODE" -eq 0 ]
trace_calls >"$WORK/calls.txt"
workers=$(grep -c '^KERNEL32.CreateThread' "$WORK/calls.txt")
expected=$(( $(nproc) > 1 ? $(nproc) - 1 : 1 ))
echo "workers started: $workers"
check "the click started max(1, n - 1) workers" [ "$workers" -eq "$expected" ]
check "each worker made time-critical" \
    [ "$(grep -cE '^KERNEL32.SetThreadPriority\([0-9a-f]+,[0-9a-f]*0000000f\)' "$WORK/calls.txt")" -eq "$workers" ]
check "no Norvane process left" no_norvane_process_left
finish
