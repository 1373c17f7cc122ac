// Layered sprite files made by tests/support/aseprite_writer.h, decoded and
// flattened: colour modes, visibility, opacity, every blend mode against the
// plain model, linked cels, z-index, clipping, palettes, tilemaps, composed
// groups, tags and durations, and damaged files.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "io/aseprite.h"
#include "support/aseprite_writer.h"
#include "support/blend_reference.h"
#include "velmora/blend.h"

namespace {

namespace W = VelmoraTest::Ase;
using Velmora::Io::AsepriteDirection;
using Velmora::Io::AsepriteSprite;
using Velmora::Io::DecodeAseprite;

uint32_t Rgba(int r, int g, int b, int a) {
    return static_cast<uint32_t>(r) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b) << 16 |
           static_cast<uint32_t>(a) << 24;
}
const uint32_t kRed = Rgba(255, 0, 0, 255);
const uint32_t kBlue = Rgba(0, 0, 255, 255);

AsepriteSprite Decode(const W::Bytes& bytes) {
    AsepriteSprite sprite;
    std::string error;
    EXPECT_TRUE(DecodeAseprite(bytes, sprite, error)) << error;
    return sprite;
}

std::string DecodeError(const W::Bytes& bytes) {
    AsepriteSprite sprite;
    sprite.width = 77;
    std::string error;
    EXPECT_FALSE(DecodeAseprite(bytes, sprite, error));
    EXPECT_EQ(sprite.width, 77) << "a failed decode touched the sprite";
    EXPECT_TRUE(sprite.frames.empty());
    return error;
}

W::Cel Solid(uint16_t layer, uint32_t colour, int16_t x = 0, int16_t y = 0) {
    W::Cel cel;
    cel.layer = layer;
    cel.x = x;
    cel.y = y;
    cel.width = 1;
    cel.height = 1;
    cel.pixels = W::Rgba({colour});
    return cel;
}

// One frame of `layers` and `cels` on a width x height RGBA canvas.
W::File OneFrame(uint16_t width, uint16_t height, const std::vector<W::Layer>& layers, const std::vector<W::Cel>& cels) {
    W::File file;
    file.width = width;
    file.height = height;
    W::Frame frame;
    for (const W::Layer& layer : layers) frame.chunks.push_back(W::LayerChunk(layer));
    for (const W::Cel& cel : cels) frame.chunks.push_back(W::CelChunk(cel));
    file.frames.push_back(frame);
    return file;
}

TEST(Aseprite, ColourModes) {
    struct Case {
        const char* name;
        uint16_t depth;
        W::Bytes pixels;  // a 3 x 1 cel
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {"rgba", 32, W::Rgba({Rgba(10, 20, 30, 255), Rgba(1, 2, 3, 4), 0}),
         {Rgba(10, 20, 30, 255), Rgba(1, 2, 3, 4), 0}},
        {"grayscale", 16, {100, 255, 50, 128, 0, 0}, {Rgba(100, 100, 100, 255), Rgba(50, 50, 50, 128), 0}},
        {"indexed", 8, {1, 2, 0}, {Rgba(200, 0, 0, 255), Rgba(0, 0, 200, 128), 0}},
    };
    for (const Case& c : cases) {
        W::Cel cel;
        cel.width = 3;
        cel.height = 1;
        cel.pixels = c.pixels;
        W::File file = OneFrame(3, 1, {W::Layer{}}, {cel});
        file.depth = c.depth;
        file.frames[0].chunks.insert(file.frames[0].chunks.begin(),
                                     W::PaletteChunk(4, 0, {Rgba(1, 1, 1, 255), Rgba(200, 0, 0, 255), Rgba(0, 0, 200, 128)}));
        const AsepriteSprite sprite = Decode(file.Build());
        ASSERT_EQ(sprite.frames.size(), 1U) << c.name;
        EXPECT_EQ(sprite.width, 3);
        EXPECT_EQ(sprite.height, 1);
        EXPECT_EQ(sprite.frames[0].image.pixels, c.expected) << c.name;
    }
}

