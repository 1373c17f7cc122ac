// Image records: validity, trimming bounds, cropping, atlas composition with
// extrusion (against a per-pixel reference), duplicate detection.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <utility>

#include "velmora/image.h"
#include "velmora_engine.h"

namespace {

// An int expression's value as an index; tests keep their sizes small, so
// the int arithmetic cannot overflow.
size_t Offset(int64_t value) { return static_cast<size_t>(value); }

using Velmora::Image;
using Velmora::Point2D;

Image Filled(int32_t width, int32_t height, uint32_t seed) {
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    std::mt19937 random(seed);
    for (uint32_t& pixel : image.pixels) {
        pixel = static_cast<uint32_t>(random()) | 0x01000000U;
    }
    return image;
}

TEST(ImageRecord, ValidityFollowsSizeAndBufferLength) {
    struct Case {
        int32_t width;
        int32_t height;
        size_t pixels;
        bool valid;
    };
    const Case cases[] = {
        {1, 1, 1, true},           {300, 3, 900, true},     {0, 5, 0, false},
        {5, 0, 0, false},          {-1, -1, 1, false},      {2, 2, 3, false},
        {2, 2, 5, false},          {16384, 1, 16384, true}, {16385, 1, 16385, false},
    };
    for (const Case& c : cases) {
        Image image;
        image.width = c.width;
        image.height = c.height;
        image.pixels.resize(c.pixels);
        EXPECT_EQ(Velmora::IsValidImage(image), c.valid) << c.width << "x" << c.height << " with "
                                                         << c.pixels << " pixels";
    }
}

TEST(ImageRecord, OpaqueBoundsHoldEveryVisiblePixel) {
    struct Case {
        const char* what;
        std::vector<Point2D> visible;
        Velmora::Area2D expected;
    };
    const Case cases[] = {
        {"fully transparent stays 1x1 at the origin", {}, {0, 0, 1, 1}},
        {"one pixel", {{4, 2}}, {4, 2, 1, 1}},
        {"two corners span everything", {{0, 0}, {6, 4}}, {0, 0, 7, 5}},
        {"inner block", {{2, 1}, {3, 3}, {5, 2}}, {2, 1, 4, 3}},
    };
    for (const Case& c : cases) {
        Image image;
        image.width = 7;
        image.height = 5;
        image.pixels.assign(35, 0x00FFFFFFU);  // colour without alpha is still transparent
        for (const Point2D& p : c.visible) {
            image.pixels[Offset(p.y * 7 + p.x)] = 0x01000000U;
        }
        const Velmora::Area2D bounds = Velmora::FindOpaqueBounds(image);
        EXPECT_EQ(bounds.x, c.expected.x) << c.what;
        EXPECT_EQ(bounds.y, c.expected.y) << c.what;
        EXPECT_EQ(bounds.w, c.expected.w) << c.what;
        EXPECT_EQ(bounds.h, c.expected.h) << c.what;
    }
    EXPECT_EQ(Velmora::FindOpaqueBounds(Image{}).w, 0) << "an invalid image has no bounds";
}

TEST(ImageRecord, CropCopiesTheAreaAndRefusesAreasOutside) {
    const Image image = Filled(9, 6, 1);
    const Image crop = Velmora::CropImage(image, Velmora::Area2D{2, 1, 5, 4});
    ASSERT_EQ(crop.width, 5);
    ASSERT_EQ(crop.height, 4);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(crop.pixels[Offset(y * 5 + x)],
                      image.pixels[Offset((y + 1) * 9 + x + 2)]);
        }
    }
    const Velmora::Area2D outside[] = {{5, 0, 5, 1}, {0, 0, 0, 1}, {-1, 0, 2, 2},
                                       {0, 3, 1, 4}, {2147483647, 0, 1, 1}};
    for (const Velmora::Area2D& area : outside) {
        EXPECT_EQ(Velmora::CropImage(image, area).width, 0) << area.x << "," << area.y << " " << area.w
                                                            << "x" << area.h;
    }
}

