#!/usr/bin/env python3
"""Draws the program icon and writes it as res/va_vazu.ico.

The icon is a monitor whose screen carries the three overlay elements of the demo: a yellow text line,
a block of white text lines and a framed picture. It holds nine images: 48x48, 32x32 and 16x16 pixels,
each with 16 colours (4 bit), 256 colours (8 bit) and 24-bit colour. Every image is an uncompressed
bitmap with an AND mask, which every version of Windows reads.

The motif is laid out on a 16 x 16 grid and scaled by whole numbers, so its edges stay sharp at every
size; outlines are one pixel wide at every size. The 16-colour images use the standard Windows
palette, the 256-colour images hold exactly the colours of the 24-bit images, so they look the same.

The output is the same byte for byte on every run. Usage: make_icon.py [output.ico]
"""

import os
import struct
import sys

GRID = 16
SIZES = (48, 32, 16)
DEPTHS = (4, 8, 24)

# The 16 colours of the standard Windows palette, in palette order.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Each part of the motif: its colour in the 16-colour images and its colour in the others. A tuple of
# two colours is a vertical gradient from top to bottom.
COLOURS = {
    "outline": ((0, 0, 0), (24, 26, 32)),
    "bezel": ((128, 128, 128), (78, 84, 96)),
    "screen": ((0, 0, 128), ((40, 104, 210), (12, 44, 128))),
    "line": ((255, 255, 0), (255, 208, 0)),
    "block": ((255, 255, 255), (236, 240, 244)),
    "frame": ((255, 255, 255), (236, 240, 244)),
    "picture": ((0, 128, 0), ((64, 190, 90), (24, 120, 48))),
    "stand": ((192, 192, 192), (168, 172, 180)),
}

# Rectangles on the 16 x 16 grid: (part, left, top, right, bottom, outline part or None). Later ones
# are drawn over earlier ones.
SHAPES = [
    ("stand", 7, 12, 9, 14, "outline"),
    ("stand", 4, 14, 12, 16, "outline"),
    ("bezel", 0, 1, 16, 12, "outline"),
    ("screen", 1, 2, 15, 11, None),
    ("line", 2, 3, 10, 4, None),
    ("block", 2, 5, 8, 6, None),
    ("block", 2, 7, 7, 8, None),
    ("block", 2, 9, 8, 10, None),
    ("picture", 9, 5, 14, 10, "frame"),
]


def colour_at(part, deep, y, top, bottom):
    """The colour of a part at pixel row y of a shape spanning rows top..bottom-1."""
    colour = COLOURS[part][1 if deep else 0]
    if isinstance(colour[0], tuple):
        start, end = colour
        t = 0.0 if bottom - top <= 1 else (y - top) / (bottom - top - 1)
        colour = tuple(int(round(a + (b - a) * t)) for a, b in zip(start, end))
    return colour


def draw(size, deep):
    """Renders the motif at a size: a list of rows, each a list of (r, g, b) or None (transparent)."""
    scale = size // GRID
    pixels = [[None] * size for _ in range(size)]
    for part, left, top, right, bottom, outline in SHAPES:
        x0, y0, x1, y1 = left * scale, top * scale, right * scale, bottom * scale
        for y in range(y0, y1):
            for x in range(x0, x1):
                edge = x in (x0, x1 - 1) or y in (y0, y1 - 1)
                if outline and edge:
                    pixels[y][x] = colour_at(outline, deep, y, y0, y1)
                else:
                    pixels[y][x] = colour_at(part, deep, y, y0, y1)
    return pixels


def rows_bottom_up(pixels, encode_row):
    """Concatenates rows from the bottom up, each padded to a multiple of four bytes."""
    out = bytearray()
    for row in reversed(pixels):
        data = encode_row(row)
        out += data + b"\0" * (-len(data) % 4)
    return bytes(out)


def pack_bits(values, bits):
    """Packs small integers, the first in the most significant bits of each byte."""
    out = bytearray()
    per_byte = 8 // bits
    for i in range(0, len(values), per_byte):
        byte = 0
        for j, v in enumerate(values[i:i + per_byte]):
            byte |= v << (8 - bits * (j + 1))
        out.append(byte)
    return bytes(out)


def palette_bytes(palette, count):
    entries = list(palette) + [(0, 0, 0)] * (count - len(palette))
    return b"".join(bytes((b, g, r, 0)) for r, g, b in entries)


def encode_image(pixels, depth, palette):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and AND mask."""
    size = len(pixels)
    index = {c: i for i, c in enumerate(palette)} if palette else None
    black = (0, 0, 0)

    if depth == 24:
        def colour_row(row):
            return b"".join(bytes((b, g, r)) for r, g, b in (c or black for c in row))
    else:
        def colour_row(row):
            return pack_bits([index[c] if c else 0 for c in row], depth)

    def mask_row(row):
        return pack_bits([1 if c is None else 0 for c in row], 1)

    xor = rows_bottom_up(pixels, colour_row)
    mask = rows_bottom_up(pixels, mask_row)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    colours = palette_bytes(palette, 1 << depth) if depth <= 8 else b""
    return header + colours + xor + mask


def build_icon():
    deep_images = {size: draw(size, True) for size in SIZES}
    # The 256-colour palette: the standard 16, then every other colour of the 24-bit images.
    palette256 = list(VGA16)
    for size in SIZES:
        for row in deep_images[size]:
            for c in row:
                if c is not None and c not in palette256:
                    palette256.append(c)
    if len(palette256) > 256:
        raise SystemExit("the 24-bit images use more than 256 colours")

    images = []
    for size in SIZES:
        for depth in DEPTHS:
            if depth == 4:
                data = encode_image(draw(size, False), 4, VGA16)
            elif depth == 8:
                data = encode_image(deep_images[size], 8, palette256)
            else:
                data = encode_image(deep_images[size], 24, None)
            images.append((size, depth, data))

    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        colour_count = 16 if depth == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, depth, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "va_vazu.ico")
    data = build_icon()
    with open(target, "wb") as f:
        f.write(data)
    print(f"wrote {os.path.normpath(target)} ({len(data)} bytes)")


if __name__ == "__main__":
    main()
