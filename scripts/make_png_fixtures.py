#!/usr/bin/env python3
"""Writes the PNG test fixtures in tests/data/png/ (Python's stdlib only).

good/NAME.png   every colour type and bit depth, with and without tRNS,
                plain and Adam7-interlaced, odd sizes, rows filtered with
                all five filters;
good/NAME.rgba  what a decoder must give for it: 8-bit RGBA computed here
                from the generator's own samples (16-bit: high byte; low
                grey depths scaled to 0-255; tRNS and palette alpha as
                alpha), so the decoder is checked against a model of the
                format, not against itself;
good/manifest.txt  "NAME WIDTH HEIGHT" per fixture;
bad/NAME.png    broken files: bad checksums, truncation, empty, not a PNG,
                headers beyond the size limit, zero width, too little data.

    python3 scripts/make_png_fixtures.py
"""
import os
import random
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "png")
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
# Adam7 passes: (x0, y0, dx, dy)
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def pack_row(samples, depth):
    """Samples (already flattened channels) to bytes at `depth` bits."""
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out, acc, bits = bytearray(), 0, 0
    for s in samples:
        acc = (acc << depth) | s
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def filter_rows(rows, bpp):
    """Filters each row with filter type (row index mod 5)."""
    out, prev = bytearray(), None
    for index, row in enumerate(rows):
        kind = index % 5
        up = prev if prev is not None else bytes(len(row))
        line = bytearray()
        for i, x in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0
            b = up[i]
            c = up[i - bpp] if i >= bpp else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
            line.append((x - pred) & 0xFF)
        out += bytes([kind]) + line
        prev = row
    return bytes(out)


