// GenerateCollisionHull on arbitrary frames: any width, height and step
// (zero, negative, up to the ends of the 32-bit range), any threshold, and
// pixel buffers shorter or longer than the sizes say.
//
// A valid call is compared with a literal pixel-by-pixel walk of the four
// passes; on top of that every point is checked to lie inside the frame, to
// be solid, and to be the first solid pixel seen from its side. Invalid
// calls (sizes <= 0, step < 1, short buffer, over 2^31 - 1 pixels) must give
// an empty result without reading outside the buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "reference_outline.h"
#include "velmora_engine.h"

namespace {

using Velmora::Point2D;
using VelmoraFuzz::Reader;
using VelmoraTest::OutlinePoint;
using VelmoraTest::Side;

constexpr int64_t kMaxBufferPixels = int64_t{1} << 14;

struct Frame {
    const std::vector<uint32_t>& pixels;
    int64_t width;
    int64_t height;
    uint8_t threshold;

    bool Solid(int64_t x, int64_t y) const {
        return (pixels[static_cast<size_t>(y * width + x)] >> 24) >= threshold;
    }
};

// Nothing solid lies between the side a pass looks from and its point.
bool FirstFromItsSide(const Frame& f, const OutlinePoint& t) {
    const int64_t x = t.point.x;
    const int64_t y = t.point.y;
    switch (t.side) {
        case Side::Top:
            for (int64_t i = 0; i < y; ++i) {
                if (f.Solid(x, i)) return false;
            }
            return true;
        case Side::Right:
            for (int64_t i = f.width - 1; i > x; --i) {
                if (f.Solid(i, y)) return false;
            }
            return true;
        case Side::Bottom:
            for (int64_t i = f.height - 1; i > y; --i) {
                if (f.Solid(x, i)) return false;
            }
            return true;
        case Side::Left:
            for (int64_t i = 0; i < x; ++i) {
                if (f.Solid(i, y)) return false;
            }
            return true;
    }
    return false;
}

int64_t CeilDiv(int64_t a, int64_t b) {
    return (a + b - 1) / b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in = VelmoraFuzz::MakeReader(data, size);
    const int32_t width = VelmoraFuzz::TakeInt32(in);
    const int32_t height = VelmoraFuzz::TakeInt32(in);
    const uint8_t threshold = VelmoraFuzz::TakeByte(in);
    const int32_t step = VelmoraFuzz::TakeInt32(in);

    const int64_t need = int64_t{width} * int64_t{height};
    const uint8_t mode = VelmoraFuzz::TakeByte(in);
    const int64_t length = VelmoraFuzz::BufferLength(mode, need, kMaxBufferPixels);
    // The rest of the input is the alpha pattern, repeated over the frame;
    // the colour bits vary so that a tracer reading them would show.
    std::vector<uint8_t> alphas(data + in.pos, data + size);
    if (alphas.empty()) {
        alphas.push_back(0);
    }
    std::vector<uint32_t> pixels;
    for (int64_t i = 0; i < length; ++i) {
        const uint32_t alpha = alphas[static_cast<size_t>(i) % alphas.size()];
        pixels.push_back(alpha << 24 | (VelmoraFuzz::MixBits(static_cast<uint32_t>(i)) & 0xFFFFFFu));
    }

    const std::vector<Point2D> points =
        Velmora::GenerateCollisionHull(pixels, width, height, threshold, step);

    const bool valid = width > 0 && height > 0 && step >= 1 && need <= VelmoraFuzz::kMaxInt &&
                       need <= static_cast<int64_t>(pixels.size());
    if (!valid) {
        FUZZ_CHECK(points.empty());
        return 0;
    }

    const Frame frame{pixels, width, height, threshold};
    const std::vector<OutlinePoint> expected =
        VelmoraTest::ReferenceOutline(pixels, width, height, threshold, step);
    FUZZ_CHECK(static_cast<int64_t>(points.size()) <=
               2 * CeilDiv(width, step) + 2 * CeilDiv(height, step));
    FUZZ_CHECK(points.size() == expected.size());
    for (size_t k = 0; k < points.size(); ++k) {
        const Point2D& p = points[k];
        FUZZ_CHECK(p.x == expected[k].point.x && p.y == expected[k].point.y);
        FUZZ_CHECK(p.x >= 0 && p.x < width && p.y >= 0 && p.y < height);
        FUZZ_CHECK(frame.Solid(p.x, p.y));
        FUZZ_CHECK(FirstFromItsSide(frame, expected[k]));
    }
    return 0;
}
