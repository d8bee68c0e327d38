#!/usr/bin/env python3
"""Draws Norvane's icon and writes resources/norvane.ico.

The picture: a near-black rounded tile with eight vertical register bars in
a cool-to-warm ramp, the bars cleared (dark) from the bottom up in steps, as
the program clears its registers. Three images, 16, 32 and 48 pixels square,
8 bits per pixel with a 256-entry palette and a 1-bit transparency mask.

Run: python3 resources/make_icon.py   (the .ico is kept in the repository, so
the build itself needs no Python)
"""
import os
import struct

PALETTE = [(0, 0, 0)] * 256
PALETTE[1] = (14, 14, 18)      # tile
PALETTE[2] = (40, 40, 48)      # tile edge
PALETTE[3] = (28, 28, 34)      # cleared part of a bar
RAMP = [(60, 120, 220), (60, 160, 220), (60, 200, 200), (80, 210, 150),
        (150, 210, 80), (220, 200, 60), (230, 150, 50), (230, 90, 60)]
for i, c in enumerate(RAMP):
    PALETTE[8 + i] = c


def draw(size):
    """Returns rows (top to bottom) of palette indices, and a mask (1 = transparent)."""
    px = [[0] * size for _ in range(size)]
    mask = [[1] * size for _ in range(size)]
    r = max(2, size // 8)  # corner radius
    for y in range(size):
        for x in range(size):
            dx = max(r - x, 0, x - (size - 1 - r))
            dy = max(r - y, 0, y - (size - 1 - r))
            if dx * dx + dy * dy <= r * r:
                edge = x in (0, size - 1) or y in (0, size - 1) or dx * dx + dy * dy > (r - 1) * (r - 1)
                px[y][x] = 2 if edge else 1
                mask[y][x] = 0
    margin = max(2, size // 8)
    inner = size - 2 * margin
    bar = max(1, inner // 8)
    gap_total = inner - bar * 8
    x0 = margin + gap_total // 2
    top, bottom = margin, size - margin
    for i in range(8):
        cleared = (bottom - top) * (i + 1) // 10  # later bars are cleared further
        for y in range(top, bottom):
            for x in range(x0 + i * bar, x0 + i * bar + max(1, bar - (1 if bar > 2 else 0))):
                px[y][x] = 3 if y >= bottom - cleared else 8 + i
    return px, mask


def dib(size):
    px, mask = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    rows = b''.join(bytes(px[y]) for y in reversed(range(size)))  # bottom-up, width multiple of 4
    mask_stride = ((size + 31) // 32) * 4
    mrows = b''
    for y in reversed(range(size)):
        bits = bytearray(mask_stride)
        for x in range(size):
            if mask[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        mrows += bytes(bits)
    return header + pal + rows + mrows


def main():
    sizes = [16, 32, 48]
    images = [dib(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 8, len(img), offset)
        offset += len(img)
    out += b''.join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'norvane.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
