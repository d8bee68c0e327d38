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
NORVANE_PID=""
trap 'e2e_cleanup' EXIT

e2e_cleanup() {
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

finish() {
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

# start_norvane [trace]: starts the program in the background.
start_norvane() {
    if [ "${1:-}" = trace ]; then
        WINEDEBUG=+pid,+relay $WINE "$NORVANE" </dev/null >/dev/null 2>"$WORK/trace.raw" &
    else
        $WINE "$NORVANE" </dev/null >/dev/null 2>&1 &
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
# starts at (3, 19) inside the X window.
CLIENT_X=3
CLIENT_Y=19
click_client() {
    xdotool mousemove --window "$WID" $((CLIENT_X + $1)) $((CLIENT_Y + $2)) click 1
}
click_run() { click_client 148 50; }
click_repeat() { click_client 148 120; }
click_exit() { click_client 255 172; }

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
    pid=$(grep -ao '^[0-9a-f]*:[0-9a-f]*:Call' "$WORK/trace.raw" | cut -d: -f1 | sort | uniq -c | sort -rn | awk 'NR==1{print $2}')
    grep -a "^$pid:[0-9a-f]*:Call " "$WORK/trace.raw"
}
trace_tidy() {
    sed 's/^[0-9a-f]*:[0-9a-f]*:Call //; s/ ret=[0-9a-f]*$//' | awk -F. '{ $1 = toupper($1); print }' OFS=.
}
trace_calls() { trace_lines | trace_tidy; }
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
