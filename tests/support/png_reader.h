// The one strict PNG reader of the tests and fuzz targets, for the files our
// encoder writes: 8-bit RGBA, 8-bit RGB without tRNS, or indexed at 1, 2, 4
// or 8 bits with PLTE and an optional tRNS, never interlaced. It inflates with zlib itself and undoes
// the filters on its own, so it shares nothing with the program's decoder,
// and it refuses what a lenient decoder would let pass: a wrong checksum,
// chunks out of order or unknown, a palette entry an index cannot reach or
// an index past the palette, a tRNS longer than the palette, non-zero bits
// after a row's last index, a stream that ends early, late or not at all.
#ifndef VELMORA_TESTS_SUPPORT_PNG_READER_H
#define VELMORA_TESTS_SUPPORT_PNG_READER_H

#include <cstdint>
#include <string>
#include <vector>

namespace StrictPng {

struct File {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t depth = 0;       // bits per sample or per index
    uint8_t colourType = 0;  // 6 RGBA, 2 RGB, 3 indexed
    // Indexed: the palette as packed pixels (red in the lowest byte), alpha
    // from tRNS and 255 past it; and how many entries tRNS has (0 without).
    std::vector<uint32_t> palette;
    size_t transparency = 0;
    std::vector<std::string> chunks;  // every chunk's type, in file order
    std::vector<uint32_t> pixels;     // decoded, width * height, row-major
};

// Reads a whole file; false with `error` saying the first fault found.
bool Read(const std::vector<uint8_t>& png, File& file, std::string& error);

}  // namespace StrictPng

#endif  // VELMORA_TESTS_SUPPORT_PNG_READER_H
