#!/usr/bin/env bash
# Hostile input from inside the process: hostile_inside builds the control
# window with the runtime as the program does, posts the forged cases and
# sends and posts the destruction cases, then sends and posts 100 000 random
# messages from its own thread while it takes them through EventWait
# (pointers only to valid structures; exclusions at the head of
# hostile_messages.h). No click or close request may arise from
# them. Afterwards a real click on the run button must reach the program as
# the run button's click, the window must be released in the program's order
# and the process must end with code 0.
#   NORVANE_HOSTILE_SEED, NORVANE_HOSTILE_COUNT override the seed and count.
. "$(dirname "$0")/lib.sh" "$1"
seed=${NORVANE_HOSTILE_SEED:-7411}
count=${NORVANE_HOSTILE_COUNT:-100000}
INSIDE=$E2E_BUILD/tests/e2e/hostile_inside.exe
LOG=$WORK/inside.log
echo "seed $seed, $count messages"

$WINE reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
started=$(date +%s%N)
$WINE "$INSIDE" "$seed" "$count" "Z:$LOG" </dev/null >/dev/null 2>"$WORK/inside.err" &
NORVANE_PID=$!

ready=""
for ((i = 0; i < 6000; i++)); do
    grep -q '^ready\|^fault' "$LOG" 2>/dev/null && break
    still_running || break
    sleep 0.1
done
echo "fuzz over after $(( ($(date +%s%N) - started) / 1000000 )) ms"
grep -v '^  ' "$LOG" 2>/dev/null
grep -a 'Unhandled' "$WORK/inside.err" | head -n 3
check "every forged case survived" [ "$(grep -c ': survived' "$LOG")" -eq 26 ]
check "$count messages with no fault" grep -q "^fuzz $seed " "$LOG"
if grep -q '^fault' "$LOG"; then
    grep '^  ' "$LOG" | tail -n 100
fi

if ready=$(grep '^ready' "$LOG"); then
    set -- $ready
    xdotool mousemove "$2" "$3" click 1
fi
wait_exit 30
check "a real click on the run button is the run button's click" grep -qx 'event 13100 4' "$LOG"
check "the window is released" grep -qx 'released' "$LOG"
check "exit code 0" [ "$EXIT_CODE" -eq 0 ]
finish
