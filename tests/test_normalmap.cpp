#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include "velmora_engine.h"
#include "normal_map_internal.h"

namespace Velmora {
namespace NormalMapInternal {

// Names the path in test output instead of dumping its bytes.
void PrintTo(NormalMapPath path, std::ostream* os) {
    *os << (path == NormalMapPath::Avx2 ? "AVX2" : path == NormalMapPath::Sse2 ? "SSE2" : "portable");
}

}  // namespace NormalMapInternal
}  // namespace Velmora

namespace {

using Velmora::NormalMapInternal::GenerateNormalMapOnPath;
using Velmora::NormalMapInternal::GenerateNormalMapReference;
using Velmora::NormalMapInternal::IsPathSupported;
using Velmora::NormalMapInternal::NormalMapPath;
using Pixels = std::vector<uint32_t>;
using Generator = std::function<Pixels(const Pixels&, int32_t, int32_t, float)>;

constexpr uint32_t kFill = 0xFF808080u;
constexpr uint32_t kFlat = 0xFFFF7F7Fu;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// Every way to produce a normal map: the public entry point, the plain
// reference and each code path this CPU can run. The expected values below
// hold for all of them.
struct Implementation {
    const char* name;
    Generator generate;
};

std::vector<Implementation> Implementations() {
    std::vector<Implementation> all{
        {"GenerateNormalMap", Velmora::GenerateNormalMap},
        {"reference", GenerateNormalMapReference},
    };
    const std::pair<const char*, NormalMapPath> paths[] = {
        {"portable path", NormalMapPath::Portable},
        {"SSE2 path", NormalMapPath::Sse2},
        {"AVX2 path", NormalMapPath::Avx2},
    };
    for (const auto& [name, path] : paths) {
        if (IsPathSupported(path)) {
            const NormalMapPath chosen = path;
            all.push_back({name, [chosen](const Pixels& p, int32_t w, int32_t h, float s) {
                               return GenerateNormalMapOnPath(chosen, p, w, h, s);
                           }});
        }
    }
    return all;
}

// A width x height frame of `background` with the given pixels set.
Pixels Frame(int32_t width, int32_t height, uint32_t background,
             std::initializer_list<std::pair<int32_t, uint32_t>> set = {}) {
    Pixels pixels(static_cast<size_t>(width * height), background);
    for (const auto& [index, value] : set) {
        pixels[static_cast<size_t>(index)] = value;
    }
    return pixels;
}

// Expected result entries by index; an empty list means "no expectation".
struct Expect {
    int32_t index;
    uint32_t value;
};

struct ExampleCase {
    const char* name;
    Pixels pixels;
    int32_t width, height;
    float strength;
    std::vector<Expect> expected;  // checked entries
    uint32_t everyOther;           // value of all unlisted entries, or 0 to skip them
};

std::vector<Expect> Row(std::initializer_list<uint32_t> values) {
    std::vector<Expect> expected;
    int32_t index = 0;
    for (uint32_t value : values) {
        expected.push_back({index++, value});
    }
    return expected;
}

// 3 x 3 opaque black with the centre raised to elevation 1.
const Pixels kBump = Frame(3, 3, 0xFF000000u, {{4, 0xFF010101u}});
// 3 x 3 opaque white with the centre replaced.
Pixels WhiteAround(uint32_t centre) {
    return Frame(3, 3, 0xFFFFFFFFu, {{4, centre}});
}

std::vector<ExampleCase> ExampleCases() {
    const std::vector<Expect> pitOuter{{0, 0xFF7F2525u}, {1, 0xFF7F007Fu}, {2, 0xFF7F25D9u},
                                       {3, 0xFF7F7F00u}, {5, 0xFF7F7FFEu}, {6, 0xFF7FD925u},
                                       {7, 0xFF7FFE7Fu}, {8, 0xFF7FD9D9u}};
    std::vector<Expect> pitAlpha4 = pitOuter;
    pitAlpha4.push_back({4, 0x00000000u});
    std::vector<Expect> pitAlpha7 = pitOuter;
    pitAlpha7.push_back({4, 0x07FF7F7Fu});

    std::mt19937 rng(7);
    Pixels noise(size_t{7} * 5);
    for (uint32_t& p : noise) {
        p = static_cast<uint32_t>(rng()) | 0xFF000000u;
    }

    return {
        {"raised centre, strength 1", kBump, 3, 3, 1.0f,
         Row({0xFFC9C9C9u, 0xFFB8F17Fu, 0xFFC9C935u, 0xFFB87FF1u, 0xFFFF7F7Fu, 0xFFB87F0Du,
              0xFFC935C9u, 0xFFB80D7Fu, 0xFFC93535u}),
         0},
        {"raised centre, strength 2", kBump, 3, 3, 2.0f,
         {{0, 0xFFAAD4D4u}, {1, 0xFF9EFB7Fu}, {5, 0xFF9E7F03u}, {4, kFlat}}, 0},
        {"uniform opaque colour is flat", Frame(5, 4, 0xFF3C9AE1u), 5, 4, 1.0f, {}, kFlat},
        {"alpha 7 everywhere: processed, elevation 0", Frame(4, 4, 0x07FFFFFFu), 4, 4, 1.0f, {},
         0x07FF7F7Fu},
        {"pit of alpha 4: not processed, elevation 0", WhiteAround(0x04FFFFFFu), 3, 3, 1.0f,
         pitAlpha4, 0},
        {"pit of alpha 7: processed, still elevation 0", WhiteAround(0x07FFFFFFu), 3, 3, 1.0f,
         pitAlpha7, 0},
        // Alpha 9 adds no elevation, so the frame stays flat around it.
        {"centre alpha 9 counts as elevation 0", Frame(3, 3, 0xFF000000u, {{4, 0x09FFFFFFu}}), 3, 3,
         1.0f, {{4, 0x09FF7F7Fu}}, kFlat},
        {"centre alpha 5 is processed", Frame(3, 3, 0xFF000000u, {{4, 0x05FFFFFFu}}), 3, 3, 1.0f,
         {{4, 0x05FF7F7Fu}}, kFlat},
        // Alpha 10 white has elevation ~10: at (1, 0) gy = ~20, len = ~20.02,
        // green (0.99875 * 0.5 + 0.5) * 255 = 254.8, blue 133.9.
        {"centre alpha 10 counts", Frame(3, 3, 0xFF000000u, {{4, 0x0AFFFFFFu}}), 3, 3, 1.0f,
         {{4, 0x0AFF7F7Fu}, {1, 0xFF85FE7Fu}, {3, 0xFF857FFEu}}, 0},
        {"border replication: the left column sees itself", Frame(3, 3, 0xFF000000u, {{3, 0xFF010101u}}),
         3, 3, 1.0f, {{3, 0xFFB87F0Du}, {4, 0xFFB87F0Du}, {2, kFlat}, {5, kFlat}, {8, kFlat}}, 0},
        {"strength 0: blue 0 whatever the image", noise, 7, 5, 0.0f, {}, 0xFF007F7Fu},
        {"strength 99999 still normalises", Frame(4, 3, 0xFF204060u), 4, 3, 99999.0f, {}, kFlat},
        {"strength 100000 leaves the flat normal raw", Frame(4, 3, 0xFF204060u), 4, 3, 100000.0f, {},
         0xFF7F7F7Fu},
        {"strength +inf: z0 = 0", Frame(4, 3, 0xFF204060u), 4, 3, kInf, {}, 0xFF7F7F7Fu},
        // z0 = -0: len 0 in a flat area, raw components, -0 encodes as 127.
        {"strength -inf", Frame(4, 3, 0xFF204060u), 4, 3, -kInf, {}, 0xFF7F7F7Fu},
        {"negative strength: blue below 128", Frame(4, 3, 0xFF204060u), 4, 3, -1.0f, {}, 0xFF007F7Fu},
        // z0 * z0 overflows to inf: len inf, every component 0 / inf = 0.
        {"strength 1e-30: z0 squared overflows", Frame(4, 3, 0xFF204060u), 4, 3, 1e-30f, {}, 0xFF7F7F7Fu},
        {"strength 1e-10 is still a steep flat normal", Frame(4, 3, 0xFF204060u), 4, 3, 1e-10f, {},
         kFlat},
        // NaN z0: len is NaN, nothing is normalised; NaN encodes as 0 and a
        // raw gradient of 2 clamps to 255.
        {"strength NaN, flat", Frame(4, 3, 0xFF204060u), 4, 3, kNaN, {}, 0xFF007F7Fu},
        {"strength NaN, raised centre", kBump, 3, 3, kNaN, {{1, 0xFF00FF7Fu}, {5, 0xFF007F00u}}, 0},
        // Entries 9 and 10 would raise the bottom row if they were read.
        {"only the first width * height entries are read",
         Pixels{0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u,
                0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu},
         3, 3, 1.0f, {}, kFlat},
    };
}

TEST(NormalMap, WorkedExamplesAndEdgeValues) {
    for (const Implementation& impl : Implementations()) {
        for (const ExampleCase& c : ExampleCases()) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.name);
            const Pixels result = impl.generate(c.pixels, c.width, c.height, c.strength);
            ASSERT_EQ(result.size(), static_cast<size_t>(c.width * c.height));
            std::vector<bool> listed(result.size(), false);
            for (const Expect& e : c.expected) {
                listed[static_cast<size_t>(e.index)] = true;
                EXPECT_EQ(Hex(result[static_cast<size_t>(e.index)]), Hex(e.value))
                    << "entry " << e.index << " (x " << e.index % c.width << ", y " << e.index / c.width << ")";
            }
            if (c.everyOther != 0) {
                for (size_t i = 0; i < result.size(); ++i) {
                    if (!listed[i]) {
                        EXPECT_EQ(Hex(result[i]), Hex(c.everyOther)) << "entry " << i;
                    }
                }
            }
        }
    }
}