def image_data(pixels, width, height, colour, depth, interlaced):
    """pixels: rows of per-pixel sample tuples."""
    bpp = max(1, CHANNELS[colour] * depth // 8)
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    raw = b""
    for x0, y0, dx, dy in passes:
        rows = []
        for y in range(y0, height, dy):
            xs = range(x0, width, dx)
            if not xs:
                continue
            rows.append(pack_row([s for x in xs for s in pixels[y][x]], depth))
        raw += filter_rows(rows, bpp)
    return raw


def png(width, height, colour, depth, interlaced, raw, extra=b"", plte=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 1 if interlaced else 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + plte + extra +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def make_good(name, width, height, colour, depth, interlaced, trns, rng, ancillary=b""):
    top = (1 << depth) - 1
    pixels = [[tuple(rng.randint(0, top) for _ in range(CHANNELS[colour])) for _ in range(width)]
              for _ in range(height)]
    plte = extra = b""
    palette, palette_alpha, key = [], [], None
    if colour == 3:
        palette = [tuple(rng.randint(0, 255) for _ in range(3)) for _ in range(1 << depth)]
        plte = chunk(b"PLTE", b"".join(bytes(p) for p in palette))
        if trns:
            # Fewer alpha entries than colours: the rest stay opaque.
            palette_alpha = [rng.randint(0, 255) for _ in range(max(1, len(palette) - 1))]
            extra = chunk(b"tRNS", bytes(palette_alpha))
    elif trns:
        key = pixels[0][0]  # at least one pixel matches the key
        extra = chunk(b"tRNS", b"".join(struct.pack(">H", s) for s in key))

    def to8(s):
        return s >> 8 if depth == 16 else s * 255 // top

    rgba = bytearray()
    for row in pixels:
        for p in row:
            if colour == 3:
                alpha = palette_alpha[p[0]] if p[0] < len(palette_alpha) else 255
                rgba += bytes(palette[p[0]]) + bytes([alpha])
                continue
            colours = [to8(s) for s in p[:3]] if colour in (2, 6) else [to8(p[0])] * 3
            if colour in (4, 6):
                alpha = to8(p[-1])
            else:
                alpha = 0 if key is not None and p == key else 255
            rgba += bytes(colours + [alpha])
    raw = image_data(pixels, width, height, colour, depth, interlaced)
    with open(os.path.join(ROOT, "good", name + ".png"), "wb") as f:
        f.write(png(width, height, colour, depth, interlaced, raw, ancillary + extra, plte))
    with open(os.path.join(ROOT, "good", name + ".rgba"), "wb") as f:
        f.write(rgba)
    return "%s %d %d" % (name, width, height)


def with_bad_crc(data, kind):
    at = data.index(kind) - 4
    length = struct.unpack(">I", data[at:at + 4])[0]
    crc_at = at + 8 + length
    return data[:crc_at] + bytes([data[crc_at] ^ 0xFF]) + data[crc_at + 1:]


def header_only(width, height, colour=0, depth=8, data=b"\x00\x00"):
    return png(width, height, colour, depth, False, data)


def main():
    os.makedirs(os.path.join(ROOT, "good"), exist_ok=True)
    os.makedirs(os.path.join(ROOT, "bad"), exist_ok=True)
    rng = random.Random(20240611)
    kinds = [("grey", 0, d, False) for d in (1, 2, 4, 8, 16)]
    kinds += [("grey_trns", 0, d, True) for d in (2, 8, 16)]
    kinds += [("grey_alpha", 4, d, False) for d in (8, 16)]
    kinds += [("rgb", 2, d, False) for d in (8, 16)]
    kinds += [("rgb_trns", 2, d, True) for d in (8, 16)]
    kinds += [("rgba", 6, d, False) for d in (8, 16)]
    kinds += [("palette", 3, d, False) for d in (1, 2, 4, 8)]
    kinds += [("palette_trns", 3, d, True) for d in (1, 2, 4, 8)]
    sizes = [(1, 1, False), (5, 7, False), (300, 3, False), (9, 10, True), (1, 1, True)]
    manifest = []
    for label, colour, depth, trns in kinds:
        for width, height, interlaced in sizes:
            name = "%s%d_%dx%d%s" % (label, depth, width, height, "_adam7" if interlaced else "")
            manifest.append(make_good(name, width, height, colour, depth, interlaced, trns, rng))
    # Gamma and text chunks change nothing: no colour conversion.
    manifest.append(make_good("rgb_trns8_gamma_text_6x4", 6, 4, 2, 8, False, True, rng,
                              chunk(b"gAMA", struct.pack(">I", 45455)) + chunk(b"tEXt", b"Comment\0made here")))
    # The largest side allowed.
    manifest.append(make_good("grey1_16384x1", 16384, 1, 0, 1, False, False, rng))
    # Low bytes that rounding would carry into the high byte: the test
    # spells out 0x00, 0x12, 0xFF, 0x80 for this one.
    samples = [0x00FF, 0x12FF, 0xFF00, 0x8080]
    raw = b"\x00" + b"".join(struct.pack(">H", v) for v in samples)
    with open(os.path.join(ROOT, "good", "grey16_high_bytes.png"), "wb") as f:
        f.write(png(4, 1, 0, 16, False, raw))
    sample = open(os.path.join(ROOT, "good", "rgba8_5x7.png"), "rb").read()
    # Many published files end at their last IDAT: their pixels are whole.
    with open(os.path.join(ROOT, "good", "rgba8_5x7_no_iend.png"), "wb") as f:
        f.write(sample[:sample.index(b"IEND") - 4])
    with open(os.path.join(ROOT, "good", "rgba8_5x7.rgba"), "rb") as f:
        pixels = f.read()
    with open(os.path.join(ROOT, "good", "rgba8_5x7_no_iend.rgba"), "wb") as f:
        f.write(pixels)
    manifest.append("rgba8_5x7_no_iend 5 7")
    with open(os.path.join(ROOT, "good", "manifest.txt"), "w") as f:
        f.write("\n".join(manifest) + "\n")

    trns = open(os.path.join(ROOT, "good", "palette_trns8_5x7.png"), "rb").read()
    bad = {
        "empty": b"",
        "not_png": b"GIF89a not a PNG at all",
        "short_signature": sample[:5],
        "bad_crc_idat": with_bad_crc(sample, b"IDAT"),
        "bad_crc_ihdr": with_bad_crc(sample, b"IHDR"),
        "bad_crc_trns": with_bad_crc(trns, b"tRNS"),
        "truncated_idat": sample[:sample.index(b"IDAT") + 20],
        "truncated_header": sample[:20],
        # The last IDAT's checksum is cut off: its data cannot be trusted.
        "cut_last_crc": sample[:sample.index(b"IEND") - 6],
        "too_wide": header_only(20000, 1),
        "too_tall": header_only(1, 20000),
        "zero_width": header_only(0, 5),
        # A legal 16384 x 16384 header over a few bytes of data: refused
        # before 1 GiB of pixels is allocated for it.
        "huge_little_data": header_only(16384, 16384, 6, 8),
    }
    for name, data in bad.items():
        with open(os.path.join(ROOT, "bad", name + ".png"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
