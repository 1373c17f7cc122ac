#include "png_whole.h"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "png_common.h"

namespace Velmora::Io::Png {

namespace {

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The zlib stream of the image data: one IDAT's bytes where they lie, or
// several IDATs' joined.
struct ImageData {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    std::vector<uint8_t> joined;
};

// The IDAT chunks from the first on: unbroken, each whole with its CRC
// right, then IEND, whole and right, ending the file. libspng has read and
// checked the chunks before them.
bool FindImageData(const uint8_t* data, size_t size, ImageData& found) {
    size_t at = sizeof kSignature;
    size_t first = 0;
    size_t count = 0;
    size_t total = 0;
    for (;;) {
        if (size - at < 12) return false;
        const size_t length = GetU32At(data + at);
        if (length > size - at - 12) return false;
        const uint8_t* type = data + at + 4;
        const bool imageData = std::memcmp(type, "IDAT", 4) == 0;
        if (count > 0 || imageData) {
            if (libdeflate_crc32(0, type, length + 4) != GetU32At(type + 4 + length)) return false;
        }
        if (imageData) {
            if (count++ == 0) first = at;
            total += length;
            at += length + 12;
            continue;
        }
        if (count == 0) {
            at += length + 12;
            continue;
        }
        // Nothing but IEND after the image data, and nothing after IEND.
        if (std::memcmp(type, "IEND", 4) != 0 || length != 0 || at + 12 != size) return false;
        break;
    }
    if (count == 1) {
        found.bytes = data + first + 8;
        found.size = total;
        return true;
    }
    found.joined.resize(total);
    uint8_t* out = found.joined.data();
    for (size_t i = 0, chunk = first; i < count; ++i) {
        const size_t length = GetU32At(data + chunk);
        std::memcpy(out, data + chunk + 8, length);
        out += length;
        chunk += length + 12;
    }
    found.bytes = found.joined.data();
    found.size = total;
    return true;
}

uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes one row's filter in place; `above` is the row before, unfiltered,
// or null for the first row. `Bpp` bytes make a pixel (one for indices of
// fewer than 8 bits). False for an unknown filter.
template <size_t Bpp>
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* above, size_t bytes) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = Bpp; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - Bpp]);
        return true;
    case 2:
        if (above == nullptr) return true;
        for (size_t i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
        return true;
    case 3:
        if (above == nullptr) {
            for (size_t i = Bpp; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + (row[i - Bpp] >> 1));
            return true;
        }
        for (size_t i = 0; i < Bpp && i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + (above[i] >> 1));
        for (size_t i = Bpp; i < bytes; ++i) {
            row[i] = static_cast<uint8_t>(row[i] + ((row[i - Bpp] + above[i]) >> 1));
        }
        return true;
    case 4:
        if (above == nullptr) {
            // With no row above, Paeth picks the left neighbour: "sub".
            for (size_t i = Bpp; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - Bpp]);
            return true;
        }
        for (size_t i = 0; i < Bpp && i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
        for (size_t i = Bpp; i < bytes; ++i) {
            row[i] = static_cast<uint8_t>(row[i] + Paeth(row[i - Bpp], above[i], above[i - Bpp]));
        }
        return true;
    default:
        return false;
    }
}

bool UnfilterRow(size_t bpp, uint8_t filter, uint8_t* row, const uint8_t* above, size_t bytes) {
    switch (bpp) {
    case 1:
        return Unfilter<1>(filter, row, above, bytes);
    case 2:
        return Unfilter<2>(filter, row, above, bytes);
    case 3:
        return Unfilter<3>(filter, row, above, bytes);
    default:
        return Unfilter<4>(filter, row, above, bytes);
    }
}

void ExpandRow(const SampleLayout& e, const uint8_t* in, size_t width, uint32_t* out) {
    switch (e.colourType) {
    case kTruecolourAlpha:
        std::memcpy(out, in, width * 4);
        return;
    case kTruecolour:
        for (size_t x = 0; x < width; ++x, in += 3) {
            const bool clear = e.keyed && in[0] == e.rgbKey[0] && in[1] == e.rgbKey[1] && in[2] == e.rgbKey[2];
            out[x] = uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | (clear ? 0u : 0xff000000u);
        }
        return;
    case kGray:
        for (size_t x = 0; x < width; ++x) {
            const uint32_t g = in[x];
            const bool clear = e.keyed && e.grayKey == g;
            out[x] = g | g << 8 | g << 16 | (clear ? 0u : 0xff000000u);
        }
        return;
    case kGrayAlpha:
        for (size_t x = 0; x < width; ++x, in += 2) {
            const uint32_t g = in[0];
            out[x] = g | g << 8 | g << 16 | uint32_t{in[1]} << 24;
        }
        return;
    default:
        break;
    }
    // Indices, most significant bits first.
    if (e.depth == 8) {
        for (size_t x = 0; x < width; ++x) out[x] = e.palette[in[x]];
        return;
    }
    const unsigned depth = e.depth;
    const unsigned mask = (1u << depth) - 1;
    const unsigned perByte = 8 / depth;
    for (size_t x = 0; x < width; ++x) {
        const unsigned shift = 8 - depth * (static_cast<unsigned>(x % perByte) + 1);
        out[x] = e.palette[(in[x / perByte] >> shift) & mask];
    }
}

