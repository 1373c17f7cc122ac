// Resampling for scale variants: sizes, nearest neighbour on pixel art, soft
// edges that keep their colour, transparent pixels, fixed bytes on every
// platform, and the limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/sprites.h"
#include "velmora/resample.h"

namespace {

using Velmora::Image;
using Velmora::ResampleFailure;
using Velmora::ResampleFilter;
using Velmora::ResampleImage;
using Velmora::ResampleResult;
using Velmora::ScaleFactor;

const ResampleFilter kFilters[] = {ResampleFilter::Smooth, ResampleFilter::Nearest};

const char* Name(ResampleFilter filter) { return filter == ResampleFilter::Smooth ? "smooth" : "nearest"; }

std::string Describe(ScaleFactor factor, ResampleFilter filter) {
    return std::to_string(factor.numerator) + "/" + std::to_string(factor.denominator) + " " + Name(filter);
}

uint32_t At(const Image& image, int32_t x, int32_t y) {
    return image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)];
}

Image Solid(int32_t width, int32_t height, uint32_t pixel) {
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), pixel);
    return image;
}

// Random opaque pixels with a transparent border whose hidden colour is not
// 0, and a few translucent pixels: what the filters must treat with care.
Image Awkward(int32_t width, int32_t height, uint32_t seed, int32_t border = 2) {
    Image image = VelmoraTest::Sprite(width, height, seed, border);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        uint32_t& pixel = image.pixels[i];
        if (pixel == 0) {
            pixel = 0x0000FF00U;  // green under alpha 0
        } else if (i % 7 == 0) {
            pixel = (pixel & 0x00FFFFFFU) | (static_cast<uint32_t>(i % 251) << 24);
        }
    }
    return image;
}

// FNV-1a over the pixels' bytes (R, G, B, A each).
uint64_t Checksum(const Image& image, uint64_t hash = 14695981039346656037ULL) {
    for (const uint32_t pixel : image.pixels) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash = (hash ^ ((pixel >> shift) & 0xFFU)) * 1099511628211ULL;
        }
    }
    return hash;
}

TEST(ResampleImage, ScaledSizesRoundUpExactly) {
    struct Case {
        int32_t width;
        int32_t height;
        ScaleFactor factor;
        int32_t expectedWidth;
        int32_t expectedHeight;
    };
    const Case cases[] = {
        {100, 60, {1, 2}, 50, 30},     {101, 61, {1, 2}, 51, 31},  // half a pixel still shows
        {3, 1, {1, 2}, 2, 1},          {10, 7, {2, 1}, 20, 14},    {10, 7, {3, 2}, 15, 11},
        {7, 5, {1, 4}, 2, 2},          {1, 1, {1, 100}, 1, 1},     {250, 3, {1, 100}, 3, 1},
        // 100 * 0.07 is 7.000000000000001 in double precision: 8 if rounded from that.
        {100, 300, {7, 100}, 7, 21},   {3, 3, {16, 1}, 48, 48},    {1024, 1, {16, 1}, 16384, 16},
        {2, 7, {9, 10}, 2, 7},         {16384, 2, {1, 100}, 164, 1}, {3, 16384, {1, 16384}, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Velmora::ScaledSide(c.width, c.factor), c.expectedWidth) << c.width;
        for (const ResampleFilter filter : kFilters) {
            const ResampleResult result = ResampleImage(Awkward(c.width, c.height, 1), c.factor, filter);
            const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " by " +
                                     Describe(c.factor, filter);
            ASSERT_EQ(result.failure, ResampleFailure::None) << what;
            EXPECT_EQ(result.image.width, c.expectedWidth) << what;
            EXPECT_EQ(result.image.height, c.expectedHeight) << what;
            EXPECT_EQ(result.size.w, c.expectedWidth) << what;
            EXPECT_EQ(result.size.h, c.expectedHeight) << what;
            EXPECT_TRUE(Velmora::IsValidImage(result.image)) << what;
        }
    }
}

