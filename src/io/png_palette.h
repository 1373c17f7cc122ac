// The palette of an image with few colours, for the encoder's indexed
// layout: which colours, in which order, and each pixel's index.
#ifndef VELMORA_IO_PNG_PALETTE_H
#define VELMORA_IO_PNG_PALETTE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "velmora/image.h"

namespace Velmora::Io::Png {

class Palette {
public:
    static constexpr size_t kMaxColours = 256;

    // Collects the distinct colours of a valid image, alpha and the colour
    // behind it alike (a transparent pixel keeps its RGB). False, with an
    // empty palette, when there are more than kMaxColours.
    bool Build(const Image& image);

    // Packed pixels in index order: every colour with alpha below 255
    // first, so tRNS holds only those.
    const std::vector<uint32_t>& Colours() const { return colours_; }
    size_t Translucent() const { return translucent_; }
    // 1, 2, 4 or 8 bits per index: the fewest that hold every index.
    uint8_t BitDepth() const { return depth_; }
    size_t RowBytes(size_t width) const { return (width * depth_ + 7) / 8; }
    // One row of `width` pixels as indices packed at BitDepth, first pixel
    // in the highest bits, unused low bits of the last byte 0. Every pixel
    // must be one of the palette's colours.
    void PackRow(const uint32_t* pixels, size_t width, uint8_t* out) const;

private:
    // Open addressing at a load of at most a quarter.
    static constexpr size_t kSlots = 1024;
    static constexpr uint16_t kEmpty = 0xffff;
    static size_t SlotOf(uint32_t colour) { return (colour * 0x9e3779b1u) >> 22; }
    // The slot holding `colour`, or the empty one where it would go.
    size_t Find(uint32_t colour) const;
    void Index(const std::vector<uint32_t>& colours);

    std::vector<uint32_t> colours_;
    size_t translucent_ = 0;
    uint8_t depth_ = 8;
    std::array<uint32_t, kSlots> keys_{};
    std::array<uint16_t, kSlots> indices_{};
};

}  // namespace Velmora::Io::Png

#endif  // VELMORA_IO_PNG_PALETTE_H
