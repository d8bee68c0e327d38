#!/usr/bin/env bash
# A library planted where Windows would look for it first must never run
# inside the program. For each library the program uses (msimg32, uxtheme,
# comctl32, winmm), a copy of planted.dll under its name is put beside the
# image, and then in the folder the program is started from, with Wine told
# to prefer a native copy of that name, as Windows does for these libraries.
# Each case passes when the planted copy's code never ran (it leaves a mark
# beside itself) and the program still works: its window, the run button and
# exit code 0.
#
#   planted_library_test.sh BUILD_DIR   (PLANTED_LIBRARY: planted.dll of the
#                                        image's width; default in BUILD_DIR)
. "$(dirname "$0")/lib.sh" "$1"
PLANTED=${PLANTED_LIBRARY:-$E2E_BUILD/tests/e2e/planted.dll}
[ -f "$PLANTED" ] || { check "planted library built ($PLANTED)" false; finish; exit; }
# Local folders: an image read through an emulated guest's shared folder can
# come in with wrong pages.
fields=$(mktemp -d "${TMPDIR:-/tmp}/norvane-planted.XXXXXX")
trap 'rm -rf "$fields"; e2e_cleanup' EXIT
image=$NORVANE
for name in msimg32 uxtheme comctl32 winmm; do
    for place in beside current; do
        field=$fields/$name-$place
        mkdir -p "$field/program" "$field/current"
        cp "$image" "$field/program/Norvane.exe"
        cp "$PLANTED" "$field/$([ $place = beside ] && echo program || echo current)/$name.dll"
        NORVANE=$field/program/Norvane.exe
        cd "$field/current"
        WINEDLLOVERRIDES="$name=n,b" start_norvane
        cd - >/dev/null
        window=no
        wait_window && window=yes && give click_run
        wait_exit 30
        [ "$EXIT_CODE" -eq 124 ] && stop_norvane
        ran=$(cd "$field" && find . -name '*.ran' | sed 's|^\./||' | tr '\n' ' ')
        check "$name.dll planted $place the program: its code never ran${ran:+ (it did: $ran)}" [ -z "$ran" ]
        check "$name.dll planted $place the program: window, run button, exit code 0 (window $window, exit code $EXIT_CODE)" \
            [ "$window $EXIT_CODE" = "yes 0" ]
    done
done
finish
