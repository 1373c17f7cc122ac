// The file pipeline's I/O: PNG decoding against an independent model of the
// format (fixtures and expected pixels from scripts/make_png_fixtures.py),
// PNG encoding, folder listing and the all-or-nothing output set.
#include <gtest/gtest.h>

#include <chrono>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "file_ops.h"
#include "io/file_io.h"
#include "io/output_set.h"
#include "io/png_io.h"
#include "io/png_streams.h"
#include "png_bytes.h"
#include "support/file_tree.h"
#include "support/sprites.h"
#include "velmora/image.h"
#include "velmora_engine.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using Velmora::Image;
using VelmoraTest::ReadText;
using VelmoraTest::Sprite;
using VelmoraTest::TreeOf;
using Velmora::Io::CommitOutputs;
using Velmora::Io::DecodePng;
using Velmora::Io::EncodePng;
using Velmora::Io::OutputFile;
using Velmora::Io::PngEncoder;

const std::string kPngData = std::string(VELMORA_TEST_DATA) + "/png";

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}


uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | g << 8 | b << 16 | a << 24; }

// Deterministic pixels: every byte value and alpha 0 with colour behind it.
Image Pattern(int32_t width, int32_t height, uint32_t seed) {
    Image image;
    image.width = width;
    image.height = height;
    uint32_t state = seed;
    for (int32_t i = 0; i < width * height; ++i) {
        state = state * 1664525u + 1013904223u;
        image.pixels.push_back(state);
    }
    return image;
}

// A fresh folder per test, removed afterwards.
using TempDir = VelmoraTest::TempFolder;


// ---------------------------------------------------------------------------
// DecodePng

TEST(DecodePng, MatchesTheFormatModelForEveryColourTypeDepthAndLayout) {
    std::ifstream manifest(kPngData + "/good/manifest.txt");
    std::string line;
    int checked = 0;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name;
        int32_t width = 0;
        int32_t height = 0;
        fields >> name >> width >> height;
        SCOPED_TRACE(name);
        Image image;
        std::string error;
        std::string stem = kPngData + "/good/";
        stem += name;
        ASSERT_TRUE(DecodePng(ReadAll(stem + ".png"), image, error)) << error;
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
        const std::vector<uint8_t> expected = ReadAll(stem + ".rgba");
        ASSERT_EQ(image.pixels.size() * 4, expected.size());
        const auto* got = reinterpret_cast<const uint8_t*>(image.pixels.data());
        const auto mismatch = std::mismatch(expected.begin(), expected.end(), got);
        EXPECT_EQ(mismatch.first, expected.end())
            << "first wrong byte at " << (mismatch.first - expected.begin()) << " (pixel "
            << (mismatch.first - expected.begin()) / 4 << ", channel " << (mismatch.first - expected.begin()) % 4
            << "): expected " << int{*mismatch.first} << ", got " << int{*mismatch.second};
        ++checked;
    }
    // 24 colour type / depth / tRNS kinds in 5 sizes and layouts, one with
    // gamma and text chunks, and the widest image.
    EXPECT_EQ(checked, 123) << "manifest incomplete: run scripts/make_png_fixtures.py";
}

TEST(DecodePng, SixteenBitSamplesKeepTheirHighByteNotARoundedOne) {
    Image image;
    std::string error;
    ASSERT_TRUE(DecodePng(ReadAll(kPngData + "/good/grey16_high_bytes.png"), image, error)) << error;
    // Samples 0x00FF, 0x12FF, 0xFF00, 0x8080: rounding would give 01, 13, FE.
    const std::vector<uint32_t> expected = {Pack(0x00, 0x00, 0x00, 255), Pack(0x12, 0x12, 0x12, 255),
                                            Pack(0xFF, 0xFF, 0xFF, 255), Pack(0x80, 0x80, 0x80, 255)};
    EXPECT_EQ(image.pixels, expected);
}

// Many published PNGs stop after their last IDAT. Every colour type, depth
// and layout decodes to the same pixels with or without IEND, or with IEND
// cut short.
TEST(DecodePng, NeedsNoIendOnceTheImageDataIsWhole) {
    std::ifstream manifest(kPngData + "/good/manifest.txt");
    std::string line;
    int checked = 0;
    while (std::getline(manifest, line)) {
        const std::string name = line.substr(0, line.find(' '));
        SCOPED_TRACE(name);
        std::string path = kPngData + "/good/";
        path += name;
        path += ".png";
        const std::vector<uint8_t> whole = ReadAll(path);
        Image expected;
        std::string error;
        ASSERT_TRUE(DecodePng(whole, expected, error)) << error;
        constexpr size_t kIend = 12;
        if (whole.size() < kIend || std::memcmp(whole.data() + whole.size() - 8, "IEND", 4) != 0) continue;
        for (const size_t cut : {kIend, kIend - 4, size_t{1}}) {
            SCOPED_TRACE(cut);
            const std::vector<uint8_t> shorter(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut));
            Image image;
            ASSERT_TRUE(DecodePng(shorter, image, error)) << error;
            EXPECT_EQ(image.width, expected.width);
            EXPECT_EQ(image.pixels, expected.pixels);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 122);
}

