#include "png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

namespace StrictPng {

namespace {

uint32_t U32(const uint8_t* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | uint32_t{at[3]};
}

// zlib's inflate over the whole stream: it must end exactly at `expected`
// bytes with nothing after it.
bool Inflate(const std::vector<uint8_t>& stream, size_t expected, std::vector<uint8_t>& out, std::string& error) {
    out.assign(expected + 1, 0);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        error = "inflateInit failed";
        return false;
    }
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int code = inflate(&z, Z_FINISH);
    const size_t produced = z.total_out;
    const size_t left = z.avail_in;
    inflateEnd(&z);
    if (code != Z_STREAM_END) {
        error = produced > expected ? "image data longer than the image" : "image data stream does not end";
        return false;
    }
    if (produced != expected) {
        error = "image data shorter than the image";
        return false;
    }
    if (left != 0) {
        error = "bytes after the image data stream";
        return false;
    }
    out.resize(expected);
    return true;
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes each row's filter in place; `unit` is the bytes per whole pixel
// (at least 1).
bool Unfilter(std::vector<uint8_t>& data, size_t rows, size_t rowBytes, size_t unit, std::string& error) {
    const size_t stride = rowBytes + 1;
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* row = data.data() + y * stride + 1;
        const uint8_t* above = y > 0 ? row - stride : nullptr;
        const uint8_t type = row[-1];
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= unit ? row[i - unit] : 0;
            const int b = above ? above[i] : 0;
            const int c = above && i >= unit ? above[i - unit] : 0;
            int add = 0;
            switch (type) {
            case 0: break;
            case 1: add = a; break;
            case 2: add = b; break;
            case 3: add = (a + b) / 2; break;
            case 4: add = Paeth(a, b, c); break;
            default:
                error = "row " + std::to_string(y) + " has filter type " + std::to_string(type);
                return false;
            }
            row[i] = static_cast<uint8_t>(row[i] + add);
        }
    }
    return true;
}

}  // namespace

