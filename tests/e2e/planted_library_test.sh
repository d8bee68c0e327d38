#!/usr/bin/env bash
# A library planted where Windows would look for it first must never run
# inside the program. A copy of planted.dll under the name of each library
# the program uses (msimg32, uxtheme, comctl32, winmm) is put beside the
# image; in a second start in the folder the program is started from; in a
# third beside the image together with a Norvane.exe.manifest whose <file>
# entries name the four (an external manifest that Windows would read if
# the image carried none, and that sends loads of those names to the
# image's folder); in a fourth beside the image again on a system without
# SetDefaultDllDirectories (Windows before 8, 7 without its update), made so
# by the fault injector, which fails that call: a system library's own
# bare-name loads then search the program's folder first. Wine is told to
# prefer a native copy of each of these names, as Windows does for them.
# Each copy leaves a mark beside itself if its code ever runs; each start
# must also still work: its window, the run button, exit code 0.
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
STARTS="beside current manifest unnarrowed"  # each one prepared by plant, below
# Local folders: an image read through an emulated guest's shared folder can
# come in with wrong pages.
fields=$(mktemp -d "${TMPDIR:-/tmp}/norvane-planted.XXXXXX")
trap 'rm -rf "$fields"; e2e_cleanup' EXIT
image=$NORVANE

# plant START FIELD: sets WHERE (what the checks call the start) and
# NORVANE_LAUNCH and FAULTS (how it is started), and puts the start's planted
# files into FIELD, where the program is FIELD/program and is started from
# FIELD/current.
plant() {
    local folder=program name
    NORVANE_LAUNCH=() FAULTS=""
    case $1 in
        beside) WHERE="beside the program" ;;
        current) WHERE="in the current folder"; folder=current ;;
        manifest)
            WHERE="beside the program with a manifest naming them"
            {
                echo '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                echo '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">'
                echo '  <assemblyIdentity type="win32" name="Norvane" version="2.1.0.0" processorArchitecture="*"/>'
                for name in $NAMES; do echo "  <file name=\"$name.dll\"/>"; done
                echo '</assembly>'
            } >"$2/program/Norvane.exe.manifest" ;;
        unnarrowed)
            WHERE="beside the program, no SetDefaultDllDirectories"
            mkdir "$2/injector"
            cp "$INJECTOR" "$(dirname "$INJECTOR")/fault_launch.exe" "$2/injector/"
            NORVANE_LAUNCH=("$2/injector/fault_launch.exe" "Z:${2//\//\\}\\injector\\$(basename "$INJECTOR")")
            FAULTS=from:SetDefaultDllDirectories:1 ;;
    esac
    for name in $NAMES; do cp "$PLANTED" "$2/$folder/$name.dll"; done
}

for start in $STARTS; do
    field=$fields/$start
    mkdir -p "$field/program" "$field/current"
    cp "$image" "$field/program/Norvane.exe"
    plant $start "$field"
    NORVANE=$field/program/Norvane.exe
    cd "$field/current"
    NORVANE_FAULTS=$FAULTS WINEDLLOVERRIDES="$(echo $NAMES | tr ' ' ,)=n,b" start_norvane
    cd - >/dev/null
    window=no
    wait_window && window=yes && give click_run
    wait_exit 30
    [ "$EXIT_CODE" -eq 124 ] && stop_norvane
    check "planted $WHERE: window, run button, exit code 0 (window $window, exit code $EXIT_CODE)" \
        [ "$window $EXIT_CODE" = "yes 0" ]
    for name in $NAMES; do
        ran=$(find "$field" -iname "$name.dll.ran" | sed "s|^$field/||")
        check "$name.dll planted $WHERE never ran${ran:+ (it did: $ran)}" [ -z "$ran" ]
    done
done
finish
