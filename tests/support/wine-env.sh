#!/usr/bin/env bash
# The test environment of the win64 preset: a Wine prefix kept in the build
# tree, one Wine server kept running for the whole test run, and a private
# Xvfb on a free display number with a window manager, as a desktop has.
#
#   wine-env.sh start BUILD_DIR    prepare everything, write BUILD_DIR/test-env/display
#   wine-env.sh stop  BUILD_DIR    stop the server, the window manager and the display
#   wine-env.sh wm-off BUILD_DIR   stop only the window manager (for a bare-display check)
#   wine-env.sh wm-on  BUILD_DIR   start it again
set -u
action=$1
build=$(cd "$2" && pwd)
env_dir=$build/test-env
export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

wm_running() {
    # A window manager announces itself on the root window by a window of its
    # own; the property outlives a window manager that was stopped.
    local id
    id=$(DISPLAY=$(cat "$env_dir/display") xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null \
         | sed -n 's/.*window id # //p')
    [ -n "$id" ] && DISPLAY=$(cat "$env_dir/display") xwininfo -id "$id" >/dev/null 2>&1
}

wm_on() {
    local display
    display=$(cat "$env_dir/display")
    DISPLAY=$display openbox --sm-disable --config-file "$(dirname "$0")/openbox-rc.xml" </dev/null >"$env_dir/wm.log" 2>&1 &
    echo $! >"$env_dir/wm.pid"
    # Usually a tenth of a second; much longer while the machine is busy.
    for _ in $(seq 1 600); do
        wm_running && return 0
        kill -0 "$(cat "$env_dir/wm.pid")" 2>/dev/null || break
        sleep 0.05
    done
    echo "wine-env: the window manager (openbox) did not start on $display:" >&2
    sed 's/^/    /' "$env_dir/wm.log" >&2
    return 1
}

wm_off() {
    if [ -f "$env_dir/wm.pid" ]; then
        kill "$(cat "$env_dir/wm.pid")" 2>/dev/null
        for _ in $(seq 1 100); do
            kill -0 "$(cat "$env_dir/wm.pid")" 2>/dev/null || break
            sleep 0.05
        done
        rm -f "$env_dir/wm.pid"
    fi
    return 0
}

start() {
    mkdir -p "$env_dir"
    stop_quietly
    # Xvfb picks a free display number itself and writes it when it is ready:
    # two environments starting at once cannot take the same number. Without
    # -noreset the server starts over whenever its last client leaves (the
    # readiness check below is one), and a client connecting just then fails.
    local n="" attempt
    for attempt in 1 2 3; do
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
            </dev/null >"$env_dir/xvfb.log" 2>&1 3>"$env_dir/xvfb.number" &
        echo $! >"$env_dir/xvfb.pid"
        for _ in $(seq 1 200); do
            n=$(tr -dc 0-9 <"$env_dir/xvfb.number" 2>/dev/null)
            [ -n "$n" ] && break
            kill -0 "$(cat "$env_dir/xvfb.pid")" 2>/dev/null || break
            sleep 0.05
        done
        [ -n "$n" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>>"$env_dir/xvfb.log" && break
        # Seen once in fifty starts beside other displays starting and
        # stopping: a display that was announced but did not answer.
        echo "wine-env: Xvfb attempt $attempt did not answer on :${n:-?}:" >&2
        sed 's/^/    /' "$env_dir/xvfb.log" >&2
        stop_display
        n=""
    done
    [ -n "$n" ] || { echo "wine-env: Xvfb did not start" >&2; exit 1; }
    echo ":$n" >"$env_dir/display"
    export DISPLAY=$(cat "$env_dir/display")
    wm_on || exit 1
    # The persistent server must be ours before anything else talks to Wine:
    # a server that a client starts on its own (wineboot's, on a new prefix)
    # lingers for no time at all, so it quits between two test programs and
    # the next one can meet it half gone ("recvmsg: Connection reset by peer").
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: creating the Wine prefix $WINEPREFIX (takes a few seconds)"
        timeout 120 "$WINE" wineboot -i </dev/null >"$env_dir/wineboot.log" 2>&1
    fi
    # Helper processes it starts must not hold our pipes.
    timeout 60 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
    if ! server_is_persistent; then
        echo "wine-env: the Wine server for $WINEPREFIX is not the persistent one" >&2
        exit 1
    fi
    echo "wine-env: Wine prefix ready, Xvfb on $DISPLAY with a window manager"
}

# The server of this prefix runs with "-p" last on its command line (the
# Debian wrapper puts "-p0" first).
server_is_persistent() {
    local pid
    for pid in $(pgrep -f 'wineserver'); do
        case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in */"$(server_dir)") ;; *) continue ;; esac
        tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- '-p $' && return 0
    done
    return 1
}

# Wine names its server directory after the prefix's device and inode.
server_dir() {
    printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")"
}

# The display number is free only once the server has gone: a next start
# could otherwise take the number while the old server still answers.
stop_display() {
    if [ -f "$env_dir/xvfb.pid" ]; then
        local pid
        pid=$(cat "$env_dir/xvfb.pid")
        kill "$pid" 2>/dev/null
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        rm -f "$env_dir/xvfb.pid"
    fi
}

stop_quietly() {
    wm_off
    stop_display
    rm -f "$env_dir/display"
    if [ -d "$WINEPREFIX" ]; then
        "$WINESERVER" -k </dev/null >/dev/null 2>&1
        timeout 20 "$WINESERVER" -w </dev/null >/dev/null 2>&1
    fi
    return 0
}

case "$action" in
    start) start ;;
    stop) stop_quietly; echo "wine-env: stopped" ;;
    wm-off) wm_off ;;
    wm-on) wm_on ;;
    *) echo "usage: $0 start|stop|wm-off|wm-on BUILD_DIR" >&2; exit 2 ;;
esac