bool Read(const std::vector<uint8_t>& png, File& file, std::string& error) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    file = File{};
    if (png.size() < 8 || !std::equal(kSignature, kSignature + 8, png.begin())) {
        error = "no PNG signature";
        return false;
    }
    std::vector<uint8_t> stream;
    bool ended = false;
    for (size_t at = 8; at < png.size();) {
        if (ended) {
            error = "bytes after IEND";
            return false;
        }
        if (png.size() - at < 12 || U32(&png[at]) > png.size() - at - 12) {
            error = "chunk at byte " + std::to_string(at) + " runs past the end of the file";
            return false;
        }
        const size_t length = U32(&png[at]);
        const std::string type(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               png.begin() + static_cast<std::ptrdiff_t>(at + 8));
        const uint8_t* data = &png[at + 8];
        const uLong crc = crc32(crc32(0, nullptr, 0), &png[at + 4], static_cast<uInt>(length + 4));
        if (crc != U32(data + length)) {
            error = type + ": wrong checksum";
            return false;
        }
        const std::string previous = file.chunks.empty() ? "" : file.chunks.back();
        const auto seen = [&file](const char* kind) {
            return std::find(file.chunks.begin(), file.chunks.end(), kind) != file.chunks.end();
        };
        if (file.chunks.empty() != (type == "IHDR")) {
            error = type + ": IHDR must come first, once";
            return false;
        }
        if (type == "IHDR") {
            if (length != 13) {
                error = "IHDR: length " + std::to_string(length);
                return false;
            }
            file.width = U32(data);
            file.height = U32(data + 4);
            file.depth = data[8];
            file.colourType = data[9];
            const bool rgba = (file.colourType == 6 || file.colourType == 2) && file.depth == 8;
            const bool indexed =
                file.colourType == 3 && (file.depth == 1 || file.depth == 2 || file.depth == 4 || file.depth == 8);
            if (file.width == 0 || file.height == 0 || file.width > 0x7fffffffu || file.height > 0x7fffffffu) {
                error = "IHDR: size " + std::to_string(file.width) + "x" + std::to_string(file.height);
                return false;
            }
            if (!rgba && !indexed) {
                error = "IHDR: colour type " + std::to_string(file.colourType) + " at depth " +
                        std::to_string(file.depth);
                return false;
            }
            if (data[10] != 0 || data[11] != 0 || data[12] != 0) {
                error = "IHDR: compression, filter or interlace method not 0";
                return false;
            }
        } else if (type == "PLTE") {
            const size_t entries = length / 3;
            if (file.colourType != 3 || seen("PLTE") || seen("IDAT")) {
                error = "PLTE: out of place";
                return false;
            }
            if (length % 3 != 0 || entries == 0 || entries > (size_t{1} << file.depth)) {
                error = "PLTE: " + std::to_string(length) + " bytes at depth " + std::to_string(file.depth);
                return false;
            }
            for (size_t i = 0; i < entries; ++i) {
                file.palette.push_back(uint32_t{data[3 * i]} | uint32_t{data[3 * i + 1]} << 8 |
                                       uint32_t{data[3 * i + 2]} << 16 | 0xff000000u);
            }
        } else if (type == "tRNS") {
            if (file.colourType != 3 || previous != "PLTE") {
                error = "tRNS: out of place";
                return false;
            }
            if (length == 0 || length > file.palette.size()) {
                error = "tRNS: " + std::to_string(length) + " entries for a palette of " +
                        std::to_string(file.palette.size());
                return false;
            }
            file.transparency = length;
            for (size_t i = 0; i < length; ++i) {
                file.palette[i] = (file.palette[i] & 0xffffffu) | uint32_t{data[i]} << 24;
            }
        } else if (type == "IDAT") {
            if (seen("IDAT") && previous != "IDAT") {
                error = "IDAT: not consecutive";
                return false;
            }
            if (file.colourType == 3 && !seen("PLTE")) {
                error = "IDAT: indexed image without PLTE";
                return false;
            }
            stream.insert(stream.end(), data, data + length);
        } else if (type == "IEND") {
            if (length != 0 || previous != "IDAT") {
                error = "IEND: not empty, or not after the image data";
                return false;
            }
            ended = true;
        } else {
            error = type + ": not a chunk the encoder writes";
            return false;
        }
        file.chunks.push_back(type);
        at += 12 + length;
    }
    if (!ended) {
        error = "no IEND";
        return false;
    }

    const size_t width = file.width;
    const size_t height = file.height;
    const size_t channels = file.colourType == 6 ? 4 : file.colourType == 2 ? 3 : 0;
    const size_t bits = channels > 0 ? 8 * channels : file.depth;
    if (width * height > (size_t{1} << 28)) {
        error = "image too large for the reader";
        return false;
    }
    const size_t rowBytes = (width * bits + 7) / 8;
    std::vector<uint8_t> raw;
    if (!Inflate(stream, height * (rowBytes + 1), raw, error) ||
        !Unfilter(raw, height, rowBytes, channels > 0 ? channels : 1, error)) {
        return false;
    }
    file.pixels.resize(width * height);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* row = raw.data() + y * (rowBytes + 1) + 1;
        uint32_t* out = file.pixels.data() + y * width;
        if (channels > 0) {
            for (size_t x = 0; x < width; ++x, row += channels) {
                const uint32_t alpha = channels == 4 ? row[3] : 0xffu;
                out[x] = uint32_t{row[0]} | uint32_t{row[1]} << 8 | uint32_t{row[2]} << 16 | alpha << 24;
            }
            continue;
        }
        const size_t perByte = 8 / bits;
        const unsigned mask = (1u << bits) - 1;
        for (size_t x = 0; x < width; ++x) {
            const unsigned shift = static_cast<unsigned>(8 - bits * (x % perByte + 1));
            const size_t index = (row[x / perByte] >> shift) & mask;
            if (index >= file.palette.size()) {
                error = "index " + std::to_string(index) + " past the palette at (" + std::to_string(x) + ", " +
                        std::to_string(y) + ")";
                return false;
            }
            out[x] = file.palette[index];
        }
        const size_t usedBits = width * bits % 8;
        if (usedBits != 0 && (row[rowBytes - 1] & ((1u << (8 - usedBits)) - 1)) != 0) {
            error = "row " + std::to_string(y) + " has bits set after its last index";
            return false;
        }
    }
    return true;
}

}  // namespace StrictPng
