// PNG decoding and encoding for the file commands (libspng with zlib).
#ifndef VELMORA_IO_PNG_IO_H
#define VELMORA_IO_PNG_IO_H

#include <cstdint>
#include <string>
#include <vector>

#include "velmora_engine.h"

namespace Velmora::Io {

// Decodes a whole PNG file held in memory to 8-bit RGBA: every colour type
// and bit depth, interlaced or not; 16-bit samples keep their high byte,
// tRNS and palette alpha become alpha; no gamma or colour conversion.
// A header declaring a side above kMaxImageSide is refused before any pixel
// memory is allocated. On failure returns false, leaves `image` untouched and
// sets `error` to one lower-case phrase (the library's words where it has
// them, e.g. "invalid chunk checksum").
bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error);

// Encodes a valid image as an 8-bit RGBA, non-interlaced PNG. The same image
// gives the same bytes on every platform. On failure returns false and sets
// `error`.
bool EncodePng(const Image& image, std::vector<uint8_t>& png, std::string& error);

}  // namespace Velmora::Io

#endif  // VELMORA_IO_PNG_IO_H