// The pixel the atlas must hold at (x, y): the nearest frame pixel when (x, y)
// lies within `extrude` of a frame (Chebyshev distance, later frames win),
// else 0.
uint32_t Expected(const std::vector<Image>& images, const std::vector<Point2D>& at, int32_t extrude,
                  int32_t x, int32_t y) {
    uint32_t value = 0;
    for (size_t i = 0; i < images.size(); ++i) {
        const Image& image = images[i];
        const int32_t dx = x - at[i].x;
        const int32_t dy = y - at[i].y;
        if (dx < -extrude || dy < -extrude || dx >= image.width + extrude || dy >= image.height + extrude) {
            continue;
        }
        const int32_t sx = std::clamp(dx, 0, image.width - 1);
        const int32_t sy = std::clamp(dy, 0, image.height - 1);
        value = image.pixels[Offset(sy * image.width + sx)];
    }
    return value;
}

TEST(ComposeAtlas, FramesAndExtrusionMatchAPerPixelReference) {
    const std::vector<Image> images = {Filled(1, 1, 2), Filled(5, 3, 3), Filled(2, 7, 4)};
    for (const int32_t extrude : {0, 1, 3}) {
        const std::vector<Point2D> at = {{0, 0}, {4, 2}, {13, 1}};  // the first is clipped at the edge
        Image atlas;
        ASSERT_TRUE(Velmora::ComposeAtlas(images, at, 16, 10, extrude, atlas)) << "extrude " << extrude;
        ASSERT_EQ(atlas.pixels.size(), 160U);
        for (int32_t y = 0; y < 10; ++y) {
            for (int32_t x = 0; x < 16; ++x) {
                ASSERT_EQ(atlas.pixels[Offset(y * 16 + x)], Expected(images, at, extrude, x, y))
                    << "pixel " << x << "," << y << " with extrude " << extrude;
            }
        }
    }
}

TEST(ComposeAtlas, RefusesWhatDoesNotFitAndLeavesTheAtlasAlone) {
    const std::vector<Image> one = {Filled(4, 4, 5)};
    struct Case {
        const char* what;
        std::vector<Image> images;
        std::vector<Point2D> at;
        int32_t width;
        int32_t height;
        int32_t extrude;
    };
    const Case cases[] = {
        {"past the right edge", one, {{13, 0}}, 16, 16, 0},
        {"negative position", one, {{-1, 0}}, 16, 16, 0},
        {"positions missing", one, {}, 16, 16, 0},
        {"invalid atlas size", one, {{0, 0}}, 0, 16, 0},
        {"atlas above the side limit", one, {{0, 0}}, 16385, 1, 0},
        {"negative extrusion", one, {{0, 0}}, 16, 16, -1},
        {"invalid image", {Image{}}, {{0, 0}}, 16, 16, 0},
    };
    for (const Case& c : cases) {
        Image atlas = Filled(2, 2, 9);
        const Image before = atlas;
        EXPECT_FALSE(Velmora::ComposeAtlas(c.images, c.at, c.width, c.height, c.extrude, atlas)) << c.what;
        EXPECT_EQ(atlas.pixels, before.pixels) << c.what;
    }
}