TEST(ResampleImage, RefusesInvalidInputAndSizesPastTheLimit) {
    struct Case {
        const char* what;
        Image image;
        ScaleFactor factor;
        ResampleFailure failure;
        int32_t width;  // the size reported with TooLarge
        int32_t height;
    };
    Image short_ = Solid(4, 4, 0xFF0000FFU);
    short_.pixels.pop_back();
    const Case cases[] = {
        {"no pixels", Image{}, {1, 2}, ResampleFailure::InvalidImage, 0, 0},
        {"buffer shorter than the size", short_, {1, 2}, ResampleFailure::InvalidImage, 0, 0},
        {"zero factor", Solid(4, 4, 0), {0, 1}, ResampleFailure::InvalidScale, 0, 0},
        {"zero denominator", Solid(4, 4, 0), {1, 0}, ResampleFailure::InvalidScale, 0, 0},
        {"negative factor", Solid(4, 4, 0), {-1, 2}, ResampleFailure::InvalidScale, 0, 0},
        {"one column past the limit", Solid(1025, 1, 0), {16, 1}, ResampleFailure::TooLarge, 16400, 16},
        {"height past the limit", Solid(1, 8193, 0), {2, 1}, ResampleFailure::TooLarge, 2, 16386},
        {"far past the limit", Solid(16384, 2, 0), {2147483647, 1}, ResampleFailure::TooLarge, 2147483647,
         2147483647},
    };
    for (const Case& c : cases) {
        for (const ResampleFilter filter : kFilters) {
            const ResampleResult result = ResampleImage(c.image, c.factor, filter);
            EXPECT_EQ(result.failure, c.failure) << c.what << ", " << Name(filter);
            EXPECT_EQ(result.image.width, 0) << c.what;
            EXPECT_TRUE(result.image.pixels.empty()) << c.what;
            if (c.failure == ResampleFailure::TooLarge) {
                EXPECT_EQ(result.size.w, c.width) << c.what;
                EXPECT_EQ(result.size.h, c.height) << c.what;
            }
        }
    }
    EXPECT_EQ(Velmora::ScaledSide(0, {1, 1}), 0);
    EXPECT_EQ(Velmora::ScaledSide(5, {1, 0}), 0);
}

TEST(ResampleImage, ScaleOneReturnsTheImageUnchanged) {
    // Hidden colour under alpha 0 included: at scale 1 nothing is touched.
    const Image image = Awkward(9, 6, 2);
    for (const ScaleFactor factor : {ScaleFactor{1, 1}, ScaleFactor{3, 3}}) {
        for (const ResampleFilter filter : kFilters) {
            const ResampleResult result = ResampleImage(image, factor, filter);
            ASSERT_EQ(result.failure, ResampleFailure::None) << Describe(factor, filter);
            EXPECT_EQ(result.image.width, 9);
            EXPECT_EQ(result.image.height, 6);
            EXPECT_EQ(result.image.pixels, image.pixels) << Describe(factor, filter);
        }
    }
}

TEST(ResampleImage, NearestIsExactOnPixelArt) {
    // Pixel art drawn at 1x: doubling repeats every pixel 2 x 2, tripling
    // 3 x 3; halving the doubled art gives the art back.
    const Image art = VelmoraTest::Sprite(13, 7, 3);
    for (const int32_t times : {2, 3}) {
        const ResampleResult grown = ResampleImage(art, {times, 1}, ResampleFilter::Nearest);
        ASSERT_EQ(grown.failure, ResampleFailure::None);
        ASSERT_EQ(grown.image.width, 13 * times);
        ASSERT_EQ(grown.image.height, 7 * times);
        for (int32_t y = 0; y < grown.image.height; ++y) {
            for (int32_t x = 0; x < grown.image.width; ++x) {
                ASSERT_EQ(At(grown.image, x, y), At(art, x / times, y / times)) << times << "x at " << x << "," << y;
            }
        }
        const ResampleResult back = ResampleImage(grown.image, {1, times}, ResampleFilter::Nearest);
        ASSERT_EQ(back.failure, ResampleFailure::None);
        EXPECT_EQ(back.image.pixels, art.pixels) << "1/" << times << " of the " << times << "x art";
    }
    // Any other factor still invents no colour.
    const std::set<uint32_t> palette(art.pixels.begin(), art.pixels.end());
    for (const ScaleFactor factor : {ScaleFactor{3, 2}, ScaleFactor{7, 10}, ScaleFactor{1, 3}}) {
        const ResampleResult result = ResampleImage(art, factor, ResampleFilter::Nearest);
        for (const uint32_t pixel : result.image.pixels) {
            ASSERT_EQ(palette.count(pixel), 1U) << Describe(factor, ResampleFilter::Nearest);
        }
    }
}

