#include "png_palette.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace Velmora::Io::Png {

size_t Palette::Find(uint32_t colour) const {
    size_t slot = SlotOf(colour);
    while (indices_[slot] != kEmpty && keys_[slot] != colour) {
        slot = (slot + 1) & (kSlots - 1);
    }
    return slot;
}

void Palette::Index(const std::vector<uint32_t>& colours) {
    indices_.fill(kEmpty);
    for (size_t i = 0; i < colours.size(); ++i) {
        const size_t slot = Find(colours[i]);
        keys_[slot] = colours[i];
        indices_[slot] = static_cast<uint16_t>(i);
    }
}

bool Palette::Build(const Image& image) {
    colours_.clear();
    translucent_ = 0;
    depth_ = 8;
    indices_.fill(kEmpty);
    std::vector<uint32_t> seen;
    seen.reserve(kMaxColours);
    // Runs of one colour are the rule in an atlas (transparent ground, flat
    // fills), so only a change of colour looks the table up.
    bool first = true;
    uint32_t last = 0;
    for (const uint32_t pixel : image.pixels) {
        if (pixel == last && !first) {
            continue;
        }
        first = false;
        last = pixel;
        const size_t slot = Find(pixel);
        if (indices_[slot] != kEmpty) {
            continue;
        }
        if (seen.size() == kMaxColours) {
            indices_.fill(kEmpty);
            return false;
        }
        keys_[slot] = pixel;
        indices_[slot] = static_cast<uint16_t>(seen.size());
        seen.push_back(pixel);
    }
    // Ordered by alpha, then red, green and blue: the translucent colours
    // come first, so tRNS stops after them, and the order depends on the
    // colours alone, not on where the frames lie. The order hardly matters
    // to the size: first appearance or frequency were within 0.3 % on the
    // benchmark atlases.
    const auto key = [](uint32_t colour) {
        return (colour & 0xff000000u) | (colour & 0xffu) << 16 | (colour & 0xff00u) | (colour >> 16 & 0xffu);
    };
    std::sort(seen.begin(), seen.end(), [&key](uint32_t a, uint32_t b) { return key(a) < key(b); });
    colours_ = std::move(seen);
    translucent_ = static_cast<size_t>(
        std::count_if(colours_.begin(), colours_.end(), [](uint32_t colour) { return colour >> 24 != 0xff; }));
    // Packing several pixels a byte takes 1-3 % off files of 16 colours or
    // fewer.
    const size_t count = colours_.size();
    depth_ = count <= 2 ? 1 : count <= 4 ? 2 : count <= 16 ? 4 : 8;
    Index(colours_);
    return true;
}

void Palette::PackRow(const uint32_t* pixels, size_t width, uint8_t* out) const {
    uint32_t last = ~pixels[0];
    uint8_t index = 0;
    const auto indexOf = [&](uint32_t pixel) {
        if (pixel != last) {
            last = pixel;
            index = static_cast<uint8_t>(indices_[Find(pixel)]);
        }
        return index;
    };
    if (depth_ == 8) {
        for (size_t x = 0; x < width; ++x) out[x] = indexOf(pixels[x]);
        return;
    }
    const size_t perByte = 8u / depth_;
    std::memset(out, 0, RowBytes(width));
    for (size_t x = 0; x < width; ++x) {
        const unsigned shift = 8u - depth_ * static_cast<unsigned>(x % perByte + 1);
        out[x / perByte] = static_cast<uint8_t>(out[x / perByte] | indexOf(pixels[x]) << shift);
    }
}

}  // namespace Velmora::Io::Png
