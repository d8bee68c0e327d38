#!/usr/bin/env bash
# The checks of a built Norvane under Wine, for the PE32 under a 32-bit Wine
# (in the emulated guest, or on a host that runs IA-32 code) and equally for
# the port under wine64:
#
#   checks.sh IMAGE TESTDIR [OUTDIR]
#
#   IMAGE    the Norvane.exe under test
#   TESTDIR  the build tree of the same preset: tests/e2e/window_facts.exe,
#            tests/e2e/hostile_sender.exe and the test programs of
#            tests/wine-programs.txt
#   OUTDIR   logs, the window's screenshot (e2e-artifacts/) and the
#            version table (versions.txt); default pe32-checks beside IMAGE
#
# Environment: DISPLAY (24-bit, with a window manager), WINEPREFIX (a prefix
# of the same Wine, best with its server already running), WINE (default
# `wine`), E2E_TIME_SCALE (whole factor for the time limits, default 1),
# E2E_PROCESSORS (the machine's processor count, default nproc), CHECKS (the
# parts to run, default all: window run repeat exit keyboard start-end
# planted properties programs versions faults), NORVANE_SOAK (the fault sweep in full, see
# tests/faults/fault_sweep.sh).
#
# Runs the end-to-end journeys against IMAGE, then the test programs that
# show windows, then the program under each Windows version Wine offers,
# then failed system calls (the win32 build's fault injector), the
# windowless test programs beside these two. Prints one line per
# check, "ok   ..." or "FAIL ...", then the version table; exit code 1 when
# a check failed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
tests=$(dirname "$here")
[ $# -ge 2 ] || { sed -n '2,/^set -u/p' "$0" | sed 's/^# \{0,1\}//; $d'; exit 2; }
image=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
testdir=$(cd "$2" && pwd)
out=${3:-$(dirname "$image")/pe32-checks}
mkdir -p "$out"
out=$(cd "$out" && pwd)
# Wine runs local copies: images it reads through the guest's 9p share can
# come in with wrong pages. The image is named Norvane.exe, since Wine's
# relay filter and per-program settings go by the name.
copies=$(mktemp -d "${TMPDIR:-/tmp}/norvane-checks.XXXXXX")
trap 'rm -rf "$copies"' EXIT
cp "$image" "$copies/Norvane.exe"
cp "$testdir/tests/e2e/window_facts.exe" "$testdir/tests/e2e/hostile_sender.exe" "$copies/" 2>/dev/null
export NORVANE=$copies/Norvane.exe WINDOW_FACTS=$copies/window_facts.exe
export HOSTILE_SENDER=$copies/hostile_sender.exe
export WINE=${WINE:-wine} E2E_TIME_SCALE=${E2E_TIME_SCALE:-1}
export WINEDEBUG=-all
scale=$E2E_TIME_SCALE
CHECKS=" ${CHECKS:-window run repeat exit keyboard start-end planted properties programs versions faults} "
passed=0
failed=0

# report STATUS TEXT: one check line, counted.
report() {
    if [ "$1" = ok ]; then passed=$((passed + 1)); printf 'ok   %s\n' "$2"
    else failed=$((failed + 1)); printf 'FAIL %s\n' "$2"; fi
}

# journey NAME SCRIPT [LIMIT_SECONDS]: runs one end-to-end script with OUTDIR
# as its build directory (within LIMIT, default 900 s, times the scale) and
# passes its check lines on, named after it.
journey() {
    local name=$1 script=$2 limit=${3:-900} log=$out/$1.log rc status text
    [[ "$CHECKS" == *" $name "* ]] || return 0
    timeout $((limit * scale)) bash "$script" "$out" >"$log" 2>&1
    rc=$?
    while read -r status text; do
        report "$status" "$name: $text"
    done < <(grep -aE '^(ok|FAIL) ' "$log")
    if [ "$rc" -ne 0 ] && ! grep -aq '^FAIL ' "$log"; then
        report FAIL "$name: ended with exit code $rc (see $log)"
    fi
    grep -aqE '^ok ' "$log" || [ "$rc" -ne 0 ] || report FAIL "$name: no check ran (see $log)"
}

# program NAME PATH: runs one test program in the copy of its own directory
# (the programs beside it copied too); prints its check line.
program() {
    local name=$1 path=$2 log=$out/program-$1.log rc summary dir
    if [ ! -f "$testdir/$path" ]; then echo "FAIL $name: $path not built"; return; fi
    dir=$copies/$(dirname "$path")
    (cd "$dir" &&
        timeout $((600 * scale)) $WINE "./$(basename "$path")" </dev/null >"$log.raw" 2>&1)
    rc=$?
    tr -d '\r' <"$log.raw" >"$log" && rm -f "$log.raw"
    summary=$(grep -a '^\[  PASSED  \]' "$log" | sed 's/^\[  PASSED  \] //; s/\.$//')
    if [ "$rc" -eq 0 ]; then
        echo "ok $name${summary:+: $summary passed}"
    else
        echo "FAIL $name: exit code $rc, failed: $(grep -a '^\[  FAILED  \] [A-Za-z]' "$log" |
            sed 's/^\[  FAILED  \] //; s/[ ,].*//' | sort -u | tr '\n' ' ')(see $log)"
    fi
}