// A plain filter for comparison: halves by averaging 2 x 2 blocks of the
// stored colour without weighting it by alpha.
Image HalveWithoutAlphaWeights(const Image& image) {
    Image half = Solid(image.width / 2, image.height / 2, 0);
    for (int32_t y = 0; y < half.height; ++y) {
        for (int32_t x = 0; x < half.width; ++x) {
            uint32_t pixel = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                uint32_t sum = 0;
                for (int32_t k = 0; k < 4; ++k) {
                    sum += (At(image, 2 * x + k % 2, 2 * y + k / 2) >> shift) & 0xFFU;
                }
                pixel |= ((sum + 2) / 4) << shift;
            }
            half.pixels[static_cast<size_t>(y) * static_cast<size_t>(half.width) + static_cast<size_t>(x)] = pixel;
        }
    }
    return half;
}

TEST(ResampleImage, SoftEdgesKeepTheirColour) {
    // A red disc fading out over 12 pixels, black or green under alpha 0.
    constexpr uint32_t kRed = 0x0000FFU;
    for (const uint32_t hidden : {0x000000U, 0x00FF00U}) {
        const Image disc = VelmoraTest::SoftDisc(64, 18, 30, kRed, hidden);
        // The check itself: a filter that ignores alpha darkens (or greens)
        // the rim.
        EXPECT_GT(VelmoraTest::CountFringePixels(HalveWithoutAlphaWeights(disc), kRed, 8), 20U) << hidden;
        for (const ScaleFactor factor : {ScaleFactor{1, 2}, ScaleFactor{1, 4}, ScaleFactor{3, 2}, ScaleFactor{2, 1}}) {
            const ResampleResult result = ResampleImage(disc, factor, ResampleFilter::Smooth);
            ASSERT_EQ(result.failure, ResampleFailure::None);
            EXPECT_EQ(VelmoraTest::CountFringePixels(result.image, kRed, 2), 0U)
                << Describe(factor, ResampleFilter::Smooth) << " over hidden " << hidden;
            // The rim is still soft: many partly transparent pixels.
            size_t translucent = 0;
            for (const uint32_t pixel : result.image.pixels) {
                translucent += (pixel >> 24) > 0 && (pixel >> 24) < 255 ? 1 : 0;
            }
            EXPECT_GT(translucent, 10U)
                << Describe(factor, ResampleFilter::Smooth);
        }
    }
}

TEST(ResampleImage, ColourUnderAlphaZeroNeverShows) {
    // The same pixels with black or with green under alpha 0 resample to the
    // same bytes, and every transparent output pixel is 0.
    Image black = Awkward(31, 17, 4, 6);
    for (uint32_t& pixel : black.pixels) {
        pixel = (pixel >> 24) == 0 ? 0 : pixel;
    }
    const Image green = Awkward(31, 17, 4, 6);
    ASSERT_NE(black.pixels, green.pixels);
    for (const ScaleFactor factor : {ScaleFactor{1, 2}, ScaleFactor{1, 4}, ScaleFactor{3, 2}, ScaleFactor{2, 1},
                                     ScaleFactor{7, 10}, ScaleFactor{9, 10}}) {
        for (const ResampleFilter filter : kFilters) {
            const ResampleResult fromBlack = ResampleImage(black, factor, filter);
            const ResampleResult fromGreen = ResampleImage(green, factor, filter);
            EXPECT_EQ(fromBlack.image.pixels, fromGreen.image.pixels) << Describe(factor, filter);
            size_t transparent = 0;
            for (const uint32_t pixel : fromGreen.image.pixels) {
                if ((pixel >> 24) == 0) {
                    ++transparent;
                    ASSERT_EQ(pixel, 0U) << Describe(factor, filter);
                }
            }
            EXPECT_GT(transparent, 0U) << Describe(factor, filter);
        }
    }
    // Wholly transparent input: wholly 0 output.
    for (const ResampleFilter filter : kFilters) {
        const ResampleResult result = ResampleImage(Solid(10, 10, 0x00FFFFFFU), {1, 2}, filter);
        EXPECT_EQ(result.image.pixels, std::vector<uint32_t>(25, 0U)) << Name(filter);
    }
}

