#!/usr/bin/env python3
"""Writes the launcher's icon: a white quill on a navy tile, as a 32x32 and a 16x16 image with
16 colours (4 bits per pixel, the standard palette) and a transparency mask.

    make_icon.py OUTPUT.ico [PREVIEW.ppm]
"""
import math
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, YELLOW, BLUE, WHITE = 0, 4, 7, 8, 11, 12, 15
CLEAR = None


def in_tile(px, py, size):
    margin = size / 32.0
    r = 5.0 * size / 32.0
    cx = min(max(px, margin + r), size - margin - r)
    cy = min(max(py, margin + r), size - margin - r)
    return math.hypot(px - cx, py - cy) <= r


def draw(size):
    """Rows of palette indexes (CLEAR for transparent pixels), drawn at the centre of each pixel."""
    s = size / 32.0
    rows = []
    # The quill runs from its nib at the bottom left to its tip at the top right.
    ax, ay, bx, by = 6.5 * s, 26.5 * s, 27.0 * s, 4.0 * s
    length = math.hypot(bx - ax, by - ay)
    ux, uy = (bx - ax) / length, (by - ay) / length
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            # Navy tile with rounded corners, lit along its top and left edges.
            colour = CLEAR
            if in_tile(px, py, size):
                lit = not in_tile(px - 1.0, py - 1.0, size)
                colour = BLUE if lit else NAVY
            # Position along (u) and across (v) the quill.
            u = ((px - ax) * ux + (py - ay) * uy) / length
            v = (-(px - ax) * uy + (py - ay) * ux)
            if 0.32 <= u <= 1.0:
                t = (u - 0.32) / 0.68
                half = 5.2 * s * math.sin(math.pi * t) ** 0.7 * (1.0 - 0.35 * t)
                if -half * 0.8 <= v <= half:
                    colour = WHITE
                    # Barbs: a few slanted notches on the vane.
                    if size >= 32 and abs(v) > 1.2 and int((u * length + abs(v) * 0.8) / 3.2) % 2 and abs(v) > half * 0.55:
                        colour = SILVER
            if 0.0 <= u <= 0.97 and abs(v) <= 0.55 * max(s, 0.9):
                colour = GREY if u > 0.32 else SILVER
            if 0.0 <= u < 0.12 and abs(v) <= 0.9 * s * (0.12 - u) / 0.12 + 0.3:
                colour = YELLOW
            row.append(colour)
        rows.append(row)
    return rows


def bmp_image(rows):
    """One icon image: BITMAPINFOHEADER (double height), palette, 4-bit colours, 1-bit mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor, mask = b"", b""
    for row in reversed(rows):  # bottom-up
        nibbles = [0 if c is CLEAR else c for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += line + b"\0" * (-len(line) % 4)
        bits = 0
        mline = b""
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is CLEAR else 0)
            if i % 8 == 7:
                mline += bytes([bits])
                bits = 0
        mask += mline + b"\0" * (-len(mline) % 4)
    return header + palette + xor + mask


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for size, blob in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


def main():
    images = [(size, bmp_image(draw(size))) for size in (32, 16)]
    with open(sys.argv[1], "wb") as f:
        f.write(ico(images))
    if len(sys.argv) > 2:  # a preview of both images on a light grey ground, 8 times enlarged
        rows32, rows16 = draw(32), draw(16)
        zoom, w, h = 8, 32 * 8 + 16 * 8 + 8, 32 * 8
        pixels = [[(230, 230, 230)] * w for _ in range(h)]
        for rows, x0 in ((rows32, 0), (rows16, 32 * 8 + 8)):
            for y, row in enumerate(rows):
                for x, c in enumerate(row):
                    for dy in range(zoom):
                        for dx in range(zoom):
                            if c is not CLEAR:
                                pixels[y * zoom + dy][x0 + x * zoom + dx] = PALETTE[c]
        with open(sys.argv[2], "wb") as f:
            f.write(b"P6 %d %d 255\n" % (w, h))
            f.write(b"".join(bytes(p) for row in pixels for p in row))


if __name__ == "__main__":
    main()
