#!/usr/bin/env bash
# The run button: the window goes, the workers start (seen in Wine's relay
# trace of the program's own calls), and the process exits with code 0.
. "$(dirname "$0")/lib.sh" "$1"
relay_setup
start_norvane trace
check "the window appears" wait_window
click_run
wait_exit 30
check "exit code 0" [ "$EXIT_CODE" -eq 0 ]
check "the window is gone" window_gone
trace_calls >"$WORK/calls.txt"
workers=$(grep -c '^KERNEL32.CreateThread' "$WORK/calls.txt")
echo "workers started: $workers (processors: $(nproc))"
# Arguments may carry garbage in their upper halves on x64: compare low 32 bits.
check "workers start with a 4096-byte stack" \
    [ "$(grep -cE '^KERNEL32.CreateThread\([0-9a-f]*,[0-9a-f]*00001000,' "$WORK/calls.txt")" -eq "$workers" ]
expected=$(( $(nproc) > 1 ? $(nproc) - 1 : 1 ))
check "max(1, n - 1) workers" [ "$workers" -eq "$expected" ]
check "each worker made time-critical" \
    [ "$(grep -cE '^KERNEL32.SetThreadPriority\([0-9a-f]+,[0-9a-f]*0000000f\)' "$WORK/calls.txt")" -eq "$workers" ]
check "the launch pauses 256 ms" grep -qE '^KERNEL32.Sleep\([0-9a-f]*00000100\)' "$WORK/calls.txt"
# A worker that has already ended is not waited for (on a busy machine the
# pause can outlast a worker), so there is at most one wait per worker.
waits=$(grep -cE '^KERNEL32.WaitForSingleObject\([0-9a-f]+,[0-9a-f]*00000020\)' "$WORK/calls.txt")
check "then waits up to 32 ms for each worker still running ($waits)" [ "$waits" -le "$workers" ]
trace_main_calls >"$WORK/main.txt"
order=$(grep -nE '^KERNEL32.(CreateThread|SetThreadPriority|Sleep\([0-9a-f]*00000100|WaitForSingleObject\([0-9a-f]+,[0-9a-f]*00000020|ExitProcess)' \
        "$WORK/main.txt" | sed 's/(.*//; s/^[0-9]*:KERNEL32.//' | uniq | tr '\n' ' ')
echo "main thread: $order"
check "main thread: create and prioritise each worker, pause, wait, exit" \
    [ "$order" = "$(for i in $(seq "$workers"); do printf 'CreateThread SetThreadPriority '; done)Sleep $([ "$waits" -gt 0 ] && printf 'WaitForSingleObject ')ExitProcess " ]
check "no Norvane process left" no_norvane_process_left
finish
