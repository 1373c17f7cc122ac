// Layered sprite files (.aseprite) built byte by byte for tests and fuzz
// seeds: the 128-byte header, frames of chunks, and zlib streams made of
// stored deflate blocks (valid for any inflater, no compressor needed).
#ifndef VELMORA_TESTS_SUPPORT_ASEPRITE_WRITER_H
#define VELMORA_TESTS_SUPPORT_ASEPRITE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace VelmoraTest::Ase {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFFU));
}
inline void PutString(Bytes& out, const std::string& text) {
    Put(out, text.size(), 2);
    out.insert(out.end(), text.begin(), text.end());
}
inline void Zeros(Bytes& out, size_t n) { out.insert(out.end(), n, 0); }

// RFC 1950 around stored RFC 1951 blocks.
inline Bytes Zlib(const Bytes& data) {
    Bytes out = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t n = data.size() - at < 65535 ? data.size() - at : 65535;
        out.push_back(at + n == data.size() ? 1 : 0);
        Put(out, n, 2);
        Put(out, ~n & 0xFFFFU, 2);
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < data.size());
    uint32_t a = 1;
    uint32_t b = 0;
    for (const uint8_t byte : data) {
        a = (a + byte) % 65521U;
        b = (b + a) % 65521U;
    }
    const uint32_t adler = b << 16 | a;
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>((adler >> (8 * i)) & 0xFFU));
    return out;
}

