// Resampling for scale variants: nearest neighbour here, the smooth filters
// through stb_image_resize (v0.97, Debian's libstb-dev), a maintained
// header-only resampler compiled into this unit with the engine's
// floating-point rules, so Linux and Windows builds give the same bytes.
#include "velmora/resample.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

// Our own copies of its functions (static), so nothing clashes with another
// copy of the library linked into the same program.
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
// A fully transparent neighbourhood then gives colour 0, not the average of
// the colours hidden under alpha 0.
#define STBIR_NO_ALPHA_EPSILON
#include <stb_image_resize.h>

namespace Velmora {

namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "pixels are handed to the resampler as bytes R, G, B, A: little-endian only"
#endif

constexpr uint32_t kAlphaMask = 0xFF000000U;

size_t PixelCount(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

bool FactorIsValid(ScaleFactor factor) { return factor.numerator >= 1 && factor.denominator >= 1; }

// Colour under alpha 0 is invisible, but would still reach the PNG's bytes.
void ClearTransparentColour(std::vector<uint32_t>& pixels) {
    for (uint32_t& pixel : pixels) {
        if ((pixel & kAlphaMask) == 0) {
            pixel = 0;
        }
    }
}

// For each output position along one side, the input position under its
// centre: floor((i + 0.5) * from / to), in integers.
std::vector<int32_t> NearestSources(int32_t from, int32_t to) {
    std::vector<int32_t> sources(static_cast<size_t>(to));
    for (int32_t i = 0; i < to; ++i) {
        const int64_t centre = (2 * static_cast<int64_t>(i) + 1) * from;
        sources[static_cast<size_t>(i)] = static_cast<int32_t>(centre / (2 * static_cast<int64_t>(to)));
    }
    return sources;
}

void ResampleNearest(const Image& image, Image& result) {
    const std::vector<int32_t> columns = NearestSources(image.width, result.width);
    const std::vector<int32_t> rows = NearestSources(image.height, result.height);
    for (int32_t y = 0; y < result.height; ++y) {
        const uint32_t* source = image.pixels.data() + PixelCount(image.width, rows[static_cast<size_t>(y)]);
        uint32_t* target = result.pixels.data() + PixelCount(result.width, y);
        for (int32_t x = 0; x < result.width; ++x) {
            target[x] = source[columns[static_cast<size_t>(x)]];
        }
    }
}

// The filter along one side: shrinking and growing as stb chooses by
// default, and a side that keeps its length through the box filter, which at
// ratio 1 weighs only the pixel itself (Mitchell would blur it).
stbir_filter SideFilter(int32_t from, int32_t to) {
    if (to == from) {
        return STBIR_FILTER_BOX;
    }
    return to < from ? STBIR_FILTER_MITCHELL : STBIR_FILTER_CATMULLROM;
}

void ResampleSmooth(const Image& image, Image& result) {
    // Channel 3 is alpha and flags 0: stb multiplies each colour by its
    // alpha before filtering and divides after, in single precision.
    const int done = stbir_resize(image.pixels.data(), image.width, image.height, 0, result.pixels.data(),
                                  result.width, result.height, 0, STBIR_TYPE_UINT8, 4, 3, 0, STBIR_EDGE_CLAMP,
                                  STBIR_EDGE_CLAMP, SideFilter(image.width, result.width),
                                  SideFilter(image.height, result.height), STBIR_COLORSPACE_LINEAR, nullptr);
    // Sizes were checked, so its only failure is its working memory.
    if (done == 0) {
        throw std::bad_alloc();
    }
}

}  // namespace

int64_t ScaledSide(int32_t side, ScaleFactor factor) {
    if (side < 1 || !FactorIsValid(factor)) {
        return 0;
    }
    const int64_t scaled = static_cast<int64_t>(side) * factor.numerator;
    return std::max<int64_t>(1, (scaled + factor.denominator - 1) / factor.denominator);
}

ResampleResult ResampleImage(const Image& image, ScaleFactor factor, ResampleFilter filter) {
    ResampleResult result;
    if (!IsValidImage(image)) {
        result.failure = ResampleFailure::InvalidImage;
        return result;
    }
    if (!FactorIsValid(factor)) {
        result.failure = ResampleFailure::InvalidScale;
        return result;
    }
    const int64_t width = ScaledSide(image.width, factor);
    const int64_t height = ScaledSide(image.height, factor);
    result.size.w = static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX));
    result.size.h = static_cast<int32_t>(std::min<int64_t>(height, INT32_MAX));
    if (width > kMaxImageSide || height > kMaxImageSide) {
        result.failure = ResampleFailure::TooLarge;
        return result;
    }
    if (factor.numerator == factor.denominator) {
        result.image = image;
        return result;
    }
    result.image.width = result.size.w;
    result.image.height = result.size.h;
    result.image.pixels.resize(PixelCount(result.size.w, result.size.h));
    if (filter == ResampleFilter::Nearest) {
        ResampleNearest(image, result.image);
    } else {
        ResampleSmooth(image, result.image);
    }
    ClearTransparentColour(result.image.pixels);
    return result;
}

}  // namespace Velmora