TEST(Aseprite, IndexedBackgroundStartsInTheTransparentIndexColour) {
    struct Case {
        uint16_t flags;  // of the layer holding the cel
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {1 | 8, {Rgba(9, 8, 7, 255), Rgba(200, 0, 0, 255)}},  // visible background: index 3 is skipped, fill shows
        {8, {0, 0}},                                          // hidden background: nothing
        {1, {0, Rgba(200, 0, 0, 255)}},                       // ordinary layer: transparent start
    };
    for (const Case& c : cases) {
        W::Layer layer;
        layer.flags = c.flags;
        W::Cel cel;
        cel.width = 2;
        cel.height = 1;
        cel.pixels = {3, 1};
        W::File file = OneFrame(2, 1, {layer}, {cel});
        file.depth = 8;
        file.transparentIndex = 3;
        file.frames[0].chunks.insert(file.frames[0].chunks.begin(),
                                     W::PaletteChunk(4, 0, {0, Rgba(200, 0, 0, 255), 0, Rgba(9, 8, 7, 255)}));
        EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels, c.expected) << c.flags;
    }
}

TEST(Aseprite, VisibilityOfLayersGroupsAndReferences) {
    struct Case {
        const char* name;
        std::vector<W::Layer> layers;
        uint16_t celLayer;
        uint32_t expected;
    };
    W::Layer group;
    group.type = 1;
    W::Layer hiddenGroup = group;
    hiddenGroup.flags = 0;
    W::Layer child;
    child.level = 1;
    W::Layer hidden;
    hidden.flags = 0;
    W::Layer reference;
    reference.flags = 1 | 64;
    W::Layer nested = group;
    nested.level = 1;
    W::Layer grandchild;
    grandchild.level = 2;
    const Case cases[] = {
        {"visible", {W::Layer{}}, 0, kRed},
        {"hidden layer", {hidden}, 0, 0},
        {"in a visible group", {group, child}, 1, kRed},
        {"in a hidden group", {hiddenGroup, child}, 1, 0},
        {"two levels under a hidden group", {hiddenGroup, nested, grandchild}, 2, 0},
        {"two levels under visible groups", {group, nested, grandchild}, 2, kRed},
        {"after leaving a hidden group", {hiddenGroup, child, W::Layer{}}, 2, kRed},
        {"reference layer", {reference}, 0, 0},
        // A deeper level after an image layer cannot nest in it: a sibling.
        {"deeper level after a hidden image layer", {hidden, child}, 1, kRed},
    };
    for (const Case& c : cases) {
        const W::File file = OneFrame(1, 1, c.layers, {Solid(c.celLayer, kRed)});
        EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels[0], c.expected) << c.name;
    }
}

TEST(Aseprite, LayerOpacityCountsOnlyWithTheHeaderFlag) {
    struct Case {
        uint32_t headerFlags;
        uint8_t layerOpacity;
        uint8_t celOpacity;
        uint32_t expected;
    };
    const Case cases[] = {
        {1, 128, 255, Rgba(255, 0, 0, 128)},
        {0, 128, 255, Rgba(255, 0, 0, 255)},
        {1, 128, 128, Rgba(255, 0, 0, 64)},
        {0, 128, 128, Rgba(255, 0, 0, 128)},
        // Nothing of the cel shows, but over a transparent start its colour stays.
        {1, 255, 0, Rgba(255, 0, 0, 0)},
    };
    for (const Case& c : cases) {
        W::Layer layer;
        layer.opacity = c.layerOpacity;
        W::Cel cel = Solid(0, kRed);
        cel.opacity = c.celOpacity;
        W::File file = OneFrame(1, 1, {layer}, {cel});
        file.flags = c.headerFlags;
        EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels[0], c.expected)
            << c.headerFlags << " " << int{c.layerOpacity} << " " << int{c.celOpacity};
    }
}

