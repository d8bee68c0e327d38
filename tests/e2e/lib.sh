# Shared steps of the end-to-end tests: start the real Norvane.exe under Wine
# on the test display, find its window, drive it with real X input
# (xdotool), read Wine's relay trace of its own Win32 calls.
#
# Usage: . lib.sh BUILD_DIR   (sets WINEPREFIX, DISPLAY, NORVANE, WORK)
# BUILD_DIR holds the work directories and artifacts. When it is a build
# tree with the test environment of wine-env.sh, its prefix and display are
# used; otherwise WINEPREFIX and DISPLAY as already set. The defaults are
# the win64 build's; these override them:
#   NORVANE         the image under test
#   WINE            the wine command (`wine` is 32-bit Wine)
#   WINDOW_FACTS    window_facts.exe built for the same Wine
#   E2E_TIME_SCALE  whole factor for every time limit (emulation is slower)
#   E2E_SETTLE      seconds given to a new focus before input (default 0.3)
set -u
E2E_BUILD=$(cd "$1" && pwd)
export WINEDEBUG=-all
if [ -f "$E2E_BUILD/test-env/display" ]; then
    export WINEPREFIX=$E2E_BUILD/wine-prefix
    export DISPLAY=$(cat "$E2E_BUILD/test-env/display")
fi
: "${WINEPREFIX:?no test environment in $E2E_BUILD and no WINEPREFIX}" "${DISPLAY:?no DISPLAY}"
export WINEPREFIX DISPLAY
NORVANE=${NORVANE:-$E2E_BUILD/Norvane.exe}
WINDOW_FACTS=${WINDOW_FACTS:-$E2E_BUILD/tests/e2e/window_facts.exe}
WINE=${WINE:-/usr/lib/wine/wine64}
E2E_TIME_SCALE=${E2E_TIME_SCALE:-1}
WORK=$(mktemp -d "$E2E_BUILD/e2e.XXXXXX")
PASSED=0
FAILED=0
GIVEN_AGAIN=0
NORVANE_PID=""
trap 'e2e_cleanup' EXIT

e2e_cleanup() {
    wm_on
    [ -n "${KEEP_WORK:-}" ] && { echo "work kept in $WORK"; return; }
    [ -n "$NORVANE_PID" ] && kill -9 "$NORVANE_PID" 2>/dev/null
    rm -rf "$WORK"
}

check() {  # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then PASSED=$((PASSED + 1)); echo "ok   $what"
    else FAILED=$((FAILED + 1)); echo "FAIL $what"; fi
}

# e2e_sleep SECONDS: a pause stretched by E2E_TIME_SCALE.
e2e_sleep() { sleep "$(awk -v s="$1" -v f="$E2E_TIME_SCALE" 'BEGIN { print s * f }')"; }

# A program that often ignores input fails, however its runs went; after a
# failure, the program's last calls say where it stood.
finish() {
    [ "$GIVEN_AGAIN" -gt 0 ] && check "at most 2 inputs given again ($GIVEN_AGAIN)" [ "$GIVEN_AGAIN" -le 2 ]
    if [ "$FAILED" -gt 0 ] && [ -s "$WORK/trace.raw" ]; then
        echo "the program's last calls on its main thread:"
        trace_main_calls | grep -aE "^[A-Z0-9_]+\.[A-Za-z0-9_]+\(" | tail -n 8 | cut -c 1-160 | sed 's/^/    /'
    fi
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}

# Relay tracing of the program's calls into the system DLLs (see the Wine
# notes); the settings only matter while WINEDEBUG asks for +relay.
relay_setup() {
    $WINE reg add 'HKCU\Software\Wine\Debug' /v RelayFromInclude /t REG_SZ /d 'Norvane.exe' /f >/dev/null 2>&1
    $WINE reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
        /d 'kernel32.*;kernelbase.*;user32.*;gdi32.*;winmm.*;comctl32.*' /f >/dev/null 2>&1
    $WINE reg delete 'HKCU\Software\Wine\Debug' /v RelayExclude /f >/dev/null 2>&1
    $WINE reg delete 'HKCU\Software\Wine\Debug' /v RelayFromExclude /f >/dev/null 2>&1
    return 0
}

