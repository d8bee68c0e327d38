#!/usr/bin/env bash
# Some users run the program on a display without a window manager: Wine
# then draws, hides and destroys the window on its own. The run button and a
# close request must still end the process with code 0. The test display's
# window manager is stopped for this and started again afterwards.
. "$(dirname "$0")/lib.sh" "$1"
wine_env=$(dirname "$0")/../support/wine-env.sh
bash "$wine_env" wm-off "$E2E_BUILD"
trap 'bash "$wine_env" wm-on "$E2E_BUILD"; e2e_cleanup' EXIT
for way in click_run close_request_alt_f4; do
    start_norvane
    check "$way without a window manager: the window appears" wait_window
    give "$way"
    wait_exit 20
    check "$way without a window manager: exit code 0" [ "$EXIT_CODE" -eq 0 ]
    [ "$EXIT_CODE" -eq 124 ] && stop_norvane
done
check "no Norvane process left" no_norvane_process_left
finish
