#!/usr/bin/env bash
# The test environment of the win64 preset: a Wine prefix kept in the build
# tree, one Wine server kept running for the whole test run, and a private
# Xvfb on a free display number.
#
#   wine-env.sh start BUILD_DIR   prepare everything, write BUILD_DIR/test-env/display
#   wine-env.sh stop  BUILD_DIR   stop the server and the display started here
set -u
action=$1
build=$(cd "$2" && pwd)
env_dir=$build/test-env
export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

free_display() {
    local n
    for n in $(seq 87 199); do
        if [ ! -e /tmp/.X$n-lock ] && [ ! -e /tmp/.X11-unix/X$n ]; then
            echo "$n"; return 0
        fi
    done
    return 1
}

start() {
    mkdir -p "$env_dir"
    stop_quietly
    local n
    for attempt in 1 2 3; do
        n=$(free_display) || { echo "wine-env: no free X display number" >&2; exit 1; }
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$env_dir/xvfb.log" 2>&1 &
        echo $! >"$env_dir/xvfb.pid"
        for _ in $(seq 1 50); do
            if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
                echo ":$n" >"$env_dir/display"
                break 2
            fi
            kill -0 "$(cat "$env_dir/xvfb.pid")" 2>/dev/null || break
            sleep 0.1
        done
        kill "$(cat "$env_dir/xvfb.pid")" 2>/dev/null
        rm -f "$env_dir/xvfb.pid"
    done
    if [ ! -f "$env_dir/display" ]; then
        echo "wine-env: Xvfb did not start (see $env_dir/xvfb.log)" >&2
        exit 1
    fi
    export DISPLAY=$(cat "$env_dir/display")
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: creating the Wine prefix $WINEPREFIX (takes a few seconds)"
        timeout 120 "$WINE" wineboot -i </dev/null >"$env_dir/wineboot.log" 2>&1
    fi
    # One persistent server for the whole run: later programs start in well
    # under a second. Helper processes it starts must not hold our pipes.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    timeout 60 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
    echo "wine-env: Wine prefix ready, Xvfb on $DISPLAY"
}

stop_quietly() {
    if [ -f "$env_dir/xvfb.pid" ]; then
        kill "$(cat "$env_dir/xvfb.pid")" 2>/dev/null
        rm -f "$env_dir/xvfb.pid"
    fi
    rm -f "$env_dir/display"
    if [ -d "$WINEPREFIX" ]; then
        "$WINESERVER" -k </dev/null >/dev/null 2>&1
    fi
    return 0
}

case "$action" in
    start) start ;;
    stop) stop_quietly; echo "wine-env: stopped" ;;
    *) echo "usage: $0 start|stop BUILD_DIR" >&2; exit 2 ;;
esac
