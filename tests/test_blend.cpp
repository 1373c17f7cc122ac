// Layer blending against the plain model in tests/support/blend_reference.h,
// on edge values and random pixels, and against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "support/blend_reference.h"
#include "velmora/blend.h"

namespace {

using Velmora::BlendMode;
using Velmora::BlendPixel;

uint32_t Rgba(int r, int g, int b, int a) {
    return static_cast<uint32_t>(r) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b) << 16 |
           static_cast<uint32_t>(a) << 24;
}

TEST(Blend, MulUn8IsRoundedProductOver255) {
    for (int a = 0; a <= 255; ++a) {
        for (int b = 0; b <= 255; ++b) {
            const int exact = static_cast<int>(std::lround(a * b / 255.0));
            ASSERT_EQ(Velmora::MulUn8(a, b), exact) << a << " * " << b;
        }
    }
    // Negative differences round like an arithmetic shift: toward -inf on ties.
    EXPECT_EQ(Velmora::MulUn8(-255, 255), -255);
    EXPECT_EQ(Velmora::MulUn8(-1, 255), -1);
    EXPECT_EQ(Velmora::MulUn8(-1, 128), 0);
    EXPECT_EQ(Velmora::MulUn8(-100, 128), -50);
}

TEST(Blend, HandWorkedValues) {
    struct Case {
        BlendMode mode;
        uint32_t backdrop;
        uint32_t source;
        int opacity;
        uint32_t expected;
    };
    const Case cases[] = {
        // Normal at half opacity over opaque: Sa' = 128, Ra = 255, c = B + (S-B)*128/255.
        {BlendMode::Normal, Rgba(0, 205, 249, 255), Rgba(237, 118, 20, 255), 128, Rgba(118, 162, 135, 255)},
        // Over a transparent backdrop the source keeps its colour, alpha scaled.
        {BlendMode::Normal, Rgba(9, 9, 9, 0), Rgba(10, 20, 30, 200), 128, Rgba(10, 20, 30, 100)},
        {BlendMode::Multiply, Rgba(9, 9, 9, 0), Rgba(10, 20, 30, 200), 255, Rgba(10, 20, 30, 200)},
        // A transparent source leaves an opaque backdrop alone.
        {BlendMode::Normal, Rgba(1, 2, 3, 255), Rgba(200, 200, 200, 0), 255, Rgba(1, 2, 3, 255)},
        // Opaque over opaque: the mode's colour itself.
        {BlendMode::Multiply, Rgba(255, 128, 0, 255), Rgba(128, 128, 255, 255), 255, Rgba(128, 64, 0, 255)},
        {BlendMode::Screen, Rgba(255, 128, 0, 255), Rgba(128, 128, 255, 255), 255, Rgba(255, 192, 255, 255)},
        {BlendMode::Difference, Rgba(200, 10, 50, 255), Rgba(50, 30, 50, 255), 255, Rgba(150, 20, 0, 255)},
        {BlendMode::Addition, Rgba(200, 10, 50, 255), Rgba(100, 30, 50, 255), 255, Rgba(255, 40, 100, 255)},
        {BlendMode::Subtract, Rgba(200, 10, 50, 255), Rgba(100, 30, 50, 255), 255, Rgba(100, 0, 0, 255)},
        {BlendMode::Darken, Rgba(200, 10, 50, 255), Rgba(100, 30, 50, 255), 255, Rgba(100, 10, 50, 255)},
        {BlendMode::Lighten, Rgba(200, 10, 50, 255), Rgba(100, 30, 50, 255), 255, Rgba(200, 30, 50, 255)},
        // Divide: b >= s saturates, else b * 255 / s rounded.
        {BlendMode::Divide, Rgba(0, 100, 100, 255), Rgba(10, 50, 200, 255), 255, Rgba(0, 255, 128, 255)},
        // Hard light branches on the source at 128; overlay on the backdrop.
        {BlendMode::HardLight, Rgba(100, 100, 100, 255), Rgba(64, 192, 128, 255), 255, Rgba(50, 178, 101, 255)},
        {BlendMode::Overlay, Rgba(64, 192, 128, 255), Rgba(100, 100, 100, 255), 255, Rgba(50, 178, 101, 255)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BlendPixel(c.mode, c.backdrop, c.source, c.opacity), c.expected) << static_cast<int>(c.mode);
    }
}

