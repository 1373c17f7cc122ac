#!/usr/bin/env python3
"""Writes the three sprite sets of bench/compare_peers.sh, the same bytes on
every run (fixed seeds, standard library only).

  make_sets.py OUTDIR   ->  OUTDIR/grid32/ (1,000 random-pixel 32 x 32)
                            OUTDIR/mixed/  (200 random-pixel, 8..256 a side)
                            OUTDIR/drawn/  (500 shaded shapes, 16..192 a side)
"""
import os
import random
import struct
import sys
import zlib


def write_png(path, width, height, rgba):
    """rgba: bytes of width * height * 4, rows top to bottom."""
    stride = width * 4
    raw = b"".join(b"\x00" + rgba[y * stride:(y + 1) * stride] for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def noise(rng, width, height):
    # Random colours, opaque: nothing to trim, nothing to compress.
    data = bytearray(rng.randbytes(width * height * 4))
    data[3::4] = b"\xff" * (width * height)
    return bytes(data)


def inside(shape, u, v):
    """Is (u, v), both in -1..1, inside the shape?"""
    if shape == 0:  # disc
        return u * u + v * v <= 1.0
    if shape == 1:  # rounded box
        return max(abs(u), abs(v)) <= 0.9
    if shape == 2:  # diamond
        return abs(u) + abs(v) <= 1.0
    if shape == 3:  # triangle, apex up
        return v >= -0.95 and v <= 0.95 and abs(u) <= (v + 0.95) / 1.9
    return (u * u + v * v <= 1.0) and not (u * u + v * v <= 0.3)  # ring


def drawn(rng, width, height):
    shape = rng.randrange(5)
    base = (rng.randrange(40, 256), rng.randrange(40, 256), rng.randrange(40, 256))
    outline = tuple(c // 4 for c in base)
    solid = []
    for y in range(height):
        v = (2.0 * y + 1.0) / height - 1.0
        row = []
        for x in range(width):
            u = (2.0 * x + 1.0) / width - 1.0
            row.append(inside(shape, u * 1.04, v * 1.04))
        solid.append(row)
    out = bytearray(width * height * 4)
    for y in range(height):
        for x in range(width):
            if not solid[y][x]:
                continue
            edge = (x == 0 or y == 0 or x == width - 1 or y == height - 1 or
                    not solid[y - 1][x] or not solid[y + 1][x] or
                    not solid[y][x - 1] or not solid[y][x + 1])
            if edge:
                colour = outline
            else:
                # Three flat bands of shade, light from the top left.
                t = (x / width + y / height) / 2.0
                k = 1.15 if t < 0.35 else (1.0 if t < 0.65 else 0.7)
                colour = tuple(min(255, int(c * k)) for c in base)
            i = (y * width + x) * 4
            out[i:i + 4] = bytes((colour[0], colour[1], colour[2], 255))
    return bytes(out)


def make_set(folder, count, seed, size_range, painter):
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(seed)
    for k in range(count):
        if size_range[0] == size_range[1]:
            width = height = size_range[0]
        else:
            width = rng.randint(*size_range)
            height = rng.randint(*size_range)
        write_png(os.path.join(folder, "sprite_%04d.png" % k), width, height,
                  painter(rng, width, height))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_sets.py OUTDIR")
    root = sys.argv[1]
    make_set(os.path.join(root, "grid32"), 1000, 1, (32, 32), noise)
    make_set(os.path.join(root, "mixed"), 200, 2, (8, 256), noise)
    make_set(os.path.join(root, "drawn"), 500, 3, (16, 192), drawn)


if __name__ == "__main__":
    main()