# start_norvane [trace]: starts the program in the background (with trace,
# each line of the relay trace begins with Wine's clock in ms), through the
# command in the array NORVANE_LAUNCH when one is set (the program's path
# follows its words).
NORVANE_LAUNCH=()
start_norvane() {
    if [ "${1:-}" = trace ]; then
        # A new file, not the old one emptied: a process of an earlier start
        # that still holds the old file would write on at its own offset,
        # over this start's lines.
        rm -f "$WORK/trace.raw"
        WINEDEBUG=+timestamp,+pid,+relay $WINE "${NORVANE_LAUNCH[@]}" "$NORVANE" </dev/null >/dev/null \
            2>"$WORK/trace.raw" &
    else
        $WINE "${NORVANE_LAUNCH[@]}" "$NORVANE" </dev/null >/dev/null 2>&1 &
    fi
    NORVANE_PID=$!
}

# A window manager runs on the display: it names a window of its own on the
# root window (the property outlives a manager that was stopped).
wm_present() {
    local id
    id=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # //p')
    [ -n "$id" ] && xwininfo -id "$id" >/dev/null 2>&1
}

# wm_off: stops the display's window manager for checks on a bare display;
# wm_on (and the end of the script) starts it again. The test environment's
# own (wine-env.sh) where BUILD_DIR has one; else the openbox that runs on
# this display (as in the PE32's machine), started again with its own
# command line. wm_off fails when a window manager is left.
E2E_SUPPORT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)
WM_STOPPED=""
WM_COMMAND=()
wm_off() {
    local pid i
    WM_STOPPED=1
    if [ -f "$E2E_BUILD/test-env/display" ]; then
        bash "$E2E_SUPPORT/wine-env.sh" wm-off "$E2E_BUILD"
    else
        for pid in $(pgrep -x openbox); do
            tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "DISPLAY=$DISPLAY" || continue
            mapfile -d '' -t WM_COMMAND <"/proc/$pid/cmdline"
            kill "$pid"
            for ((i = 0; i < 100 * E2E_TIME_SCALE; i++)); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.05
            done
        done
    fi
    ! wm_present
}
wm_on() {
    local i
    [ -n "$WM_STOPPED" ] || return 0
    WM_STOPPED=""
    if [ -f "$E2E_BUILD/test-env/display" ]; then
        bash "$E2E_SUPPORT/wine-env.sh" wm-on "$E2E_BUILD"
        return
    fi
    [ ${#WM_COMMAND[@]} -gt 0 ] || return 0
    "${WM_COMMAND[@]}" </dev/null >/dev/null 2>&1 &
    for ((i = 0; i < 100 * E2E_TIME_SCALE; i++)); do
        wm_present && return 0
        sleep 0.1
    done
    return 1
}

# wait_window [seconds]: sets WID to the X window of "Norvane". Under a
# window manager the window takes input only once the manager has taken it
# into its frame (WM_STATE set); it is then made the active window.
wait_window() {
    local limit=$(( ${1:-15} * 10 * E2E_TIME_SCALE )) i managed=0
    wm_present && managed=1
    WID=""
    for ((i = 0; i < limit; i++)); do
        WID=$(xdotool search --name '^Norvane$' 2>/dev/null | head -n 1)
        if [ -n "$WID" ] && xdotool getwindowgeometry "$WID" >/dev/null 2>&1; then
            if [ $managed -eq 0 ]; then
                e2e_sleep 0.3; return 0
            fi
            if xprop -id "$WID" WM_STATE 2>/dev/null | grep -q 'state: Normal'; then
                focus_window; return 0
            fi
        fi
        kill -0 "$NORVANE_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

window_gone() {
    [ -z "$(xdotool search --name '^Norvane$' 2>/dev/null)" ]
}

# wait_exit SECONDS: sets EXIT_CODE (124 on time-out).
wait_exit() {
    local limit=$(( $1 * 10 * E2E_TIME_SCALE )) i
    for ((i = 0; i < limit; i++)); do
        if ! kill -0 "$NORVANE_PID" 2>/dev/null; then
            wait "$NORVANE_PID"; EXIT_CODE=$?; NORVANE_PID=""; return 0
        fi
        sleep 0.1
    done
    EXIT_CODE=124
}

still_running() { kill -0 "$NORVANE_PID" 2>/dev/null; }

stop_norvane() {
    [ -n "$NORVANE_PID" ] && kill -9 "$NORVANE_PID" 2>/dev/null
    wait "$NORVANE_PID" 2>/dev/null
    NORVANE_PID=""
}

# Client point (x, y) of the control window → click there with the real pointer.
# Wine draws a tool window's frame itself, with or without a window manager
# (which gives it no decorations): the client area of a captioned tool window
# starts at (3, 19) inside the X window under Wine 8 (21 under Wine 10; the
# buttons are large enough for either, and the window test reads the origin).
CLIENT_X=3
CLIENT_Y=19
click_client() {
    xdotool mousemove --window "$WID" $((CLIENT_X + $1)) $((CLIENT_Y + $2)) click 1
}
click_run() { click_client 148 50; }
click_repeat() { click_client 148 120; }
click_exit() { click_client 255 172; }

# give WAY: the input WAY (click_run, click_exit, close_request_alt_f4, ...)
# that ends the window, given once more if the window is still shown with
# the program running 5 s later. On a loaded machine a first input now and
# then has no effect (seen at load 4, and in the test command: the program
# waited for input with the window shown); a user gives it again. Each time
# is reported and counted in GIVEN_AGAIN (see finish).
give() {
    local i
    "$1"
    for ((i = 0; i < 50 * E2E_TIME_SCALE; i++)); do
        window_gone || ! still_running && return 0
        sleep 0.1
    done
    GIVEN_AGAIN=$((GIVEN_AGAIN + 1))
    echo "note: $1 had no effect in $((5 * E2E_TIME_SCALE)) s, given again"
    place_again
    "$1"
}

# place_again: when Wine has the window elsewhere than X has it, the window
# is moved to where X has it, which tells Wine its place anew. Wine takes a
# click's place on the screen from X but finds the window under it by its own
# rectangles: a stale move notice (once seen at 0, 0 for a window centred by
# X) sends every later click past the window, to nothing, as a user dragging
# the window would mend.
place_again() {
    local x y wine
    read -r x y < <(xwininfo -id "$WID" 2>/dev/null |
        awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 } END { print x, y }')
    [ -n "$y" ] || return 0
    wine=$($WINE "$WINDOW_FACTS" </dev/null 2>/dev/null | tr -d '\r' | awk '/^window / { print $5, $6 }')
    [ "$wine" = "$x $y" ] && return 0
    echo "note: Wine had the window at ${wine:-?}, X at $x $y: moved to its place again"
    xdotool windowmove "$WID" "$x" "$y" 2>/dev/null
    e2e_sleep 0.3
}

# Keys go to the window that has the focus. Openbox does not give a new tool
# window the focus by itself, so it is asked to activate the window, as a
# new program's window is active on Windows; then the focus is awaited and
# given time to settle, since a focus request that reaches Wine together with
# a click can cancel the click.
focus_window() {
    local i
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$WID" ] ||
        if wm_present; then xdotool windowactivate "$WID" 2>/dev/null
        else xdotool windowfocus "$WID" 2>/dev/null; fi
    for ((i = 0; i < 50 * E2E_TIME_SCALE; i++)); do
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$WID" ] && break
        sleep 0.1
    done
    e2e_sleep "${E2E_SETTLE:-0.3}"
}

keys() {
    local k
    focus_window
    for k in "$@"; do xdotool key "$k"; e2e_sleep 0.25; done
}

close_request_alt_f4() { keys alt+F4; }

# A WM_DELETE_WINDOW client message, as a window manager's close button sends.
close_request_wm_delete() {
    python3 - "$WID" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
d = x.XOpenDisplay(None)
wid = int(sys.argv[1])
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
proto = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
delete = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
class Ev(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5), ("pad", ctypes.c_char * 96)]
ev = Ev(); ev.type = 33; ev.window = wid; ev.message_type = proto; ev.format = 32
ev.l[0] = delete; ev.l[1] = 0
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XSendEvent(d, wid, 0, 0, ctypes.byref(ev))
x.XFlush.argtypes = [ctypes.c_void_p]; x.XFlush(d)
PY
}

# The relay trace of the program's own process (helper processes write to the
# same stream: keep the process with the most calls), calls only, DLL names
# in upper case: "KERNEL32.Sleep(...)". trace_main_calls keeps the main
# thread's (the first thread to call) and drops the workers'.
trace_lines() {
    local pid
    pid=$(sed -E 's/^ *[0-9]+\.[0-9]+://' "$WORK/trace.raw" | grep -ao '^[0-9a-f]*:[0-9a-f]*:Call' |
          cut -d: -f1 | sort | uniq -c | sort -rn | awk 'NR==1{print $2}')
    sed -E 's/^ *[0-9]+\.[0-9]+://' "$WORK/trace.raw" | grep -a "^$pid:[0-9a-f]*:Call "
}
trace_tidy() {
    sed 's/^[0-9a-f]*:[0-9a-f]*:Call //; s/ ret=[0-9a-f]*$//' | awk -F. '{ $1 = toupper($1); print }' OFS=.
}
trace_calls() { trace_lines | trace_tidy; }
# wait_repeat_pause SECONDS: until the trace shows the repeat's pause of
# 2097152 ms begun, at most SECONDS (times the scale); false if it did not.
# Waiting for the call itself rather than a fixed time: the emulated machine
# takes from one second to several to get there.
wait_repeat_pause() {
    local i
    for ((i = 0; i < $1 * 10 * E2E_TIME_SCALE; i++)); do
        grep -aqiE 'Call kernel32\.Sleep\([0-9a-f]*00200000\)' "$WORK/trace.raw" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
trace_main_calls() {
    local main
    main=$(trace_lines | head -n 1 | cut -d: -f2)
    trace_lines | grep -a "^[0-9a-f]*:$main:" | trace_tidy
}

# Processes of this Wine prefix still running Norvane.exe (other test runs
# on the machine use other prefixes). Wine names each process after its
# image; a script given the image's path on its command line is not one.
norvane_processes() {
    local pid
    for pid in $(pgrep -x 'Norvane\.exe'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
    return 0
}

no_norvane_process_left() {
    e2e_sleep 0.3
    [ -z "$(norvane_processes)" ]
}

# processors_answer: what Wine answers a process of this prefix about the
# processors (window_facts' line "processors COUNT SYSTEM_MASK PROCESS_MASK").
processors_answer() {
    $WINE "$WINDOW_FACTS" </dev/null 2>/dev/null | tr -d '\r' | grep '^processors ' || echo "processors 0 none none"
}

# check_launch WORKERS [LABEL]: the first worker launch in the relay trace
# (from start_norvane trace), one check per finding; LAUNCH_SUMMARY gets
# "launch: workers ..., time-critical ..., waits ..., pausing together ...".
# The main thread asks
# GetProcessAffinityMask once, about itself, before the first thread; it
# creates WORKERS threads with a 4096-byte stack and makes each one
# time-critical; each worker pauses 256 ms once, two or more of them at the
# same time; the main thread's 32 ms waits go to those threads in the order they
# were created (a worker that has ended is not waited for).
check_launch() {
    local finding label=${2:+$2: }
    LAUNCH_SUMMARY="launch: not analysed"
    while IFS= read -r finding; do
        case $finding in
            launch:*) LAUNCH_SUMMARY=$finding ;;
            *) check "$label${finding:5}" [ "${finding:0:2}" = ok ] ;;
        esac
    done < <(launch_findings "$1")
}

# One line per finding, "ok <what>" or "FAIL <what>: <detail>", then the
# summary line.
launch_findings() {
    python3 - "$WORK/trace.raw" "$1" <<'PY'
import re, sys
from collections import Counter
raw = open(sys.argv[1], encoding="latin-1").read().splitlines()
workers = int(sys.argv[2])
line_re = re.compile(r"^ *(?:(\d+\.\d+):)?([0-9a-f]+):([0-9a-f]+):(Call|Ret)\s+([\w.]+)\((.*)\) (?:retval=([0-9a-f]+) )?ret=")
found = [m for m in map(line_re.match, raw) if m]
pid = Counter(m.group(2) for m in found).most_common(1)[0][0] if found else None
main = None
calls = []          # [time, thread, name, args, retval, return time]
pending = {}        # thread -> stack of its open calls
for m in found:
    if m.group(2) != pid:
        continue
    thread, time = m.group(3), float(m.group(1)) if m.group(1) else None
    main = main or thread
    dll, _, fn = m.group(5).partition(".")
    if m.group(4) == "Call":
        calls.append([time, thread, dll.upper() + "." + fn, [a.strip() for a in m.group(6).split(",")], None, None])
        pending.setdefault(thread, []).append(calls[-1])
    elif pending.get(thread):
        c = pending[thread].pop()
        c[4], c[5] = int(m.group(7), 16) & 0xFFFFFFFF if m.group(7) else None, time

def low(text):
    """Low 32 bits: on x64 the upper halves may carry garbage."""
    return int(text, 16) & 0xFFFFFFFF

def on_main(name):
    return [i for i, c in enumerate(calls) if c[1] == main and c[2] == name]

def report(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok else ": " + detail))

report("trace of the program", len(calls) > 50, "%d calls" % len(calls))
created = on_main("KERNEL32.CreateThread")
asked = on_main("KERNEL32.GetProcessAffinityMask")
report("GetProcessAffinityMask asked once, of the process itself, answered TRUE, before the first thread",
       len(asked) == 1 and low(calls[asked[0]][3][0]) == 0xFFFFFFFF and calls[asked[0]][4] == 1
       and bool(created) and asked[0] < created[0], str([(calls[i][3], calls[i][4]) for i in asked]))
# The first launch: the threads created before the main thread's 256 ms pause.
pause = next((i for i in on_main("KERNEL32.Sleep") if low(calls[i][3][0]) == 256), len(calls))
created = [i for i in created if i < pause]
handles = [calls[i][4] for i in created]
report("%d CreateThread calls" % workers, len(created) == workers, "%d" % len(created))
stacks = [low(calls[i][3][1]) for i in created]
report("each with a 4096-byte stack", bool(stacks) and all(s == 4096 for s in stacks), str(stacks))
priorities = [(low(calls[i][3][0]), low(calls[i][3][1])) for i in on_main("KERNEL32.SetThreadPriority") if i < pause]
critical = [h for h, v in priorities if v == 15]
# The k-th priority call is the k-th thread's (Win32 reuses the handle of a
# thread whose handle the service already closed, so values may repeat).
report("each made time-critical once: SetThreadPriority(thread, 15)",
       len(priorities) == len(created) and critical == handles,
       "created %s, priorities %s" % (["%x" % h for h in handles if h is not None],
                                     [("%x" % h, v) for h, v in priorities]))
waits = [low(calls[i][3][0]) for i in on_main("KERNEL32.WaitForSingleObject") if i > pause
         and low(calls[i][3][1]) == 32]
# A handle value stands for the last thread that got it: an earlier one had
# ended and its number is no longer listed, so it is not waited for.
order = [len(handles) - 1 - handles[::-1].index(h) if h in handles else -1 for h in waits]
report("after the pause, waits of 32 ms in table order (%d)" % len(waits),
       -1 not in order and order == sorted(set(order)), "waits for threads %s" % order)
sleeps = {}
for c in calls:
    if c[1] != main and c[2] == "KERNEL32.Sleep" and low(c[3][0]) == 256:
        sleeps.setdefault(c[1], []).append(c)
report("each worker pauses 256 ms once", len(sleeps) == len(created) and all(len(v) == 1 for v in sleeps.values()),
       "%d threads pausing: %s" % (len(sleeps), [len(v) for v in sleeps.values()]))
pauses = sorted((c[0], c[5] if c[5] is not None else float("inf")) for c in (v[0] for v in sleeps.values())
                if c[0] is not None)
if pauses and len(pauses) == len(sleeps):
    # Wine's clock is in seconds with three decimals. A pause still running
    # when the process ended has no return line. On real processors the
    # pauses all meet; emulated ones on a few busy host cores start and run
    # the workers at very different speeds (the last may start after the
    # first has ended), so what is demanded is that workers run at the same
    # time: two or more pausing at once, and how many is reported.
    most = max(sum(1 for s, e in pauses if s <= start < e) for start, _ in pauses)
    spans = ", ".join("%.0f-%s" % ((s - pauses[0][0]) * 1000, "%.0f" % ((e - pauses[0][0]) * 1000)
                                    if e != float("inf") else "end") for s, e in pauses)
    report("the workers' pauses overlap: %d of %d at once (ms from the first pause: %s)"
           % (most, len(pauses), spans), most >= min(2, len(pauses)), "never two at once")
else:
    most = 0
    report("the workers' pauses overlap", False, "no timed worker pause in the trace")
print("launch: workers %d, time-critical %d, waits %d, pausing together %d"
      % (len(created), len(critical), len(waits), most))
PY
}
