#!/usr/bin/env bash
# A library planted where Windows would look for it first must never run
# inside the program. A copy of planted.dll under the name of each library
# the program uses (msimg32, uxtheme, comctl32, winmm) is put beside the
# image, and in a second start in the folder the program is started from,
# with Wine told to prefer a native copy of each of these names, as Windows
# does for them. Each copy leaves a mark beside itself if its code ever runs;
# each start must also still work: its window, the run button, exit code 0.
#
#   planted_library_test.sh BUILD_DIR   (PLANTED_LIBRARY: planted.dll of the
#                                        image's width; default in BUILD_DIR)
. "$(dirname "$0")/lib.sh" "$1"
PLANTED=${PLANTED_LIBRARY:-$E2E_BUILD/tests/e2e/planted.dll}
[ -f "$PLANTED" ] || { check "planted library built ($PLANTED)" false; finish; exit; }
NAMES="msimg32 uxtheme comctl32 winmm"
# Local folders: an image read through an emulated guest's shared folder can
# come in with wrong pages.
fields=$(mktemp -d "${TMPDIR:-/tmp}/norvane-planted.XXXXXX")
trap 'rm -rf "$fields"; e2e_cleanup' EXIT
image=$NORVANE
for place in beside current; do
    field=$fields/$place
    mkdir -p "$field/program" "$field/current"
    cp "$image" "$field/program/Norvane.exe"
    for name in $NAMES; do
        cp "$PLANTED" "$field/$([ $place = beside ] && echo program || echo current)/$name.dll"
    done
    NORVANE=$field/program/Norvane.exe
    cd "$field/current"
    WINEDLLOVERRIDES="$(echo $NAMES | tr ' ' ,)=n,b" start_norvane
    cd - >/dev/null
    window=no
    wait_window && window=yes && give click_run
    wait_exit 30
    [ "$EXIT_CODE" -eq 124 ] && stop_norvane
    check "planted $place the program: window, run button, exit code 0 (window $window, exit code $EXIT_CODE)" \
        [ "$window $EXIT_CODE" = "yes 0" ]
    for name in $NAMES; do
        ran=$(find "$field" -iname "$name.dll.ran" | sed "s|^$field/||")
        check "$name.dll planted $place the program never ran${ran:+ (it did: $ran)}" [ -z "$ran" ]
    done
done
finish