// Indices past the end of the palette are opaque black, as libpng has them;
// a short tRNS leaves the rest of the palette opaque.
TEST(DecodePng, GivesOpaqueBlackForIndicesPastThePalette) {
    using namespace PngBytes;
    const std::string palette = Chunk("PLTE", std::string("\x10\x20\x30\x40\x50\x60", 6));
    const std::string rows = std::string("\0\0\1\2\xff", 5);
    const std::string idat = Chunk("IDAT", StoredZlib(rows)) + End();
    struct Case {
        const char* what;
        std::string chunks;
        std::vector<uint32_t> pixels;
    };
    const Case cases[] = {
        {"no tRNS", palette,
         {Pack(0x10, 0x20, 0x30, 255), Pack(0x40, 0x50, 0x60, 255), Pack(0, 0, 0, 255), Pack(0, 0, 0, 255)}},
        {"a tRNS of one entry", palette + Chunk("tRNS", std::string("\x80", 1)),
         {Pack(0x10, 0x20, 0x30, 0x80), Pack(0x40, 0x50, 0x60, 255), Pack(0, 0, 0, 255), Pack(0, 0, 0, 255)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = kSignature + Header(4, 1, 8, 3);
        file += c.chunks;
        file += idat;
        Image image;
        std::string error;
        ASSERT_TRUE(DecodePng(std::vector<uint8_t>(file.begin(), file.end()), image, error)) << error;
        EXPECT_EQ(image.pixels, c.pixels);
    }
}

TEST(DecodePng, RefusesBrokenFilesWithAPhraseAndLeavesTheImageAlone) {
    struct Case {
        const char* file;
        const char* error;
    };
    const Case cases[] = {
        {"empty", "empty file"},
        {"not_png", "not a PNG file"},
        {"short_signature", "not a PNG file"},
        {"bad_crc_idat", "bad CRC in chunk IDAT"},
        {"bad_crc_ihdr", "bad CRC in chunk IHDR"},
        // Ancillary, but a damaged tRNS dropped silently would change pixels.
        {"bad_crc_trns", "bad CRC in chunk tRNS"},
        {"truncated_idat", "image data ends early"},
        {"truncated_header", "file ends inside the image header"},
        // Without IEND, and the last IDAT's checksum is cut off.
        {"cut_last_crc", "image data ends early"},
        // The size limit is checked on the header, before any allocation.
        {"too_wide", "wider than 16384 pixels"},
        {"too_tall", "taller than 16384 pixels"},
        {"zero_width", "width of 0 or out of range"},
        {"huge_little_data", "image data too short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Image image = Pattern(2, 3, 7);
        const Image before = image;
        std::string error;
        EXPECT_FALSE(DecodePng(ReadAll(kPngData + "/bad/" + c.file + ".png"), image, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(image.width, before.width);
        EXPECT_EQ(image.pixels, before.pixels);
    }
}

// Files a user can meet, each damaged in one way: what the message says is
// what is wrong with the file, in words a user reads without the library.
TEST(DecodePng, SaysWhatIsWrongWithTheFileInPlainWords) {
    using namespace PngBytes;
    // 2 x 2 grey, 8 bits: rows of a filter byte and two samples.
    const std::string rows = std::string("\0\x10\x20\0\x30\x40", 6);
    const std::string zlib = StoredZlib(rows);
    const std::string idat = Chunk("IDAT", zlib);
    const std::string image = idat + End();
    std::string badIdat = idat;
    badIdat.back() = static_cast<char>(badIdat.back() ^ 1);
    std::string badText = Chunk("tEXt", "Comment");
    badText.back() = static_cast<char>(badText.back() ^ 1);
    // The rows in a stored block not marked last, and no checksum.
    std::string unfinished = zlib.substr(0, zlib.size() - 4);
    unfinished[2] = '\0';
    std::string badCrc = Header(20000, 2, 8, 0);
    badCrc[badCrc.size() - 1] ^= 1;
    struct Case {
        const char* what;
        std::string file;
        const char* error;
    };
    const Case cases[] = {
        {"the control case", kSignature + Header(2, 2, 8, 0) + image, ""},
        {"bit depth 3", kSignature + Header(2, 2, 3, 0) + image, "bit depth not allowed for its colour type"},
        {"colour type 5", kSignature + Header(2, 2, 8, 5) + image, "unknown colour type"},
        {"interlace method 2", kSignature + Header(2, 2, 8, 0, 2) + image,
         "unknown compression, filter or interlace method"},
        // The damage, not the width it made, is what is wrong.
        {"damaged header", kSignature + badCrc + image, "bad CRC in chunk IHDR"},
        {"IHDR not first", kSignature + Chunk("tEXt", std::string("a\0b", 3)) + Header(2, 2, 8, 0) + image,
         "damaged image header"},
        {"deflate garbage", kSignature + Header(2, 2, 8, 0) + Chunk("IDAT", "\x78\x01\xff\xff\xff\xff") + End(),
         "damaged image data"},
        {"row filter 7", kSignature + Header(2, 2, 8, 0) + Chunk("IDAT", StoredZlib(std::string("\x07\1\2\0\3\4", 6))) +
                             End(),
         "damaged image data"},
        {"one row of two", kSignature + Header(2, 2, 8, 0) + Chunk("IDAT", StoredZlib(rows.substr(0, 3))) + End(),
         "image data too short"},
        {"unknown critical chunk", kSignature + Header(2, 2, 8, 0) + Chunk("QWRT", "x") + image,
         "needs a chunk this program does not know"},
        {"palette image without PLTE", kSignature + Header(2, 2, 8, 3) + image, "palette missing"},
        {"a second IHDR", kSignature + Header(2, 2, 8, 0) + Header(2, 2, 8, 0) + image, "chunks out of order"},
        {"palette of 4 bytes", kSignature + Header(2, 2, 8, 3) + Chunk("PLTE", "abcd") + image,
         "chunk length out of range"},
        // Damaged metadata is skipped: the pixels are still right.
        {"damaged gAMA", kSignature + Header(2, 2, 8, 0) + Chunk("gAMA", std::string(4, '\0')) + image, ""},
        // Whole image data is enough: IEND only marks the end.
        {"IEND cut short", kSignature + Header(2, 2, 8, 0) + image.substr(0, image.size() - 6), ""},
        {"no IEND", kSignature + Header(2, 2, 8, 0) + idat, ""},
        {"no IEND, the data in two IDATs", kSignature + Header(2, 2, 8, 0) + Chunk("IDAT", zlib.substr(0, 5)) +
                                               Chunk("IDAT", zlib.substr(5)), ""},
        {"no IEND, a text chunk after the data cut short",
         kSignature + Header(2, 2, 8, 0) + idat + Chunk("tEXt", "Comment").substr(0, 9), ""},
        {"no IEND, the last checksum cut short", kSignature + Header(2, 2, 8, 0) + idat.substr(0, idat.size() - 1),
         "image data ends early"},
        {"no IEND, the last checksum wrong", kSignature + Header(2, 2, 8, 0) + badIdat, "bad CRC in chunk IDAT"},
        {"no IEND, a text chunk after the data with a wrong checksum",
         kSignature + Header(2, 2, 8, 0) + idat + badText, "bad CRC in chunk tEXt"},
        // Every row is there, but the zlib stream never ends.
        {"no IEND, the zlib stream unfinished", kSignature + Header(2, 2, 8, 0) + Chunk("IDAT", unfinished),
         "image data ends early"},
        {"no IEND, more data than rows", kSignature + Header(2, 2, 8, 0) + Chunk("IDAT", StoredZlib(rows + std::string("\0\1\2", 3))),
         "damaged image data"},
        {"no IEND, a row missing", kSignature + Header(2, 2, 8, 0) + Chunk("IDAT", StoredZlib(rows.substr(0, 3))),
         "image data too short"},
        {"a cut file", kSignature + Header(2, 2, 8, 0) + idat.substr(0, 14), "image data ends early"},
        {"a file cut inside a text chunk before the image data",
         kSignature + Header(2, 2, 8, 0) + Chunk("tEXt", "Comment").substr(0, 9), "file ends inside its tEXt chunk, before the image data"},
        {"a chunk longer than the file before the image data",
         kSignature + Header(2, 2, 8, 0) + std::string("\x3f\xff\xff\xffgAMA\0\0", 10), "file ends inside its gAMA chunk, before the image data"},
        {"a cut header", kSignature + Header(2, 2, 8, 0).substr(0, 12), "file ends inside the image header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image decoded;
        std::string error;
        EXPECT_EQ(DecodePng(std::vector<uint8_t>(c.file.begin(), c.file.end()), decoded, error), *c.error == '\0');
        EXPECT_EQ(error, c.error);
    }
}

// ---------------------------------------------------------------------------
// ReadPngSize

TEST(ReadPngSize, GivesEverySizeFromTheHeaderAlone) {
    // Only each fixture's first 33 bytes are written: a reader that looked
    // past the header would fail on every one.
    const TempDir dir;
    std::ifstream manifest(kPngData + "/good/manifest.txt");
    std::string line;
    int checked = 0;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name;
        int32_t width = 0;
        int32_t height = 0;
        fields >> name >> width >> height;
        SCOPED_TRACE(name);
        std::string fixture = kPngData + "/good/";
        fixture += name;
        const std::string bytes = ReadText(fixture + ".png");
        WriteAll(dir.path() / "head.png", bytes.substr(0, 33));
        Velmora::Size2D size;
        std::string error;
        ASSERT_TRUE(Velmora::Io::ReadPngSize(dir.Str("head.png"), size, error)) << error;
        EXPECT_EQ(size.w, width);
        EXPECT_EQ(size.h, height);
        ++checked;
    }
    EXPECT_EQ(checked, 123);
}

TEST(ReadPngSize, RefusesWhatDecodePngRefusesInTheHeaderAndNothingAfterIt) {
    // Damage past the header is not its business: those files give a size.
    const std::set<std::string> pastTheHeader = {"bad_crc_idat", "bad_crc_trns", "truncated_idat", "cut_last_crc",
                                                 "huge_little_data"};
    int refused = 0;
    for (const auto& entry : fs::directory_iterator(kPngData + "/bad")) {
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);
        Image image;
        std::string decodeError;
        ASSERT_FALSE(DecodePng(ReadAll(entry.path()), image, decodeError));
        Velmora::Size2D size{-1, -1};
        std::string error;
        const bool read = Velmora::Io::ReadPngSize(entry.path().u8string(), size, error);
        if (pastTheHeader.count(name) != 0) {
            EXPECT_TRUE(read) << error;
            EXPECT_GT(size.w, 0);
            EXPECT_GT(size.h, 0);
        } else {
            EXPECT_FALSE(read);
            EXPECT_EQ(error, decodeError);
            EXPECT_EQ(size.w, -1) << "size left alone on failure";
            ++refused;
        }
    }
    EXPECT_EQ(refused, 8);
}

TEST(ReadPngSize, RefusesPathsThatAreNoRegularFileWithoutOpeningThem) {
    const TempDir dir;
    fs::create_directory(dir.path() / "folder.png");
    struct Case {
        const char* name;
        const char* error;
    };
    std::vector<Case> cases = {{"folder.png", "is a folder"}, {"missing.png", "no such file or folder"}};
#ifndef _WIN32
    // Opened, a pipe with no writer would block the read for ever.
    ASSERT_EQ(mkfifo(dir.Str("pipe.png").c_str(), 0600), 0);
    cases.push_back({"pipe.png", "not a regular file"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Velmora::Size2D size;
        std::string error;
        EXPECT_FALSE(Velmora::Io::ReadPngSize(dir.Str(c.name), size, error));
        EXPECT_EQ(error, c.error);
    }
}

// ---------------------------------------------------------------------------
// EncodePng

TEST(EncodePng, RoundTripsEveryPixelExactly) {
    // Alpha 0 with colour behind it must survive: extrusion and premultiplying
    // engines read it.
    // The widest rows make bands of 16 rows, each primed with half a row.
    // Noise deflates as run-length streams of a fixed length that restart
    // inside a band; rows of 5 pixels filter to 21 bytes, which divide that
    // length, so some of those images end a stream on their last byte,
    // where the band must finish its zlib stream rather than start another.
    constexpr int32_t kRowsPerStream = 64512 / 21;
    const Image images[] = {Pattern(1, 1, 1), Pattern(300, 3, 2), Pattern(5, 7, 3), Pattern(3, 300, 4),
                            Pattern(Velmora::kMaxImageSide, 1, 5), Pattern(Velmora::kMaxImageSide, 40, 6),
                            Pattern(5, kRowsPerStream - 1, 11), Pattern(5, kRowsPerStream, 11),
                            Pattern(5, kRowsPerStream + 1, 11), Pattern(5, 2 * kRowsPerStream, 11),
                            Pattern(5, 3 * kRowsPerStream + 7, 11)};
    for (const Image& image : images) {
        SCOPED_TRACE(std::to_string(image.width) + "x" + std::to_string(image.height));
        std::vector<uint8_t> png;
        std::string error;
        ASSERT_TRUE(EncodePng(image, png, error)) << error;
        Image decoded;
        ASSERT_TRUE(DecodePng(png, decoded, error)) << error;
        EXPECT_EQ(decoded.width, image.width);
        EXPECT_EQ(decoded.height, image.height);
        EXPECT_EQ(decoded.pixels, image.pixels);
    }
}

TEST(EncodePng, GivesThePinnedBytesOnEveryPlatform) {
    // Pinned once on Linux; the Windows build runs this too, so the two
    // builds of libspng and zlib must write the same file.
    // As in an atlas: transparent runs, flat colours, some noise.
    Image image = Pattern(37, 23, 11);
    const uint32_t flat[3] = {Pack(200, 40, 40, 255), Pack(20, 90, 200, 255), Pack(250, 250, 250, 128)};
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        if (i % 17 != 0) image.pixels[i] = i % 37 < 12 ? 0 : flat[(i / 5) % 3];
    }
    std::vector<uint8_t> png;
    std::string error;
    ASSERT_TRUE(EncodePng(image, png, error)) << error;
    EXPECT_EQ(png, ReadAll(kPngData + "/encode_golden_37x23.png"));
}

// The chunk types of a PNG file, in order.
std::vector<std::string> ChunkTypes(const std::vector<uint8_t>& png) {
    std::vector<std::string> types;
    for (size_t at = 8; at + 8 <= png.size();) {
        const size_t length = size_t{png[at]} << 24 | size_t{png[at + 1]} << 16 | size_t{png[at + 2]} << 8 | png[at + 3];
        types.emplace_back(png.begin() + static_cast<std::ptrdiff_t>(at + 4), png.begin() + static_cast<std::ptrdiff_t>(at + 8));
        at += 12 + length;
    }
    return types;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (const uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

TEST(EncodePng, LargeImagesDeflateInBandsThatJoinIntoOneStream) {
    // Noise takes the run-length settings, sprite art the filtered ones; both
    // span several bands. The hashes were taken once on Linux: the Windows
    // build must lay the bands out the same way.
    Image sprites = Pattern(1200, 900, 7);
    for (size_t i = 0; i < sprites.pixels.size(); ++i) {
        const size_t x = i % 1200, y = i / 1200;
        if ((x / 40 + y / 30) % 3 != 0) sprites.pixels[i] = (x / 40) % 2 ? 0 : Pack(90, 160, uint32_t(y % 256), 255);
    }
    // Noise on the rows the encoder samples, runs of 8 equal bytes between
    // them: the run-length settings, with the stream restarting inside runs
    // and at their edges.
    Image striped = Pattern(700, 700, 5);
    for (size_t i = 0; i < striped.pixels.size(); ++i) {
        const uint32_t x = uint32_t(i % 700), y = uint32_t(i / 700);
        const uint32_t c = (x / 2 + y) % 7 + 1;
        if (y % 8 != 0) striped.pixels[i] = Pack(c, c, c, c);
    }
    const struct {
        const char* name;
        Image image;
        uint64_t hash;
    } cases[] = {{"noise", Pattern(700, 700, 3), 10131046966912456354ull},
                 {"striped noise", striped, 12494905471022911986ull},
                 {"sprites", sprites, 9423494353431575902ull}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PngEncoder encoder(c.image);
        ASSERT_GT(encoder.BandCount(), 1u);
        // Bands finish in any order on the threads that share them.
        for (size_t band = encoder.BandCount(); band-- > 0;) encoder.EncodeBand(band);
        std::vector<uint8_t> png;
        std::string error;
        ASSERT_TRUE(encoder.Finish(png, error)) << error;
        std::vector<uint8_t> inOrder;
        ASSERT_TRUE(EncodePng(c.image, inOrder, error)) << error;
        EXPECT_EQ(png, inOrder);
        EXPECT_EQ(Fnv1a(png), c.hash);
        // Over 256 colours: an encoder that may index writes the same file.
        std::vector<uint8_t> mayIndex;
        ASSERT_TRUE(EncodePng(c.image, mayIndex, error, Velmora::Io::PngColours::Smallest)) << error;
        EXPECT_EQ(mayIndex, png);

        std::vector<std::string> expected = {"IHDR"};
        expected.insert(expected.end(), encoder.BandCount(), "IDAT");
        expected.push_back("IEND");
        EXPECT_EQ(ChunkTypes(png), expected);
        // The decoder checks every chunk's checksum and the stream's.
        Image decoded;
        ASSERT_TRUE(DecodePng(png, decoded, error)) << error;
        EXPECT_EQ(decoded.pixels, c.image.pixels);
    }
}

TEST(EncodePng, ABandIsTakenOnceAndOnlyOnceEncoded) {
    const Image image = Pattern(700, 700, 3);
    PngEncoder encoder(image);
    ASSERT_GT(encoder.BandCount(), 1u);
    const size_t last = encoder.BandCount() - 1;
    std::vector<uint8_t> piece;
    std::string error;
    EXPECT_FALSE(encoder.TakeBand(last, piece, error)) << "not encoded yet";
    EXPECT_EQ(error, "band not encoded, or already taken");
    for (size_t band = 0; band <= last; ++band) encoder.EncodeBand(band);
    for (size_t band = 0; band <= last; ++band) ASSERT_TRUE(encoder.TakeBand(band, piece, error)) << error;
    error.clear();
    EXPECT_FALSE(encoder.TakeBand(last, piece, error)) << "taken twice";
    EXPECT_EQ(error, "band not encoded, or already taken");
}

// The data of every IDAT chunk of a PNG file, joined: its zlib stream.
std::vector<uint8_t> JoinedIdat(const std::vector<uint8_t>& png) {
    static const uint8_t kIdat[4] = {'I', 'D', 'A', 'T'};
    std::vector<uint8_t> stream;
    for (size_t at = 8; at + 12 <= png.size();) {
        const size_t length = size_t{png[at]} << 24 | size_t{png[at + 1]} << 16 | size_t{png[at + 2]} << 8 | png[at + 3];
        const auto data = png.begin() + static_cast<std::ptrdiff_t>(at + 8);
        if (length > png.size() - at - 12) {
            ADD_FAILURE() << "chunk at " << at << " runs past the end of the file";
            break;
        }
        if (std::equal(kIdat, kIdat + 4, png.begin() + static_cast<std::ptrdiff_t>(at + 4))) {
            stream.insert(stream.end(), data, data + static_cast<std::ptrdiff_t>(length));
        }
        at += 12 + length;
    }
    return stream;
}

struct Inflated {
    int code;                    // inflate's answer: Z_STREAM_END when whole
    std::vector<uint8_t> bytes;  // what came out
    size_t left;                 // input bytes after the stream's end
};

// Inflates a zlib stream with zlib itself, with room for a byte more than
// `expected` so that a longer stream shows.
Inflated InflateAll(const std::vector<uint8_t>& stream, size_t expected) {
    Inflated result{Z_STREAM_ERROR, std::vector<uint8_t>(expected + 1), stream.size()};
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return result;
    }
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = result.bytes.data();
    z.avail_out = static_cast<uInt>(result.bytes.size());
    result.code = inflate(&z, Z_FINISH);
    result.bytes.resize(z.total_out);
    result.left = z.avail_in;
    inflateEnd(&z);
    return result;
}

// Sprite art (flat colours, transparent runs, a little noise): the encoder
// takes its filtered settings, where Pattern's noise takes the run-length ones.
Image SpriteArt(int32_t width, int32_t height, uint32_t seed) {
    Image image = Pattern(width, height, seed);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const size_t x = i % static_cast<size_t>(width), y = i / static_cast<size_t>(width);
        if ((x / 40 + y / 30) % 3 != 0) image.pixels[i] = (x / 40) % 2 ? 0 : Pack(90, 160, uint32_t(y % 256), 255);
    }
    return image;
}

TEST(EncodePng, AStreamWhoseBandsEndOnTheLastRowEndsThereWithItsFinalBlock) {
    // A band holds as many filtered rows (1 + 4 * width bytes each) as fit
    // in a sixteenth of the image, kept between 256 KiB and 1 MiB. Heights
    // of exactly 1, 2 and 3 bands of 256 KiB, and of 16 bands in between,
    // and a row less and more: an encoder that opened one band too many on
    // an exact multiple would end the stream with an empty band after a
    // sync flush, without a final block. libspng reads such a file anyway,
    // so zlib checks it.
    const struct {
        int32_t width;
        bool noisy;
    } widths[] = {{Velmora::kMaxImageSide, false}, {4096, true}, {1024, false}};
    uint32_t seed = 1;
    for (const auto& w : widths) {
        const size_t filteredRow = 1 + 4 * static_cast<size_t>(w.width);
        const auto rowsPerBand = [filteredRow](int32_t height) {
            const size_t bandBytes =
                std::clamp(filteredRow * static_cast<size_t>(height) / 16, size_t{256} << 10, size_t{1} << 20);
            return static_cast<int32_t>(std::max<size_t>(1, bandBytes / filteredRow));
        };
        const int32_t small = rowsPerBand(1);
        const int32_t sixteenth = static_cast<int32_t>((size_t{8} << 20) / 16 / filteredRow);
        std::vector<int32_t> heights;
        for (const int32_t base : {small, 2 * small, 3 * small, 16 * sixteenth}) {
            for (const int32_t extraRows : {-1, 0, 1}) heights.push_back(base + extraRows);
        }
        for (const int32_t height : heights) {
            {  // one image at a time
                const int32_t perBand = rowsPerBand(height);
                const int32_t bands = (height + perBand - 1) / perBand;
                SCOPED_TRACE(std::to_string(w.width) + "x" + std::to_string(height) + (w.noisy ? " noise" : " sprites") +
                             ", " + std::to_string(perBand) + " rows per band");
                const Image image = w.noisy ? Pattern(w.width, height, ++seed) : SpriteArt(w.width, height, ++seed);
                // The heights fall where the encoder cuts its bands.
                EXPECT_EQ(PngEncoder(image).BandCount(), static_cast<size_t>(bands));
                std::vector<uint8_t> png;
                std::string error;
                ASSERT_TRUE(EncodePng(image, png, error)) << error;
                const size_t expected = static_cast<size_t>(height) * filteredRow;
                const Inflated inflated = InflateAll(JoinedIdat(png), expected);
                EXPECT_EQ(inflated.code, Z_STREAM_END) << "the stream must end with its final block";
                EXPECT_EQ(inflated.bytes.size(), expected);
                EXPECT_EQ(inflated.left, 0U) << "bytes after the stream's end";
                Image decoded;
                ASSERT_TRUE(DecodePng(png, decoded, error)) << error;
                EXPECT_EQ(decoded.width, image.width);
                EXPECT_EQ(decoded.height, image.height);
                EXPECT_TRUE(decoded.pixels == image.pixels) << "pixels differ";
            }
        }
    }
}

TEST(EncodePng, RefusesInvalidImages) {
    Image noPixels = Pattern(2, 2, 1);
    noPixels.pixels.pop_back();
    Image zeroWidth;
    zeroWidth.height = 1;
    Image tooWide = Pattern(1, 1, 1);
    tooWide.width = Velmora::kMaxImageSide + 1;
    for (const Image& image : {noPixels, zeroWidth, tooWide}) {
        std::vector<uint8_t> png = {1, 2, 3};
        std::string error;
        EXPECT_FALSE(EncodePng(image, png, error));
        EXPECT_EQ(error, "invalid image");
    }
}

// ---------------------------------------------------------------------------
// PngStreams


TEST(PngStreams, PiecesMakeTheFileEncodePngWritesWhateverTheJobCount) {
    const Image small = Sprite(7, 5, 1, 1);
    const Image noise = Sprite(700, 900, 2, 0);  // several bands
    std::vector<std::vector<uint8_t>> expected(2);
    std::string error;
    ASSERT_TRUE(Velmora::Io::EncodePng(small, expected[0], error)) << error;
    ASSERT_TRUE(Velmora::Io::EncodePng(noise, expected[1], error)) << error;
    // One job: the writer encodes every band itself as it asks for it.
    for (const unsigned jobs : {1U, 2U, 3U}) {
        SCOPED_TRACE(jobs);
        Velmora::Io::PngStreams streams({{"a.png", &small}, {"b.png", &noise}}, jobs);
        // The second file first: a writer may take them in any order.
        for (const size_t i : {size_t{1}, size_t{0}}) {
            std::vector<uint8_t> file, piece;
            size_t pieces = 0;
            while (streams.Next(i, piece, error)) {
                file.insert(file.end(), piece.begin(), piece.end());
                ++pieces;
            }
            EXPECT_EQ(error, "");
            EXPECT_EQ(file, expected[i]);
            EXPECT_GT(pieces, i == 1 ? 3U : 2U);
            EXPECT_FALSE(streams.Next(i, piece, error)) << "the end stays the end";
        }
    }
    // Dropped half-way, as when another file fails to stage: it must stop
    // and join, not hang or touch freed state.
    {
        Velmora::Io::PngStreams streams({{"b.png", &noise}}, 2);
        std::vector<uint8_t> piece;
        ASSERT_TRUE(streams.Next(0, piece, error));
    }
}


// ---------------------------------------------------------------------------
// ReadFileBytes, GetPathKind, BaseName

TEST(ReadFileBytes, ReadsRegularFilesWithinTheLimitAndRefusesTheRest) {
    const TempDir dir;
    WriteAll(dir.path() / "four.bin", std::string("ab\0d", 4));
    fs::create_directory(dir.path() / "folder");
    struct Case {
        const char* name;
        uint64_t maxBytes;
        bool ok;
        const char* error;
    };
    const Case cases[] = {
        {"four.bin", 4, true, ""},
        {"four.bin", 3, false, "file too large (over 3 bytes)"},
        {"folder", 100, false, "is a folder"},
        {"missing.bin", 100, false, "no such file or folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = {9};
        std::string error;
        EXPECT_EQ(Velmora::Io::ReadFileBytes(dir.Str(c.name), c.maxBytes, bytes, error), c.ok);
        EXPECT_EQ(error, c.error);
        const std::vector<uint8_t> expected = c.ok ? std::vector<uint8_t>{'a', 'b', 0, 'd'} : std::vector<uint8_t>{9};
        EXPECT_EQ(bytes, expected);
    }
}

TEST(GetPathKind, TellsFilesFoldersAndMissingPathsApart) {
    const TempDir dir;
    WriteAll(dir.path() / "f.png", "x");
    EXPECT_EQ(Velmora::Io::GetPathKind(dir.Str("f.png")), Velmora::Io::PathKind::File);
    EXPECT_EQ(Velmora::Io::GetPathKind(dir.Str()), Velmora::Io::PathKind::Folder);
    EXPECT_EQ(Velmora::Io::GetPathKind(dir.Str("nope")), Velmora::Io::PathKind::Missing);
}

TEST(BaseName, KeepsOnlyTheLastComponent) {
    EXPECT_EQ(Velmora::Io::BaseName("a/b/c.png"), "c.png");
    EXPECT_EQ(Velmora::Io::BaseName("c.png"), "c.png");
    EXPECT_EQ(Velmora::Io::BaseName("/c.png"), "c.png");
#ifdef _WIN32
    EXPECT_EQ(Velmora::Io::BaseName("a\\b/c\\d.png"), "d.png");
#else
    EXPECT_EQ(Velmora::Io::BaseName("a\\b.png"), "a\\b.png");  // a legal file name here
#endif
}

// ---------------------------------------------------------------------------
// ListPngFiles

TEST(ListPngFiles, FindsPngFilesRecursivelySortedSkippingDotNames) {
    const TempDir dir;
    const fs::path root = dir.path() / "in";
    for (const char* folder : {"in/sub/deeper", "in/.git", "in/b_folder", "outside"}) {
        fs::create_directories(dir.path() / folder);
    }
    for (const char* file : {"in/b.png", "in/a.PNG", "in/notes.txt", "in/.hidden.png", "in/.git/x.png",
                             "in/sub/z.png", "in/sub/deeper/y.Png", "in/sub/readme.md", "in/b_folder/c.png",
                             "in/png", "in/x.png.bak", "outside/q.png"}) {
        WriteAll(dir.path() / file, "x");
    }
    // A non-ASCII name survives as UTF-8 on every OS.
    WriteAll(root / fs::u8path(u8"h\u00e9ros.png"), "x");
    std::vector<std::string> expected = {"a.PNG", "b.png", "b_folder/c.png", u8"h\u00e9ros.png",
                                         "sub/deeper/y.Png", "sub/z.png"};
#ifndef _WIN32
    // A link back to the top and one to a folder outside: the loop is read
    // once, the outside folder is followed.
    fs::create_directory_symlink("..", root / "sub" / "loop");
    fs::create_directory_symlink(dir.path() / "outside", root / "linked");
    expected.insert(expected.begin() + 4, "linked/q.png");
#endif
    std::vector<Velmora::Io::FoundFile> found;
    std::string error;
    ASSERT_TRUE(Velmora::Io::ListPngFiles(dir.Str("in"), found, error)) << error;
    std::vector<std::string> relative;
    for (const auto& file : found) {
        relative.push_back(file.relative);
        EXPECT_EQ(file.path, dir.Str("in") + "/" + file.relative);
    }
    EXPECT_EQ(relative, expected);
}

TEST(ListPngFiles, NamesTheFolderItCannotRead) {
    const TempDir dir;
    std::vector<Velmora::Io::FoundFile> found;
    std::string error;
    EXPECT_FALSE(Velmora::Io::ListPngFiles(dir.Str("absent"), found, error));
    EXPECT_EQ(error, dir.Str("absent") + ": no such file or folder");
}

#ifndef _WIN32
// A file that cannot be read says what a folder that cannot be read says:
// the system's reason. Root reads everything, so the reads run in a child
// that drops to the unprivileged "nobody" (65534) when the test runs as root.
TEST(ListPngFiles, AnUnreadableFileGivesTheSameReasonAsAnUnreadableFolder) {
    const TempDir dir;
    WriteAll(dir.path() / "locked.png", "x");
    fs::create_directory(dir.path() / "locked");
    fs::permissions(dir.path() / "locked.png", fs::perms::none);
    fs::permissions(dir.path() / "locked", fs::perms::none);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeEnds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(3);
        }
        // The test's folder must be reachable, or the reasons below would
        // be about it.
        if (Velmora::Io::GetPathKind(dir.Str("locked.png")) != Velmora::Io::PathKind::File) {
            _exit(4);
        }
        std::vector<uint8_t> bytes;
        Velmora::Size2D size;
        std::vector<Velmora::Io::FoundFile> found;
        std::string file, header, folder;
        Velmora::Io::ReadFileBytes(dir.Str("locked.png"), 100, bytes, file);
        Velmora::Io::ReadPngSize(dir.Str("locked.png"), size, header);
        Velmora::Io::ListPngFiles(dir.Str("locked"), found, folder);
        const std::string report = file + "\n" + header + "\n" + folder + "\n";
        const bool written = write(pipeEnds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
        _exit(written ? 0 : 5);
    }
    close(pipeEnds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(dir.path() / "locked", fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 4) {
        GTEST_SKIP() << dir.Str() << " is not reachable by an unprivileged user";
    }
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(report, "permission denied\npermission denied\n" + dir.Str("locked") + ": permission denied\n");
}
#endif

// ---------------------------------------------------------------------------
// CommitOutputs

TEST(CommitOutputs, WritesEveryFileCreatingFoldersAndReplacingOldOnes) {
    const TempDir dir;
    WriteAll(dir.path() / "atlas.png", "old atlas");
    const std::vector<OutputFile> files = {
        {dir.Str("atlas.png"), {'n', 'e', 'w'}},
        {dir.Str("atlas.json"), {'{', '}'}},
        {dir.Str("atlas/frames/a.tres"), {}},  // empty files are files too
    };
    std::string error;
    ASSERT_TRUE(CommitOutputs(files, error)) << error;
    EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "new");
    EXPECT_EQ(ReadText(dir.path() / "atlas.json"), "{}");
    // Nothing else: no temporaries, no backups.
    EXPECT_EQ(TreeOf(dir.path()), (std::set<std::string>{"atlas.png", "atlas.json", "atlas/", "atlas/frames/",
                                                         "atlas/frames/a.tres"}));
}

TEST(CommitOutputs, FailureChangesNothingAndLeavesNothingBehind) {
    struct Case {
        const char* what;
        const char* failing;  // relative path of the file that fails
        const char* reason;
    };
    const Case cases[] = {
        {"a parent is a regular file", "blocker/x.tres", ": TMP/blocker is not a folder"},
        {"the target is a folder", "folder", ": is a folder"},
        {"the same path twice", "atlas.png", ": written twice in one set"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        WriteAll(dir.path() / "atlas.png", "old atlas");
        WriteAll(dir.path() / "blocker", "a file");
        fs::create_directory(dir.path() / "folder");
        const std::set<std::string> before = TreeOf(dir.path());
        // Files before the failing one would be written, and one replaces an
        // existing file, so a partial commit would show.
        const std::vector<OutputFile> files = {
            {dir.Str("atlas.png"), {'n', 'e', 'w'}},
            {dir.Str("new/deep/atlas.json"), {'{', '}'}},
            {dir.Str(c.failing), {'x'}},
        };
        std::string error;
        EXPECT_FALSE(CommitOutputs(files, error));
        std::string expected = dir.Str(c.failing) + c.reason;
        const size_t tmp = expected.find("TMP");
        if (tmp != std::string::npos) expected.replace(tmp, 3, dir.Str());
        EXPECT_EQ(error, expected);
        EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "old atlas");
        EXPECT_EQ(TreeOf(dir.path()), before);
    }
}

}  // namespace

namespace {

TEST(CommitOutputs, LeavesFilesThatAlreadyHoldTheBytesUntouched) {
    const TempDir dir;
    WriteAll(dir.path() / "same.tres", "same");
    WriteAll(dir.path() / "longer.tres", "same plus");
    WriteAll(dir.path() / "other.tres", "sane");
    // An old time stamp shows whether a file was rewritten. It is read back
    // after setting: the file system keeps it at its own resolution.
    for (const char* name : {"same.tres", "longer.tres", "other.tres"}) {
        fs::last_write_time(dir.path() / name, fs::file_time_type::clock::now() - std::chrono::hours(24));
    }
    const auto old = fs::last_write_time(dir.path() / "same.tres");
    const std::vector<OutputFile> files = {{dir.Str("same.tres"), {'s', 'a', 'm', 'e'}},
                                           {dir.Str("longer.tres"), {'s', 'a', 'm', 'e'}},
                                           {dir.Str("other.tres"), {'s', 'a', 'm', 'e'}}};
    std::string error;
    ASSERT_TRUE(CommitOutputs(files, error)) << error;
    EXPECT_EQ(fs::last_write_time(dir.path() / "same.tres"), old) << "identical bytes: not rewritten";
    EXPECT_GT(fs::last_write_time(dir.path() / "longer.tres"), old) << "a prefix of the old bytes differs";
    EXPECT_GT(fs::last_write_time(dir.path() / "other.tres"), old) << "same size, other bytes";
    for (const char* name : {"same.tres", "longer.tres", "other.tres"}) {
        EXPECT_EQ(ReadText(dir.path() / name), "same") << name;
    }
}

}  // namespace

namespace {

TEST(OutputSet, LeftUncommittedItUndoesEverythingItStaged) {
    const TempDir dir;
    WriteAll(dir.path() / "atlas.png", "old atlas");
    const std::set<std::string> before = TreeOf(dir.path());
    {
        Velmora::Io::OutputSet set;
        std::string error;
        ASSERT_TRUE(set.Stage({dir.Str("atlas.png"), {'n', 'e', 'w'}}, error)) << error;
        ASSERT_TRUE(set.Stage({dir.Str("deep/er/a.tres"), {'a'}}, error)) << error;
        // Staged means written to temporaries: the targets are still the old ones.
        EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "old atlas");
    }  // an encoder failed, say: no Commit
    EXPECT_EQ(TreeOf(dir.path()), before);
    EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "old atlas");
}

// The temporary a set staged beside `target` with `bytes`: a hidden
// ".velmora-<hex>.tmp" in the target's folder; empty when there is none.
fs::path TemporaryOf(const fs::path& target, const std::string& bytes) {
    for (const fs::directory_entry& entry : fs::directory_iterator(target.parent_path())) {
        const std::string name = entry.path().filename().u8string();
        if (name.rfind(".velmora-", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0 &&
            ReadText(entry.path()) == bytes) {
            return entry.path();
        }
    }
    return {};
}

TEST(OutputSet, ACommitThatFailsHalfWayPutsEveryOldTargetBack) {
    // Files go into place in the order staged: the first replaces an old
    // file, the second is new in a new folder, and the third's old file is
    // moved aside before its temporary, removed from under the set here
    // (which fails on every platform, as root too), cannot be renamed into
    // place. Undoing that must rename both old files back.
    const TempDir dir;
    WriteAll(dir.path() / "atlas.png", "old atlas");
    WriteAll(dir.path() / "atlas.json", "old json");
    const std::set<std::string> before = TreeOf(dir.path());
    {
        Velmora::Io::OutputSet set;
        std::string error;
        ASSERT_TRUE(set.Stage({dir.Str("atlas.png"), {'n', 'e', 'w'}}, error)) << error;
        ASSERT_TRUE(set.Stage({dir.Str("new/atlas.tres"), {'t'}}, error)) << error;
        ASSERT_TRUE(set.Stage({dir.Str("atlas.json"), {'{', '}'}}, error)) << error;
        const fs::path temporary = TemporaryOf(dir.path() / "atlas.json", "{}");
        ASSERT_FALSE(temporary.empty()) << "no temporary beside atlas.json";
        ASSERT_TRUE(fs::remove(temporary));
        EXPECT_FALSE(set.Commit(error));
        EXPECT_EQ(error.rfind(dir.Str("atlas.json") + ": ", 0), 0U) << error;
        // Failed half-way indeed: one old file replaced, one moved aside.
        EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "new");
        EXPECT_EQ(ReadText(dir.path() / "new" / "atlas.tres"), "t");
        EXPECT_FALSE(fs::exists(dir.path() / "atlas.json"));
    }  // the failed set is dropped: it undoes the commit
    // Every old file back with its bytes; no new file or folder, no
    // temporary, no backup.
    EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "old atlas");
    EXPECT_EQ(ReadText(dir.path() / "atlas.json"), "old json");
    EXPECT_EQ(TreeOf(dir.path()), before);
}

}  // namespace

