#!/usr/bin/env bash
# The keyboard alone: Tab then Space runs; Tab Tab Space repeats;
# Tab Tab Tab Space exits; Shift+Tab Space exits.
. "$(dirname "$0")/lib.sh" "$1"
relay_setup
run_keys() {  # run_keys NAME EXPECTATION KEYS...
    local name=$1 expect=$2; shift 2
    start_norvane trace
    check "$name: the window appears" wait_window
    keys "$@"
    if [ "$expect" = repeat ]; then
        wait_repeat_pause 3
        check "$name: window gone, process still running" eval 'window_gone && still_running'
        stop_norvane
    else
        wait_exit 30
        check "$name: exit code 0" [ "$EXIT_CODE" -eq 0 ]
    fi
    trace_calls >"$WORK/calls.txt"
    workers=$(grep -c '^KERNEL32.CreateThread' "$WORK/calls.txt")
    case $expect in
        run) check "$name: workers ran, no repeat pause" eval '[ "$workers" -ge 1 ] && ! grep -qE "^KERNEL32.Sleep\([0-9a-f]*00200000\)" "$WORK/calls.txt"' ;;
        repeat) check "$name: workers ran" [ "$workers" -ge 1 ] ;;
        exit) check "$name: no worker started" [ "$workers" -eq 0 ] ;;
    esac
}
run_keys "Tab Space" run Tab space
run_keys "Tab Tab Space" repeat Tab Tab space
run_keys "Tab Tab Tab Space" exit Tab Tab Tab space
run_keys "Shift+Tab Space" exit shift+Tab space
finish
