#!/usr/bin/env python3
"""Draws the application icon: a white picture frame holding a sun and a mountain,
on a rounded square in the accent blue. Writes a .ico with 32-bit PNG images."""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
ACCENT = (76, 154, 255)
WHITE = (255, 255, 255)


def rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    return (d1 >= 0 and d2 >= 0 and d3 >= 0) or (d1 <= 0 and d2 <= 0 and d3 <= 0)


def shade(x, y):
    """Colour and alpha at a point of the unit square, or None when outside."""
    if not rounded_rect(x, y, 0.02, 0.02, 0.98, 0.98, 0.2):
        return None
    outer = rounded_rect(x, y, 0.18, 0.24, 0.82, 0.78, 0.06)
    inner = rounded_rect(x, y, 0.235, 0.295, 0.765, 0.725, 0.02)
    if outer and not inner:
        return WHITE
    if inner:
        if (x - 0.63) ** 2 + (y - 0.42) ** 2 <= 0.065 ** 2:
            return WHITE
        if in_triangle(x, y, (0.25, 0.725), (0.44, 0.46), (0.63, 0.725)):
            return WHITE
        if in_triangle(x, y, (0.50, 0.725), (0.62, 0.57), (0.75, 0.725)):
            return WHITE
    return ACCENT


def render(size, samples=4):
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = shade((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if c:
                        r += c[0]; g += c[1]; b += c[2]; a += 1
            n = samples * samples
            row += bytes((r // a, g // a, b // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(bytes(row))
    return rows


def png(size, rows):
    raw = b"".join(b"\0" + r for r in rows)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main(path):
    images = [png(s, render(s, 2 if s == 256 else 4)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
