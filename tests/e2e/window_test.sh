#!/usr/bin/env bash
# The control window as the user sees it: title, class and style, a 300 × 200
# client area centred on the screen, background exactly RGB(1, 0, 0), and the
# three buttons with their texts at their places. Keeps a screenshot.
. "$(dirname "$0")/lib.sh" "$1"
artifacts=$E2E_BUILD/e2e-artifacts
mkdir -p "$artifacts"

start_norvane
check "the window appears" wait_window
$WINE "$WINDOW_FACTS" </dev/null >"$WORK/facts.raw" 2>/dev/null
tr -d '\r' <"$WORK/facts.raw" >"$WORK/facts.txt"
cat "$WORK/facts.txt"

read -r _ cls style exstyle left top right bottom < <(grep '^window ' "$WORK/facts.txt")
read -r _ cw ch < <(grep '^client ' "$WORK/facts.txt")
read -r _ sw sh < <(grep '^screen ' "$WORK/facts.txt")
check "class WindowClass_2" [ "$cls" = WindowClass_2 ]
# WS_VISIBLE and WS_CLIPSIBLINGS are the system's own additions once shown.
check "style is WS_CAPTION only" [ $(( style & ~0x14000000 )) -eq $(( 0x00C00000 )) ]
check "tool window" [ $(( exstyle & 0x80 )) -eq $(( 0x80 )) ]
check "client area 300 x 200" [ "$cw $ch" = "300 200" ]
check "centred horizontally on the screen" [ "$left" -eq $(( (sw - (right - left)) / 2 )) ]
check "centred vertically on the screen" [ "$top" -eq $(( (sh - (bottom - top)) / 2 )) ]
check "visible" grep -qx 'visible 1' "$WORK/facts.txt"
check "window number property" grep -qx 'property KX_WindowID 3' "$WORK/facts.txt"
check "run button" grep -qx 'child 4 Button 0x50030000 20 20 256 60 Run norvane' "$WORK/facts.txt"
check "repeat button" grep -qx 'child 8 Button 0x50030000 20 100 256 40 Repeat the run every 34min' "$WORK/facts.txt"
check "exit button" grep -qx 'child 16 Button 0x50030000 230 155 50 35 EXIT' "$WORK/facts.txt"

# The client area on the screen: the X window is the whole Win32 window,
# the client area where the window says (its caption's height is Wine's:
# 19 pixels down under Wine 8, 21 under Wine 10).
read -r _ CLIENT_X CLIENT_Y < <(grep '^origin ' "$WORK/facts.txt")
eval "$(xdotool getwindowgeometry --shell "$WID")"
import -window root -crop "300x200+$((X + CLIENT_X))+$((Y + CLIENT_Y))" -strip -depth 8 ppm:"$WORK/client.ppm"
import -window root -crop "$((right - left))x$((bottom - top))+$X+$Y" -strip "$artifacts/norvane-window.png"
python3 - "$WORK/client.ppm" >"$WORK/pixels.txt" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
# binary PPM: P6\n300 200\n255\n
parts = data.split(b'\n', 3)
w, h = map(int, parts[1].split())
px = parts[3]
buttons = [(20, 20, 256, 60), (20, 100, 256, 40), (230, 155, 50, 35)]
def inside(x, y):
    return any(bx <= x < bx + bw and by <= y < by + bh for bx, by, bw, bh in buttons)
off = 0
for y in range(h):
    for x in range(w):
        if not inside(x, y) and px[3 * (y * w + x):3 * (y * w + x) + 3] != b'\x01\x00\x00':
            off += 1
lit = [sum(1 for y in range(by, by + bh) for x in range(bx, bx + bw)
           if px[3 * (y * w + x):3 * (y * w + x) + 3] != b'\x01\x00\x00') for bx, by, bw, bh in buttons]
print("background-off", off)
print("button-pixels", *lit)
PY
cat "$WORK/pixels.txt"
read -r _ off < <(grep background-off "$WORK/pixels.txt")
read -r _ b4 b8 b16 < <(grep button-pixels "$WORK/pixels.txt")
check "every background pixel is RGB(1, 0, 0)" [ "$off" -eq 0 ]
check "the three buttons are drawn over it" [ "$b4" -gt 10000 ] && [ "$b8" -gt 7000 ] && [ "$b16" -gt 1200 ]

close_request_alt_f4
wait_exit 20
check "exit code 0 after the close request" [ "$EXIT_CODE" -eq 0 ]
echo "screenshot: $artifacts/norvane-window.png"
finish
