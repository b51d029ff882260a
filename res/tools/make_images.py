#!/usr/bin/env python3
"""Draws the module's icons in the 16-colour VGA palette and writes them as
4-bit .ico files beside the resource script, each at the sizes a dialog asks
for from 100 % to 200 % (16 to 64 pixels), so none is stretched:

  kestrin.ico      product icon: a padlock
  busy1..9.ico     busy animation: a ring of nine dots, the lit one moving on

The menu image is not drawn here: it is a vector description (MenuPadlock.h)
that the module draws at the size the menu asks for.

Run it from anywhere; the outputs are committed, so a build never needs it.
"""
import math
import os
import struct

PALETTE = [  # R, G, B
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARKRED, OLIVE, SILVER, GREY, RED, YELLOW, WHITE = 0, 1, 3, 7, 8, 9, 11, 15
CLEAR = None  # transparent in icons
SIZES = [32, 16, 20, 24, 40, 48, 64]  # 32 first: the size of the old single-size readers


def padlock(size):
    """Rows of colour indices (top row first) of a padlock filling size x size."""
    s = size / 32.0
    cx = size / 2.0
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            colour = CLEAR
            # shackle: a thick arch above the body
            r = math.hypot(px - cx, py - 13 * s)
            if py <= 15 * s and 6 * s <= r <= 9.5 * s:
                colour = GREY if r > 8 * s else SILVER
            if 15 * s < py <= 17 * s and 6 * s <= abs(px - cx) <= 9.5 * s:
                colour = GREY
            # body
            if 16 * s <= py <= 29 * s and 5 * s <= px <= size - 5 * s:
                edge = py > 28 * s or px < 6 * s or px > size - 6 * s or py < 17 * s
                colour = OLIVE if edge else YELLOW
                # keyhole
                if math.hypot(px - cx, py - 21 * s) <= 2 * s or (abs(px - cx) <= 0.9 * s and 21 * s <= py <= 26 * s):
                    colour = BLACK
            row.append(colour)
        rows.append(row)
    return rows


def busy_frame(size, frame, frames=9):
    """A ring of dots; dot `frame` is lit, the two before it glow less."""
    rows = [[CLEAR] * size for _ in range(size)]
    ring = size * 0.34
    dot = size * 0.11
    c = size / 2.0
    for k in range(frames):
        angle = 2 * math.pi * k / frames - math.pi / 2
        dx, dy = c + ring * math.cos(angle), c + ring * math.sin(angle)
        age = (frame - k) % frames
        colour = {0: RED, 1: DARKRED, 2: GREY}.get(age, SILVER)
        for y in range(size):
            for x in range(size):
                if math.hypot(x + 0.5 - dx, y + 0.5 - dy) <= dot:
                    rows[y][x] = colour
    return rows


def pack4(row):
    """One 4-bpp scan line, padded to 4 bytes; transparent pixels are black."""
    idx = [BLACK if p is CLEAR else p for p in row]
    if len(idx) % 2:
        idx.append(0)
    data = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, len(idx), 2))
    return data + b"\0" * (-len(data) % 4)


def pack_mask(row):
    """One 1-bpp AND-mask line (1 = transparent), padded to 4 bytes."""
    bits = [1 if p is CLEAR else 0 for p in row]
    bits += [0] * (-len(bits) % 8)
    data = bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
    return data + b"\0" * (-len(data) % 4)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def dib(rows, with_mask):
    """BITMAPINFOHEADER, palette and bottom-up pixels (plus the AND mask)."""
    h, w = len(rows), len(rows[0])
    xor = b"".join(pack4(r) for r in reversed(rows))
    mask = b"".join(pack_mask(r) for r in reversed(rows)) if with_mask else b""
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2 if with_mask else h, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    return header + palette_bytes() + xor + mask


def write_ico(path, images):
    blobs = [dib(rows, True) for rows in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for rows, blob in zip(images, blobs):
        w, h = len(rows[0]), len(rows)
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    res = os.path.dirname(here)
    write_ico(os.path.join(res, "kestrin.ico"), [padlock(n) for n in SIZES])
    for frame in range(9):
        write_ico(os.path.join(res, "busy%d.ico" % (frame + 1)), [busy_frame(n, frame) for n in SIZES])


if __name__ == "__main__":
    main()