size_t Channels(uint8_t colourType) {
    switch (colourType) {
    case kTruecolour:
        return 3;
    case kGrayAlpha:
        return 2;
    case kTruecolourAlpha:
        return 4;
    default:
        return 1;
    }
}

// Inflates the image data into `out`, which it must fill exactly: the
// stream ends where the image does, and the data with it.
bool Inflate(const uint8_t* data, size_t size, uint8_t* out, size_t filtered) {
    ImageData stream;
    if (!FindImageData(data, size, stream)) return false;
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> inflater(libdeflate_alloc_decompressor());
    if (!inflater) return false;
    size_t consumed = 0;
    size_t produced = 0;
    return libdeflate_zlib_decompress_ex(inflater.get(), stream.bytes, stream.size, out, filtered, &consumed,
                                         &produced) == LIBDEFLATE_SUCCESS &&
           consumed == stream.size && produced == filtered;
}

bool Decodable(const SampleLayout& layout) {
    const uint8_t type = layout.colourType;
    const uint8_t depth = layout.depth;
    const bool indexed = type == kIndexed;
    const bool known = indexed || type == kGray || type == kTruecolour || type == kGrayAlpha || type == kTruecolourAlpha;
    return known && (depth == 8 || (indexed && (depth == 1 || depth == 2 || depth == 4))) && layout.width != 0 &&
           layout.height != 0;
}

// Inflates and unfilters the image data and expands its rows into the rows
// `target` gives, asked only once the data has inflated whole (so nothing is
// allocated for a damaged stream). False for a stream that is not this
// image's, or when `target` gives no rows.
template <typename Target>
bool DecodeRows(const uint8_t* data, size_t size, const SampleLayout& layout, Target&& target) {
    if (!Decodable(layout)) return false;
    const size_t width = layout.width;
    const size_t height = layout.height;
    const size_t bpp = Channels(layout.colourType);
    const size_t rowBytes = (width * bpp * layout.depth + 7) / 8;
    const size_t filtered = (rowBytes + 1) * height;
    try {
        // Left uninitialised: the stream fills it whole, or it is dropped.
        const std::unique_ptr<uint8_t[]> rows(new uint8_t[filtered]);
        if (!Inflate(data, size, rows.get(), filtered)) return false;
        const PixelRows out = target();
        if (out.first == nullptr || out.stride < width) return false;
        const uint8_t* above = nullptr;
        for (size_t y = 0; y < height; ++y) {
            uint8_t* row = rows.get() + y * (rowBytes + 1);
            if (!UnfilterRow(bpp, row[0], row + 1, above, rowBytes)) return false;
            ExpandRow(layout, row + 1, width, out.first + y * out.stride);
            above = row + 1;
        }
        return true;
    } catch (const std::bad_alloc&) {
        // The row-by-row reader needs less memory.
        return false;
    }
}

// 8-bit RGBA rows are the pixels' own bytes: the image data inflates into
// the pixels' memory, a filter byte per row more, and each row is
// unfiltered and moved down to its place there. One buffer, not two: fresh
// memory costs a page fault per 4 KiB, and the noisiest frames are the
// largest.
bool DecodeRgbaInPlace(const uint8_t* data, size_t size, const SampleLayout& layout, Image& image) {
    const size_t width = layout.width;
    const size_t height = layout.height;
    const size_t rowBytes = width * 4;
    const size_t filtered = (rowBytes + 1) * height;
    try {
        std::vector<uint32_t> pixels(width * height + (height + 3) / 4);
        auto* const bytes = reinterpret_cast<uint8_t*>(pixels.data());
        if (!Inflate(data, size, bytes, filtered)) return false;
        const uint8_t* above = nullptr;
        for (size_t y = 0; y < height; ++y) {
            // Row y's data lies y + 1 bytes past its place; the rows above
            // are in theirs, and the rows below lie past its end.
            uint8_t* row = bytes + y * (rowBytes + 1);
            if (!UnfilterRow(4, row[0], row + 1, above, rowBytes)) return false;
            uint8_t* place = bytes + y * rowBytes;
            std::memmove(place, row + 1, rowBytes);
            above = place;
        }
        pixels.resize(width * height);
        image.width = static_cast<int32_t>(width);
        image.height = static_cast<int32_t>(height);
        image.pixels = std::move(pixels);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

bool DecodeWhole(const uint8_t* data, size_t size, const SampleLayout& layout, Image& image) {
    if (layout.colourType == kTruecolourAlpha && layout.depth == 8 && Decodable(layout)) {
        return DecodeRgbaInPlace(data, size, layout, image);
    }
    Image decoded;
    const auto target = [&]() {
        decoded.width = static_cast<int32_t>(layout.width);
        decoded.height = static_cast<int32_t>(layout.height);
        decoded.pixels.resize(size_t{layout.width} * layout.height);
        return PixelRows{decoded.pixels.data(), layout.width};
    };
    if (!DecodeRows(data, size, layout, target)) return false;
    image = std::move(decoded);
    return true;
}

bool DecodeWholeInto(const uint8_t* data, size_t size, const SampleLayout& layout, const PixelRows& out) {
    return DecodeRows(data, size, layout, [&out]() { return out; });
}

}  // namespace Velmora::Io::Png