struct GuardCase {
    const char* name;
    Pixels pixels;
    int32_t width, height;
    size_t expectedSize;  // every entry the neutral fill
};

TEST(NormalMap, UnprocessableFramesGiveTheNeutralFill) {
    const GuardCase cases[] = {
        {"width 2", Frame(2, 3, 0xFFFFFFFFu), 2, 3, 6},
        {"height 2", Frame(5, 2, 0xFFFFFFFFu), 5, 2, 10},
        {"width 0: empty", Pixels{}, 0, 7, 0},
        {"width 1, height 1", Pixels{0xFF000000u}, 1, 1, 1},
        {"8 entries for 3 x 3", Pixels(8, 0xFFFFFFFFu), 3, 3, 9},
        {"width and height -3: product 9", Pixels(9, 0xFFFFFFFFu), -3, -3, 9},
        {"width and height -3, no pixels", Pixels{}, -3, -3, 9},
        {"one short of 40 x 30", Pixels(40 * 30 - 1, 0xFF123456u), 40, 30, size_t{40} * 30},
        // Out of the signed 32-bit range: neither read nor allocated.
        {"65536 x 65536", Pixels(16, 0xFFFFFFFFu), 65536, 65536, 0},
        {"2147483647 x 2", Pixels(16, 0xFFFFFFFFu), std::numeric_limits<int32_t>::max(), 2, 0},
        {"-2147483648 x -1", Pixels(16, 0xFFFFFFFFu), std::numeric_limits<int32_t>::min(), -1, 0},
    };
    for (const Implementation& impl : Implementations()) {
        for (const GuardCase& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.name);
            const Pixels result = impl.generate(c.pixels, c.width, c.height, 1.0f);
            ASSERT_EQ(result.size(), c.expectedSize);
            for (size_t i = 0; i < result.size(); ++i) {
                ASSERT_EQ(Hex(result[i]), Hex(kFill)) << "entry " << i;
            }
        }
    }
}

