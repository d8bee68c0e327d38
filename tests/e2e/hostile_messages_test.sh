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
# code 0. Then each destruction case (WM_DESTROY, WM_NCDESTROY, sent and
# posted to each target) alone against a fresh program: after it the run
# button must still start the workers and end with code 0, or Alt+F4 must
# still end it with code 0.
# Then each property case (a wild address, a small integer, -1, another of
# its windows' handles, a swap, a removal) against a fresh program, on every
# property name the program reads on every target, then the drop-target mark
# and ole32's registration properties set to a wild address on every target
# and left for the windows' destruction: after it the run button
# must still start the workers and end with code 0; with the container's
# property alone, Alt+F4 must still end it with code 0. The part
# "properties-at-once" gives all six cases on every name one after another
# to one program instead, then the run button (for the PE32 in an emulated
# machine, where each start is slow).
# Then, on the display with its window manager stopped, each modal-loop case
# (a system command that starts one of the system's loops, a WM_TIMER naming
# ExitProcess queued behind it, then Escape) against a fresh program: the run
# button must still start the workers and end it with code 0.
# The everyday run sends 20 000 random messages; NORVANE_SOAK=1 all 100 000.
#   NORVANE_HOSTILE_SEED, NORVANE_HOSTILE_COUNT override the seed and count;
#   NORVANE_HOSTILE_PARTS chooses the parts (default: messages lifecycle
#   properties modal; also properties-at-once); HOSTILE_SENDER the sender built
#   for the same Wine.
. "$(dirname "$0")/lib.sh" "$1"
seed=${NORVANE_HOSTILE_SEED:-7411}
count=${NORVANE_HOSTILE_COUNT:-$([ -n "${NORVANE_SOAK:-}" ] && echo 100000 || echo 20000)}
SENDER=${HOSTILE_SENDER:-$E2E_BUILD/tests/e2e/hostile_sender.exe}
PARTS=" ${NORVANE_HOSTILE_PARTS:-messages lifecycle properties modal} "

# A crash ends the process with Wine's report on stderr instead of a dialog
# that would wait on the display.
$WINE reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
# Only the calls that show the launch: the trace stays small however many
# messages arrive.
relay_setup
$WINE reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'KERNEL32.CreateThread;KERNEL32.SetThreadPriority;KERNEL32.ExitProcess' /f >/dev/null 2>&1

expected=$(( ${E2E_PROCESSORS:-$(nproc)} > 1 ? ${E2E_PROCESSORS:-$(nproc)} - 1 : 1 ))
# run_button_ends_it WHAT: a real click on the run button starts the workers,
# each time-critical, and the process ends with code 0.
run_button_ends_it() {
    give click_run
    wait_exit 30
    check "$1: a real click on the run button then ends it with exit code 0" [ "$EXIT_CODE" -eq 0 ]
    trace_calls >"$WORK/calls.txt"
    local workers
    workers=$(grep -c '^KERNEL32.CreateThread' "$WORK/calls.txt")
    check "$1: the click started max(1, n - 1) workers ($workers)" [ "$workers" -eq "$expected" ]
    check "$1: each worker made time-critical" \
        [ "$(grep -cE '^KERNEL32.SetThreadPriority\([0-9a-f]+,[0-9a-f]*0000000f\)' "$WORK/calls.txt")" -eq "$workers" ]
    check "$1: no Norvane process left" no_norvane_process_left
    stop_norvane  # a program that did not end must not take the next run's input
}

# alt_f4_ends_it WHAT: Alt+F4 ends the process with code 0.
alt_f4_ends_it() {
    close_request_alt_f4
    wait_exit 20
    check "$1: Alt+F4 then ends it with exit code 0" [ "$EXIT_CODE" -eq 0 ]
    check "$1: no Norvane process left" no_norvane_process_left
    stop_norvane
}

# one_case ENDING ARGS...: a fresh program, the sender's case(s) ARGS against
# it (one check per case it reports), then the ending (run_button_ends_it or
# alt_f4_ends_it), named after the case, or after ARGS for several.
one_case() {
    local ending=$1 rc what line; shift
    start_norvane trace
    check "$*: the window appears" wait_window
    timeout $((120 * E2E_TIME_SCALE)) $WINE "$SENDER" "$@" </dev/null >"$WORK/case.out" 2>&1
    rc=$?
    what=$(tr -d '\r' <"$WORK/case.out" | sed -n 's/^forged //p')
    [ -n "$what" ] || what="$* (no answer)"
    while IFS= read -r line; do
        check "$line" [ "$rc" -eq 0 ]
    done <<<"$what"
    grep -a 'Unhandled' "$WORK/trace.raw" | head -n 3
    [ "$(wc -l <<<"$what")" -eq 1 ] && $ending "${what%%:*}" || $ending "$*"
}

if [[ "$PARTS" == *" messages "* ]]; then
echo "seed $seed, $count messages"
start_norvane trace
check "the window appears" wait_window
started=$(date +%s%N)
timeout 600 $WINE "$SENDER" "$seed" "$count" </dev/null >"$WORK/sender.out" 2>&1
sender_rc=$?
echo "sender: exit code $sender_rc after $(( ($(date +%s%N) - started) / 1000000 )) ms"
tr -d '\r' <"$WORK/sender.out" | grep -v '^pointer-messages' | head -n 600
check "every forged case survived" [ "$(grep -c ': survived' "$WORK/sender.out")" -eq 26 ]
check "$count messages with no fault" [ "$sender_rc" -eq 0 ]
grep -a 'Unhandled' "$WORK/trace.raw" | head -n 3
check "the program is still running" still_running
run_button_ends_it "$count messages"
fi

if [[ "$PARTS" == *" lifecycle "* ]]; then
# Each case ends one way in the everyday run, alternating so that each
# message to each target meets both ways (once sent, once posted); both ways
# with NORVANE_SOAK=1.
for case in $(seq 0 19); do
    endings="run alt_f4"
    [ -n "${NORVANE_SOAK:-}" ] || endings=$([ $(( (case + case / 4) % 2 )) -eq 0 ] && echo run || echo alt_f4)
    for ending in $endings; do
        one_case $([ $ending = run ] && echo run_button || echo alt_f4)_ends_it lifecycle "$case"
    done
done
fi

if [[ "$PARTS" == *" properties "* ]]; then
    for case in $(seq 0 5); do
        one_case run_button_ends_it property "$case"
        one_case alt_f4_ends_it property "$case" container
    done
fi
if [[ "$PARTS" == *" properties-at-once "* ]]; then
    one_case run_button_ends_it property all
fi
# Without a window manager a posted move or size command starts Wine's loop
# at once; with one, only while a mouse button is held.
if [[ "$PARTS" == *" modal "* ]]; then
    check "modal loops: the window manager is stopped" wm_off
    for case in 0 1; do
        one_case run_button_ends_it modal "$case"
    done
    check "modal loops: the window manager runs again" wm_on
fi
finish
