// Indexed PNGs: an image of at most 256 colours written with PLTE and tRNS,
// read back with the strict reader (zlib and its own unfiltering) and with
// the program's decoder; above 256 colours the RGBA file, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "io/png_io.h"
#include "io/png_streams.h"
#include "png_bytes.h"
#include "support/png_reader.h"
#include "support/sprites.h"
#include "velmora/image.h"

namespace {

using Velmora::Image;
using Velmora::Io::DecodePng;
using Velmora::Io::EncodePng;
using Velmora::Io::PngColours;
using Velmora::Io::PngEncoder;

constexpr uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | g << 8 | b << 16 | a << 24; }

// Sprite-like pixels from `colours`: each colour once in the first row(s),
// then blocks and runs, so each colour shows up in runs and next to others.
Image Painted(int32_t width, int32_t height, const std::vector<uint32_t>& colours) {
    Image image;
    image.width = width;
    image.height = height;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    image.pixels.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t x = i % static_cast<size_t>(width), y = i / static_cast<size_t>(width);
        image.pixels[i] = i < colours.size() ? colours[i] : colours[(x / 5 + (y / 3) * 7 + (x * y) % 3) % colours.size()];
    }
    return image;
}

// `count` colours (up to 256), opaque or with alpha counting 0, 1, ...
// 254, 0; each distinct in its RGB too.
std::vector<uint32_t> Colours(size_t count, bool translucent) {
    std::vector<uint32_t> colours;
    for (uint32_t i = 0; i < count; ++i) {
        colours.push_back(Pack(i, (i * 37) & 0xff, 255 - i, translucent ? i % 255 : 255));
    }
    return colours;
}

// Large flat fills (64 x 48 blocks of 40 colours) with transparent holes:
// most rows repeat the row above through runs far longer than a sprite's.
Image FlatFills(int32_t width, int32_t height) {
    Image image;
    image.width = width;
    image.height = height;
    for (uint32_t y = 0; y < static_cast<uint32_t>(height); ++y) {
        for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x) {
            image.pixels.push_back((x / 37 + y / 23) % 5 == 0 ? 0 : Pack((x / 64 * 7 + y / 48) % 40 * 5, 90, 40, 255));
        }
    }
    return image;
}

// Random pixels of 16 colours, half of them translucent: the encoder's
// run-length settings.
Image Noise16(int32_t width, int32_t height) {
    Image noise = VelmoraTest::Sprite(width, height, 9);
    const std::vector<uint32_t> colours = Colours(16, true);
    for (uint32_t& p : noise.pixels) p = colours[p % 16];
    return noise;
}

