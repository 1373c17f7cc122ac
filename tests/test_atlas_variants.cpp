// --atlas output sets beyond one atlas, read back through the strict readers
// of each format. Pages: every frame on one page with its exact pixels, the
// documents that tie the pages together, Unity identities that follow their
// page, and frames that stay on their page across re-packs. Scale variants:
// a whole set per scale, sized and described for that scale.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/atlas_files.h"
#include "support/command_run.h"
#include "support/file_tree.h"
#include "support/godot_text_reader.h"
#include "support/json_reader.h"
#include "support/png_reader.h"
#include "support/sprites.h"
#include "support/unity_yaml_reader.h"
#include "io/png_io.h"
#include "velmora/image.h"

namespace {

using VelmoraTest::WritePng;
using VelmoraTest::ReadJson;

using Velmora::Image;
using VelmoraTest::ReadText;
using VelmoraTest::Sprite;
using VelmoraTest::TempFolder;
using VelmoraTest::TreeOf;
using VelmoraTest::WriteText;
namespace fs = std::filesystem;

using VelmoraTest::Atlas;
using VelmoraTest::Outcome;

StrictPng::File ReadPng(const fs::path& path) {
    const std::string bytes = ReadText(path);
    StrictPng::File file;
    std::string error;
    EXPECT_TRUE(StrictPng::Read(std::vector<uint8_t>(bytes.begin(), bytes.end()), file, error)) << path << ": " << error;
    return file;
}

struct Rect {
    int x, y, w, h;
    bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

Rect RectOf(const StrictJson::Value& frame) {
    const StrictJson::Value& r = *frame.Get("frame");
    return Rect{static_cast<int>(r.Num("x")), static_cast<int>(r.Num("y")), static_cast<int>(r.Num("w")),
                static_cast<int>(r.Num("h"))};
}

// Where each frame is: its page and rectangle, from the page JSON files.
struct Placement {
    size_t page;
    Rect rect;
};

std::map<std::string, Placement> ReadPages(const fs::path& folder, const std::string& base, size_t pages) {
    std::map<std::string, Placement> where;
    for (size_t p = 0; p < pages; ++p) {
        const StrictJson::Value sheet = ReadJson(folder / (base + "-" + std::to_string(p) + ".json"));
        const StrictJson::Value* frames = sheet.Get("frames");
        if (frames == nullptr) {
            ADD_FAILURE() << "page " << p << " has no frames";
            continue;
        }
        for (const auto& [name, frame] : frames->members) {
            EXPECT_EQ(where.count(name), 0U) << name << " is on two pages";
            where[name] = Placement{p, RectOf(frame)};
        }
    }
    return where;
}

// The page a document says `name` is on, failing when no page JSON has it.
size_t PageOf(const std::map<std::string, Placement>& where, const std::string& name) {
    const auto it = where.find(name);
    if (it == where.end()) {
        ADD_FAILURE() << "'" << name << "' is on no page";
        return SIZE_MAX;
    }
    return it->second.page;
}

std::string GuidOf(const fs::path& meta) {
    std::vector<UnityYaml::YamlLine> lines;
    std::string error;
    EXPECT_TRUE(UnityYaml::CheckUnityYaml(ReadText(meta), lines, error)) << meta << ": " << error;
    return UnityYaml::UnityValue(lines, 0, "guid");
}

size_t CountPages(const fs::path& folder, const std::string& base) {
    size_t pages = 0;
    while (fs::exists(folder / (base + "-" + std::to_string(pages) + ".png"))) ++pages;
    return pages;
}

// Sprites of distinct pixels; a 48 x 48 page holds one 32 x 32 or four
// 20 x 20, so these need several pages.
std::map<std::string, Image> MakeSprites(const fs::path& folder, const std::vector<std::string>& names) {
    std::map<std::string, Image> sprites;
    uint32_t seed = 1;
    for (const std::string& name : names) {
        const int32_t side = name.rfind("big", 0) == 0 ? 32 : 20;
        sprites[name] = Sprite(side, side, seed++);
        WritePng(folder / (name + ".png"), sprites[name]);
    }
    return sprites;
}

TEST(AtlasPages, EveryFrameIsOnOnePageWithItsPixelsAndEveryDocumentFindsIt) {
    const TempFolder dir;
    const auto sprites = MakeSprites(dir / "in", {"a_1", "a_2", "a_3", "big0", "big1", "c", "d", "e", "f", "g"});
    const Outcome run = Atlas({"--max-size", "48x48", "--normal-map", "-o", dir.Str("out/sheet"), dir.Str("in")});
    ASSERT_EQ(run.status, 0) << run.err;
    const size_t pages = CountPages(dir / "out", "sheet");
    ASSERT_GE(pages, 4U);
    EXPECT_NE(run.out.find("into " + std::to_string(pages) + " atlas pages"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(dir / "out/sheet.png")) << "one page's names are for a single atlas only";

    const auto where = ReadPages(dir / "out", "sheet", pages);
    ASSERT_EQ(where.size(), sprites.size());
    std::vector<StrictPng::File> images;
    for (size_t p = 0; p < pages; ++p) {
        images.push_back(ReadPng(dir / ("out/sheet-" + std::to_string(p) + ".png")));
        EXPECT_TRUE(fs::exists(dir / ("out/sheet-" + std::to_string(p) + "_n.png"))) << p;
    }
    for (const auto& [name, place] : where) {
        const Image& sprite = sprites.at(name);
        const StrictPng::File& page = images[place.page];
        ASSERT_EQ(place.rect.w, sprite.width) << name;
        for (int y = 0; y < sprite.height; ++y) {
            for (int x = 0; x < sprite.width; ++x) {
                const size_t at = static_cast<size_t>(place.rect.y + y) * page.width + static_cast<size_t>(place.rect.x + x);
                ASSERT_EQ(page.pixels[at], sprite.pixels[static_cast<size_t>(y * sprite.width + x)])
                    << name << " at " << x << "," << y;
            }
        }
    }

    // Page 0 names the others for PixiJS; each page names its own images.
    const StrictJson::Value first = ReadJson(dir / "out/sheet-0.json");
    const StrictJson::Value* related = first.Get("meta")->Get("related_multi_packs");
    ASSERT_NE(related, nullptr);
    ASSERT_EQ(related->items.size(), pages - 1);
    for (size_t p = 1; p < pages; ++p) {
        EXPECT_EQ(related->items[p - 1].text, "sheet-" + std::to_string(p) + ".json");
        const StrictJson::Value page = ReadJson(dir / ("out/sheet-" + std::to_string(p) + ".json"));
        EXPECT_EQ(page.Get("meta")->Get("image")->text, "sheet-" + std::to_string(p) + ".png");
        EXPECT_EQ(page.Get("meta")->Get("normal_map")->text, "sheet-" + std::to_string(p) + "_n.png");
        EXPECT_EQ(page.Get("meta")->Get("related_multi_packs"), nullptr);
    }
    // The sequence a_1..a_3 is listed by the page holding all of it, or by none.
    for (size_t p = 0; p < pages; ++p) {
        const StrictJson::Value page = ReadJson(dir / ("out/sheet-" + std::to_string(p) + ".json"));
        for (const auto& [animation, frames] : page.Get("animations")->members) {
            for (const StrictJson::Value& frame : frames.items) {
                EXPECT_EQ(PageOf(where, frame.text), p) << animation << " lists " << frame.text << " of another page";
            }
        }
    }

    // Phaser's multiatlas: one texture per page, frames as lists.
    const StrictJson::Value multi = ReadJson(dir / "out/sheet.multiatlas.json");
    const StrictJson::Value* textures = multi.Get("textures");
    ASSERT_NE(textures, nullptr);
    ASSERT_EQ(textures->items.size(), pages);
    size_t listed = 0;
    for (size_t p = 0; p < pages; ++p) {
        const StrictJson::Value& texture = textures->items[p];
        EXPECT_EQ(texture.Get("image")->text, "sheet-" + std::to_string(p) + ".png");
        EXPECT_EQ(texture.Get("normalMap")->text, "sheet-" + std::to_string(p) + "_n.png");
        EXPECT_EQ(texture.Get("size")->Num("w"), images[p].width);
        for (const StrictJson::Value& frame : texture.Get("frames")->items) {
            const std::string name = frame.Get("filename")->text;
            ASSERT_EQ(PageOf(where, name), p);
            EXPECT_TRUE(RectOf(frame) == where.at(name).rect) << name;
            ++listed;
        }
    }
    EXPECT_EQ(listed, sprites.size());

    // Godot: one SpriteFrames whose textures point at their pages, and each
    // per-frame file at its own page.
    const GodotText::Result frames = GodotText::Parse(ReadText(dir / "out/sheet.tres"));
    ASSERT_TRUE(frames.ok) << frames.error;
    std::map<std::string, std::string> pageOfId;  // ext_resource id -> its path
    for (const GodotText::Section* ext : frames.doc.All("ext_resource")) {
        pageOfId[ext->AttrText("id")] = ext->AttrText("path");
    }
    EXPECT_EQ(pageOfId.size(), 2 * pages);
    for (const auto& [name, place] : where) {
        const GodotText::Result own = GodotText::Parse(ReadText(dir / ("out/sheet/" + name + ".tres")));
        ASSERT_TRUE(own.ok) << name << ": " << own.error;
        const auto exts = own.doc.All("ext_resource");
        ASSERT_EQ(exts.size(), 2U) << name;
        EXPECT_EQ(exts[0]->AttrText("path"), "../sheet-" + std::to_string(place.page) + ".png") << name;
        const GodotText::Value* region = own.doc.All("resource").front()->Prop("region");
        ASSERT_NE(region, nullptr);
        EXPECT_EQ(region->numbers, (std::vector<double>{double(place.rect.x), double(place.rect.y),
                                                        double(place.rect.w), double(place.rect.h)}))
            << name;
    }

    // Unity: each page its own guid and its own frames.
    std::set<std::string> guids;
    size_t unitySprites = 0;
    for (size_t p = 0; p < pages; ++p) {
        const fs::path meta = dir / ("out/sheet-" + std::to_string(p) + ".png.meta");
        std::vector<UnityYaml::YamlLine> lines;
        std::string error;
        ASSERT_TRUE(UnityYaml::CheckUnityYaml(ReadText(meta), lines, error)) << error;
        guids.insert(UnityYaml::UnityValue(lines, 0, "guid"));
        guids.insert(GuidOf(dir / ("out/sheet-" + std::to_string(p) + "_n.png.meta")));
        for (const std::string& sprite : UnityYaml::ReadUnityNames(lines).fileIdKeys) {
            EXPECT_EQ(PageOf(where, sprite), p) << sprite;
            ++unitySprites;
        }
    }
    EXPECT_EQ(guids.size(), 2 * pages);
    EXPECT_EQ(unitySprites, sprites.size());
}

// Unity refers to a sprite by its page's guid: frames keep their page, and
// pages their guid, when sprites are added; going back to one page keeps
// page 0's guid and removes the pages' files.
TEST(AtlasPages, FramesAndGuidsStayWithTheirPagesAcrossRepacks) {
    const TempFolder dir;
    MakeSprites(dir / "in", {"b1", "b2", "b3", "b4", "b5", "b6", "b7", "b8", "b9"});
    const std::vector<std::string> args = {"--max-size", "48x48", "-o", dir.Str("out/sheet"), dir.Str("in")};
    ASSERT_EQ(Atlas(args).status, 0);
    const size_t pages = CountPages(dir / "out", "sheet");
    ASSERT_EQ(pages, 3U);
    const auto before = ReadPages(dir / "out", "sheet", pages);
    std::vector<std::string> guids;
    for (size_t p = 0; p < pages; ++p) guids.push_back(GuidOf(dir / ("out/sheet-" + std::to_string(p) + ".png.meta")));

    // New names sort first and in between: packed afresh they would push
    // the others along.
    MakeSprites(dir / "in", {"a0", "b45", "b85"});
    const Outcome again = Atlas(args);
    ASSERT_EQ(again.status, 0) << again.err;
    const size_t now = CountPages(dir / "out", "sheet");
    ASSERT_GE(now, pages);
    const auto after = ReadPages(dir / "out", "sheet", now);
    for (const auto& [name, place] : before) {
        EXPECT_EQ(PageOf(after, name), place.page) << name << " changed page";
    }
    for (size_t p = 0; p < pages; ++p) {
        EXPECT_EQ(GuidOf(dir / ("out/sheet-" + std::to_string(p) + ".png.meta")), guids[p]) << "page " << p;
    }

    // Room for everything on one page: the pages' files go, and the single
    // atlas is page 0 as Unity knew it.
    const Outcome one = Atlas({"--max-size", "256x256", "-o", dir.Str("out/sheet"), dir.Str("in")});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(CountPages(dir / "out", "sheet"), 0U);
    for (const std::string& file : TreeOf(dir / "out")) {
        EXPECT_EQ(file.find("sheet-"), std::string::npos) << file << " was left behind";
    }
    EXPECT_EQ(GuidOf(dir / "out/sheet.png.meta"), guids[0]);
}

// A frame's size in a scale's own pixels, as the variant's JSON gives it.
struct Sized {
    int w, h;
};

std::map<std::string, Sized> SourceSizes(const fs::path& json) {
    std::map<std::string, Sized> sizes;
    const StrictJson::Value sheet = ReadJson(json);
    for (const auto& [name, frame] : sheet.Get("frames")->members) {
        const StrictJson::Value& source = *frame.Get("sourceSize");
        sizes[name] = Sized{static_cast<int>(source.Num("w")), static_cast<int>(source.Num("h"))};
    }
    return sizes;
}

TEST(AtlasScales, EveryScaleIsAWholeSetSizedForItsScale) {
    const TempFolder dir;
    std::map<std::string, Image> sprites;
    sprites["odd"] = Sprite(33, 17, 1);
    sprites["even"] = Sprite(20, 8, 2);
    sprites["tiny"] = Sprite(1, 3, 3);
    for (const auto& [name, image] : sprites) WritePng(dir / ("in/" + name + ".png"), image);

    // Scale 1 is exactly what a run without --scale writes there.
    const Outcome plain = Atlas({"--normal-map", "-o", dir.Str("out/atlas"), dir.Str("in")});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::vector<std::string> single = {"atlas.png", "atlas.json", "atlas.tres", "atlas.png.meta",
                                             "atlas_n.png", "atlas_n.png.meta", "atlas/odd.tres"};
    std::map<std::string, std::string> before;
    for (const std::string& file : single) before[file] = ReadText(dir / ("out/" + file));
    const Outcome run = Atlas({"--normal-map", "--scale", "1,0.5,2", "-o", dir.Str("out/atlas"), dir.Str("in")});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string& file : single) {
        EXPECT_EQ(ReadText(dir / ("out/" + file)), before[file]) << file;
    }
    struct Case {
        const char* suffix;
        const char* scale;
        const char* pixelsPerUnit;
        // ceil(side * scale), at least 1
        std::map<std::string, std::pair<int, int>> sizes;
    };
    const Case cases[] = {
        {"", "1", "100", {{"odd", {33, 17}}, {"even", {20, 8}}, {"tiny", {1, 3}}}},
        {"@0.5x", "0.5", "50", {{"odd", {17, 9}}, {"even", {10, 4}}, {"tiny", {1, 2}}}},
        {"@2x", "2", "200", {{"odd", {66, 34}}, {"even", {40, 16}}, {"tiny", {2, 6}}}},
    };
    for (const Case& c : cases) {
        const std::string base = std::string("out/atlas") + c.suffix;
        const StrictJson::Value sheet = ReadJson(dir / (base + ".json"));
        EXPECT_EQ(sheet.Get("meta")->Get("scale")->text, c.scale) << c.suffix;
        EXPECT_EQ(sheet.Get("meta")->Get("image")->text, std::string("atlas") + c.suffix + ".png");
        const StrictPng::File png = ReadPng(dir / (base + ".png"));
        EXPECT_EQ(png.width, static_cast<uint32_t>(sheet.Get("meta")->Get("size")->Num("w"))) << c.suffix;
        for (const auto& [name, size] : SourceSizes(dir / (base + ".json"))) {
            EXPECT_EQ(size.w, c.sizes.at(name).first) << c.suffix << " " << name;
            EXPECT_EQ(size.h, c.sizes.at(name).second) << c.suffix << " " << name;
        }
        std::vector<UnityYaml::YamlLine> lines;
        std::string error;
        ASSERT_TRUE(UnityYaml::CheckUnityYaml(ReadText(dir / (base + ".png.meta")), lines, error)) << error;
        EXPECT_EQ(UnityYaml::UnityValue(lines, 2, "spritePixelsToUnits"), c.pixelsPerUnit) << c.suffix;
        EXPECT_TRUE(fs::exists(dir / (base + "_n.png"))) << c.suffix;
        const GodotText::Result frames = GodotText::Parse(ReadText(dir / (base + ".tres")));
        EXPECT_TRUE(frames.ok) << frames.error;
        EXPECT_EQ(frames.doc.All("ext_resource").front()->AttrText("path"), std::string("atlas") + c.suffix + ".png");
    }
    // Every variant has its own Unity identity.
    std::set<std::string> guids;
    for (const char* suffix : {"", "@0.5x", "@2x"}) {
        guids.insert(GuidOf(dir / (std::string("out/atlas") + suffix + ".png.meta")));
    }
    EXPECT_EQ(guids.size(), 3U);
}

// Soft edges keep their colour at half size (filtered with their alpha),
// and pixel art stays exact with --filter nearest.
TEST(AtlasScales, SoftEdgesKeepTheirColourAndPixelArtStaysExact) {
    const TempFolder dir;
    const uint32_t red = 0x0000E0U;
    // Hidden colour under the clear pixels: black, as painting programs leave it.
    WritePng(dir / "soft/disc.png", VelmoraTest::SoftDisc(64, 16, 30, red, 0));
    const Outcome soft = Atlas({"--scale", "0.5", "-o", dir.Str("out/soft"), dir.Str("soft")});
    ASSERT_EQ(soft.status, 0) << soft.err;
    const StrictPng::File half = ReadPng(dir / "out/soft@0.5x.png");
    Image decoded;
    decoded.width = static_cast<int32_t>(half.width);
    decoded.height = static_cast<int32_t>(half.height);
    decoded.pixels = half.pixels;
    size_t visible = 0;
    for (const uint32_t pixel : decoded.pixels) visible += (pixel >> 24) != 0 ? 1 : 0;
    EXPECT_GT(visible, 500U);
    EXPECT_EQ(VelmoraTest::CountFringePixels(decoded, red, 2), 0U);
    EXPECT_FALSE(fs::exists(dir / "out/soft.png")) << "only the scales asked for are written";

    Image checker;
    checker.width = 4;
    checker.height = 2;
    checker.pixels = {0xFF0000FFU, 0xFF00FF00U, 0xFFFF0000U, 0x00000000U,
                      0xFFFFFFFFU, 0xFF000000U, 0x80123456U, 0xFF0000FFU};
    WritePng(dir / "pixel/checker.png", checker);
    const Outcome nearest = Atlas({"--scale", "2", "--filter", "nearest", "-o", dir.Str("out/px"), dir.Str("pixel")});
    ASSERT_EQ(nearest.status, 0) << nearest.err;
    const StrictJson::Value sheet = ReadJson(dir / "out/px@2x.json");
    const Rect rect = RectOf(*sheet.Get("frames")->Get("checker"));
    ASSERT_EQ(rect.w, 8);
    const StrictPng::File big = ReadPng(dir / "out/px@2x.png");
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            const uint32_t want = checker.pixels[static_cast<size_t>(y / 2) * 4 + static_cast<size_t>(x / 2)];
            const size_t row = static_cast<size_t>(rect.y) + static_cast<size_t>(y);
            const size_t column = static_cast<size_t>(rect.x) + static_cast<size_t>(x);
            EXPECT_EQ(big.pixels[row * big.width + column], want)
                << x << "," << y;
        }
    }
}