TEST(NormalMap, NegativePixelCountThrowsLengthError) {
    const std::pair<int32_t, int32_t> sizes[] = {
        {-3, 3}, {3, -1}, {-1, 0x7FFFFFFF}, {65536, -65536}, {std::numeric_limits<int32_t>::min(), 1}};
    for (const Implementation& impl : Implementations()) {
        for (const auto& [width, height] : sizes) {
            SCOPED_TRACE(std::string(impl.name) + ": " + std::to_string(width) + " x " + std::to_string(height));
            EXPECT_THROW(impl.generate(Pixels(16, 0xFFFFFFFFu), width, height, 1.0f), std::length_error);
        }
    }
}

// The fast paths against the plain reference on random frames. A one-step
// rounding difference hides behind the 8-bit truncation and shows in only
// about 2 of 100,000 pixels, hence over half a megapixel per strength. Widths
// cover frames too narrow for a vector, exact multiples of the vector width
// and every remainder.
class NormalMapPaths : public testing::TestWithParam<NormalMapPath> {};

Pixels RandomFrame(std::mt19937& rng, int32_t width, int32_t height) {
    // Alphas around both thresholds, fully clear, opaque, or anything.
    const uint32_t alphas[] = {0, 4, 5, 9, 10, 255};
    Pixels pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint32_t& p : pixels) {
        const auto colour = static_cast<uint32_t>(rng()) & 0x00FFFFFFu;
        const auto pick = static_cast<uint32_t>(rng()) % 8;
        // Opaque twice as often: the steepest, most varied gradients.
        const uint32_t alpha = pick < 6 ? alphas[pick] : pick == 6 ? 255u : static_cast<uint32_t>(rng()) >> 24;
        p = (alpha << 24) | colour;
    }
    return pixels;
}

