#!/usr/bin/env bash
# The run command's part inside the machine of tests/pe32/guest.sh: starts a
# Norvane.exe under its Wine and waits for it to end.
#
#   show.sh IMAGE [SHOT]
#
# Without SHOT the window is the user's, on the user's display: this only
# waits. With SHOT (the machine's own virtual display, which nobody sees) it
# saves a screenshot of the screen to SHOT and then clicks the window's EXIT
# button, as a user would. Prints when the window was mapped; the exit code
# is the program's own.
set -u
image=$1 shot=${2:-}
scale=${E2E_TIME_SCALE:-1}
now() { echo "${EPOCHREALTIME/,/.}"; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f s", b - a }'; }
# A local copy: images read through the emulated guest's share can come in
# with wrong pages. The name stays Norvane.exe.
copy=$(mktemp -d "${TMPDIR:-/tmp}/norvane-run.XXXXXX")
trap 'rm -rf "$copy"' EXIT
cp "$image" "$copy/Norvane.exe"

t0=$(now)
$WINE "$copy/Norvane.exe" </dev/null >/dev/null 2>&1 &
pid=$!
wid=""
for _ in $(seq 1 $((600 * scale))); do
    wid=$(xdotool search --onlyvisible --name '^Norvane$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.05
done
if [ -z "$wid" ]; then
    echo "norvane: no window within $((30 * scale)) s of the start"
    kill $pid 2>/dev/null
else
    echo "norvane: window \"Norvane\" mapped $(since "$t0") after the program's start on $DISPLAY"
fi
if [ -n "$wid" ] && [ -n "$shot" ]; then
    sleep 0.5  # the buttons come after the map
    import -window root -strip "$shot" && echo "norvane: screenshot saved"
    # EXIT's centre in the client area, which starts after the frame Wine
    # draws itself: as wide as the sides, the caption above.
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    side=$(( (WIDTH - 300) / 2 ))
    top=$(( HEIGHT - 200 - side ))
    echo "norvane: clicking EXIT, since nobody can click on a virtual display"
    xdotool mousemove --window "$wid" $((side + 255)) $((top + 172)) click 1
fi
wait $pid
rc=$?
echo "norvane: Norvane.exe ended $(since "$t0") after its start"
exit $rc
