#!/usr/bin/env bash
# Runs a Windows program of the win64 build under Wine, in the test
# environment that wine-env.sh prepared: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
#
# The program's output goes to a file first and is printed after it ends, so
# a Wine helper process that inherits our stdout cannot hold the pipe open.
set -u
build=$(cd "$1" && pwd); shift
export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=${NORVANE_WINEDEBUG:--all}
if [ -f "$build/test-env/display" ]; then
    export DISPLAY=$(cat "$build/test-env/display")
fi
# A window that opens under the pointer gets a mouse move that a test of the
# event queue does not expect, and the journeys leave the pointer anywhere.
[ -n "${DISPLAY:-}" ] && xdotool mousemove 0 0 2>/dev/null
out=$(mktemp)
/usr/lib/wine/wine64 "$@" </dev/null >"$out" 2>&1
rc=$?
tr -d '\r' <"$out"
rm -f "$out"
exit $rc
