#!/usr/bin/env bash
# The run button: the window goes, the workers start (seen in Wine's relay
# trace of the program's own calls), and the process exits with code 0. The
# machine's processor count is E2E_PROCESSORS (default: nproc); Wine must
# answer it, and the program start max(1, n - 1) workers.
. "$(dirname "$0")/lib.sh" "$1"
relay_setup
start_norvane trace
check "the window appears" wait_window
read -r _ processors system_mask process_mask < <(processors_answer)
n=${E2E_PROCESSORS:-$(nproc)}
check "Wine answers $n processors (system mask $system_mask, process mask $process_mask)" [ "$processors" -eq "$n" ]
give click_run
wait_exit 30
check "exit code 0" [ "$EXIT_CODE" -eq 0 ]
check "the window is gone" window_gone
expected=$(( n > 1 ? n - 1 : 1 ))
check_launch "$expected"
echo "$LAUNCH_SUMMARY, processors $n, exit code $EXIT_CODE"
trace_calls >"$WORK/calls.txt"
check "the launch pauses 256 ms" grep -qE '^KERNEL32.Sleep\([0-9a-f]*00000100\)' "$WORK/calls.txt"
trace_main_calls >"$WORK/main.txt"
workers=$(grep -c '^KERNEL32.CreateThread' "$WORK/main.txt")
waits=$(grep -cE '^KERNEL32.WaitForSingleObject\([0-9a-f]+,[0-9a-f]*00000020\)' "$WORK/main.txt")
order=$(grep -nE '^KERNEL32.(CreateThread|SetThreadPriority|Sleep\([0-9a-f]*00000100|WaitForSingleObject\([0-9a-f]+,[0-9a-f]*00000020|ExitProcess)' \
        "$WORK/main.txt" | sed 's/(.*//; s/^[0-9]*:KERNEL32.//' | uniq | tr '\n' ' ')
echo "main thread: $order"
check "main thread: create and prioritise each worker, pause, wait, exit" \
    [ "$order" = "$(for i in $(seq "$workers"); do printf 'CreateThread SetThreadPriority '; done)Sleep $([ "$waits" -gt 0 ] && printf 'WaitForSingleObject ')ExitProcess " ]
check "no Norvane process left" no_norvane_process_left
finish
