#!/usr/bin/env python3
"""Writes sprite sets of few colours, whose atlases velmora2d writes as
indexed PNGs (the sets of make_sets.py all have more than 256 colours), the
same bytes on every run (fixed seeds, standard library only).

  make_pixel_sets.py OUTDIR  ->  OUTDIR/pixel48/ (400 shapes, 16..96 a side, 12 base colours: 49 colours)
                                 OUTDIR/tiny16/  (300 shapes, 12..48 a side, 3 base colours: 13 colours)
                                 OUTDIR/drawn60/ (the first 60 sprites of make_sets.py's drawn set)
"""
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_sets  # noqa: E402

BASES = [(200, 40, 40), (40, 200, 40), (40, 40, 200), (200, 200, 40), (200, 40, 200), (40, 200, 200),
         (220, 120, 40), (120, 60, 20), (160, 160, 160), (90, 40, 160), (240, 200, 160), (60, 120, 60)]


def shaded(bases):
    """make_sets.drawn's shapes, outline and three shades of a listed base."""
    def painter(rng, width, height):
        shape = rng.randrange(5)
        base = bases[rng.randrange(len(bases))]
        outline = tuple(c // 4 for c in base)
        solid = [[make_sets.inside(shape, ((2.0 * x + 1.0) / width - 1.0) * 1.04,
                                   ((2.0 * y + 1.0) / height - 1.0) * 1.04)
                  for x in range(width)] for y in range(height)]
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
                    t = (x / width + y / height) / 2.0
                    k = 1.15 if t < 0.35 else (1.0 if t < 0.65 else 0.7)
                    colour = tuple(min(255, int(c * k)) for c in base)
                i = (y * width + x) * 4
                out[i:i + 4] = bytes((colour[0], colour[1], colour[2], 255))
        return bytes(out)
    return painter


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_pixel_sets.py OUTDIR")
    root = sys.argv[1]
    make_sets.make_set(os.path.join(root, "pixel48"), 400, 5, (16, 96), shaded(BASES))
    make_sets.make_set(os.path.join(root, "tiny16"), 300, 6, (12, 48), shaded(BASES[:3]))
    make_sets.make_set(os.path.join(root, "drawn60"), 60, 3, (16, 192), make_sets.drawn)


if __name__ == "__main__":
    main()
