// Shared by the fuzz targets: turns fuzzer bytes into engine arguments and
// stops the run on a broken invariant.
//
// Every read succeeds: past the end of the input a read yields zero bytes,
// so any byte string decodes to a valid call. Sizes and coordinates are
// drawn mostly from small values (where frames have interesting shapes) and
// boundary values (where arithmetic overflows), and sometimes from any of
// the 2^32 signed 32-bit values.
#ifndef VELMORA_FUZZ_INPUT_H
#define VELMORA_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "velmora_engine.h"

namespace VelmoraFuzz {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

inline Reader MakeReader(const uint8_t* data, size_t size) {
    return Reader{data, size, 0};
}

inline uint8_t TakeByte(Reader& in) {
    return in.pos < in.size ? in.data[in.pos++] : uint8_t{0};
}

inline uint32_t TakeU32(Reader& in) {
    uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        value |= static_cast<uint32_t>(TakeByte(in)) << shift;
    }
    return value;
}

// A count from 0 to `max` (max < 256).
inline size_t TakeCount(Reader& in, size_t max) {
    return static_cast<size_t>(TakeByte(in)) % (max + 1);
}

constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();
constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();

// Values where sizes, sums and products change behaviour: the minimum atlas
// width, sqrt(2^31) (where a square frame's pixel count overflows), powers
// of two and the ends of the 32-bit range.
constexpr int32_t kBoundaries[] = {
    0,          1,          -1,          2,          3,          63,
    64,         65,         127,         128,        129,        255,
    256,        4095,       4096,        46340,      46341,      65535,
    65536,      1 << 20,    1 << 24,     1 << 30,    (1 << 30) + 1, kMaxInt / 2,
    kMaxInt / 64, kMaxInt - 1, kMaxInt,  kMinInt,    kMinInt + 1, -2,
    -64,        -(1 << 30),
};

// One byte for a small value, two low bits choosing the kind.
inline int32_t TakeInt32(Reader& in) {
    const uint8_t mode = TakeByte(in);
    const int32_t arg = mode >> 2;
    switch (mode & 3) {
        case 0: return arg;      // 0 .. 63
        case 1: return arg - 8;  // -8 .. 55
        case 2: return kBoundaries[static_cast<size_t>(arg) % (sizeof kBoundaries / sizeof kBoundaries[0])];
        default: return static_cast<int32_t>(TakeU32(in));
    }
}

// Arbitrary bytes: quotes, backslashes, control characters, NUL and bytes
// above 0x7F (which need not form valid UTF-8) all come straight from the
// input.
inline std::string TakeText(Reader& in, size_t maxLength) {
    const size_t length = TakeCount(in, maxLength);
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += static_cast<char>(TakeByte(in));
    }
    return text;
}

// A placed frame for the exporters: a name of up to `maxName` bytes and four
// coordinates from the whole signed 32-bit range.
inline Velmora::Rect2D TakeRect(Reader& in, size_t maxName) {
    Velmora::Rect2D rect;
    rect.name = TakeText(in, maxName);
    rect.x = TakeInt32(in);
    rect.y = TakeInt32(in);
    rect.w = TakeInt32(in);
    rect.h = TakeInt32(in);
    return rect;
}

// The length of a pixel buffer for a frame that needs `need` pixels, chosen
// by one input byte `mode`: exact, a few short, or longer than needed while
// `need` is at most `maxPixels`; otherwise 0 .. 63, far too short.
inline int64_t BufferLength(uint8_t mode, int64_t need, int64_t maxPixels) {
    int64_t length = mode >> 2;
    if (need >= 0 && need <= maxPixels) {
        switch (mode & 3) {
            case 0:
            case 1: length = need; break;
            case 2: length = need - 1 - (mode >> 6); break;  // one to four short
            default: length = need + (mode >> 2); break;    // longer than needed
        }
        length = length < 0 ? 0 : length;
    }
    return length;
}

// Cheap, well-mixed pixel values, so a pixel copied to the wrong place or
// from the wrong frame does not happen to match.
inline uint32_t MixBits(uint32_t value) {
    value ^= value >> 16;
    value *= 0x7FEB352Du;
    value ^= value >> 15;
    value *= 0x846CA68Bu;
    value ^= value >> 16;
    return value;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

}  // namespace VelmoraFuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::VelmoraFuzz::Fail(__FILE__, __LINE__, #condition))

namespace VelmoraFuzz {

// A generated document's lines; it must end with a line feed.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (const char ch : text) {
        if (ch == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += ch;
        }
    }
    FUZZ_CHECK(line.empty());
    return lines;
}

}  // namespace VelmoraFuzz

#endif  // VELMORA_FUZZ_INPUT_H
