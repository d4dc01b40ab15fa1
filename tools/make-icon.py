#!/usr/bin/env python3
"""Writes res/KT5CUfirm.ico, the programs' icon: a chip on a blue square, 32 and 16 pixels."""
import struct
import sys

BLUE, WHITE, CLEAR = (0xA8, 0x5F, 0x1F, 0xFF), (0xFF, 0xFF, 0xFF, 0xFF), (0, 0, 0, 0)


def pixel(x, y):
    """The colour at (x, y) of the 32-pixel drawing, top row first."""
    if not (1 <= x <= 30 and 1 <= y <= 30):
        return CLEAR
    if 8 <= x <= 23 and 8 <= y <= 23:
        return BLUE if 11 <= x <= 20 and 11 <= y <= 20 else WHITE
    pins = (x <= 7 or x >= 24) and x >= 4 and x <= 27 and (y in (12, 13, 18, 19))
    return WHITE if pins else BLUE


def image(size):
    step = 32 // size
    rows = []
    for y in reversed(range(size)):  # bottom row first
        rows.append(b"".join(bytes(pixel(x * step, y * step)) for x in range(size)))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * size)


sizes = (32, 16)
images = [image(s) for s in sizes]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, data in zip(sizes, images):
    out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open(sys.argv[1] if len(sys.argv) > 1 else "res/KT5CUfirm.ico", "wb") as f:
    f.write(out + b"".join(images))
