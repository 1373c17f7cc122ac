// --atlas over several pages, read back through the strict readers of each
// format: every frame on one page with its exact pixels, the documents that
// tie the pages together, Unity identities that follow their page, and
// frames that stay on their page across re-packs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstddef>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "support/file_tree.h"
#include "support/godot_text_reader.h"
#include "support/json_reader.h"
#include "support/png_reader.h"
#include "support/sprites.h"
#include "support/unity_yaml_reader.h"
#include "io/png_io.h"
#include "velmora/image.h"

namespace {

using Velmora::Image;
using VelmoraTest::ReadText;
using VelmoraTest::Sprite;
using VelmoraTest::TempFolder;
using VelmoraTest::TreeOf;
using VelmoraTest::WriteText;
namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome Atlas(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = Velmora::Commands::RunAtlas(args, out, err);
    return Outcome{status, out.str(), err.str()};
}

void WritePng(const fs::path& path, const Image& image) {
    std::vector<uint8_t> png;
    std::string error;
    ASSERT_TRUE(Velmora::Io::EncodePng(image, png, error)) << error;
    WriteText(path, std::string(png.begin(), png.end()));
}

StrictJson::Value ReadJson(const fs::path& path) {
    StrictJson::Value value;
    std::string error;
    EXPECT_TRUE(StrictJson::Parse(ReadText(path), value, error)) << path << ": " << error;
    return value;
}

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

}  // namespace
