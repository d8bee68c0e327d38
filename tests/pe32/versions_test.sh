#!/usr/bin/env bash
# The program under each Windows version this Wine reports to it on request
# (HKCU\Software\Wine\AppDefaults\Norvane.exe\Version): what GetVersionExA
# answered, whether the start-up probe loaded the common-controls and theme
# libraries (never for platform 1 or a version below 5.1), the window, the
# EXIT button and exit code 0. Prints the table and keeps it in
# OUT_DIR/versions.txt.
#
#   versions_test.sh OUT_DIR   (environment as for the journeys, see lib.sh)
. "$(dirname "$0")/../e2e/lib.sh" "$1"
key='HKCU\Software\Wine\AppDefaults\Norvane.exe'
# The relay trace shows only the record's address, not the answer: a copy of
# window_facts named Norvane.exe gets the same answer (the program's manifest
# names no supported systems, and window_facts has none) and prints it. A
# local copy, as checks.sh makes them.
probe=$(mktemp -d "${TMPDIR:-/tmp}/norvane-probe.XXXXXX")
cp "$WINDOW_FACTS" "$probe/Norvane.exe"
trap '$WINE reg delete "$key" /f >/dev/null 2>&1; rm -rf "$probe"; e2e_cleanup' EXIT
relay_setup
table=$E2E_BUILD/versions.txt
printf '%-8s %-17s %-22s %-7s %s\n' version answer "probe libraries" window "exit code" >"$table"

set_version() { $WINE reg add "$key" /v Version /t REG_SZ /d "$1" /f >/dev/null 2>&1; }
# Each process reads the version once, as it starts: the probe starts beside
# the program, and the next version is set while the program is ended, each
# a Wine start fewer to wait for in an emulated machine.
versions=(win95 win98 winme nt40 win2k winxp vista win7 win8 win81 win10 win11)
set_version "${versions[0]}"
for i in "${!versions[@]}"; do
    version=${versions[$i]} next=${versions[$((i + 1))]:-}
    WINEDEBUG=err+ver $WINE "$probe/Norvane.exe" </dev/null >"$WORK/answer.txt" 2>"$WORK/answer.err" &
    probe_pid=$!
    start_norvane trace
    window=none
    wait_window && window=shown
    wait "$probe_pid"
    setting=""
    if [ -n "$next" ]; then set_version "$next" & setting=$!; fi
    if grep -q 'Invalid Windows version' "$WORK/answer.err"; then
        printf '%-8s %s\n' "$version" "not offered by this Wine" >>"$table"
        stop_norvane
        [ -z "$setting" ] || wait "$setting"
        continue
    fi
    read -r _ platform major minor build < <(tr -d '\r' <"$WORK/answer.txt" | grep '^system ')
    answer="$platform/$major.$minor ($build)"
    # Platform 2 from 5.1 on asks the two libraries; platform 1 and older
    # versions must not.
    want=0
    [ "${platform:-0}" -eq 2 ] && [ $(( ${major:-0} * 100 + ${minor:-0} )) -ge 501 ] && want=1

    check "$version: the window appears" [ "$window" = shown ]
    [ "$window" = shown ] && click_exit
    wait_exit 20
    [ "$EXIT_CODE" -eq 124 ] && stop_norvane
    [ -z "$setting" ] || wait "$setting"
    check "$version: exit code 0 after EXIT" [ "$EXIT_CODE" -eq 0 ]
    trace_main_calls >"$WORK/calls.txt"
    asked=$(grep -c '^KERNEL32.GetVersionExA(' "$WORK/calls.txt")
    # The common-controls library is loaded once before the probe in any
    # case, in place of an import.
    comctl=$(( $(grep -ci '^KERNEL32.LoadLibraryExA(.*\\\\COMCTL32.DLL"' "$WORK/calls.txt") - 1 ))
    theme=$(grep -ci '^KERNEL32.LoadLibraryExA(.*\\\\uxtheme.dll"' "$WORK/calls.txt")
    if [ "$want" -eq 1 ]; then expect="1 1 1"; loaded=loaded; else expect="1 0 0"; loaded="not loaded"; fi
    check "$version: answered $answer, GetVersionExA once, COMCTL32.DLL and uxtheme.dll $loaded" \
        [ "$asked $comctl $theme" = "$expect" ]
    [ "$comctl$theme" = 00 ] && libraries="not loaded" || libraries="loaded ($comctl, $theme)"
    printf '%-8s %-17s %-22s %-7s %s\n' "$version" "$answer" "$libraries" "$window" "$EXIT_CODE" >>"$table"
done
cat "$table"
finish