TEST(Aseprite, EveryBlendModeMatchesThePlainModel) {
    const std::vector<uint32_t> backdrops = {Rgba(200, 100, 50, 255), Rgba(10, 240, 130, 180), Rgba(77, 77, 200, 90),
                                             Rgba(0, 0, 0, 0), Rgba(255, 255, 255, 255), Rgba(51, 51, 204, 255)};
    const std::vector<uint32_t> sources = {Rgba(30, 60, 90, 255), Rgba(250, 5, 128, 200), Rgba(128, 128, 128, 40),
                                           Rgba(90, 180, 20, 255), Rgba(0, 0, 0, 0), Rgba(255, 0, 0, 255)};
    struct Opacity {
        uint8_t cel, layer;
    };
    for (const Opacity o : {Opacity{230, 200}, Opacity{255, 255}}) {
        for (uint16_t mode = 0; mode < Velmora::kBlendModeCount; ++mode) {
            W::Layer top;
            top.blend = mode;
            top.opacity = o.layer;
            W::Cel bottom;
            bottom.width = 6;
            bottom.height = 1;
            bottom.pixels = W::Rgba(backdrops);
            W::Cel over = bottom;
            over.layer = 1;
            over.opacity = o.cel;
            over.pixels = W::Rgba(sources);
            const W::File file = OneFrame(6, 1, {W::Layer{}, top}, {bottom, over});
            const AsepriteSprite sprite = Decode(file.Build());
            const int opacity = VelmoraTest::BlendRef::Mul(o.cel, o.layer);
            for (size_t i = 0; i < sources.size(); ++i) {
                // A fully transparent source pixel is the mask colour: not drawn.
                const uint32_t want =
                    sources[i] == 0 ? backdrops[i] : VelmoraTest::BlendRef::Blend(mode, backdrops[i], sources[i], opacity);
                EXPECT_EQ(sprite.frames[0].image.pixels[i], want) << "mode " << mode << " pixel " << i;
            }
        }
    }
}

TEST(Aseprite, LinkedCelsTakeTheImageAndTheirOwnPlace) {
    W::File file = OneFrame(3, 1, {W::Layer{}}, {Solid(0, kRed)});
    W::Cel link;
    link.type = 1;
    link.x = 2;
    link.linkedFrame = 0;
    file.frames.push_back(W::Frame{100, {W::CelChunk(link)}});
    link.linkedFrame = 1;  // a link to a link
    link.x = 1;
    file.frames.push_back(W::Frame{100, {W::CelChunk(link)}});
    link.linkedFrame = 9;  // nothing there: no cel
    file.frames.push_back(W::Frame{100, {W::CelChunk(link)}});
    const AsepriteSprite sprite = Decode(file.Build());
    ASSERT_EQ(sprite.frames.size(), 4U);
    EXPECT_EQ(sprite.frames[0].image.pixels, (std::vector<uint32_t>{kRed, 0, 0}));
    EXPECT_EQ(sprite.frames[1].image.pixels, (std::vector<uint32_t>{0, 0, kRed}));
    EXPECT_EQ(sprite.frames[2].image.pixels, (std::vector<uint32_t>{0, kRed, 0}));
    EXPECT_EQ(sprite.frames[3].image.pixels, (std::vector<uint32_t>{0, 0, 0}));
}

TEST(Aseprite, ZIndexReordersCels) {
    struct Case {
        int16_t zRed;  // layer 0
        int16_t zBlue;  // layer 1
        uint32_t top;
    };
    const Case cases[] = {{0, 0, kBlue}, {0, -1, kRed}, {1, 0, kRed}, {2, 0, kRed}, {0, 1, kBlue}, {-1, 1, kBlue}};
    for (const Case& c : cases) {
        W::Cel red = Solid(0, kRed);
        red.z = c.zRed;
        W::Cel blue = Solid(1, kBlue);
        blue.z = c.zBlue;
        const W::File file = OneFrame(1, 1, {W::Layer{}, W::Layer{}}, {red, blue});
        EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels[0], c.top) << c.zRed << " " << c.zBlue;
    }
}