TEST(ResampleImage, SmoothKeepsFlatAreasAndUnscaledSides) {
    // A flat colour, opaque or translucent, stays that colour at every scale.
    for (const uint32_t pixel : {0xFF3366CCU, 0x80FF8000U}) {
        for (const ScaleFactor factor : {ScaleFactor{1, 2}, ScaleFactor{3, 2}, ScaleFactor{2, 1}, ScaleFactor{1, 3}}) {
            const ResampleResult result = ResampleImage(Solid(12, 9, pixel), factor, ResampleFilter::Smooth);
            for (const uint32_t out : result.image.pixels) {
                ASSERT_EQ(out, pixel) << std::hex << pixel << std::dec << " by " << Describe(factor, ResampleFilter::Smooth);
            }
        }
    }
    // Two columns that keep their width at 0.9 (ceil(1.8) = 2) must not
    // bleed into each other; a frame that keeps both sides keeps its pixels.
    Image columns = Solid(2, 20, 0xFF0000FFU);
    for (int32_t y = 0; y < 20; ++y) {
        columns.pixels[2 * static_cast<size_t>(y) + 1] = 0xFFFF0000U;
    }
    const ResampleResult narrow = ResampleImage(columns, {9, 10}, ResampleFilter::Smooth);
    ASSERT_EQ(narrow.image.width, 2);
    ASSERT_EQ(narrow.image.height, 18);
    for (int32_t y = 0; y < 18; ++y) {
        EXPECT_EQ(At(narrow.image, 0, y), 0xFF0000FFU) << y;
        EXPECT_EQ(At(narrow.image, 1, y), 0xFFFF0000U) << y;
    }
    const Image small = VelmoraTest::Sprite(2, 7, 5);
    EXPECT_EQ(ResampleImage(small, {9, 10}, ResampleFilter::Smooth).image.pixels, small.pixels);
    const Image dot = Solid(1, 1, 0x7F102030U);
    EXPECT_EQ(ResampleImage(dot, {1, 100}, ResampleFilter::Smooth).image.pixels, dot.pixels);
}

TEST(ResampleImage, BytesAreFixedOnEveryPlatform) {
    // One hash over the results of both filters at every factor, taken from
    // the Linux build and checked by the Windows build under wine, GCC and
    // Clang, optimised or not: single precision, no contraction.
    const Image disc = VelmoraTest::SoftDisc(45, 10, 21, 0x2080F0U, 0x00FF00U);
    const Image art = Awkward(37, 23, 6);
    uint64_t hash = 14695981039346656037ULL;
    for (const Image* image : {&disc, &art}) {
        for (const ScaleFactor factor : {ScaleFactor{1, 2}, ScaleFactor{1, 4}, ScaleFactor{3, 2}, ScaleFactor{2, 1},
                                         ScaleFactor{7, 10}, ScaleFactor{1, 3}}) {
            for (const ResampleFilter filter : kFilters) {
                const ResampleResult first = ResampleImage(*image, factor, filter);
                const ResampleResult second = ResampleImage(*image, factor, filter);
                ASSERT_EQ(first.image.pixels, second.image.pixels) << Describe(factor, filter);
                hash = Checksum(first.image, hash);
            }
        }
    }
    EXPECT_EQ(hash, 8222561804755496660ULL);
}

}  // namespace