TEST_P(NormalMapPaths, MatchReferenceOnRandomFrames) {
    const NormalMapPath path = GetParam();
    if (!IsPathSupported(path)) {
        GTEST_SKIP() << "this CPU or build lacks the path";
    }
    const std::pair<int32_t, int32_t> sizes[] = {{3, 3},  {4, 5},  {9, 4},    {10, 3},   {11, 6},  {16, 7},
                                                 {17, 9}, {18, 5}, {33, 33},  {64, 64},  {100, 3}, {257, 129},
                                                 {3, 200}, {719, 701}};
    const float strengths[] = {0.0f, -1.0f, 1.0f, 2.0f, 99999.0f, 100000.0f, kInf, -kInf, kNaN};
    std::mt19937 rng(20240613);
    for (const float strength : strengths) {
        for (const auto& [width, height] : sizes) {
            const Pixels pixels = RandomFrame(rng, width, height);
            const Pixels expected = GenerateNormalMapReference(pixels, width, height, strength);
            const Pixels actual = GenerateNormalMapOnPath(path, pixels, width, height, strength);
            ASSERT_EQ(actual.size(), expected.size());
            size_t mismatches = 0;
            size_t first = 0;
            for (size_t i = 0; i < actual.size(); ++i) {
                if (actual[i] != expected[i] && mismatches++ == 0) {
                    first = i;
                }
            }
            EXPECT_EQ(mismatches, 0u) << width << " x " << height << ", strength " << strength
                                      << ": first at x " << first % static_cast<size_t>(width) << ", y "
                                      << first / static_cast<size_t>(width) << ": "
                                      << Hex(actual[first]) << " instead of " << Hex(expected[first]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, NormalMapPaths,
                         testing::Values(NormalMapPath::Portable, NormalMapPath::Sse2, NormalMapPath::Avx2),
                         [](const testing::TestParamInfo<NormalMapPath>& info) {
                             switch (info.param) {
                             case NormalMapPath::Sse2:
                                 return std::string("Sse2");
                             case NormalMapPath::Avx2:
                                 return std::string("Avx2");
                             default:
                                 return std::string("Portable");
                             }
                         });

TEST(NormalMap, PicksTheWidestSupportedPath) {
    const NormalMapPath fastest = Velmora::NormalMapInternal::FastestPath();
    EXPECT_TRUE(IsPathSupported(fastest));
    if (IsPathSupported(NormalMapPath::Avx2)) {
        EXPECT_EQ(fastest, NormalMapPath::Avx2);
    } else if (IsPathSupported(NormalMapPath::Sse2)) {
        EXPECT_EQ(fastest, NormalMapPath::Sse2);
    }
}

}  // namespace
