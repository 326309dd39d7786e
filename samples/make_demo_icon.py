#!/usr/bin/env python3
"""Writes the demo installer's icon (quillpack --icon): a white arrow into a tray on a green
tile, in the sizes and depths a publisher's icon has: 16, 24, 32 and 48 pixels with 32-bit colour
and alpha, 32 pixels with a 256-colour palette, and 256 pixels as a PNG image.

    make_demo_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

GREEN, DARK, WHITE = (46, 160, 67), (24, 110, 44), (255, 255, 255)
SAMPLES = 4  # per pixel side, for smooth edges


def shape(x, y):
    """The colour at (x, y) of the unit square, or None outside the tile."""
    r = 0.18
    cx, cy = min(max(x, r), 1 - r), min(max(y, r), 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return None
    # The arrow: a shaft and a head pointing down into the tray.
    if 0.43 <= x <= 0.57 and 0.16 <= y <= 0.5:
        return WHITE
    if 0.5 <= y <= 0.68 and abs(x - 0.5) <= (0.68 - y) * 1.25:
        return WHITE
    # The tray: a floor and two walls.
    if 0.74 <= y <= 0.82 and 0.2 <= x <= 0.8 or 0.56 <= y <= 0.82 and (0.2 <= x <= 0.28 or 0.72 <= x <= 0.8):
        return WHITE
    return GREEN if y < 0.55 else DARK


def rgba(size, samples=SAMPLES):
    """Rows (top first) of (r, g, b, a) pixels, each the mean of samples x samples points."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc, hits = [0, 0, 0], 0
            for sy in range(samples):
                for sx in range(samples):
                    c = shape((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if c:
                        hits += 1
                        acc = [a + b for a, b in zip(acc, c)]
            alpha = 255 * hits // (samples * samples)
            row.append(tuple(a // hits for a in acc) + (alpha,) if hits else (0, 0, 0, 0))
        rows.append(row)
    return rows


def mask(rows):
    """The 1-bit AND mask, bottom-up, rows padded to 4 bytes: set where the pixel is clear."""
    out = b""
    for row in reversed(rows):
        bits = [1 if p[3] < 128 else 0 for p in row] + [0] * (-len(row) % 32)
        out += bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
    return out


def bmp32(size):
    rows = rgba(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    return header + pixels + mask(rows)


def bmp8(size):
    """The same picture, unsmoothed, with a palette of its three colours; the mask clears the rest."""
    rows = [[p if p[3] else None for p in row] for row in rgba(size, samples=1)]
    palette = sorted({p[:3] for row in rows for p in row if p})
    index = {c: i for i, c in enumerate(palette)}
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 8, 0, 0, 0, 0, 256, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + b"\0" * 4 * (256 - len(palette))
    pixels = b"".join(bytes(index[p[:3]] if p else 0 for p in row) for row in reversed(rows))
    alpha_rows = [[(0, 0, 0, 255 if p else 0) for p in row] for row in rows]
    return header + table + pixels + mask(alpha_rows)


def png(size):
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rgba(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    # (side, colours, bits per pixel, image)
    images = [(s, 0, 32, bmp32(s)) for s in (16, 24, 32, 48)]
    images.append((32, 0, 8, bmp8(32)))
    images.append((256, 0, 32, png(256)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for side, colours, bits, blob in images:
        out += struct.pack("<BBBBHHII", side % 256, side % 256, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(blob for *_, blob in images))


if __name__ == "__main__":
    main()
