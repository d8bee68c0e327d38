#!/usr/bin/env bash
# Started and ended many times in a row through the run button: exit code 0
# every time, and no Norvane process of this Wine prefix left behind after
# any round. The everyday run makes 10 rounds, NORVANE_SOAK=1 a hundred.
#   NORVANE_ROUNDS overrides the number of rounds.
. "$(dirname "$0")/lib.sh" "$1"
rounds=${NORVANE_ROUNDS:-$([ -n "${NORVANE_SOAK:-}" ] && echo 100 || echo 10)}
bad=0
left=0
to_window=0   # ms summed over the rounds: start to window shown
to_exit=0     # ms summed: click to process end
started=$(date +%s)
for round in $(seq 1 "$rounds"); do
    t0=$(date +%s%N)
    start_norvane
    if ! wait_window; then
        echo "round $round: no window"
        bad=$((bad + 1)); stop_norvane; continue
    fi
    t1=$(date +%s%N)
    give click_run
    wait_exit 30
    t2=$(date +%s%N)
    to_window=$(( to_window + (t1 - t0) / 1000000 ))
    to_exit=$(( to_exit + (t2 - t1) / 1000000 ))
    if [ "$EXIT_CODE" -ne 0 ]; then
        echo "round $round: exit code $EXIT_CODE"
        bad=$((bad + 1)); stop_norvane
    fi
    if ! no_norvane_process_left; then
        echo "round $round: a Norvane process is left: $(norvane_processes | tr '\n' ' ')"
        left=$((left + 1))
        for pid in $(norvane_processes); do kill -9 "$pid" 2>/dev/null; done
    fi
done
echo "$rounds rounds in $(( $(date +%s) - started )) s; per round on average" \
    "$(( to_window / rounds )) ms to the window, $(( to_exit / rounds )) ms from the click to the end"
check "$rounds rounds through the run button, exit code 0 each time" [ "$bad" -eq 0 ]
check "no Norvane process left after any round" [ "$left" -eq 0 ]
finish
