// PackRectsMaxRects on arbitrary size lists and limits, powers of two or
// not. A success must place every rectangle inside the atlas and the limits
// without overlap, the atlas no larger than its extents ask for; a failure
// must count at least every invalid size, and exactly those when the valid
// ones alone fit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "velmora/packing.h"
#include "velmora_engine.h"

namespace {

int64_t RoundDownPowerOfTwo(int64_t v) {
    int64_t p = 1;
    while (p * 2 <= v) {
        p *= 2;
    }
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VelmoraFuzz::Reader in = VelmoraFuzz::MakeReader(data, size);
    const uint8_t flags = VelmoraFuzz::TakeByte(in);
    const bool pot = (flags & 1) != 0;
    // Mostly small limits, where fitting is in question; sometimes anything.
    int32_t maxWidth = VelmoraFuzz::TakeInt32(in);
    int32_t maxHeight = VelmoraFuzz::TakeInt32(in);
    if ((flags & 2) != 0) {
        maxWidth = 1 + (maxWidth & 1023);
        maxHeight = 1 + (maxHeight & 1023);
    }
    std::vector<Velmora::Size2D> sizes(VelmoraFuzz::TakeCount(in, 200));
    for (Velmora::Size2D& s : sizes) {
        s.w = VelmoraFuzz::TakeInt32(in);
        s.h = VelmoraFuzz::TakeInt32(in);
    }

    const Velmora::RectPlacement p = Velmora::PackRectsMaxRects(sizes, maxWidth, maxHeight, pot);

    const int64_t limitW = maxWidth < 1 ? 0 : pot ? RoundDownPowerOfTwo(maxWidth) : maxWidth;
    const int64_t limitH = maxHeight < 1 ? 0 : pot ? RoundDownPowerOfTwo(maxHeight) : maxHeight;
    size_t invalid = 0;
    for (const Velmora::Size2D& s : sizes) {
        invalid += (s.w < 1 || s.h < 1 || s.w > limitW || s.h > limitH) ? 1 : 0;
    }

    if (!p.fits) {
        FUZZ_CHECK(p.positions.empty() && p.width == 0 && p.height == 0);
        FUZZ_CHECK(p.unplaced >= invalid && p.unplaced <= sizes.size());
        FUZZ_CHECK(p.unplaced > 0 || limitW == 0 || limitH == 0);
        // The frames left out are named by index: each once, ascending, and
        // every size that could never fit among them.
        FUZZ_CHECK(p.leftOut.size() == p.unplaced);
        for (size_t k = 0; k < p.leftOut.size(); ++k) {
            FUZZ_CHECK(p.leftOut[k] < sizes.size() && (k == 0 || p.leftOut[k - 1] < p.leftOut[k]));
        }
        for (size_t i = 0; i < sizes.size(); ++i) {
            const Velmora::Size2D& s = sizes[i];
            if (s.w < 1 || s.h < 1 || s.w > limitW || s.h > limitH) {
                FUZZ_CHECK(std::binary_search(p.leftOut.begin(), p.leftOut.end(), i));
            }
        }
        return 0;
    }
    FUZZ_CHECK(invalid == 0 && p.unplaced == 0 && p.leftOut.empty());
    FUZZ_CHECK(p.positions.size() == sizes.size());
    FUZZ_CHECK(p.width >= 0 && p.height >= 0 && p.width <= limitW && p.height <= limitH);
    int64_t right = 0;
    int64_t bottom = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const int64_t x = p.positions[i].x;
        const int64_t y = p.positions[i].y;
        FUZZ_CHECK(x >= 0 && y >= 0 && x + sizes[i].w <= p.width && y + sizes[i].h <= p.height);
        right = right > x + sizes[i].w ? right : x + sizes[i].w;
        bottom = bottom > y + sizes[i].h ? bottom : y + sizes[i].h;
    }
    if (pot && !sizes.empty()) {
        FUZZ_CHECK((p.width & (p.width - 1)) == 0 && p.width / 2 < right);
        FUZZ_CHECK((p.height & (p.height - 1)) == 0 && p.height / 2 < bottom);
    } else {
        FUZZ_CHECK(p.width == right && p.height == bottom);
    }
    for (size_t a = 0; a < sizes.size(); ++a) {
        for (size_t b = a + 1; b < sizes.size(); ++b) {
            const Velmora::Point2D& q = p.positions[a];
            const Velmora::Point2D& r = p.positions[b];
            FUZZ_CHECK(int64_t{q.x} + sizes[a].w <= r.x || int64_t{r.x} + sizes[b].w <= q.x ||
                       int64_t{q.y} + sizes[a].h <= r.y || int64_t{r.y} + sizes[b].h <= q.y);
        }
    }
    return 0;
}
