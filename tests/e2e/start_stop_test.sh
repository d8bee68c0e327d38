#!/usr/bin/env bash
# Started 20 times in a row, ending in turn through the run button, the EXIT
# button, Alt+F4 and a WM_DELETE_WINDOW request: exit code 0 every time, and
# no Norvane process of this Wine prefix left behind. An input that had no
# effect is given again, twice at most in the 20 rounds (see give).
. "$(dirname "$0")/lib.sh" "$1"
ways=(click_run click_exit close_request_alt_f4 close_request_wm_delete)
bad=0
for round in $(seq 1 20); do
    way=${ways[$(( (round - 1) % 4 ))]}
    start_norvane
    if ! wait_window; then echo "round $round: no window"; bad=$((bad + 1)); stop_norvane; continue; fi
    give "$way"
    wait_exit 30
    if [ "$EXIT_CODE" -ne 0 ]; then echo "round $round ($way): exit code $EXIT_CODE"; bad=$((bad + 1)); stop_norvane; fi
done
check "20 rounds, exit code 0 each time" [ "$bad" -eq 0 ]
check "no Norvane process left" no_norvane_process_left
finish
