#!/usr/bin/env bash
# A library planted where Windows would look for it first must never run
# inside the program. A copy of planted.dll under the name of each library
# the program uses (msimg32, uxtheme, comctl32, winmm) is put beside the
# image, and in a second start in the folder the program is started from,
# with Wine told to prefer a native copy of each of these names, as Windows
# does for them. Each copy leaves a mark beside itself if its code ever runs;
# each start must also still work: its window, the run button, exit code 0.
# A third start plants them beside the image again on a system without
# SetDefaultDllDirectories (Windows before 8, 7 without its update), made so
# by the fault injector, which fails that call: a system library's own
# bare-name loads then search the program's folder first.
#
#   planted_library_test.sh BUILD_DIR   (PLANTED_LIBRARY: planted.dll of the
#                                        image's width, FAULT_INJECTOR the
#                                        injector with its launcher beside
#                                        it; defaults in BUILD_DIR)
. "$(dirname "$0")/lib.sh" "$1"
PLANTED=${PLANTED_LIBRARY:-$E2E_BUILD/tests/e2e/planted.dll}
INJECTOR=${FAULT_INJECTOR:-$E2E_BUILD/tests/faults/fault_injector.dll}
[ -f "$PLANTED" ] || { check "planted library built ($PLANTED)" false; finish; exit; }
[ -f "$INJECTOR" ] && [ -f "$(dirname "$INJECTOR")/fault_launch.exe" ] ||
    { check "fault injector and launcher built ($INJECTOR)" false; finish; exit; }
NAMES="msimg32 uxtheme comctl32 winmm"
# Local folders: an image read through an emulated guest's shared folder can
# come in with wrong pages.
fields=$(mktemp -d "${TMPDIR:-/tmp}/norvane-planted.XXXXXX")
trap 'rm -rf "$fields"; e2e_cleanup' EXIT
image=$NORVANE
for place in beside current unnarrowed; do
    field=$fields/$place
    mkdir -p "$field/program" "$field/current"
    cp "$image" "$field/program/Norvane.exe"
    for name in $NAMES; do
        cp "$PLANTED" "$field/$([ $place = current ] && echo current || echo program)/$name.dll"
    done
    NORVANE=$field/program/Norvane.exe
    NORVANE_LAUNCH=()
    if [ $place = unnarrowed ]; then
        mkdir "$field/injector"
        cp "$INJECTOR" "$(dirname "$INJECTOR")/fault_launch.exe" "$field/injector/"
        NORVANE_LAUNCH=("$field/injector/fault_launch.exe" "Z:${field//\//\\}\\injector\\$(basename "$INJECTOR")")
    fi
    cd "$field/current"
    NORVANE_FAULTS=$([ $place = unnarrowed ] && echo from:SetDefaultDllDirectories:1) \
        WINEDLLOVERRIDES="$(echo $NAMES | tr ' ' ,)=n,b" start_norvane
    cd - >/dev/null
    case $place in
        beside) where="beside the program" ;;
        current) where="in the current folder" ;;
        unnarrowed) where="beside the program, no SetDefaultDllDirectories" ;;
    esac
    window=no
    wait_window && window=yes && give click_run
    wait_exit 30
    [ "$EXIT_CODE" -eq 124 ] && stop_norvane
    check "planted $where: window, run button, exit code 0 (window $window, exit code $EXIT_CODE)" \
        [ "$window $EXIT_CODE" = "yes 0" ]
    for name in $NAMES; do
        ran=$(find "$field" -iname "$name.dll.ran" | sed "s|^$field/||")
        check "$name.dll planted $where never ran${ran:+ (it did: $ran)}" [ -z "$ran" ]
    done
done
finish
