#!/usr/bin/env python3
"""Draws the program icon, resources/kelvane.ico: one 32x32 image in 16 colours (4 bits
per pixel, the standard VGA palette) with a transparency mask. A parcel with a
downward arrow. Deterministic: the same script always writes the same bytes.

Usage: tools/gen_icon.py [output]       (default: resources/kelvane.ico)
       tools/gen_icon.py --check FILE   (exit 1 when FILE differs from what it draws)
"""
import os
import struct
import sys

SIZE = 32
TRANSPARENT = None

# Standard 16-colour palette as (red, green, blue); stored blue, green, red, 0.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, BROWN, GREY, DARK_GREY, YELLOW, WHITE, BLUE = 0, 3, 7, 8, 11, 15, 4


def draw():
    """Rows top to bottom, each a list of palette indices or TRANSPARENT."""
    img = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                img[y][x] = colour

    # Parcel: a brown box with a black outline, a lighter lid and a tape band.
    fill(3, 13, 28, 30, BLACK)
    fill(4, 14, 27, 29, BROWN)
    fill(4, 14, 27, 17, YELLOW)
    fill(3, 17, 28, 17, BLACK)
    fill(14, 14, 17, 29, GREY)
    fill(14, 14, 14, 29, DARK_GREY)
    fill(17, 14, 17, 29, DARK_GREY)

    # Arrow into the parcel: a white shaft and head with a blue outline.
    fill(12, 1, 19, 10, BLUE)
    fill(13, 1, 18, 10, WHITE)
    for row in range(7):
        y = 8 + row
        half = 8 - row
        fill(16 - half - 1, y, 15 + half + 1, y, BLUE)
        if half > 0:
            fill(16 - half, y, 15 + half, y, WHITE)
    return img


def encode(img):
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor_rows = []
    and_rows = []
    for row in reversed(img):  # bottom-up, as DIBs are stored
        nibbles = [0 if p is TRANSPARENT else p for p in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is TRANSPARENT else 0)
        and_rows.append(struct.pack(">I", bits))  # 32 pixels: exactly one DWORD per row
    xor = b"".join(xor_rows)
    mask = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    data = encode(draw())
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], "rb") as f:
            return 0 if f.read() == data else 1
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = argv[1] if len(argv) > 1 else os.path.join(root, "resources", "kelvane.ico")
    with open(output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