namespace {

// The pieces handed out one by one, then the end; or a failure after the
// first piece; or an exception after the first piece.
Velmora::Io::OutputSet::NextPiece Pieces(std::vector<std::string> pieces, const char* failure = nullptr,
                                         bool throws = false) {
    auto left = std::make_shared<std::vector<std::string>>(std::move(pieces));
    auto given = std::make_shared<size_t>(0);
    return [=](std::vector<uint8_t>& piece, std::string& reason) {
        if (*given == 1 && failure != nullptr) {
            reason = failure;
            return false;
        }
        if (*given == 1 && throws) throw std::bad_alloc();
        if (*given == left->size()) return false;
        const std::string& next = (*left)[(*given)++];
        piece.assign(next.begin(), next.end());
        return true;
    };
}

TEST(OutputSet, StagesFilesMadeInPiecesAndKeepsTargetsThatHoldThemAlready) {
    const struct {
        const char* what;
        const char* old;  // nullptr: no target yet
        std::vector<std::string> pieces;
        bool rewritten;
    } cases[] = {
        {"new file", nullptr, {"new ", "", "atlas"}, true},
        {"same bytes, other cuts", "new atlas", {"ne", "w atl", "as"}, false},
        {"old file longer", "new atlas!", {"new ", "atlas"}, true},
        {"old file shorter", "new at", {"new ", "atlas"}, true},
        {"same size, other bytes", "new atlaS", {"new ", "atlas"}, true},
        {"nothing at all", nullptr, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        const fs::path target = dir.path() / "deep" / "atlas.png";
        if (c.old != nullptr) {
            fs::create_directories(target.parent_path());
            WriteAll(target, c.old);
            fs::last_write_time(target, fs::file_time_type::clock::now() - std::chrono::hours(24));
        }
        const auto before = c.old != nullptr ? fs::last_write_time(target) : fs::file_time_type{};
        Velmora::Io::OutputSet set;
        std::string error;
        ASSERT_TRUE(set.StagePieces(dir.Str("deep/atlas.png"), Pieces(c.pieces), error)) << error;
        ASSERT_TRUE(set.Commit(error)) << error;
        std::string whole;
        for (const std::string& piece : c.pieces) whole += piece;
        EXPECT_EQ(ReadText(target), whole);
        if (c.old != nullptr) {
            EXPECT_EQ(fs::last_write_time(target) != before, c.rewritten);
        }
        EXPECT_EQ(TreeOf(dir.path()), (std::set<std::string>{"deep/", "deep/atlas.png"}));
    }
}

// The output set's names relative to the lock's folder, as the journal and
// the manifest record them: the same as the lexical computation, for plain
// names and for every shape that needs it.
TEST(RelativeName, GivesWhatTheLexicalComputationGives) {
    const struct {
        const char* path;
        const char* folder;
        const char* expected;
    } cases[] = {
        {"out/atlas/sprite_0500.tres", "out", "atlas/sprite_0500.tres"},
        {"out/atlas.png", "out", "atlas.png"},
        {"/tmp/x/out/atlas.png", "/tmp/x/out", "atlas.png"},
        {"atlas.png", "", "atlas.png"},
        {"atlas/a.tres", ".", "atlas/a.tres"},
        {"out/./atlas.png", "out", "atlas.png"},
        {"out/x/../atlas.png", "out", "atlas.png"},
        {"out//atlas.png", "out", "atlas.png"},
        {"./atlas.png", ".", "atlas.png"},
        {"out/atlas.png", "out/", "atlas.png"},
        {"out/atlas.png", "./out", "atlas.png"},
        {"outer/atlas.png", "out", "../outer/atlas.png"},
        {"out", "out", "."},
        {"out/atlas/", "out", "atlas/"},
        {"/atlas.png", "/", "atlas.png"},
        {"other/atlas.png", "out", "../other/atlas.png"},
        {"out/..atlas", "out", "..atlas"},
        {"out/.hidden/a", "out", ".hidden/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.folder);
        const fs::path path = fs::u8path(c.path);
        const fs::path folder = fs::u8path(c.folder);
        const std::string lexical = path.lexically_normal().lexically_relative(folder.lexically_normal()).generic_u8string();
        EXPECT_EQ(lexical, c.expected);
        EXPECT_EQ(Velmora::Io::FileOps::RelativeName(path, folder), lexical);
    }
}

// How a test stages a file: one by one, all at once, or in pieces.
enum class Staging { One, All, Pieces };

bool StageAs(Velmora::Io::OutputSet& set, Staging how, std::vector<OutputFile> files, std::string& error) {
    switch (how) {
    case Staging::All:
        return set.StageAll(std::move(files), error);
    case Staging::One:
    case Staging::Pieces:
        break;
    }
    for (OutputFile& file : files) {
        const bool staged = how == Staging::One
                                ? set.Stage(std::move(file), error)
                                : set.StagePieces(file.path, Pieces({std::string(file.bytes.begin(), file.bytes.end())}),
                                                  error);
        if (!staged) return false;
    }
    return true;
}

// A file another program creates under a name the set staged as new, after
// staging and before the commit, is not the set's to replace: the commit
// fails naming it, leaves it as it is and undoes the files already in place.
// The name is in a folder that was there, or in one the set made.
TEST(OutputSet, AFileThatAppearsUnderANewNameBeforeTheCommitIsKept) {
    const struct {
        const char* what;
        Staging how;
    } stagings[] = {{"staged one by one", Staging::One}, {"staged at once", Staging::All}, {"staged in pieces", Staging::Pieces}};
    for (const auto& c : stagings) {
        for (const char* appearing : {"atlas.json", "new/b.tres"}) {
            SCOPED_TRACE(std::string(c.what) + ", " + appearing);
            const TempDir dir;
            WriteAll(dir.path() / "atlas.png", "old atlas");
            std::set<std::string> after = {"atlas.png", appearing};
            {
                Velmora::Io::OutputSet set;
                std::string error;
                ASSERT_TRUE(StageAs(set, c.how,
                                    {{dir.Str("atlas.png"), {'n', 'e', 'w'}},
                                     {dir.Str("new/a.tres"), {'a'}},
                                     {dir.Str("new/b.tres"), {'b'}},
                                     {dir.Str("atlas.json"), {'{', '}'}}},
                                    error))
                    << error;
                WriteAll(dir.path() / appearing, "theirs");
                EXPECT_FALSE(set.Commit(error));
                EXPECT_EQ(error, dir.Str(appearing) + ": another program created it while this run was writing");
            }
            EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "old atlas");
            EXPECT_EQ(ReadText(dir.path() / appearing), "theirs");
            // The folder the set made stays only for the file in it.
            if (std::string(appearing).rfind("new/", 0) == 0) after.insert("new/");
            EXPECT_EQ(TreeOf(dir.path()), after);
        }
    }
}

// A hidden temporary a killed run left under the name a set tries first is
// stepped over and left alone, however the set stages.
TEST(OutputSet, ALeftOverTemporaryUnderTheFirstNameIsSteppedOver) {
    for (const Staging how : {Staging::One, Staging::All, Staging::Pieces}) {
        SCOPED_TRACE(static_cast<int>(how));
        const TempDir dir;
        const fs::path target = dir.path() / "atlas.json";
        const std::string key = target.lexically_normal().generic_u8string();
        const std::string leftOver = Velmora::Io::FileOps::SiblingFileName(key, 0, "tmp");
        WriteAll(dir.path() / leftOver, "left over");
        Velmora::Io::OutputSet set;
        std::string error;
        ASSERT_TRUE(StageAs(set, how, {{dir.Str("atlas.json"), {'{', '}'}}}, error)) << error;
        ASSERT_TRUE(set.Commit(error)) << error;
        EXPECT_EQ(ReadText(target), "{}");
        EXPECT_EQ(ReadText(dir.path() / leftOver), "left over");
        EXPECT_EQ(TreeOf(dir.path()), (std::set<std::string>{"atlas.json", leftOver}));
    }
}

TEST(OutputSet, APieceThatFailsOrThrowsUndoesTheSet) {
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "throws" : "fails");
        const TempDir dir;
        WriteAll(dir.path() / "atlas.png", "old atlas");
        const std::set<std::string> before = TreeOf(dir.path());
        try {
            Velmora::Io::OutputSet set;
            std::string error;
            ASSERT_TRUE(set.Stage({dir.Str("atlas.json"), {'{', '}'}}, error)) << error;
            const bool staged = set.StagePieces(
                dir.Str("new/atlas.png"), Pieces({"one", "two"}, throws ? nullptr : "deflate failed", throws), error);
            EXPECT_FALSE(staged);
            EXPECT_EQ(error, dir.Str("new/atlas.png") + ": deflate failed");
        } catch (const std::bad_alloc&) {
            EXPECT_TRUE(throws);
        }
        EXPECT_EQ(TreeOf(dir.path()), before);
        EXPECT_EQ(ReadText(dir.path() / "atlas.png"), "old atlas");
    }
}

}  // namespace

