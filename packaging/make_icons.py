#!/usr/bin/env python3
"""Draws Scrivane's desktop icon (a written page with a folded corner and a red
band) as PNG files of several sizes, with nothing but the standard library.

    packaging/make_icons.py [OUTPUT_FOLDER]    (default: packaging/icons)

The shapes are given on a 256-unit square and drawn with 4 x 4 samples a
pixel, so every size gets smooth edges from the same geometry.
"""

import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)

OUTLINE = (60, 64, 72)
PAGE = (250, 250, 246)
FOLD = (214, 218, 224)
TEXT = (128, 136, 150)
BAND = (196, 38, 36)
BAND_TEXT = (255, 255, 255)

PAGE_LEFT, PAGE_TOP, PAGE_RIGHT, PAGE_BOTTOM = 40, 16, 216, 240
FOLD_SIZE = 52
BORDER = 8


def inside_page(x, y, inset):
    """The page, less a margin of `inset` units, with its top-right corner cut off."""
    if not (PAGE_LEFT + inset <= x <= PAGE_RIGHT - inset and PAGE_TOP + inset <= y <= PAGE_BOTTOM - inset):
        return False
    # The cut runs from (right - fold, top) to (right, top + fold); 1.414 keeps the margin even.
    return (x - (PAGE_RIGHT - FOLD_SIZE)) - (y - PAGE_TOP) <= -inset * 1.414


def in_fold(x, y):
    """The turned-down corner: the triangle below and left of the cut."""
    left = PAGE_RIGHT - FOLD_SIZE
    return x >= left and y <= PAGE_TOP + FOLD_SIZE and (x - left) <= (y - PAGE_TOP)


TEXT_LINES = [(64, 60, 150), (64, 84, 186), (64, 108, 176), (64, 132, 190), (64, 156, 140)]
LINE_HEIGHT = 10
BAND_BOX = (24, 176, 176, 224)
# "PDF" in blocky strokes inside the band, each a rectangle (x0, y0, x1, y1).
LETTERS = [
    # P
    (40, 186, 50, 216), (40, 186, 70, 194), (40, 200, 70, 208), (62, 186, 70, 208),
    # D
    (82, 186, 92, 216), (82, 186, 108, 194), (82, 208, 108, 216), (104, 190, 114, 212),
    # F
    (126, 186, 136, 216), (126, 186, 158, 194), (126, 199, 150, 207),
]


def colour_at(x, y):
    """Colour and opacity of one sample point in the 256-unit square."""
    for (x0, y0, x1, y1) in LETTERS:
        if x0 <= x <= x1 and y0 <= y <= y1:
            return BAND_TEXT, 1.0
    bx0, by0, bx1, by1 = BAND_BOX
    if bx0 <= x <= bx1 and by0 <= y <= by1:
        return BAND, 1.0
    if in_fold(x, y) and inside_page(x, y, 0):
        crease = x < PAGE_RIGHT - FOLD_SIZE + BORDER / 2 or y > PAGE_TOP + FOLD_SIZE - BORDER / 2
        on_edge = not inside_page(x, y, BORDER)
        return (OUTLINE if crease or on_edge else FOLD), 1.0
    if inside_page(x, y, BORDER):
        for (lx, ly, lx1) in TEXT_LINES:
            if lx <= x <= lx1 and ly <= y <= ly + LINE_HEIGHT:
                return TEXT, 1.0
        return PAGE, 1.0
    if inside_page(x, y, 0):
        return OUTLINE, 1.0
    return (0, 0, 0), 0.0


def render(size, samples=4):
    rows = []
    step = 256.0 / size
    for py in range(size):
        row = bytearray([0])  # filter type: none
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * step
                    y = (py + (sy + 0.5) / samples) * step
                    (cr, cg, cb), ca = colour_at(x, y)
                    r += cr * ca
                    g += cg * ca
                    b += cb * ca
                    a += ca
            n = samples * samples
            if a > 0:
                row += bytes((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
            else:
                row += bytes((0, 0, 0, 0))
        rows.append(bytes(row))
    return b"".join(rows)


def png(size, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9))
            + chunk(b"IEND", b""))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "icons")
    os.makedirs(folder, exist_ok=True)
    for size in SIZES:
        path = os.path.join(folder, "scrivane-%d.png" % size)
        with open(path, "wb") as out:
            out.write(png(size, render(size)))
        print(path)


if __name__ == "__main__":
    main()
