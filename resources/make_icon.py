#!/usr/bin/python3
"""Writes QXSetup.ico: one 32 x 32, 16-colour image (a worksheet with an install arrow).

Usage: make_icon.py [OUTPUT]   (default: QXSetup.ico next to this script)
"""

import os
import struct
import sys

SIZE = 32

# The standard Windows 16-colour palette, in its usual index order (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
GREEN, NAVY, SILVER, LIME, BLUE, WHITE = 2, 4, 7, 10, 12, 15
TRANSPARENT = None


def draw():
    img = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                img[y][x] = colour

    # Worksheet: dark green frame and title band, white cells, silver grid.
    rect(1, 1, 23, 27, GREEN)
    rect(2, 6, 22, 26, WHITE)
    rect(3, 3, 12, 3, LIME)
    for x in (8, 15):
        rect(x, 6, x, 26, SILVER)
    for y in (10, 14, 18, 22):
        rect(2, y, 22, y, SILVER)

    # Down arrow ("install") over the sheet's lower right corner, outlined so it
    # stays readable on both the sheet and whatever lies behind the icon.
    cx, tip = 23, 30
    arrow = set()
    for y in range(11, 21):
        for x in range(cx - 3, cx + 4):
            arrow.add((x, y))
    for y in range(21, tip + 1):
        half = tip - y
        for x in range(cx - half, cx + half + 1):
            if 0 <= x < SIZE:
                arrow.add((x, y))
    for x, y in arrow:
        edge = any((x + dx, y + dy) not in arrow
                   for dx in (-1, 0, 1) for dy in (-1, 0, 1))
        img[y][x] = NAVY if edge else BLUE
    return img


def encode(img):
    xor_rows, and_rows = [], []
    for row in reversed(img):  # DIB rows run bottom-up
        nibbles = [0 if c is TRANSPARENT else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (c is TRANSPARENT)
        and_rows.append(bits.to_bytes(SIZE // 8, "big"))
    xor_mask, and_mask = b"".join(xor_rows), b"".join(and_rows)

    # ICO DIBs declare twice the height: the XOR image followed by the AND mask.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor_mask) + len(and_mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    dib = header + palette + xor_mask + and_mask

    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(dib), 6 + 16)
    return icondir + entry + dib


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "QXSetup.ico")
    with open(out, "wb") as f:
        f.write(encode(draw()))


if __name__ == "__main__":
    main()
