#!/usr/bin/env bash
# The three ways to leave from the window — EXIT button, Alt+F4, and a
# WM_DELETE_WINDOW close request — each end the process with code 0, start no
# worker, and leave the window, its buttons and both fonts to the end
# routines: nothing is destroyed before the end path, then the window goes
# before the fonts, and the hidden event window after them.
. "$(dirname "$0")/lib.sh" "$1"
relay_setup
for way in exit_button alt_f4 wm_delete; do
    start_norvane trace
    check "$way: the window appears" wait_window
    case $way in
        exit_button) give click_exit ;;
        alt_f4) give close_request_alt_f4 ;;
        wm_delete) give close_request_wm_delete ;;
    esac
    wait_exit 20
    check "$way: exit code 0" [ "$EXIT_CODE" -eq 0 ]
    trace_calls >"$WORK/calls.txt"
    check "$way: no worker started" [ "$(grep -c '^KERNEL32.CreateThread' "$WORK/calls.txt")" -eq 0 ]
    # Positions of the end path's steps in the program's own calls.
    first_destroy=$(grep -n '^USER32.DestroyWindow' "$WORK/calls.txt" | head -n 1 | cut -d: -f1)
    last_wait=$(grep -n '^USER32.GetMessageA' "$WORK/calls.txt" | tail -n 1 | cut -d: -f1)
    unregister=$(grep -n '^USER32.UnregisterClassA.*"WindowClass_2"' "$WORK/calls.txt" | head -n 1 | cut -d: -f1)
    last_destroy=$(grep -n '^USER32.DestroyWindow' "$WORK/calls.txt" | tail -n 1 | cut -d: -f1)
    fonts_deleted=$(sed -n "${unregister:-1},${last_destroy:-1}p" "$WORK/calls.txt" | grep -c '^GDI32.DeleteObject')
    exit_at=$(grep -n '^KERNEL32.ExitProcess(' "$WORK/calls.txt" | tail -n 1 | cut -d: -f1)
    echo "$way: last wait $last_wait, first destroy $first_destroy, class gone $unregister, last destroy $last_destroy, exit $exit_at"
    check "$way: nothing destroyed before the end path" [ "${first_destroy:-0}" -gt "${last_wait:-999999}" ]
    check "$way: the end routines close the window" [ -n "$unregister" ]
    check "$way: then delete both fonts (and the brush)" [ "$fonts_deleted" -ge 3 ]
    check "$way: the hidden event window goes after the fonts" [ "$last_destroy" -gt "$unregister" ]
    check "$way: ExitProcess(0) last" grep -qE '^KERNEL32.ExitProcess\([0-9a-f]*00000000\)' "$WORK/calls.txt"
    check "$way: no Norvane process left" no_norvane_process_left
done
finish
