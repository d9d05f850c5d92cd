#!/usr/bin/env python3
"""Regenerates res/kelvane.ico, Kelvane's application icon.

The icon is drawn here as two ASCII-art grids, one character per pixel, and
written as a classic Windows icon: a 32 x 32 and a 16 x 16 image, each a
4-bit bitmap with a 16-entry palette and a 1-bit AND mask for transparency.

Usage: python3 tools/make_icon.py [output.ico]
Without an argument it writes res/kelvane.ico in the repository root.
Only the Python 3 standard library is used.
"""

import os
import struct
import sys

# The standard Windows 16-colour palette, in its usual index order, as
# (character used in the grids, name, red, green, blue).
PALETTE = [
    ("K", "black", 0x00, 0x00, 0x00),
    ("r", "dark red", 0x80, 0x00, 0x00),
    ("g", "dark green", 0x00, 0x80, 0x00),
    ("o", "olive", 0x80, 0x80, 0x00),
    ("n", "navy", 0x00, 0x00, 0x80),
    ("p", "purple", 0x80, 0x00, 0x80),
    ("t", "teal", 0x00, 0x80, 0x80),
    ("s", "silver", 0xC0, 0xC0, 0xC0),
    ("d", "grey", 0x80, 0x80, 0x80),
    ("R", "red", 0xFF, 0x00, 0x00),
    ("L", "green", 0x00, 0xFF, 0x00),
    ("Y", "yellow", 0xFF, 0xFF, 0x00),
    ("B", "blue", 0x00, 0x00, 0xFF),
    ("M", "magenta", 0xFF, 0x00, 0xFF),
    ("C", "cyan", 0x00, 0xFF, 0xFF),
    ("W", "white", 0xFF, 0xFF, 0xFF),
]

# A transparent pixel: set in the AND mask, colour index 0 in the image.
TRANSPARENT = "."

COLOUR_INDEX = {entry[0]: index for index, entry in enumerate(PALETTE)}

# The picture: a chip with a row of pins above and below and a square wave
# (low, high, low, high) on its face, with a signal arrow going into it on the
# left and one coming out of it on the right: digital inputs and outputs.
# One character per pixel; "." is transparent, the letters are the PALETTE
# characters above (K black, d grey, s silver, L green, Y yellow).

ICON_32 = """
................................
................................
................................
.........sd..sd..sd..sd.........
.........sd..sd..sd..sd.........
.........sd..sd..sd..sd.........
......dddddddddddddddddddd......
......dKKKKKKKKKKKKKKKKKKd......
......dKddKKKKKKKKKKKKKKKd......
......dKddKKKKKKKKKKKKKKKd......
......dKKKKKKKKKKKKKKKKKKd......
......dKKKLLLLLLLKKKLLLLKd......
..Y...dKKKLLLLLLLKKKLLLLKd..Y...
..YY..dKKKLLKKKLLKKKLLKKKd..YY..
..YYY.dKKKLLKKKLLKKKLLKKKd..YYY.
YYYYYYdKKKLLKKKLLKKKLLKKKdYYYYYY
YYYYYYdKKKLLKKKLLKKKLLKKKdYYYYYY
..YYY.dKKKLLKKKLLKKKLLKKKd..YYY.
..YY..dKKKLLKKKLLKKKLLKKKd..YY..
..Y...dKLLLLKKKLLLLLLLKKKd..Y...
......dKLLLLKKKLLLLLLLKKKd......
......dKKKKKKKKKKKKKKKKKKd......
......dKKKKKKKKKKKKKKKKKKd......
......dKKKKKKKKKKKKKKKKKKd......
......dKKKKKKKKKKKKKKKKKKd......
......dddddddddddddddddddd......
.........sd..sd..sd..sd.........
.........sd..sd..sd..sd.........
.........sd..sd..sd..sd.........
................................
................................
................................
"""

# The same picture reduced: one-pixel pins and trace, the arrows as plain heads.
ICON_16 = """
................
....s.s..s.s....
....s.s..s.s....
...dddddddddd...
...dKKKKKKKKd...
Y..dKKKKKKKKdY..
YY.dKKLLLKLKdYY.
YYYdKKLKLKLKdYYY
YYYdKKLKLKLKdYYY
YY.dKLLKLLLKdYY.
Y..dKKKKKKKKdY..
...dKKKKKKKKd...
...dddddddddd...
....s.s..s.s....
....s.s..s.s....
................
"""


def parse_grid(text, size, name):
    """Turns an ASCII-art grid into rows of characters, checking its shape."""
    rows = text.strip("\n").split("\n")
    if len(rows) != size:
        raise ValueError(f"{name}: {len(rows)} rows, expected {size}")
    for number, row in enumerate(rows):
        if len(row) != size:
            raise ValueError(f"{name}: row {number} has {len(row)} pixels, expected {size}")
        for char in row:
            if char != TRANSPARENT and char not in COLOUR_INDEX:
                raise ValueError(f"{name}: row {number} has unknown colour {char!r}")
    return rows


def padded_row(data):
    """Pads one bitmap row to the 4-byte boundary that bitmaps require."""
    return data + b"\x00" * (-len(data) % 4)


def encode_image(rows):
    """Encodes one grid as BITMAPINFOHEADER, palette, colour bitmap and AND mask."""
    size = len(rows)
    colour = bytearray()
    mask = bytearray()
    # Bitmaps are stored bottom-up: the last grid row comes first.
    for row in reversed(rows):
        indices = [0 if c == TRANSPARENT else COLOUR_INDEX[c] for c in row]
        packed = bytes((indices[x] << 4) | indices[x + 1] for x in range(0, size, 2))
        colour += padded_row(packed)
        bits = bytearray((size + 7) // 8)
        for x, c in enumerate(row):
            if c == TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += padded_row(bytes(bits))
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # header size
        size,  # width
        size * 2,  # height of colour bitmap and AND mask together
        1,  # planes
        4,  # bits per pixel
        0,  # BI_RGB, uncompressed
        len(colour) + len(mask),
        0,  # horizontal resolution, unused
        0,  # vertical resolution, unused
        len(PALETTE),  # colours used
        0,  # important colours: all
    )
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for _, _, r, g, b in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def build_icon(grids):
    """Assembles the ICO file: directory header, one entry per image, then the images."""
    images = [(size, encode_image(rows)) for size, rows in grids]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        entries += struct.pack(
            "<BBBBHHII",
            size % 256,  # width (0 would mean 256)
            size % 256,  # height
            len(PALETTE),  # colours in the palette
            0,  # reserved
            1,  # planes
            4,  # bits per pixel
            len(data),
            offset,
        )
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main(argv):
    if len(argv) > 2:
        sys.stderr.write("usage: make_icon.py [output.ico]\n")
        return 2
    if len(argv) == 2:
        path = argv[1]
    else:
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        path = os.path.join(root, "res", "kelvane.ico")
    grids = [
        (32, parse_grid(ICON_32, 32, "ICON_32")),
        (16, parse_grid(ICON_16, 16, "ICON_16")),
    ]
    data = build_icon(grids)
    with open(path, "wb") as out:
        out.write(data)
    print(f"wrote {path} ({len(data)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
