#!/usr/bin/env bash
# Failed system calls against the unchanged image: fault_launch.exe starts a
# copy of Norvane.exe with the library of fault_injector.cpp loaded into it,
# which makes chosen calls fail, and each case is driven as a user would
# drive the program:
#
#   run   start, then the run button (once more if nothing happened, then Alt+F4)
#   exit  start, then EXIT (likewise)
#
# Outcomes: works (the window shows and the button, a second press or Alt+F4
# ends the program with 0), ends (no window; the program ends by itself with
# 0), crash (an unhandled exception or another exit code) or wedge (alive,
# and nothing of the above ends it). Only crashes and wedges are defects.
#
#   fault_sweep.sh BUILD_DIR
#
# What runs (environment):
#   NORVANE_SOAK=1   the full sweep (every call of every failable function,
#                    failed once and failed from then on) and FAULT_SEEDS
#                    random runs; otherwise each call site failed once
#   FAULT_SEEDS      random runs per journey with FAULT_PERCENT % of the calls
#                    failing (default 200 with NORVANE_SOAK=1, else 0)
#   FAULT_INJECTOR   the injector (default BUILD_DIR/tests/faults/fault_injector.dll)
#   FAULT_LAUNCH     its launcher, of the image's width (default beside it)
#   FAULT_CASES      "JOURNEY PLAN" lines to run instead (e.g. "run once:HeapAlloc:5";
#                    plans as in fault_injector.cpp), each outcome printed
#   FAULT_ONLY       only the calls of this function
#   FAULT_LANES      cases run side by side (default 1), each lane on a
#                    display of its own (a private Xvfb with openbox) sharing
#                    the Wine server, taking the next case in turn. On the
#                    port two lanes took 35 s against 58 s; in the emulated
#                    machine, beside the port's tests, 616-639 s against
#                    540-694 s for one, each run with one case of about
#                    100 s that one lane never showed: not the default there
# and lib.sh's NORVANE, WINE, E2E_TIME_SCALE. Prints one FAIL line per
# defect, the census of each journey and the table of outcomes.
. "$(dirname "$0")/../e2e/lib.sh" "$1"
INJECTOR=${FAULT_INJECTOR:-$E2E_BUILD/tests/faults/fault_injector.dll}
LAUNCH=${FAULT_LAUNCH:-$(dirname "$INJECTOR")/fault_launch.exe}
SOAK=${NORVANE_SOAK:-}
SEEDS=${FAULT_SEEDS:-$([ -n "$SOAK" ] && echo 200 || echo 0)}
PERCENT=${FAULT_PERCENT:-6}
[ -f "$INJECTOR" ] && [ -f "$LAUNCH" ] || { echo "FAIL faults: no injector or launcher at $INJECTOR"; exit 1; }
# The program runs from a local directory (a guest's shared folder can hand
# Wine wrong pages of an image), started by the launcher, which loads the
# injector into it (an end to the launcher ends the program too).
local_dir=$(mktemp -d "${TMPDIR:-/tmp}/norvane-faults.XXXXXX")
trap 'rm -rf "$local_dir"; e2e_cleanup' EXIT
cp "$NORVANE" "$local_dir/Norvane.exe"
mkdir "$local_dir/injector"
cp "$INJECTOR" "$local_dir/injector/fault_injector.dll"
cp "$LAUNCH" "$local_dir/injector/fault_launch.exe"
NORVANE=$local_dir/Norvane.exe
NORVANE_LAUNCH=("$local_dir/injector/fault_launch.exe" "Z:${local_dir//\//\\}\\injector\\fault_injector.dll")
LOG=$local_dir/fault.log
# No settling pause after the focus: a press that a late focus change takes
# away is followed by a second one, as a user would press again.
E2E_SETTLE=0
# The image's width, from the machine field of its PE header.
pe=$(od -An -tu4 -j 60 -N4 "$NORVANE" | tr -d ' ')
case $(od -An -tx2 -j $((pe + 4)) -N2 "$NORVANE" | tr -d ' ') in
    014c) IMAGE=PE32 ;; 8664) IMAGE=port ;; *) IMAGE=image ;;
esac
declare -A TALLY=()

