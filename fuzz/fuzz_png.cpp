// DecodePng on arbitrary bytes: it never crashes, and whatever it accepts is
// a valid image that EncodePng writes and DecodePng reads back unchanged,
// as RGBA and as an atlas is written: indexed exactly when it has at most
// 256 colours, else the RGBA file byte for byte. The same image cut down to
// 2 bits a channel (at most 256 colours, alpha 0 among them with its colour
// kept) takes the indexed path every time. The strict reader, which
// inflates with zlib on its own, must read every file to the same pixels.
// DecodePng's quick way must never change an answer: on every input, and on
// the input with every whole chunk's CRC made right (so changes inside the
// image data reach the inflater and the filters), it gives what libspng's
// row-by-row reader alone gives, pixels or words.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "fuzz_input.h"
#include "io/png_io.h"
#include "png_reader.h"
#include "png_whole.h"
#include "velmora/image.h"
#include "velmora_engine.h"

namespace {

using Velmora::Io::PngColours;

// Encodes with `colours`, then checks both readers give the pixels back.
std::vector<uint8_t> RoundTrip(const Velmora::Image& image, PngColours colours) {
    std::vector<uint8_t> png;
    std::string error;
    FUZZ_CHECK(Velmora::Io::EncodePng(image, png, error, colours));
    Velmora::Image again;
    FUZZ_CHECK(Velmora::Io::DecodePng(png, again, error));
    FUZZ_CHECK(again.width == image.width && again.height == image.height && again.pixels == image.pixels);
    StrictPng::File file;
    FUZZ_CHECK(StrictPng::Read(png, file, error));
    FUZZ_CHECK(file.pixels == image.pixels);
    return png;
}

// `bytes` with the CRC of every whole chunk after the signature made right.
std::vector<uint8_t> WithRightChecksums(std::vector<uint8_t> bytes) {
    for (size_t at = 8; bytes.size() >= at && bytes.size() - at >= 12;) {
        const size_t length = size_t{bytes[at]} << 24 | size_t{bytes[at + 1]} << 16 | size_t{bytes[at + 2]} << 8 |
                              size_t{bytes[at + 3]};
        if (length > bytes.size() - at - 12) break;
        const uLong crc = crc32_z(0, bytes.data() + at + 4, length + 4);
        for (size_t i = 0; i < 4; ++i) bytes[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += length + 12;
    }
    return bytes;
}

// Both readers give the same answer on `bytes`; DecodePng's is returned.
bool DecodeBothWays(const std::vector<uint8_t>& bytes, Velmora::Image& image, std::string& error) {
    const bool decoded = Velmora::Io::DecodePng(bytes, image, error);
    Velmora::Image rows;
    std::string rowsError;
    FUZZ_CHECK(Velmora::Io::Png::DecodePngByRows(bytes, rows, rowsError) == decoded);
    FUZZ_CHECK(rowsError == error && rows.width == image.width && rows.pixels == image.pixels);
    return decoded;
}

bool FewColours(const Velmora::Image& image) {
    std::unordered_set<uint32_t> colours;
    for (const uint32_t pixel : image.pixels) {
        if (colours.insert(pixel).second && colours.size() > 256) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    Velmora::Image fixed;
    std::string fixedError;
    DecodeBothWays(WithRightChecksums(bytes), fixed, fixedError);
    Velmora::Image image;
    std::string error;
    if (!DecodeBothWays(bytes, image, error)) {
        FUZZ_CHECK(!error.empty() && image.width == 0 && image.pixels.empty());
        return 0;
    }
    FUZZ_CHECK(image.width >= 1 && image.height >= 1 && image.width <= Velmora::kMaxImageSide &&
               image.height <= Velmora::kMaxImageSide &&
               image.pixels.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    const std::vector<uint8_t> rgba = RoundTrip(image, PngColours::Rgba);
    const std::vector<uint8_t> mayIndex = RoundTrip(image, PngColours::Smallest);
    constexpr size_t kColourType = 25;
    if (FewColours(image)) {
        FUZZ_CHECK(mayIndex[kColourType] == 3);
    } else {
        FUZZ_CHECK(mayIndex == rgba);
    }
    Velmora::Image reduced = image;
    for (uint32_t& pixel : reduced.pixels) pixel &= 0xc0c0c0c0u;
    FUZZ_CHECK(RoundTrip(reduced, PngColours::Smallest)[kColourType] == 3);
    return 0;
}