# programs KIND: the test programs of the build, those listed windowless or
# the others; each directory copied once first.
programs() {
    local list=$testdir/tests/wine-programs.txt name path kind dir
    while read -r name path kind; do
        dir=$copies/$(dirname "$path")
        [ -f "$testdir/$path" ] && [ ! -d "$dir" ] && mkdir -p "$dir" &&
            cp "$(dirname "$testdir/$path")"/*.exe "$dir/"
    done <"$list"
    while read -r name path kind; do
        if [ "$1" = windowless ]; then [ "$kind" = windowless ]; else [ "$kind" != windowless ]; fi &&
            program "$name" "$path"
    done <"$list"
}

echo "checks of $image under $($WINE --version 2>/dev/null) on $DISPLAY, prefix $WINEPREFIX"
# A crash ends the process with Wine's report instead of a dialog that would
# wait on the display.
$WINE reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
started=$(date +%s)
journey window "$tests/e2e/window_test.sh"
journey run "$tests/e2e/run_once_test.sh"
journey repeat "$tests/e2e/repeat_test.sh"
journey exit "$tests/e2e/exit_ways_test.sh"
journey keyboard "$tests/e2e/keyboard_test.sh"
journey start-end "$tests/runtime/process/start_end_trace_test.sh"
PLANTED_LIBRARY=$testdir/tests/e2e/planted.dll FAULT_INJECTOR=$testdir/tests/faults/fault_injector.dll \
    journey planted "$tests/e2e/planted_library_test.sh"
# Window properties forged and removed from a second process (the random
# messages run on the port only): each case against a fresh program where
# starts are quick or with NORVANE_SOAK, else all cases against one. Then
# the forged timers behind the system's modal loops, on the display with its
# window manager stopped.
parts=properties
[ "$scale" -gt 1 ] && [ -z "${NORVANE_SOAK:-}" ] && parts=properties-at-once
NORVANE_HOSTILE_PARTS="$parts modal" journey properties "$tests/e2e/hostile_messages_test.sh"
# spent WHAT PART...: the time since $started, when one of the parts ran.
spent() {
    local what=$1 part; shift
    for part; do [[ "$CHECKS" == *" $part "* ]] && { echo "$what: $(( $(date +%s) - started )) s"; break; }; done
    started=$(date +%s)
}
spent journeys window run repeat exit keyboard start-end planted properties
# The test programs. Those that show windows run alone: they count the
# desktop's USER handles, which any other program changes. The windowless
# ones then run beside the checks that follow (in the emulated machine they
# took a third of the programs' 214 s, on processors the later checks
# mostly leave idle); their lines come at the end.
beside=""
if [[ "$CHECKS" == *" programs "* ]]; then
    list=$testdir/tests/wine-programs.txt
    if [ -f "$list" ]; then
        # The journeys leave the pointer where windows open: a window shown
        # under it gets mouse moves that the idle-queue cases do not expect.
        xdotool mousemove 0 0 2>/dev/null
        while read -r status text; do report "$status" "$text"; done < <(programs windows)
        { beside_at=$(date +%s); programs windowless
          echo "spent windowless test programs: $(( $(date +%s) - beside_at )) s, beside the checks after them"; } \
            >"$out/programs-windowless.txt" &
        beside=$!
    else
        report FAIL "test programs: no $list"
    fi
fi
spent "test programs" programs
journey versions "$here/versions_test.sh"
spent versions versions
[[ "$CHECKS" == *" versions "* ]] && cat "$out/versions.txt" 2>/dev/null
# Failed system calls, with the win32 build's fault injector.
started=$(date +%s)
export FAULT_INJECTOR=$testdir/tests/faults/fault_injector.dll
# The full sweep is some 1 400 starts of the program: hours in the emulated guest.
journey faults "$tests/faults/fault_sweep.sh" $([ -n "${NORVANE_SOAK:-}" ] && echo 14400)
if [[ "$CHECKS" == *" faults "* ]]; then
    echo "failed system calls: $(( $(date +%s) - started )) s"
    grep -a '^faults ' "$out/faults.log" | sed 's/^faults //'
fi
if [ -n "$beside" ]; then
    wait "$beside"
    while read -r status text; do
        if [ "$status" = spent ]; then echo "$text"; else report "$status" "$text"; fi
    done <"$out/programs-windowless.txt"
fi
[[ "$CHECKS" == *" window "* ]] && echo "screenshot: $out/e2e-artifacts/norvane-window.png"
echo "$passed ok, $failed FAIL"
[ "$failed" -eq 0 ]
