// The reader's quick way through the files most sprites are: libspng reads
// and checks every chunk before the image data, and libdeflate inflates
// the whole image data in one call, several times faster than zlib's
// stream does row by row.
#ifndef VELMORA_IO_PNG_WHOLE_H
#define VELMORA_IO_PNG_WHOLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "velmora/image.h"

namespace Velmora::Io::Png {

// Decodes a PNG of 8-bit samples or of palette indices, not interlaced,
// whose IDAT chunks run unbroken to IEND at the end of the file, into
// `image` as libspng's RGBA8 decoding with tRNS would. False, with `image`
// untouched, for any other file and for anything wrong or unusual, which
// DecodePngByRows then decodes or refuses, saying why.
bool DecodeQuickly(const std::vector<uint8_t>& bytes, Image& image);

// Where decoded rows go: the first row's first pixel, and the pixels from
// one row's start to the next's.
struct PixelRows {
    uint32_t* first = nullptr;
    size_t stride = 0;
};

// DecodeQuickly into `rows`, for a file of exactly `width` x `height`. False
// as DecodeQuickly is false, or for another size; rows may then be partly
// written.
bool DecodeQuicklyInto(const std::vector<uint8_t>& bytes, uint32_t width, uint32_t height, const PixelRows& rows);

// What turns a row of samples into RGBA: the header's layout, the palette
// with its alphas (as libspng builds it: entries past the palette's end
// opaque black), and the colour tRNS makes transparent.
struct SampleLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t colourType = 0;
    uint8_t depth = 8;
    uint32_t palette[256] = {};
    bool keyed = false;
    uint16_t grayKey = 0;  // compared whole, as libspng does for 8-bit grey
    uint8_t rgbKey[3] = {};
};

// DecodeQuickly's work once libspng has read and checked every chunk before
// the image data of the `size` bytes at `data`, and told their `layout`.
bool DecodeWhole(const uint8_t* data, size_t size, const SampleLayout& layout, Image& image);
bool DecodeWholeInto(const uint8_t* data, size_t size, const SampleLayout& layout, const PixelRows& rows);

// DecodePng without the quick way: libspng alone, row by row, for every
// file. It decides what DecodePng accepts and says why it refuses the rest;
// the two give the same pixels for every file both accept.
bool DecodePngByRows(const std::vector<uint8_t>& bytes, Image& image, std::string& error);

}  // namespace Velmora::Io::Png

#endif  // VELMORA_IO_PNG_WHOLE_H