// The background layer goes down first, even under a cel moved below it.
TEST(Aseprite, BackgroundLayerIsDrawnFirst) {
    W::Layer background;
    background.flags = 1 | 8;
    W::Cel blue = Solid(1, kBlue);
    blue.z = -5;
    const W::File file = OneFrame(1, 1, {background, W::Layer{}}, {Solid(0, kRed), blue});
    EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels[0], kBlue);
}

TEST(Aseprite, CelsPartlyOutsideTheCanvasAreClipped) {
    struct Case {
        int16_t x, y;
        uint16_t type;  // raw or compressed
        std::vector<uint32_t> expected;  // 3 x 2 canvas
    };
    const uint32_t a = Rgba(1, 0, 0, 255), b = Rgba(2, 0, 0, 255), c = Rgba(3, 0, 0, 255), d = Rgba(4, 0, 0, 255);
    const Case cases[] = {
        {0, 0, 2, {a, b, 0, c, d, 0}},   {-1, -1, 0, {d, 0, 0, 0, 0, 0}}, {2, 1, 2, {0, 0, 0, 0, 0, a}},
        {2, -1, 0, {0, 0, c, 0, 0, 0}},  {3, 0, 2, {0, 0, 0, 0, 0, 0}},   {-32768, -32768, 2, {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& k : cases) {
        W::Cel cel;
        cel.x = k.x;
        cel.y = k.y;
        cel.type = k.type;
        cel.width = 2;
        cel.height = 2;
        cel.pixels = W::Rgba({a, b, c, d});
        const W::File file = OneFrame(3, 2, {W::Layer{}}, {cel});
        EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels, k.expected) << k.x << "," << k.y;
    }
}

TEST(Aseprite, PalettesOldAndNewPerFrame) {
    struct Case {
        const char* name;
        std::vector<W::Bytes> frame0;  // palette chunks before the cel
        std::vector<W::Bytes> frame1;
        uint32_t expected0;
        uint32_t expected1;
    };
    const Case cases[] = {
        {"old 8-bit", {W::OldPaletteChunk(0x0004, 1, {0x1E140A})}, {}, Rgba(10, 20, 30, 255), Rgba(10, 20, 30, 255)},
        {"old 6-bit", {W::OldPaletteChunk(0x0011, 1, {0x3F2000})}, {}, Rgba(0, 130, 255, 255), Rgba(0, 130, 255, 255)},
        {"new wins over old",
         {W::PaletteChunk(2, 1, {Rgba(1, 2, 3, 255)}), W::OldPaletteChunk(0x0004, 1, {0x1E140A})},
         {},
         Rgba(1, 2, 3, 255),
         Rgba(1, 2, 3, 255)},
        {"changed in frame 1",
         {W::PaletteChunk(2, 1, {Rgba(1, 2, 3, 255)})},
         {W::PaletteChunk(2, 1, {Rgba(7, 8, 9, 100)})},
         Rgba(1, 2, 3, 255),
         Rgba(7, 8, 9, 100)},
    };
    for (const Case& k : cases) {
        W::File file;
        file.width = 1;
        file.height = 1;
        file.depth = 8;
        W::Cel cel;
        cel.width = 1;
        cel.height = 1;
        cel.pixels = {1};
        W::Frame f0;
        f0.chunks = k.frame0;
        f0.chunks.push_back(W::LayerChunk(W::Layer{}));
        f0.chunks.push_back(W::CelChunk(cel));
        W::Frame f1;
        f1.chunks = k.frame1;
        f1.chunks.push_back(W::CelChunk(cel));
        file.frames = {f0, f1};
        const AsepriteSprite sprite = Decode(file.Build());
        ASSERT_EQ(sprite.frames.size(), 2U);
        EXPECT_EQ(sprite.frames[0].image.pixels[0], k.expected0) << k.name;
        EXPECT_EQ(sprite.frames[1].image.pixels[0], k.expected1) << k.name;
    }
}

TEST(Aseprite, TilemapLayersDrawFromTheirTileset) {
    // Tiles of 2 x 1: 0 empty, 1 = a b, 2 = c d.
    const uint32_t a = Rgba(1, 0, 0, 255), b = Rgba(2, 0, 0, 255), c = Rgba(3, 0, 0, 255), d = Rgba(4, 0, 0, 255);
    W::Layer tilemap;
    tilemap.type = 2;
    tilemap.tileset = 7;
    W::Cel cel;
    cel.type = 3;
    cel.x = 1;
    cel.width = 4;  // tiles
    cel.height = 1;
    cel.tiles = {1, 2, 0, 5};  // 5 is past the tileset: nothing
    W::File file = OneFrame(9, 1, {tilemap}, {cel});
    file.frames[0].chunks.insert(file.frames[0].chunks.begin(), W::TilesetChunk(7, 3, 2, 1, W::Rgba({0, 0, a, b, c, d})));
    EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels, (std::vector<uint32_t>{0, a, b, c, d, 0, 0, 0, 0}));

    file.frames[0].chunks.back() = [&cel] {
        W::Cel flipped = cel;
        flipped.flipBits = 0x20000000U;
        return W::CelChunk(flipped);
    }();
    EXPECT_EQ(DecodeError(file.Build()), "flipped tiles are not supported in frame 0");
}