# run_case JOURNEY PLAN: one start of the program under PLAN; sets OUTCOME
# and HOW (how it ended, for the table).
run_case() {
    local journey=$1 plan=$2 press
    [ "$journey" = run ] && press=click_run || press=click_exit
    rm -f "$LOG"
    local began=$EPOCHREALTIME
    NORVANE_FAULTS=$plan NORVANE_FAULT_LOG="Z:$LOG" start_norvane
    OUTCOME="" HOW=""
    if wait_window 15; then
        # A run ends about 0.3 s after the press (0.6 s in an emulated guest);
        # one that is merely slow is still seen by the second wait.
        $press; wait_exit 1; HOW=button
        if [ "$EXIT_CODE" -eq 124 ]; then $press; wait_exit 2; HOW="second press"; fi
        if [ "$EXIT_CODE" -eq 124 ]; then close_request_alt_f4; wait_exit 5; HOW=alt+F4; fi
        if [ "$EXIT_CODE" -eq 124 ]; then OUTCOME=wedge HOW="window shown, nothing ends it"
        elif [ "$EXIT_CODE" -eq 0 ]; then OUTCOME=works
        else OUTCOME=crash HOW="exit code $EXIT_CODE"; fi
    else
        wait_exit 1
        if [ "$EXIT_CODE" -eq 124 ]; then OUTCOME=wedge HOW="alive without a window"
        elif [ "$EXIT_CODE" -eq 0 ]; then OUTCOME=ends HOW="no window"
        else OUTCOME=crash HOW="exit code $EXIT_CODE"; fi
    fi
    [ "$OUTCOME" = wedge ] && stop_norvane
    if grep -aq '^crash ' "$LOG" 2>/dev/null; then
        OUTCOME=crash HOW=$(grep -a '^crash ' "$LOG" | head -n 1)
    fi
    echo "$journey $plan $OUTCOME $(awk -v a="$began" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }') $HOW" \
        >>"$WORK/cases${LANE:+-$LANE}"
    case $OUTCOME in
        works|ends) ;;
        *) echo "FAIL faults: $journey $plan: $OUTCOME ($HOW; failed: $(grep -a '^fail ' "$LOG" 2>/dev/null |
               awk '{ if (NR <= 4) printf "%s %s #%s; ", $2, $3, $4 } END { if (NR > 4) printf "%d more", NR - 4 }'))" ;;
    esac
}

# census JOURNEY: the journey without faults; keeps the log as census-JOURNEY.
census() {
    run_case "$1" census
    cp "$LOG" "$WORK/census-$1"
    check "$1 journey without faults works" [ "$OUTCOME" = works ]
    echo "census of the $1 journey (calls of each imported function):"
    grep -a '^count ' "$WORK/census-$1" | awk '$3 > 0 { printf "  %-28s %d\n", $2, $3 }'
}

if [ -n "${FAULT_CASES:-}" ]; then
    while read -r journey plan; do
        [ -n "$journey" ] || continue
        run_case "$journey" "$plan"
        echo "case $journey $plan: $OUTCOME ($HOW)"
    done <<<"$FAULT_CASES"
    finish
    exit
fi
census run
census exit
: >"$WORK/cases"
started=$(date +%s)
# The cases, one "JOURNEY PLAN" line each.
only() { if [ -n "${FAULT_ONLY:-}" ]; then grep -a "^call $FAULT_ONLY "; else cat; fi; }
{
    if [ -n "$SOAK" ]; then
        for journey in run exit; do
            grep -a '^call ' "$WORK/census-$journey" | only | awk '{ print $2 }' | sort | uniq -c |
                awk -v j="$journey" '{ for (n = 1; n <= $1; n++) print j, "once:" $2 ":" n "\n" j, "from:" $2 ":" n }'
        done
    else
        # Each call site once: the exit journey adds only the sites the run
        # journey does not reach.
        for journey in run exit; do
            grep -a '^call ' "$WORK/census-$journey" | only | awk '{ print $2, $3 }' | sort -u >"$WORK/sites-$journey"
        done
        awk '{ sub(/^\+/, "", $2); print "run site:" $1 ":" $2 }' "$WORK/sites-run"
        comm -13 "$WORK/sites-run" "$WORK/sites-exit" | awk '{ sub(/^\+/, "", $2); print "exit site:" $1 ":" $2 }'
    fi
    for ((seed = 1; seed <= SEEDS; seed++)); do
        echo "run random:$seed:$PERCENT"
        echo "exit random:$seed:$PERCENT"
    done
} >"$WORK/plans"

