#!/usr/bin/env python3
"""Draws the three tray icons as .ico files (16 and 32 pixels, 32-bit with alpha).

make_icons.py <output folder>  ->  icon1.ico (connected), icon2.ico (no dongle), icon3.ico (battery low)

The artwork is a round badge with a bridge arch: green when a controller is linked, a grey outline
when no dongle is found, and a dark badge with a nearly empty battery when the controller runs low.
Shapes are described in a 0..1 square and sampled 4x4 per pixel so the edges stay smooth.
"""
import math
import struct
import sys

GREEN = (0x23, 0xC5, 0x5E)
GREY = (0x8A, 0x93, 0x9E)
DARK = (0x1F, 0x29, 0x37)
WHITE = (0xFF, 0xFF, 0xFF)
RED = (0xEF, 0x44, 0x44)


def disc(x, y, r=0.47):
    return math.hypot(x - 0.5, y - 0.5) <= r


def ring(x, y, outer=0.47, inner=0.36):
    d = math.hypot(x - 0.5, y - 0.5)
    return inner <= d <= outer


def arch(x, y):
    """A bridge: a half-ring arch over a deck, with the deck running edge to edge."""
    d = math.hypot(x - 0.5, y - 0.68)
    on_arch = 0.20 <= d <= 0.31 and y <= 0.68
    on_deck = 0.62 <= y <= 0.72 and 0.16 <= x <= 0.84
    return on_arch or on_deck


def battery(x, y):
    """Returns the battery's colour at (x, y), or None outside it."""
    body = 0.18 <= x <= 0.76 and 0.33 <= y <= 0.67
    inside = 0.26 <= x <= 0.68 and 0.41 <= y <= 0.59
    nub = 0.76 < x <= 0.84 and 0.43 <= y <= 0.57
    if inside:
        return RED if x <= 0.38 else None
    if body or nub:
        return WHITE
    return None


def connected(x, y):
    if arch(x, y) and disc(x, y):
        return WHITE
    return GREEN if disc(x, y) else None


def no_dongle(x, y):
    if ring(x, y, 0.47, 0.39) or (arch(x, y) and disc(x, y, 0.39)):
        return GREY
    return None


def battery_low(x, y):
    if not disc(x, y):
        return None
    return battery(x, y) or DARK


def render(shape, size, samples=4):
    """Returns rows top to bottom of (b, g, r, a) pixels."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    colour = shape((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if colour:
                        hits += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if hits:
                r, g, b = (round(c / hits) for c in acc)
                row.append((b, g, r, round(255 * hits / (samples * samples))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(rows):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, then the 1-bit AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def ico(shape):
    images = [(size, dib(render(shape, size))) for size in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    folder = sys.argv[1]
    for number, shape in ((1, connected), (2, no_dongle), (3, battery_low)):
        with open(f"{folder}/icon{number}.ico", "wb") as f:
            f.write(ico(shape))


if __name__ == "__main__":
    main()