// The editor's saturation pick: with red == green < blue, green is both the
// minimum and the middle, so red keeps its value.
TEST(Blend, SaturationKeepsTheEditorsTieQuirk) {
    const uint32_t backdrop = Rgba(51, 51, 204, 255);  // r == g < b
    const uint32_t source = Rgba(255, 0, 0, 255);     // saturation 1
    const uint32_t got = BlendPixel(BlendMode::Saturation, backdrop, source, 255);
    EXPECT_EQ(got, VelmoraTest::BlendRef::Blend(13, backdrop, source, 255));
    // A textbook set-saturation would zero red along with green.
    EXPECT_NE(got & 0xFFU, (got >> 8) & 0xFFU);
}

TEST(Blend, EveryModeMatchesThePlainModel) {
    std::mt19937 random(1234);
    const int edges[] = {0, 1, 2, 63, 64, 127, 128, 129, 191, 192, 254, 255};
    const auto channel = [&random, &edges]() {
        const auto pick = random() % 3;
        return pick == 0 ? edges[random() % 12] : static_cast<int>(random() % 256);
    };
    for (int mode = 0; mode < Velmora::kBlendModeCount; ++mode) {
        int mismatches = 0;
        for (int i = 0; i < 60000; ++i) {
            int b[4];
            int s[4];
            for (int k = 0; k < 4; ++k) {
                b[k] = channel();
                s[k] = channel();
            }
            // Ties between channels pick the HSL modes' roles in odd ways.
            if (i % 5 == 0) b[1] = b[0];
            if (i % 7 == 0) s[2] = s[1];
            const uint32_t backdrop = Rgba(b[0], b[1], b[2], b[3]);
            const uint32_t source = Rgba(s[0], s[1], s[2], s[3]);
            const int opacity = channel();
            const uint32_t want = VelmoraTest::BlendRef::Blend(mode, backdrop, source, opacity);
            const uint32_t got = BlendPixel(static_cast<BlendMode>(mode), backdrop, source, opacity);
            if (got != want && ++mismatches <= 3) {
                ADD_FAILURE() << "mode " << mode << std::hex << " backdrop " << backdrop << " source " << source
                              << std::dec << " opacity " << opacity << std::hex << ": got " << got << " want " << want;
            }
        }
        EXPECT_EQ(mismatches, 0) << "mode " << mode;
    }
}

// One number for a fixed sweep of every mode, the same on every compiler and
// platform the program is built for (the HSL modes go through doubles).
TEST(Blend, SweepChecksumIsTheSameEverywhere) {
    uint64_t hash = 1469598103934665603ULL;
    uint32_t state = 7;
    const auto next = [&state]() {
        state = state * 1664525U + 1013904223U;
        return state;
    };
    for (int mode = 0; mode < Velmora::kBlendModeCount; ++mode) {
        for (int i = 0; i < 20000; ++i) {
            const uint32_t backdrop = next() | (i % 3 == 0 ? 0xFF000000U : 0U);
            const uint32_t source = next();
            const auto opacity = static_cast<int>(next() >> 24);
            hash = (hash ^ BlendPixel(static_cast<BlendMode>(mode), backdrop, source, opacity)) * 1099511628211ULL;
        }
    }
    EXPECT_EQ(hash, 17743039862103231782ULL);
}

TEST(Blend, EveryModeIsNormalOverATransparentBackdrop) {
    for (int mode = 0; mode < Velmora::kBlendModeCount; ++mode) {
        for (const uint32_t source : {Rgba(10, 200, 30, 255), Rgba(90, 80, 70, 60), Rgba(1, 2, 3, 0)}) {
            EXPECT_EQ(BlendPixel(static_cast<BlendMode>(mode), Rgba(200, 100, 50, 0), source, 200),
                      BlendPixel(BlendMode::Normal, 0, source, 200))
                << mode;
        }
    }
}

}  // namespace