std::vector<uint32_t> Join(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

size_t TranslucentCount(const std::vector<uint32_t>& colours) {
    return static_cast<size_t>(std::count_if(colours.begin(), colours.end(), [](uint32_t c) { return c >> 24 != 255; }));
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (const uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

std::vector<uint8_t> Encode(const Image& image, PngColours colours) {
    std::vector<uint8_t> png;
    std::string error;
    EXPECT_TRUE(EncodePng(image, png, error, colours)) << error;
    return png;
}

// ---------------------------------------------------------------------------

TEST(IndexedPng, FewColoursAreWrittenIndexedAndDecodeToTheSamePixels) {
    const std::vector<uint32_t> transparentKinds = {Pack(0, 0, 0, 0), Pack(255, 0, 0, 0), Pack(0, 0, 255, 0),
                                                    Pack(255, 255, 255, 0)};
    const struct Case {
        const char* name;
        int32_t width, height;
        std::vector<uint32_t> colours;
        uint8_t depth;
    } cases[] = {
        {"one colour, one pixel", 1, 1, {Pack(9, 8, 7, 255)}, 1},
        {"one transparent colour", 9, 4, {Pack(1, 2, 3, 0)}, 1},
        {"two colours, 13 bits a row", 13, 5, {0, Pack(200, 40, 40, 255)}, 1},
        {"three colours", 7, 7, {0, Pack(200, 40, 40, 255), Pack(20, 90, 200, 128)}, 2},
        // Alpha 0 keeps the colour behind it: four different pixels.
        {"transparent pixels of four RGBs", 6, 6, transparentKinds, 2},
        {"five colours", 11, 3, Colours(5, true), 4},
        {"sixteen colours, 2 pixels a byte, odd width", 17, 9, Colours(16, true), 4},
        {"seventeen colours", 31, 9, Colours(17, false), 8},
        {"every alpha value but 255, and one opaque", 64, 64, Join(Colours(255, true), {Pack(1, 1, 1, 255)}), 8},
        {"256 opaque colours: no tRNS", 300, 20, Colours(256, false), 8},
        {"256 colours, half translucent", 16, 16, Join(Colours(128, true), Colours(128, false)), 8},
        {"translucent colours after opaque ones in the image", 40, 3,
         Join(Colours(6, false), {Pack(5, 5, 5, 1), Pack(6, 6, 6, 254)}), 4},
        // 1 + 4099 bytes a row: 255 rows a band, so three bands.
        {"several bands", 4099, 600, Join(transparentKinds, Colours(30, false)), 8},
        {"several bands at 1 bit", Velmora::kMaxImageSide, 1100, {0, Pack(1, 2, 3, 255)}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Image image = Painted(c.width, c.height, c.colours);
        PngEncoder encoder(image, PngColours::Smallest);
        EXPECT_TRUE(encoder.Indexed());
        const std::vector<uint8_t> png = Encode(image, PngColours::Smallest);

        StrictPng::File file;
        std::string error;
        ASSERT_TRUE(StrictPng::Read(png, file, error)) << error;
        EXPECT_EQ(file.colourType, 3);
        EXPECT_EQ(file.depth, c.depth);
        std::vector<uint32_t> palette = file.palette, expected = c.colours;
        std::sort(palette.begin(), palette.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(palette, expected) << "every colour once, no other";
        // Translucent entries first: tRNS stops at the last of them.
        EXPECT_EQ(file.transparency, TranslucentCount(c.colours));
        const bool withTrns = file.transparency > 0;
        EXPECT_EQ(file.chunks[1], "PLTE");
        EXPECT_EQ(file.chunks[2], withTrns ? "tRNS" : "IDAT");
        EXPECT_EQ(file.chunks.size(), 3 + (withTrns ? 1 : 0) + encoder.BandCount());
        EXPECT_TRUE(file.pixels == image.pixels) << "the strict reader's pixels differ";

        Image decoded;
        ASSERT_TRUE(DecodePng(png, decoded, error)) << error;
        EXPECT_EQ(decoded.width, image.width);
        EXPECT_EQ(decoded.height, image.height);
        EXPECT_TRUE(decoded.pixels == image.pixels) << "the program's decoder's pixels differ";
    }
}

TEST(IndexedPng, FilesAreSmallerThanTheRgbaFilesOfTheSameImages) {
    const struct {
        const char* name;
        Image image;
    } cases[] = {
        {"sprite art", Painted(300, 200, Join({0}, Colours(40, false)))},
        // Rows of 8192 indices that repeat the row above: unfiltered, deflate
        // would not find the row above past the long runs.
        {"flat fills, 8192 wide", FlatFills(8192, 512)},
        {"flat fills, 1000 wide", FlatFills(1000, 700)},
        {"noise of 16 colours", Noise16(600, 500)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(PngEncoder(c.image, PngColours::Smallest).Indexed());
        EXPECT_LT(Encode(c.image, PngColours::Smallest).size(), Encode(c.image, PngColours::Rgba).size());
    }
}

// Above 256 colours, an image with every pixel opaque is written as RGB, a
// quarter smaller before deflate; one pixel with any other alpha keeps the
// RGBA file, byte for byte.
TEST(IndexedPng, MoreThan256ColoursGiveRgbWhenOpaqueElseTheRgbaFile) {
    // 256 colours and one more pixel of a 257th: the boundary both ways.
    Image exactly = Painted(40, 40, Colours(256, true));
    Image oneMore = exactly;
    oneMore.pixels.back() = Pack(1, 2, 3, 4);
    Image transparentOneMore = exactly;
    transparentOneMore.pixels[700] = Pack(77, 0, 0, 0);  // alpha 0, an RGB not yet used
    ASSERT_TRUE(PngEncoder(exactly, PngColours::Smallest).Indexed());
    Image opaqueOneMore = Painted(40, 40, Colours(256, false));
    opaqueOneMore.pixels.back() = Pack(1, 2, 3, 255);
    Image nearlyOpaque = VelmoraTest::Sprite(300, 200, 5);
    nearlyOpaque.pixels[300 * 199 + 17] &= 0xfeffffffu;  // alpha 254, at the start of the last row
    Image clearCorner = VelmoraTest::Sprite(300, 200, 5);
    clearCorner.pixels[0] = 0;
    const struct {
        const char* name;
        Image image;
        uint8_t colourType;
    } cases[] = {{"257 colours, the last in the last pixel", oneMore, 6},
                 {"257 colours, two of them transparent", transparentOneMore, 6},
                 {"257 opaque colours", opaqueOneMore, 2},
                 {"noise in a transparent border", VelmoraTest::Sprite(300, 200, 5, 3), 6},
                 {"opaque noise", VelmoraTest::Sprite(300, 200, 5), 2},
                 {"opaque noise over several bands", VelmoraTest::Sprite(700, 900, 2, 0), 2},
                 {"opaque noise but one pixel of alpha 254", nearlyOpaque, 6},
                 {"opaque noise but one transparent pixel", clearCorner, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PngEncoder encoder(c.image, PngColours::Smallest);
        EXPECT_FALSE(encoder.Indexed());
        EXPECT_EQ(encoder.Opaque(), c.colourType == 2);
        const std::vector<uint8_t> png = Encode(c.image, PngColours::Smallest);
        const std::vector<uint8_t> rgba = Encode(c.image, PngColours::Rgba);
        if (c.colourType == 6) {
            EXPECT_EQ(png, rgba);
        } else {
            EXPECT_LT(png.size(), rgba.size());
        }
        StrictPng::File file;
        std::string error;
        ASSERT_TRUE(StrictPng::Read(png, file, error)) << error;
        EXPECT_EQ(file.colourType, c.colourType);
        // No colour key and no palette: every pixel is in the image data.
        EXPECT_EQ(std::count(file.chunks.begin(), file.chunks.end(), "tRNS"), 0);
        EXPECT_EQ(std::count(file.chunks.begin(), file.chunks.end(), "PLTE"), 0);
        EXPECT_TRUE(file.pixels == c.image.pixels);
        Image decoded;
        ASSERT_TRUE(DecodePng(png, decoded, error)) << error;
        EXPECT_TRUE(decoded.pixels == c.image.pixels);
    }
}

TEST(IndexedPng, BytesAreTheSameWhateverTheBandOrderAndThreadCount) {
    // Hashes taken once on Linux; the Windows build runs this too.
    const struct {
        const char* name;
        Image image;
        uint64_t hash;
    } cases[] = {
        {"sprite art, 34 colours, three bands", Painted(4099, 600, Join({0, Pack(9, 9, 9, 0)}, Colours(32, false))),
         15689276209008140397ull},
        {"noise of 16 colours, two bands", Noise16(2000, 1100), 8767386852962088766ull},
        {"flat fills, rows repeating the row above, three bands", FlatFills(4099, 600), 1842497173547581348ull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> inOrder = Encode(c.image, PngColours::Smallest);
        EXPECT_EQ(Fnv1a(inOrder), c.hash);
        PngEncoder encoder(c.image, PngColours::Smallest);
        ASSERT_TRUE(encoder.Indexed());
        ASSERT_GT(encoder.BandCount(), 1u);
        for (size_t band = encoder.BandCount(); band-- > 0;) encoder.EncodeBand(band);
        std::vector<uint8_t> png;
        std::string error;
        ASSERT_TRUE(encoder.Finish(png, error)) << error;
        EXPECT_EQ(png, inOrder);
        for (const unsigned jobs : {1U, 3U}) {
            Velmora::Io::PngStreams streams({{"a.png", &c.image, PngColours::Smallest}}, jobs);
            std::vector<uint8_t> file, piece;
            while (streams.Next(0, piece, error)) file.insert(file.end(), piece.begin(), piece.end());
            EXPECT_EQ(error, "");
            EXPECT_EQ(file, inOrder) << jobs << " jobs";
        }
    }
}

TEST(IndexedPng, InvalidImagesAreRefusedAsBefore) {
    Image short1 = Painted(2, 2, {0});
    short1.pixels.pop_back();
    Image zeroWidth;
    zeroWidth.height = 1;
    for (const Image& image : {short1, zeroWidth}) {
        std::vector<uint8_t> png = {1, 2, 3};
        std::string error;
        EXPECT_FALSE(EncodePng(image, png, error, PngColours::Smallest));
        EXPECT_EQ(error, "invalid image");
        EXPECT_FALSE(PngEncoder(image, PngColours::Smallest).Indexed());
    }
}

// ---------------------------------------------------------------------------
// The strict reader itself: it is the oracle above, so it must refuse what
// a lenient decoder lets through.

TEST(StrictPng, RefusesWhatTheEncoderNeverWrites) {
    using PngBytes::Chunk;
    using PngBytes::Header;
    using PngBytes::StoredZlib;
    const std::string palette = Chunk("PLTE", std::string("\x10\x20\x30\x40\x50\x60", 6));
    // 3 x 2 at 1 bit: indices 0 1 0 and 1 1 0, filter 0; three low bits of
    // each row's byte unused.
    const std::string rows("\x00\x40\x00\xc0", 4);
    const auto file = [&](const std::string& body) { return PngBytes::kSignature + body + PngBytes::End(); };
    const std::string good = Header(3, 2, 1, 3) + palette + Chunk("tRNS", std::string("\x00", 1)) +
                             Chunk("IDAT", StoredZlib(rows));
    std::string badCrc = file(good);
    badCrc[badCrc.size() - 13] ^= 1;  // in the IDAT checksum
    const struct {
        const char* name;
        std::string png;
        std::string error;  // empty: accepted
    } cases[] = {
        {"the file as written", file(good), ""},
        {"a wrong checksum", badCrc, "IDAT: wrong checksum"},
        {"no palette", file(Header(3, 2, 1, 3) + Chunk("IDAT", StoredZlib(rows))), "IDAT: indexed image without PLTE"},
        {"three entries at 1 bit", file(Header(3, 2, 1, 3) + Chunk("PLTE", std::string(9, '\x01')) +
                                        Chunk("IDAT", StoredZlib(rows))),
         "PLTE: 9 bytes at depth 1"},
        {"tRNS longer than the palette",
         file(Header(3, 2, 1, 3) + palette + Chunk("tRNS", std::string(3, '\0')) + Chunk("IDAT", StoredZlib(rows))),
         "tRNS: 3 entries for a palette of 2"},
        {"an index past the palette",
         file(Header(3, 2, 2, 3) + palette + Chunk("IDAT", StoredZlib(std::string("\x00\x08\x00\x00", 4)))),
         "index 2 past the palette at (2, 0)"},
        {"bits after the last index",
         file(Header(3, 2, 1, 3) + palette + Chunk("IDAT", StoredZlib(std::string("\x00\x41\x00\xc0", 4)))),
         "row 0 has bits set after its last index"},
        {"filter type 5", file(Header(3, 2, 1, 3) + palette + Chunk("IDAT", StoredZlib(std::string("\x05\x40\x00\xc0", 4)))),
         "row 0 has filter type 5"},
        {"a row short", file(Header(3, 2, 1, 3) + palette + Chunk("IDAT", StoredZlib(rows.substr(0, 2)))),
         "image data shorter than the image"},
        {"a row too many", file(Header(3, 2, 1, 3) + palette + Chunk("IDAT", StoredZlib(rows + rows.substr(0, 2)))),
         "image data longer than the image"},
        {"a chunk the encoder never writes", file(Header(3, 2, 1, 3) + Chunk("tEXt", std::string("a\0b", 3)) + palette +
                                                  Chunk("IDAT", StoredZlib(rows))),
         "tEXt: not a chunk the encoder writes"},
        {"bytes after IEND", file(good) + "x", "bytes after IEND"},
        {"RGB with a colour key", file(Header(3, 2, 8, 2) + Chunk("tRNS", std::string(6, '\0')) +
                                       Chunk("IDAT", StoredZlib(std::string(20, '\0')))),
         "tRNS: out of place"},
        {"RGB at 16 bits", file(Header(3, 2, 16, 2) + Chunk("IDAT", StoredZlib(std::string(38, '\0')))),
         "IHDR: colour type 2 at depth 16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StrictPng::File read;
        std::string error;
        const bool accepted = StrictPng::Read(std::vector<uint8_t>(c.png.begin(), c.png.end()), read, error);
        EXPECT_EQ(accepted, c.error.empty());
        EXPECT_EQ(error, c.error);
        if (accepted) {
            const uint32_t first = 0x00302010u, second = 0xff605040u;
            EXPECT_EQ(read.pixels, (std::vector<uint32_t>{first, second, first, second, second, first}));
        }
    }
}

}  // namespace
