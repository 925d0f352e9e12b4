#!/usr/bin/python3
"""Draws the application icon and writes app/skm2trn.ico.

Two 16-colour images, 32 x 32 and 16 x 16: a blue page with a folded corner and a white arrow
pointing right across it (a gesture going into a package). Written by hand rather than with
Pillow so that the colour depth and the palette are exactly the standard 16-colour ones.
"""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, BLUE, YELLOW, WHITE = 0, 4, 8, 12, 11, 15
CLEAR = None  # transparent


def draw(size):
    """Returns size rows of size palette indices (or CLEAR), top row first."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                px[y][x] = colour

    # Page with a dark outline and a folded top-right corner.
    fill(4, 1, 28, 31, BLACK)
    fill(5, 2, 27, 30, BLUE)
    fold = round(8 * s)
    right = round(28 * s)
    top = round(1 * s)
    for d in range(fold):
        for x in range(right - fold, right):
            k = x - (right - fold)
            if k > d:
                px[top + d][x] = CLEAR
            elif k == d or d == fold - 1 or k == 0:
                px[top + d][x] = BLACK
            else:
                px[top + d][x] = YELLOW
    # Arrow: shaft and head.
    fill(8, 14, 19, 19, WHITE)
    for y in range(size):
        for x in range(size):
            cx, cy = (x + 0.5) / s, (y + 0.5) / s
            if 18 <= cx <= 25 and abs(cy - 16.5) <= (25 - cx) * 0.95:
                px[y][x] = WHITE
    # A yellow spark at the arrow's tail.
    fill(7, 22, 11, 26, YELLOW)
    return px


def icon_image(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            index = 0 if c is None else c
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    default = Path(__file__).resolve().parent.parent / "app" / "skm2trn.ico"
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    images = [(32, icon_image(32)), (16, icon_image(16))]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        data += blob
    out.write_bytes(data)


if __name__ == "__main__":
    main()