inline Bytes Chunk(uint16_t type, const Bytes& data) {
    Bytes out;
    Put(out, data.size() + 6, 4);
    Put(out, type, 2);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

struct Layer {
    uint16_t flags = 1;  // visible
    uint16_t type = 0;   // 0 image, 1 group, 2 tilemap
    uint16_t level = 0;
    uint16_t blend = 0;
    uint8_t opacity = 255;
    std::string name = "layer";
    uint32_t tileset = 0;
};

inline Bytes LayerChunk(const Layer& layer, bool uuid = false) {
    Bytes d;
    Put(d, layer.flags, 2);
    Put(d, layer.type, 2);
    Put(d, layer.level, 2);
    Zeros(d, 4);
    Put(d, layer.blend, 2);
    Put(d, layer.opacity, 1);
    Zeros(d, 3);
    PutString(d, layer.name);
    if (layer.type == 2) Put(d, layer.tileset, 4);
    if (uuid) Zeros(d, 16);
    return Chunk(0x2004, d);
}

struct Cel {
    uint16_t layer = 0;
    int16_t x = 0;
    int16_t y = 0;
    uint8_t opacity = 255;
    uint16_t type = 2;  // 0 raw, 1 linked, 2 compressed, 3 tilemap
    int16_t z = 0;
    uint16_t width = 0;  // pixels, or tiles for a tilemap
    uint16_t height = 0;
    Bytes pixels;                // in the sprite's format
    uint16_t linkedFrame = 0;    // type 1
    std::vector<uint32_t> tiles;  // type 3, 32 bits each
    uint32_t flipBits = 0;       // type 3: set in every tile
};

inline Bytes CelChunk(const Cel& cel) {
    Bytes d;
    Put(d, cel.layer, 2);
    Put(d, static_cast<uint16_t>(cel.x), 2);
    Put(d, static_cast<uint16_t>(cel.y), 2);
    Put(d, cel.opacity, 1);
    Put(d, cel.type, 2);
    Put(d, static_cast<uint16_t>(cel.z), 2);
    Zeros(d, 5);
    if (cel.type == 1) {
        Put(d, cel.linkedFrame, 2);
        return Chunk(0x2005, d);
    }
    Put(d, cel.width, 2);
    Put(d, cel.height, 2);
    if (cel.type == 3) {
        Put(d, 32, 2);
        Put(d, 0x1FFFFFFFU, 4);
        Put(d, 0x20000000U, 4);
        Put(d, 0x40000000U, 4);
        Put(d, 0x80000000U, 4);
        Zeros(d, 10);
        Bytes raw;
        for (const uint32_t tile : cel.tiles) Put(raw, tile | cel.flipBits, 4);
        const Bytes z = Zlib(raw);
        d.insert(d.end(), z.begin(), z.end());
    } else if (cel.type == 0) {
        d.insert(d.end(), cel.pixels.begin(), cel.pixels.end());
    } else {
        const Bytes z = Zlib(cel.pixels);
        d.insert(d.end(), z.begin(), z.end());
    }
    return Chunk(0x2005, d);
}

struct Tag {
    uint16_t from = 0;
    uint16_t to = 0;
    uint8_t direction = 0;
    uint16_t repeat = 0;
    std::string name;
};

inline Bytes TagsChunk(const std::vector<Tag>& tags) {
    Bytes d;
    Put(d, tags.size(), 2);
    Zeros(d, 8);
    for (const Tag& tag : tags) {
        Put(d, tag.from, 2);
        Put(d, tag.to, 2);
        Put(d, tag.direction, 1);
        Put(d, tag.repeat, 2);
        Zeros(d, 6);
        Put(d, 0x112233, 3);
        Zeros(d, 1);
        PutString(d, tag.name);
    }
    return Chunk(0x2018, d);
}

// Entries first.. of a palette of `size` colours, each 0xAABBGGRR.
inline Bytes PaletteChunk(uint32_t size, uint32_t first, const std::vector<uint32_t>& colours) {
    Bytes d;
    Put(d, size, 4);
    Put(d, first, 4);
    Put(d, first + colours.size() - 1, 4);
    Zeros(d, 8);
    for (size_t i = 0; i < colours.size(); ++i) {
        Put(d, i == 0 ? 1 : 0, 2);  // the first entry carries a name
        Put(d, colours[i], 4);
        if (i == 0) PutString(d, "named");
    }
    return Chunk(0x2019, d);
}

// An old palette (0x0004, or 0x0011 with 0-63 channels): one packet that
// skips `skip` entries, then RGB triples.
inline Bytes OldPaletteChunk(uint16_t type, uint8_t skip, const std::vector<uint32_t>& rgb) {
    Bytes d;
    Put(d, 1, 2);
    Put(d, skip, 1);
    Put(d, rgb.size() & 0xFFU, 1);
    for (const uint32_t c : rgb) Put(d, c, 3);
    return Chunk(type, d);
}

// Tiles of `width` x `height`, stacked: `pixels` holds tile 0 (empty) first.
inline Bytes TilesetChunk(uint32_t id, uint32_t count, uint16_t width, uint16_t height, const Bytes& pixels) {
    Bytes d;
    Put(d, id, 4);
    Put(d, 2 | 4, 4);
    Put(d, count, 4);
    Put(d, width, 2);
    Put(d, height, 2);
    Put(d, 1, 2);
    Zeros(d, 14);
    PutString(d, "tiles");
    const Bytes z = Zlib(pixels);
    Put(d, z.size(), 4);
    d.insert(d.end(), z.begin(), z.end());
    return Chunk(0x2023, d);
}

struct Frame {
    uint16_t duration = 100;
    std::vector<Bytes> chunks;
};

struct File {
    uint16_t width = 4;
    uint16_t height = 4;
    uint16_t depth = 32;  // 32 RGBA, 16 grayscale, 8 indexed
    uint32_t flags = 1;   // layer opacity valid
    uint16_t speed = 100;
    uint8_t transparentIndex = 0;
    uint16_t colours = 256;
    std::vector<Frame> frames;

    Bytes Build() const {
        Bytes body;
        for (const Frame& frame : frames) {
            Bytes chunks;
            for (const Bytes& c : frame.chunks) chunks.insert(chunks.end(), c.begin(), c.end());
            Put(body, chunks.size() + 16, 4);
            Put(body, 0xF1FA, 2);
            Put(body, frame.chunks.size() < 0xFFFF ? frame.chunks.size() : 0xFFFF, 2);
            Put(body, frame.duration, 2);
            Zeros(body, 2);
            Put(body, frame.chunks.size(), 4);
            body.insert(body.end(), chunks.begin(), chunks.end());
        }
        Bytes out;
        Put(out, body.size() + 128, 4);
        Put(out, 0xA5E0, 2);
        Put(out, frames.size(), 2);
        Put(out, width, 2);
        Put(out, height, 2);
        Put(out, depth, 2);
        Put(out, flags, 4);
        Put(out, speed, 2);
        Zeros(out, 8);
        Put(out, transparentIndex, 1);
        Zeros(out, 3);
        Put(out, colours, 2);
        Put(out, 1, 1);
        Put(out, 1, 1);
        Zeros(out, 128 - out.size());
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
};

// RGBA pixels (0xAABBGGRR each) as the file stores them.
inline Bytes Rgba(const std::vector<uint32_t>& pixels) {
    Bytes out;
    for (const uint32_t p : pixels) Put(out, p, 4);
    return out;
}

}  // namespace VelmoraTest::Ase

#endif  // VELMORA_TESTS_SUPPORT_ASEPRITE_WRITER_H