// A blank image is ComposeAtlas's with no frames, whoever lends threads;
// a large one is touched first on the lent threads, a small one never; a
// size out of range is refused and the image left as it was.
TEST(BlankImage, IsAnEmptyAtlasAndUsesTheLentThreadsOnlyWhenLarge) {
    size_t tasks = 0;
    const Velmora::Workers inOrder{2, [&tasks](size_t count, const std::function<void(size_t)>& task) {
                                       for (size_t k = 0; k < count; ++k) task(k);
                                       tasks += count;
                                   }};
    const Velmora::Workers none{};
    struct Case {
        int32_t width;
        int32_t height;
        bool lent;        // with threads to lend
        bool usesThreads;
    };
    const Case cases[] = {
        {1, 1, true, false},     {16, 10, false, false},    {16, 10, true, false},
        {2048, 1024, false, false}, {2048, 1024, true, true}, {Velmora::kMaxImageSide, 300, true, true},
    };
    for (const Case& c : cases) {
        tasks = 0;
        Image blank = Filled(3, 3, 1);
        ASSERT_TRUE(Velmora::BlankImage(c.width, c.height, c.lent ? inOrder : none, blank)) << c.width;
        Image reference;
        ASSERT_TRUE(Velmora::ComposeAtlas({}, {}, c.width, c.height, 0, reference));
        EXPECT_EQ(blank.width, c.width);
        EXPECT_EQ(blank.height, c.height);
        EXPECT_TRUE(blank.pixels == reference.pixels) << c.width << "x" << c.height;
#ifdef __linux__
        // Elsewhere there is no way to fault pages in ahead.
        EXPECT_EQ(tasks > 1, c.usesThreads) << c.width << "x" << c.height << ": " << tasks << " tasks";
#endif
    }
    for (const auto& [width, height] : {std::pair<int32_t, int32_t>{0, 4}, {4, -1}, {Velmora::kMaxImageSide + 1, 1}}) {
        Image kept = Filled(2, 2, 9);
        const Image before = kept;
        EXPECT_FALSE(Velmora::BlankImage(width, height, inOrder, kept)) << width << "x" << height;
        EXPECT_EQ(kept.pixels, before.pixels);
        EXPECT_EQ(kept.width, 2);
    }
}

// Frames copied one by one into a blank atlas give what ComposeAtlas gives;
// a frame that does not lie wholly inside is refused and nothing copied.
TEST(CopyIntoImage, CopiesAsComposeAtlasAndRefusesWhatDoesNotFit) {
    const std::vector<Image> images = {Filled(1, 1, 2), Filled(5, 3, 3), Filled(2, 7, 4)};
    const std::vector<Point2D> at = {{0, 0}, {4, 2}, {14, 3}};  // the last touches both far edges
    Image composed;
    ASSERT_TRUE(Velmora::ComposeAtlas(images, at, 16, 10, 0, composed));
    Image copied;
    ASSERT_TRUE(Velmora::ComposeAtlas({}, {}, 16, 10, 0, copied));
    for (size_t i = images.size(); i-- > 0;) {
        EXPECT_TRUE(Velmora::CopyIntoImage(images[i], at[i], copied)) << i;
    }
    EXPECT_EQ(copied.pixels, composed.pixels);

    const struct {
        const char* what;
        Image image;
        Point2D at;
    } refused[] = {
        {"past the right edge", Filled(4, 4, 5), {13, 0}},
        {"past the bottom edge", Filled(4, 4, 5), {0, 7}},
        {"negative position", Filled(4, 4, 5), {0, -1}},
        {"invalid image", Image{}, {0, 0}},
    };
    for (const auto& c : refused) {
        const Image before = copied;
        EXPECT_FALSE(Velmora::CopyIntoImage(c.image, c.at, copied)) << c.what;
        EXPECT_EQ(copied.pixels, before.pixels) << c.what;
    }
    Image invalid;
    EXPECT_FALSE(Velmora::CopyIntoImage(images[0], {0, 0}, invalid));
}

TEST(FindDuplicateImages, PointsEveryCopyAtItsFirstOccurrence) {
    const Image a = Filled(3, 2, 10);
    const Image b = Filled(3, 2, 11);
    Image sameBytesOtherShape = a;
    sameBytesOtherShape.width = 2;
    sameBytesOtherShape.height = 3;
    const std::vector<Image> images = {a, b, a, sameBytesOtherShape, b, Image{}, Image{}};
    const std::vector<size_t> expected = {0, 1, 0, 3, 1, 5, 6};
    EXPECT_EQ(Velmora::FindDuplicateImages(images), expected);
}

}  // namespace