# lane_display N: an X display of lane N's own with a window manager, as the
# first lane's has; sets DISPLAY. Its processes end with the sweep.
lane_display() {
    local n
    for n in $(seq $((90 + $1 * 7)) 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset </dev/null >/dev/null 2>&1 &
    LANE_PIDS+=($!)
    DISPLAY=:$n
    for _ in $(seq 1 $((100 * E2E_TIME_SCALE))); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    openbox --sm-disable --config-file "$(dirname "$0")/../support/openbox-rc.xml" </dev/null >/dev/null 2>&1 &
    LANE_PIDS+=($!)
    for _ in $(seq 1 $((100 * E2E_TIME_SCALE))); do wm_present && break; sleep 0.1; done
}

# next_plan: the next case not yet taken by any lane, into PLAN ("JOURNEY
# PLAN"); false when none is left. Taken in turn rather than split up front:
# a case's time varies from under a second to a minute and more.
next_plan() {
    local n
    exec 8>>"$WORK/plans.lock"
    flock 8
    n=$(( $(cat "$WORK/plans.taken" 2>/dev/null || echo 0) + 1 ))
    echo "$n" >"$WORK/plans.taken"
    exec 8>&-
    PLAN=$(sed -n "${n}p" "$WORK/plans")
    [ -n "$PLAN" ]
}

LANES=${FAULT_LANES:-1}
LANE_PIDS=()
trap 'kill "${LANE_PIDS[@]}" 2>/dev/null; rm -rf "$local_dir"; e2e_cleanup' EXIT
lanes=()
for ((lane = 1; lane < LANES; lane++)); do
    (
        LANE=$lane LOG=$local_dir/fault-$lane.log
        lane_display "$lane"
        export DISPLAY
        while next_plan; do run_case ${PLAN%% *} "${PLAN#* }"; done
        [ -z "$NORVANE_PID" ] || stop_norvane
        kill "${LANE_PIDS[@]}" 2>/dev/null
    ) &
    lanes+=($!)
done
while next_plan; do run_case ${PLAN%% *} "${PLAN#* }"; done
[ ${#lanes[@]} -eq 0 ] || wait "${lanes[@]}"
cat "$WORK"/cases-* >>"$WORK/cases" 2>/dev/null
sort -o "$WORK/cases" "$WORK/cases"
declare -A TALLY=()
while read -r _ _ outcome _ how; do
    TALLY[$outcome]=$(( ${TALLY[$outcome]:-0} + 1 ))
    TALLY[cases]=$(( ${TALLY[cases]:-0} + 1 ))
    TALLY[$how]=$(( ${TALLY[$how]:-0} + 1 ))
done <"$WORK/cases"
echo "fault cases: $(( $(date +%s) - started )) s, $LANES lane(s)"
printf 'faults %-10s %6s %6s %6s %6s %6s\n' image cases works ends crash wedge
printf 'faults %-10s %6d %6d %6d %6d %6d\n' "$IMAGE" "${TALLY[cases]:-0}" "${TALLY[works]:-0}" \
    "${TALLY[ends]:-0}" "${TALLY[crash]:-0}" "${TALLY[wedge]:-0}"
echo "faults: ended by the button ${TALLY[button]:-0}, by a second press ${TALLY[second press]:-0}," \
    "by Alt+F4 ${TALLY[alt+F4]:-0}; slowest cases:"
sort -k4 -rn "$WORK/cases" 2>/dev/null | head -n 3 | sed 's/^/  /'
cp "$WORK/cases" "$E2E_BUILD/fault-cases-$IMAGE.txt" 2>/dev/null
check "faults: ${TALLY[cases]:-0} cases, no crash" [ "${TALLY[crash]:-0}" -eq 0 ]
check "faults: no wedge" [ "${TALLY[wedge]:-0}" -eq 0 ]
finish
