#!/usr/bin/env python3
"""Draws the application icon (a mast sending waves, on a round badge) as a PNG.

Usage: make-icon.py SIZE OUT.png
Only the standard library is used, so the icon can be redrawn at any size anywhere.
"""
import math
import struct
import sys
import zlib


def pixel(x, y, size):
    s = size / 256.0
    cx, cy = 128 * s, 128 * s
    dx, dy = x + 0.5 - cx, y + 0.5 - cy
    r = math.hypot(dx, dy)
    edge = 120 * s
    if r > edge + 1:
        return (0, 0, 0, 0)
    alpha = max(0.0, min(1.0, edge + 1 - r))
    # badge: deep blue with a lighter top
    t = (y / size)
    color = (int(20 + 30 * (1 - t)), int(60 + 50 * (1 - t)), int(120 + 60 * (1 - t)))
    white = (245, 245, 235)
    amber = (255, 190, 40)
    mx, top, bottom = 128 * s, 110 * s, 200 * s
    # mast: a narrow triangle
    if top <= y <= bottom:
        half = (4 + 18 * (y - top) / (bottom - top)) * s
        if abs(x + 0.5 - mx) <= half and abs(x + 0.5 - mx) >= half - 5 * s:
            color = white
        if abs(y - bottom) < 3 * s and abs(x + 0.5 - mx) <= half:
            color = white
    # waves: arcs around the mast head
    hx, hy = mx, 96 * s
    d = math.hypot(x + 0.5 - hx, y + 0.5 - hy)
    ang = math.degrees(math.atan2(-(y + 0.5 - hy), x + 0.5 - hx))
    side = (-40 <= ang <= 40) or (ang >= 140 or ang <= -140)
    for radius in (22, 42, 62):
        if side and abs(d - radius * s) <= 4.5 * s:
            color = amber
    if d <= 9 * s:
        color = amber
    return color + (int(255 * alpha),)


def main():
    size = int(sys.argv[1])
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            row.extend(pixel(x, y, size))
        rows.append(bytes(row))
    raw = zlib.compress(b"".join(rows), 9)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", raw) + chunk(b"IEND", b"")
    with open(sys.argv[2], "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main()
