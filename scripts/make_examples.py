#!/usr/bin/env python3
"""Writes examples/sprites/: the tool's own sample walk cycle as PNG files,
plus a few props, so the quick start has something real to pack.

Pure standard library (zlib); the output is fixed, so rerunning it changes
nothing unless this script changes."""
import math
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "sprites")


def write_png(path, width, height, pixels):
    """pixels: list of (r, g, b, a) rows-major."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(pixels[y * width + x])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(png)


def rgba(packed):
    return (packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF, packed >> 24)


def hero(frame):
    """The sample walk cycle: head, body, legs apart on even frames."""
    size = 32
    pixels = [(0, 0, 0, 0)] * (size * size)

    def block(x0, x1, y0, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y * size + x] = rgba(colour)

    block(10, 21, 8, 23, 0xFF3030D0)
    block(12, 19, 2, 7, 0xFFE0C090)
    left, right = (10, 21) if frame % 2 == 0 else (14, 17)
    block(left, left, 24, 29, 0xFF505050)
    block(right, right, 24, 29, 0xFF505050)
    return size, size, pixels


def coin(frame):
    """A spinning coin in a 24 x 24 canvas with a transparent border."""
    size = 24
    squash = abs(math.cos(frame * math.pi / 4))
    pixels = []
    for y in range(size):
        for x in range(size):
            dx = (x + 0.5 - 12) / max(squash * 8, 1.0)
            dy = (y + 0.5 - 12) / 8
            d = dx * dx + dy * dy
            if d > 1.0:
                pixels.append((0, 0, 0, 0))
            elif d > 0.7:
                pixels.append((150, 100, 20, 255))
            else:
                shade = int(200 + 55 * (1 - d))
                pixels.append((min(shade, 255), int(shade * 0.8), 40, 255))
    return size, size, pixels


def crate():
    """A 20 x 20 wooden crate with a darker frame and a soft shadow edge."""
    size = 20
    pixels = []
    for y in range(size):
        for x in range(size):
            edge = min(x, y, size - 1 - x, size - 1 - y)
            if edge == 0:
                pixels.append((60, 35, 15, 128))
            elif edge < 3 or x == y or x == size - 1 - y:
                pixels.append((110, 70, 30, 255))
            else:
                pixels.append((170, 120, 60, 255))
    return size, size, pixels


def main():
    for frame in range(4):
        write_png(os.path.join(ROOT, "hero", "walk_%d.png" % frame), *hero(frame))
    for frame in range(6):
        write_png(os.path.join(ROOT, "items", "coin_%d.png" % frame), *coin(frame))
    write_png(os.path.join(ROOT, "items", "crate.png"), *crate())


if __name__ == "__main__":
    main()
