// The PNG reader's quick way (the whole image data inflated at once)
// against libspng's rows: on every fixture and corpus file, and on each
// changed the ways real files and damage change them, DecodePng must give
// exactly what the row-by-row reader gives, pixels or words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "io/png_io.h"
#include "png_bytes.h"
#include "png_whole.h"
#include "velmora/image.h"

namespace {

namespace fs = std::filesystem;

using Velmora::Image;
using Velmora::Io::DecodePng;
using Velmora::Io::Png::DecodePngByRows;
using Velmora::Io::Png::DecodeQuickly;

const fs::path kPngData = fs::path(VELMORA_TEST_DATA) / "png";
const fs::path kCorpus = fs::path(VELMORA_FUZZ_CORPUS) / "fuzz_png";

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> AsBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

uint32_t U32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8 | static_cast<uint8_t>(s[at + 3]);
}

struct Chunk {
    std::string type;
    std::string data;
};

// The whole chunks of a PNG file; empty for anything else.
std::vector<Chunk> Chunks(const std::string& file) {
    std::vector<Chunk> chunks;
    if (file.compare(0, 8, PngBytes::kSignature) != 0) return chunks;
    for (size_t at = 8; file.size() - at >= 12;) {
        const size_t length = U32(file, at);
        if (length > file.size() - at - 12) break;
        chunks.push_back({file.substr(at + 4, 4), file.substr(at + 8, length)});
        at += length + 12;
    }
    return chunks;
}

std::string File(const std::vector<Chunk>& chunks) {
    std::string file = PngBytes::kSignature;
    for (const Chunk& c : chunks) file += PngBytes::Chunk(c.type, c.data);
    return file;
}

// The file with its chunks changed by `change`; unchanged when it has none.
std::string Rechunked(const std::string& file, const std::function<void(std::vector<Chunk>&)>& change) {
    std::vector<Chunk> chunks = Chunks(file);
    if (chunks.empty()) return file;
    change(chunks);
    return File(chunks);
}

std::vector<Chunk>::iterator LastImageData(std::vector<Chunk>& chunks) {
    auto last = chunks.end();
    for (auto it = chunks.begin(); it != chunks.end(); ++it) {
        if (it->type == "IDAT") last = it;
    }
    return last;
}

struct Variant {
    const char* name;
    std::function<std::string(const std::string&)> make;
};

const std::vector<Variant>& Variants() {
    static const std::vector<Variant> variants = {
        {"as it is", [](const std::string& f) { return f; }},
        {"without IEND",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 c.erase(std::remove_if(c.begin(), c.end(), [](const Chunk& k) { return k.type == "IEND"; }),
                         c.end());
             });
         }},
        {"cut by one byte", [](const std::string& f) { return f.substr(0, f.empty() ? 0 : f.size() - 1); }},
        {"image data in 7-byte chunks",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 std::vector<Chunk> out;
                 for (const Chunk& k : c) {
                     if (k.type != "IDAT") {
                         out.push_back(k);
                         continue;
                     }
                     for (size_t at = 0; at < k.data.size(); at += 7) out.push_back({"IDAT", k.data.substr(at, 7)});
                 }
                 c = out;
             });
         }},
        {"text after the image data",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 const auto last = LastImageData(c);
                 if (last != c.end()) c.insert(last + 1, Chunk{"tEXt", std::string("Comment\0late", 12)});
             });
         }},
        {"text between image data chunks",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 const auto last = LastImageData(c);
                 if (last == c.end() || last->data.size() < 2) return;
                 const Chunk tail{"IDAT", last->data.substr(last->data.size() / 2)};
                 last->data.resize(last->data.size() / 2);
                 c.insert(c.insert(last + 1, Chunk{"tEXt", std::string("Comment\0mid", 11)}) + 1, tail);
             });
         }},
        {"bytes after IEND", [](const std::string& f) { return f + "more"; }},
        {"bad CRC on the last image data chunk",
         [](const std::string& f) {
             std::string out = f;
             const std::vector<Chunk> c = Chunks(f);
             size_t at = 8;
             size_t lastCrc = 0;
             for (const Chunk& k : c) {
                 if (k.type == "IDAT") lastCrc = at + 8 + k.data.size();
                 at += k.data.size() + 12;
             }
             if (lastCrc != 0) out[lastCrc] = static_cast<char>(out[lastCrc] ^ 0x01);
             return out;
         }},
        {"a byte of the stream changed",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 const auto last = LastImageData(c);
                 if (last != c.end() && !last->data.empty()) {
                     char& byte = last->data[last->data.size() / 2];
                     byte = static_cast<char>(byte ^ 0x10);
                 }
             });
         }},
        {"stream one byte short",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 const auto last = LastImageData(c);
                 if (last != c.end() && !last->data.empty()) last->data.pop_back();
             });
         }},
        {"a byte after the stream",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 const auto last = LastImageData(c);
                 if (last != c.end()) last->data += '\0';
             });
         }},
        {"palette of one colour",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 for (Chunk& k : c) {
                     if (k.type == "PLTE") k.data.resize(3);
                     if (k.type == "tRNS" && k.data.size() > 1) k.data.resize(1);
                 }
             });
         }},
        {"tRNS dropped",
         [](const std::string& f) {
             return Rechunked(f, [](std::vector<Chunk>& c) {
                 c.erase(std::remove_if(c.begin(), c.end(), [](const Chunk& k) { return k.type == "tRNS"; }),
                         c.end());
             });
         }},
    };
    return variants;
}

