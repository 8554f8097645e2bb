#!/usr/bin/python3
"""Write the demo's sample image: a soft, slightly blurred synthetic scene.

Usage: make_sample.py OUT.png

Pure Python (zlib only), so the build needs nothing beyond the interpreter
and no binary image is kept in the repository. The picture is smooth on
purpose: the demo model sharpens, and soft edges show what it does. The
output is the same on every run.
"""

import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 384, 256


def smoothstep(edge, softness, value):
    """0 below edge - softness, 1 above edge + softness, smooth in between."""
    t = min(1.0, max(0.0, (value - edge + softness) / (2 * softness)))
    return t * t * (3 - 2 * t)


def pixel(x, y):
    # Sky-to-ground gradient.
    v = y / (HEIGHT - 1)
    r, g, b = 0.35 + 0.3 * v, 0.55 + 0.15 * v, 0.85 - 0.45 * v
    # A sun with a soft rim.
    d = math.hypot(x - 290, y - 70)
    sun = 1 - smoothstep(38, 3.0, d)
    r, g, b = r + (1.0 - r) * sun, g + (0.85 - g) * sun, b + (0.35 - b) * sun
    # Rolling hills.
    hill = 170 + 22 * math.sin(x / 37.0) + 9 * math.sin(x / 11.0 + 1.3)
    h = smoothstep(hill, 2.5, y)
    r, g, b = r + (0.22 - r) * h, g + (0.45 - g) * h, b + (0.18 - b) * h
    # Fine stripes on the hills and a checkered sign: detail to sharpen.
    if h > 0.5:
        stripe = 0.06 * math.sin(x / 2.3 + y / 3.1)
        r, g, b = r + stripe, g + stripe, b + stripe
    if 40 <= x < 140 and 130 <= y < 190:
        check = ((x - 40) // 10 + (y - 130) // 10) % 2
        c = 0.25 + 0.5 * check
        r, g, b = c, c, 0.9 * c
    return r, g, b


def box_blur(rows):
    """3 x 3 mean with edge replication: softens the hard edges a little."""
    out = []
    for y in range(HEIGHT):
        line = []
        for x in range(WIDTH):
            acc = [0.0, 0.0, 0.0]
            for dy in (-1, 0, 1):
                yy = min(HEIGHT - 1, max(0, y + dy))
                for dx in (-1, 0, 1):
                    xx = min(WIDTH - 1, max(0, x + dx))
                    p = rows[yy][xx]
                    acc[0] += p[0]
                    acc[1] += p[1]
                    acc[2] += p[2]
            line.append(tuple(a / 9 for a in acc))
        out.append(line)
    return out


def png_bytes(rows):
    raw = bytearray()
    for line in rows:
        raw.append(0)  # filter type: none
        for p in line:
            raw.extend(int(round(min(1.0, max(0.0, c)) * 255)) for c in p)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_sample.py OUT.png\n")
        return 2
    rows = [[pixel(x, y) for x in range(WIDTH)] for y in range(HEIGHT)]
    data = png_bytes(box_blur(rows))
    temp = argv[1] + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
    os.replace(temp, argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
