#!/usr/bin/env bash
# Screenshot of window 2 from the X server of the test display: after
# WindowSetColor(2, 1) every client pixel is RGB(1,0,0); after colour -1
# every client pixel is COLOR_BTNFACE again.
#
#   window_colour_test.sh BUILD_DIR PROBE_EXE
set -u
build=$(cd "$1" && pwd)
probe=$2
export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=-all
export DISPLAY=$(cat "$build/test-env/display")
work=$(mktemp -d)
pid=

finish() {
    touch "$work/next" "$work/done"
    [ -n "$pid" ] && wait "$pid"
    rm -rf "$work"
}
trap finish EXIT

/usr/lib/wine/wine64 "$probe" "Z:$work" </dev/null >"$work/log" 2>&1 &
pid=$!

wait_for() {
    for _ in $(seq 1 300); do
        [ -f "$work/$1" ] && return 0
        kill -0 "$pid" 2>/dev/null || { echo "probe ended early:"; cat "$work/log"; return 1; }
        sleep 0.1
    done
    echo "no $1 from the probe"; return 1
}

# Every pixel of the client area must be the expected colour; the window may
# need a moment to be painted, so a few screenshots are allowed.
check() {
    local x y w h r g b
    read -r x y w h r g b <"$work/$1"
    for attempt in $(seq 1 25); do
        import -window root -crop "${w}x${h}+${x}+${y}" -strip -depth 8 ppm:"$work/shot.ppm" 2>/dev/null
        if python3 - "$work/shot.ppm" "$w" "$h" "$r" "$g" "$b" <<'PY'
import sys
path, w, h, r, g, b = sys.argv[1], *map(int, sys.argv[2:])
data = open(path, 'rb').read()
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos+1].isspace(): pos += 1
    end = pos
    while not data[end:end+1].isspace(): end += 1
    fields.append(data[pos:end]); pos = end
pos += 1
assert fields[0] == b'P6' and int(fields[1]) == w and int(fields[2]) == h, fields
pixels = data[pos:pos + 3 * w * h]
want = bytes((r, g, b))
wrong = sum(1 for i in range(0, len(pixels), 3) if pixels[i:i+3] != want)
first = next((i // 3 for i in range(0, len(pixels), 3) if pixels[i:i+3] != want), None)
print(f"{w}x{h}: {wrong} of {w*h} pixels differ from {tuple(want)}"
      + (f", first at ({first % w},{first // w}) = {tuple(pixels[3*first:3*first+3])}" if wrong else ""))
sys.exit(1 if wrong else 0)
PY
        then
            return 0
        fi
        sleep 0.2
    done
    return 1
}

wait_for coloured || exit 1
check coloured || { echo "FAIL: client area after WindowSetColor(2, 1)"; exit 1; }
touch "$work/next"
wait_for uncoloured || exit 1
check uncoloured || { echo "FAIL: client area after WindowSetColor(2, -1)"; exit 1; }
touch "$work/done"
wait "$pid"; rc=$?; pid=
[ $rc -eq 0 ] || { echo "probe exit code $rc"; cat "$work/log"; exit 1; }
echo "PASS"