std::vector<fs::path> PngFiles() {
    std::vector<fs::path> files;
    for (const fs::path& folder : {kPngData / "good", kPngData / "bad", kCorpus}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() == ".png") files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Calls `check` with every fixture and corpus file as each variant changes
// it; a failure names the file and the variant.
void ForEachVariantFile(const std::function<void(const std::vector<uint8_t>&)>& check) {
    for (const fs::path& path : PngFiles()) {
        const std::string original = ReadBytes(path);
        for (const Variant& variant : Variants()) {
            SCOPED_TRACE(path.filename().string() + ", " + variant.name);
            check(AsBytes(variant.make(original)));
        }
    }
}

TEST(DecodePngQuickly, GivesTheRowByRowReadersPixelsAndWordsForEveryFile) {
    size_t quick = 0;
    size_t cases = 0;
    ForEachVariantFile([&](const std::vector<uint8_t>& bytes) {
        Image rows;
        std::string rowsError;
        const bool rowsOk = DecodePngByRows(bytes, rows, rowsError);
        Image image;
        std::string error;
        const bool ok = DecodePng(bytes, image, error);
        ASSERT_EQ(ok, rowsOk) << (ok ? rowsError : error);
        EXPECT_EQ(error, rowsError);
        EXPECT_EQ(image.width, rows.width);
        EXPECT_EQ(image.height, rows.height);
        EXPECT_TRUE(image.pixels == rows.pixels);
        Image quickImage;
        if (DecodeQuickly(bytes, quickImage)) {
            ++quick;
            EXPECT_TRUE(rowsOk);
            EXPECT_TRUE(quickImage.pixels == rows.pixels);
        } else {
            EXPECT_TRUE(quickImage.pixels.empty());
        }
        ++cases;
    });
    // The quick way must be taken, or this compares the reader with itself:
    // most variants are made for it to decline, but a tenth of the cases
    // are plain files it takes.
    EXPECT_GT(quick, cases / 10) << quick << " of " << cases;
}

// Decoding straight into a larger image (an atlas) gives the same pixels in
// the same place and the same words, and writes nothing around them.
TEST(DecodePngInto, PutsTheReadersPixelsInPlaceAndSaysItsWords) {
    constexpr uint32_t kAround = 0x5A5A5A5AU;
    size_t decoded = 0;
    ForEachVariantFile([&](const std::vector<uint8_t>& bytes) {
        Velmora::Size2D size{};
        std::string error;
        if (!Velmora::Io::PngSize(bytes, size, error) || size.w > 512 || size.h > 512) return;
        Image rows;
        std::string rowsError;
        const bool rowsOk = DecodePngByRows(bytes, rows, rowsError);
        // Three columns and a row to spare: at (2, 1), one column to the right.
        const size_t stride = static_cast<size_t>(size.w) + 3;
        std::vector<uint32_t> canvas(stride * static_cast<size_t>(size.h + 1), kAround);
        const bool ok = Velmora::Io::DecodePngInto(bytes, size, canvas.data() + stride + 2, stride, error);
        ASSERT_EQ(ok, rowsOk) << (ok ? rowsError : error);
        if (!ok) {
            EXPECT_EQ(error, rowsError);
            return;
        }
        ++decoded;
        for (size_t y = 0; y <= static_cast<size_t>(size.h); ++y) {
            for (size_t x = 0; x < stride; ++x) {
                const bool inside = y >= 1 && x >= 2 && x < 2 + static_cast<size_t>(size.w);
                const uint32_t expected =
                    inside ? rows.pixels[(y - 1) * static_cast<size_t>(size.w) + (x - 2)] : kAround;
                ASSERT_EQ(canvas[y * stride + x], expected) << "x " << x << " y " << y;
            }
        }
    });
    EXPECT_GT(decoded, 100U);
}

TEST(DecodePngInto, RefusesAPlaceOfAnotherSize) {
    const std::vector<uint8_t> bytes = AsBytes(ReadBytes(kPngData / "good" / "rgba8_5x7.png"));
    Velmora::Size2D size{};
    std::string error;
    ASSERT_TRUE(Velmora::Io::PngSize(bytes, size, error)) << error;
    std::vector<uint32_t> canvas(size_t{64} * 64);
    const struct {
        const char* name;
        Velmora::Size2D size;
        size_t stride;
        const char* error;
    } cases[] = {
        {"narrower", {size.w - 1, size.h}, 64, "not the size its header gave"},
        {"taller", {size.w, size.h + 1}, 64, "not the size its header gave"},
        {"rows overlapping", size, static_cast<size_t>(size.w) - 1, "no room for the image"},
        {"empty", {0, 0}, 64, "no room for the image"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        error.clear();
        EXPECT_FALSE(Velmora::Io::DecodePngInto(bytes, c.size, canvas.data(), c.stride, error));
        EXPECT_EQ(error, c.error);
    }
    EXPECT_FALSE(Velmora::Io::DecodePngInto(bytes, size, nullptr, 64, error));
}

// Which files the quick way takes: 8-bit samples and palettes of any
// depth, not interlaced, image data running to IEND at the end.
TEST(DecodePngQuickly, TakesPlainEightBitAndPaletteFilesAndLeavesTheRest) {
    struct Case {
        const char* file;
        const char* variant;
        bool quick;
    };
    const Case cases[] = {
        {"rgba8_5x7", "as it is", true},
        {"rgb8_5x7", "as it is", true},
        {"rgb_trns8_5x7", "as it is", true},
        {"grey8_5x7", "as it is", true},
        {"grey_trns8_5x7", "as it is", true},
        {"grey_alpha8_5x7", "as it is", true},
        {"palette1_5x7", "as it is", true},
        {"palette_trns4_5x7", "as it is", true},
        {"palette8_5x7", "as it is", true},
        {"palette8_5x7", "palette of one colour", true},
        {"rgba8_5x7", "image data in 7-byte chunks", true},
        {"rgb_trns8_gamma_text_6x4", "as it is", true},
        {"rgba16_5x7", "as it is", false},
        {"grey4_5x7", "as it is", false},
        {"rgba8_9x10_adam7", "as it is", false},
        {"rgba8_5x7", "without IEND", false},
        {"rgba8_5x7", "text after the image data", false},
        {"rgba8_5x7", "bytes after IEND", false},
        {"rgba8_5x7", "bad CRC on the last image data chunk", false},
        {"rgba8_5x7", "a byte after the stream", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ", " + c.variant);
        const auto variant = std::find_if(Variants().begin(), Variants().end(),
                                          [&c](const Variant& v) { return std::string(v.name) == c.variant; });
        ASSERT_NE(variant, Variants().end());
        const std::string original = ReadBytes(kPngData / "good" / (std::string(c.file) + ".png"));
        ASSERT_FALSE(original.empty());
        Image image;
        EXPECT_EQ(DecodeQuickly(AsBytes(variant->make(original)), image), c.quick);
    }
}

// The quick way takes `file`, and gives the row-by-row reader's pixels.
void ExpectTheQuickWayAgrees(const std::string& file) {
    Image quick;
    Image rows;
    std::string error;
    ASSERT_TRUE(DecodeQuickly(AsBytes(file), quick));
    ASSERT_TRUE(DecodePngByRows(AsBytes(file), rows, error)) << error;
    EXPECT_TRUE(quick.pixels == rows.pixels);
}

// Every filter on every pixel width, on rows long enough that a fault in
// the left or upper neighbour shows, from a stream of stored blocks; then
// every filter in turn, row by row, and images one row high or one pixel
// wide (8-bit RGBA rows are moved into place as they are undone).
TEST(DecodePngQuickly, UndoesEveryFilterOnEveryPixelWidth) {
    struct Kind {
        uint8_t colour;
        size_t bpp;
    };
    const Kind kinds[] = {{0, 1}, {4, 2}, {2, 3}, {6, 4}};
    constexpr int kEachRowAnother = 5;
    const std::pair<uint32_t, uint32_t> sizes[] = {{37, 10}, {1, 7}, {5, 1}};
    for (const auto& [width, height] : sizes) {
        for (const Kind& kind : kinds) {
            for (int filter = 0; filter <= kEachRowAnother; ++filter) {
                SCOPED_TRACE("colour type " + std::to_string(kind.colour) + ", filter " + std::to_string(filter) +
                             ", " + std::to_string(width) + "x" + std::to_string(height));
                // Filtered bytes chosen freely: any bytes are some image.
                std::string raw;
                uint32_t seed = 12345u + static_cast<uint32_t>(filter);
                for (uint32_t y = 0; y < height; ++y) {
                    raw += static_cast<char>(filter == kEachRowAnother ? static_cast<int>(y % 5) : filter);
                    for (size_t i = 0; i < width * kind.bpp; ++i) {
                        seed = seed * 1103515245u + 12345u;
                        raw += static_cast<char>(seed >> 24);
                    }
                }
                ExpectTheQuickWayAgrees(PngBytes::kSignature + PngBytes::Header(width, height, 8, kind.colour) +
                                        PngBytes::Chunk("IDAT", PngBytes::StoredZlib(raw)) + PngBytes::End());
            }
        }
    }
}

// tRNS keys with bits beyond 8-bit samples: libspng compares an 8-bit
// colour with the key's low bytes, and an 8-bit grey with the whole key.
TEST(DecodePngQuickly, MatchesColourKeysAsTheRowByRowReaderDoes) {
    struct Case {
        const char* name;
        uint8_t colour;
        std::string key;
        std::string row;  // filter byte, then three pixels
    };
    const Case cases[] = {
        {"grey key in range", 0, std::string("\0\x07", 2), std::string("\0\x07\x08\x07", 4)},
        {"grey key past 255", 0, std::string("\x01\x07", 2), std::string("\0\x07\x08\x07", 4)},
        {"colour key in range", 2, std::string("\0\x01\0\x02\0\x03", 6),
         std::string("\0\x01\x02\x03\x01\x02\x04\x01\x02\x03", 10)},
        {"colour key past 255", 2, std::string("\x01\x01\x02\x02\x03\x03", 6),
         std::string("\0\x01\x02\x03\x01\x02\x04\x01\x02\x03", 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectTheQuickWayAgrees(PngBytes::kSignature + PngBytes::Header(3, 1, 8, c.colour) +
                                PngBytes::Chunk("tRNS", c.key) +
                                PngBytes::Chunk("IDAT", PngBytes::StoredZlib(c.row)) + PngBytes::End());
    }
}

TEST(DecodePngQuickly, LeavesUnknownFilterTypesToTheReaderThatNamesThem) {
    const std::string raw = std::string("\x05\x01\x02\x03\x04", 5);
    const std::string file = PngBytes::kSignature + PngBytes::Header(1, 1, 8, 6) +
                             PngBytes::Chunk("IDAT", PngBytes::StoredZlib(raw)) + PngBytes::End();
    Image image;
    std::string error;
    EXPECT_FALSE(DecodeQuickly(AsBytes(file), image));
    EXPECT_FALSE(DecodePng(AsBytes(file), image, error));
    EXPECT_EQ(error, "damaged image data");
}

}  // namespace