TEST(Aseprite, GroupOpacityAndModeOnlyWhenGroupsAreComposed) {
    struct Case {
        uint32_t headerFlags;
        uint16_t groupBlend;
        uint32_t expected;  // red in a group over a blue backdrop layer
    };
    const uint32_t half = VelmoraTest::BlendRef::Blend(0, kBlue, kRed, 128);
    const uint32_t multiplied = VelmoraTest::BlendRef::Blend(1, kBlue, kRed, 128);
    const Case cases[] = {{1, 0, kRed}, {1 | 2, 0, half}, {1 | 2, 1, multiplied}, {1, 1, kRed}};
    for (const Case& c : cases) {
        W::Layer group;
        group.type = 1;
        group.opacity = 128;
        group.blend = c.groupBlend;
        W::Layer child;
        child.level = 1;
        W::File file = OneFrame(1, 1, {W::Layer{}, group, child}, {Solid(0, kBlue), Solid(2, kRed)});
        file.flags = c.headerFlags;
        EXPECT_EQ(Decode(file.Build()).frames[0].image.pixels[0], c.expected) << c.headerFlags << " " << c.groupBlend;
    }
}

TEST(Aseprite, TagsAndDurations) {
    W::File file;
    file.width = 1;
    file.height = 1;
    file.speed = 77;
    for (const int ms : {50, 0, 65535, 10}) file.frames.push_back(W::Frame{static_cast<uint16_t>(ms), {}});
    file.frames[0].chunks.push_back(W::LayerChunk(W::Layer{}));
    file.frames[0].chunks.push_back(W::TagsChunk({{0, 3, 0, 0, "walk"},
                                                  {1, 2, 1, 1, "back"},
                                                  {0, 2, 2, 2, "bounce"},
                                                  {2, 3, 3, 5, "ecnuob"},
                                                  {2, 9, 7, 0, "clamped"}}));
    const AsepriteSprite sprite = Decode(file.Build());
    ASSERT_EQ(sprite.frames.size(), 4U);
    const int32_t durations[] = {50, 77, 65535, 10};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(sprite.frames[i].durationMs, durations[i]) << i;
    struct Want {
        const char* name;
        int32_t from, to;
        AsepriteDirection direction;
        int32_t repeat;
    };
    const Want want[] = {{"walk", 0, 3, AsepriteDirection::Forward, 0},
                         {"back", 1, 2, AsepriteDirection::Reverse, 1},
                         {"bounce", 0, 2, AsepriteDirection::PingPong, 2},
                         {"ecnuob", 2, 3, AsepriteDirection::PingPongReverse, 5},
                         {"clamped", 2, 3, AsepriteDirection::Forward, 0}};
    ASSERT_EQ(sprite.tags.size(), 5U);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(sprite.tags[i].name, want[i].name);
        EXPECT_EQ(sprite.tags[i].from, want[i].from) << i;
        EXPECT_EQ(sprite.tags[i].to, want[i].to) << i;
        EXPECT_EQ(sprite.tags[i].direction, want[i].direction) << i;
        EXPECT_EQ(sprite.tags[i].repeat, want[i].repeat) << i;
    }
}

