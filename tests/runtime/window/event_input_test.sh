#!/usr/bin/env bash
# Real X input on the test display against event_input_probe:
#   event_input_test.sh BUILD_DIR PROBE_EXE keys|fuzz
# keys: Shift+Tab as the first key, Tab and Shift+Tab cycles, a click on each
#       button, Alt+F4 and an X WM_DELETE_WINDOW close request.
# fuzz: 10 000 random messages inside the probe first, then a click on each
#       button and a WM_DELETE_WINDOW close request.
set -u
build=$(cd "$1" && pwd)
probe=$2
mode=$3
support=$(cd "$(dirname "$0")/../../support" && pwd)
export WINEPREFIX=$build/wine-prefix
export DISPLAY=$(cat "$build/test-env/display")
work=$(mktemp -d)
log=$work/probe.log
failures=0
probe_pid=

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

finish() {
    if [ -n "$probe_pid" ] && kill -0 "$probe_pid" 2>/dev/null; then
        # Ask politely first; the probe also ends by itself after 90 s.
        [ -n "${wid:-}" ] && close_request "$wid"
        for _ in $(seq 1 50); do kill -0 "$probe_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    echo "--- probe log"
    cat "$log" 2>/dev/null
    rm -rf "$work"
    if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
    echo "all checks passed"
    exit 0
}

# Number of lines in the log so far.
lines() { wc -l <"$log" 2>/dev/null || echo 0; }

# wait_for PATTERN FROM_LINE [SECONDS]: waits until a line after FROM_LINE matches.
wait_for() {
    local deadline=$(( $(date +%s) + ${3:-10} ))
    while [ "$(date +%s)" -le "$deadline" ]; do
        tail -n +"$(( $2 + 1 ))" "$log" 2>/dev/null | grep -q -E "$1" && return 0
        sleep 0.1
    done
    return 1
}

# The X close request a window manager sends: a WM_PROTOCOLS client message
# carrying WM_DELETE_WINDOW.
close_request() {
    /usr/bin/python3 - "$1" <<'EOF'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
display = x.XOpenDisplay(None)
event = ClientMessage()
event.type = 33  # ClientMessage
event.window = int(sys.argv[1])
event.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.format = 32
event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
event.data[1] = 0  # CurrentTime
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XSendEvent(display, event.window, 0, 0, ctypes.byref(event))
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
x.XFlush(display)
x.XCloseDisplay(display)
EOF
}

# The gadget numbers of the focus lines after FROM_LINE, space-separated,
# leaving out moments when no button had the focus.
focus_after() {
    tail -n +"$(( $1 + 1 ))" "$log" | awk '$1 == "focus" && $2 > 0 { printf "%s ", $2 }'
}

# click GADGET: a real click at the button's centre; checks that the call
# dispatching WM_LBUTTONUP returned 514 and the next one EVT_GADGET with
# source GADGET and type 0, and that exactly one EVT_GADGET came.
click() {
    local gadget=$1 at xy
    xy=$(awk -v g="$gadget" '$1 == "button" && $2 == g { print $3, $4 }' "$log")
    at=$(lines)
    xdotool mousemove --window "$wid" $xy click 1
    if ! wait_for "^wait 13100 " "$at" 10; then
        fail "click on $gadget: no EVT_GADGET"
        return
    fi
    sleep 0.5
    local slice
    slice=$(tail -n +"$(( at + 1 ))" "$log" | grep '^wait ')
    if ! echo "$slice" | grep -A1 '^wait 514 ' | grep -q -x "wait 13100 $gadget 0"; then
        fail "click on $gadget: 514 not followed by 'wait 13100 $gadget 0'"
    fi
    local count
    count=$(echo "$slice" | grep -c '^wait 13100 ')
    [ "$count" -eq 1 ] || fail "click on $gadget: $count EVT_GADGET events"
    echo "click on $gadget: ok"
}

# key KEYS EXPECTED_FOCUS
key() {
    local at
    at=$(lines)
    xdotool key "$1"
    wait_for "^focus $2\$" "$at" 5 || fail "$1: focus did not reach $2 (got: $(focus_after "$at"))"
    sleep 0.2
}

trap finish EXIT
closes=2
[ "$mode" = fuzz ] && closes=1
"$support/wine-run.sh" "$build" "$probe" "Z:$log" "$closes" ${mode/keys/} \
    >"$work/probe.out" 2>&1 &
probe_pid=$!

wait_for '^ready$' 0 120 || { fail "the probe did not come up"; cat "$work/probe.out"; exit 1; }
wid=$(xdotool search --name '^Norvane input probe$' | head -n 1)
[ -n "$wid" ] || { fail "no X window for the probe"; exit 1; }

if [ "$mode" = fuzz ]; then
    grep '^fuzz ' "$log"
    for gadget in 8 4 16; do click "$gadget"; done
else
    xdotool windowfocus "$wid"
    sleep 0.5
    start=$(lines)
    key shift+Tab 16
    for expected in 4 8 16 4; do key Tab "$expected"; done
    for expected in 16 8 4 16; do key shift+Tab "$expected"; done
    sequence=$(focus_after "$start")
    [ "$sequence" = "16 4 8 16 4 16 8 4 16 " ] || fail "focus sequence '$sequence'"
    echo "focus sequence: $sequence"
    for gadget in 4 8 16; do click "$gadget"; done

    at=$(lines)
    xdotool windowfocus "$wid"
    sleep 0.3
    xdotool key alt+F4
    if wait_for '^wait 13116 2 ' "$at" 10; then
        wait_for '^open 1$' "$at" 5 || fail "Alt+F4 closed the window"
        sleep 0.3
        xdotool search --name '^Norvane input probe$' >/dev/null || fail "no X window after Alt+F4"
        echo "Alt+F4: ok"
    else
        fail "Alt+F4 gave no EVT_CLOSE_WINDOW with source 2"
    fi
fi

at=$(lines)
close_request "$wid"
if wait_for '^wait 13116 2 ' "$at" 10; then
    wait_for '^open 1$' "$at" 5 || fail "WM_DELETE_WINDOW closed the window"
    echo "WM_DELETE_WINDOW: ok"
else
    fail "WM_DELETE_WINDOW gave no EVT_CLOSE_WINDOW with source 2"
fi
for _ in $(seq 1 100); do kill -0 "$probe_pid" 2>/dev/null || break; sleep 0.1; done
wait "$probe_pid"
rc=$?
[ "$rc" -eq 0 ] || fail "probe exit code $rc"
probe_pid=