// Pages of a scale variant are PREFIX-N@Sx, as PixiJS and AssetPack name
// them, and page 0 of each scale names its own scale's pages; packing again
// into the folder it reads takes none of them for frames.
TEST(AtlasScales, PagesOfAVariantCarryTheScaleAfterTheirNumber) {
    const TempFolder dir;
    MakeSprites(dir / "in", {"b1", "b2", "b3", "b4", "b5"});
    for (int run = 0; run < 2; ++run) {
        const Outcome packed =
            Atlas({"--scale", "2,1", "--max-size", "64x64", "-o", dir.Str("in/sheet"), dir.Str("in")});
        ASSERT_EQ(packed.status, 0) << packed.err;
        EXPECT_EQ(packed.out.find("Packed 5 frames"), 0U) << packed.out;
    }
    size_t pages = 0;
    while (fs::exists(dir / ("in/sheet-" + std::to_string(pages) + "@2x.png"))) ++pages;
    ASSERT_GE(pages, 2U);
    const StrictJson::Value first = ReadJson(dir / "in/sheet-0@2x.json");
    EXPECT_EQ(first.Get("meta")->Get("scale")->text, "2");
    const StrictJson::Value* related = first.Get("meta")->Get("related_multi_packs");
    ASSERT_NE(related, nullptr);
    ASSERT_EQ(related->items.size(), pages - 1);
    EXPECT_EQ(related->items[0].text, "sheet-1@2x.json");
    const StrictJson::Value multi = ReadJson(dir / "in/sheet@2x.multiatlas.json");
    EXPECT_EQ(multi.Get("textures")->items[0].Get("image")->text, "sheet-0@2x.png");
    EXPECT_TRUE(fs::exists(dir / "in/sheet.json")) << "scale 1 fits one page here";
}

// One scale that cannot be made stops the whole run before anything is
// written; a malformed --scale or --filter is a usage error.
TEST(AtlasScales, RefusalsWriteNothing) {
    const TempFolder dir;
    WritePng(dir / "in/wide.png", Sprite(1200, 4, 5));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--scale", "1,16"}, 2, "wide.png: at scale 16 19200x64 is larger than any atlas"},
        {{"--scale", "1,8", "--max-size", "4096x4096"}, 2, "do not fit the atlas size limit 4096x4096: wide"},
        {{"--scale", "0"}, 1, "--scale"},
        {{"--scale", "0.5,0.50"}, 1, "--scale"},
        {{"--filter", "bicubic"}, 1, "--filter"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", dir.Str("out/atlas"), dir.Str("in")});
        const Outcome run = Atlas(args);
        EXPECT_EQ(run.status, c.status) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir / "out")) << c.message << ": something was written";
    }
}

}  // namespace