W::Bytes Sample() {
    W::File file = OneFrame(2, 2, {W::Layer{}}, {Solid(0, kRed)});
    file.frames[0].chunks.push_back(W::TagsChunk({{0, 0, 0, 0, "idle"}}));
    return file.Build();
}

TEST(Aseprite, DamagedFilesAreRefusedWithAReason) {
    struct Case {
        const char* expected;
        std::function<void(W::Bytes&)> damage;
    };
    const auto cel = [](uint16_t type, W::Bytes data) {
        W::Bytes d = {0, 0, 0, 0, 0, 0, 255};
        W::Put(d, type, 2);
        W::Zeros(d, 7);
        d.insert(d.end(), data.begin(), data.end());
        return W::Chunk(0x2005, d);
    };
    const auto withChunk = [](const W::Bytes& chunk) {
        return [chunk](W::Bytes& bytes) {
            W::File file = OneFrame(2, 2, {W::Layer{}}, {});
            file.frames[0].chunks.push_back(chunk);
            bytes = file.Build();
        };
    };
    const Case cases[] = {
        {"empty file", [](W::Bytes& b) { b.clear(); }},
        {"file ends early", [](W::Bytes& b) { b.resize(100); }},
        {"not an Aseprite file", [](W::Bytes& b) { b[4] = 0; }},
        {"unknown colour depth 24", [](W::Bytes& b) { b[12] = 24; }},
        {"no frames", [](W::Bytes& b) { b[6] = 0; }},
        {"canvas of 0 pixels", [](W::Bytes& b) { b[8] = 0; }},
        {"wider than 16384 pixels", [](W::Bytes& b) { W::Bytes w; W::Put(w, 16385, 2); b[8] = w[0]; b[9] = w[1]; }},
        {"more frame pixels than the file's size allows",
         [](W::Bytes& b) { b[8] = 0; b[9] = 0x40; b[10] = 0; b[11] = 0x40; }},
        {"file ends early", [](W::Bytes& b) { b[6] = 2; }},
        {"bad frame header in frame 0", [](W::Bytes& b) { b[132] = 0; }},
        {"file ends early", [](W::Bytes& b) { b[130] = 0x10; }},
        {"bad chunk size in frame 0", [](W::Bytes& b) { b[144] = 0xFF; }},
        {"bad cel data in frame 0", withChunk(cel(2, {1, 0, 1, 0, 0x78, 0x01, 0xFF, 0xFF}))},
        {"bad cel data in frame 0", withChunk(cel(0, {2, 0, 2, 0, 1, 2, 3}))},
        {"unknown cel type in frame 0", withChunk(cel(9, {}))},
        {"bad tilemap cel in frame 0", withChunk(cel(3, {1, 0, 1, 0, 12, 0}))},
        {"unknown blend mode in layer 0", [](W::Bytes& b) {
             W::Layer layer;
             layer.blend = 19;
             b = OneFrame(1, 1, {layer}, {}).Build();
         }},
        {"unknown type of layer 0", [](W::Bytes& b) {
             W::Layer layer;
             layer.type = 3;
             b = OneFrame(1, 1, {layer}, {}).Build();
         }},
        {"bad tags in frame 0", withChunk(W::Chunk(0x2018, {5, 0}))},
        {"bad palette in frame 0", withChunk(W::Chunk(0x2019, {0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}))},
    };
    for (const Case& c : cases) {
        W::Bytes bytes = Sample();
        c.damage(bytes);
        EXPECT_EQ(DecodeError(bytes), c.expected);
    }
}

TEST(Aseprite, EveryTruncationIsRefused) {
    const W::Bytes whole = Sample();
    for (size_t length = 0; length < whole.size(); ++length) {
        const W::Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string error = DecodeError(cut);
        EXPECT_FALSE(error.empty()) << length;
    }
    EXPECT_EQ(Decode(whole).frames.size(), 1U);
}

}  // namespace
