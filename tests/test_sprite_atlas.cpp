// --atlas with layered sprite files (.aseprite, .ase) among its inputs, the
// files written by the tests' own writer: frame names and sizes, trimming and
// the other per-frame options, each tag direction and repeat count as the
// JSON, Phaser's animations file and Godot's SpriteFrames play it, and
// broken files refused before anything is written.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "io/png_io.h"
#include "support/aseprite_writer.h"
#include "support/atlas_files.h"
#include "support/command_run.h"
#include "support/file_tree.h"
#include "support/godot_text_reader.h"
#include "support/json_reader.h"
#include "support/sprites.h"

namespace {

using VelmoraTest::WritePng;
using VelmoraTest::ReadJson;

namespace Ase = VelmoraTest::Ase;
using VelmoraTest::ReadText;
using VelmoraTest::TempFolder;
using VelmoraTest::TreeOf;
using VelmoraTest::WriteText;
namespace fs = std::filesystem;

using VelmoraTest::Atlas;
using VelmoraTest::Outcome;

struct Box {
    uint16_t x, y, w, h;
};

// A sprite of one layer: frame k a box of its own opaque colour (or of one
// colour for every frame with `same`), on a clear canvas.
Ase::Bytes SpriteFile(uint16_t width, uint16_t height, const std::vector<uint16_t>& durations,
                      const std::vector<Ase::Tag>& tags = {}, Box box = {0, 0, 0, 0}, bool same = false) {
    if (box.w == 0) box = Box{0, 0, width, height};
    Ase::File file;
    file.width = width;
    file.height = height;
    for (size_t k = 0; k < durations.size(); ++k) {
        Ase::Frame frame;
        frame.duration = durations[k];
        if (k == 0) {
            frame.chunks.push_back(Ase::LayerChunk(Ase::Layer{}));
            if (!tags.empty()) frame.chunks.push_back(Ase::TagsChunk(tags));
        }
        Ase::Cel cel;
        cel.x = static_cast<int16_t>(box.x);
        cel.y = static_cast<int16_t>(box.y);
        cel.width = box.w;
        cel.height = box.h;
        const uint32_t colour = 0xFF000000U | (same ? 0x3366AAU : 0x102030U * static_cast<uint32_t>(k + 1));
        cel.pixels = Ase::Rgba(std::vector<uint32_t>(size_t{box.w} * box.h, colour));
        frame.chunks.push_back(Ase::CelChunk(cel));
        file.frames.push_back(frame);
    }
    return file.Build();
}

void WriteBytes(const fs::path& path, const Ase::Bytes& bytes) { WriteText(path, std::string(bytes.begin(), bytes.end())); }

std::vector<std::string> Texts(const StrictJson::Value* list) {
    std::vector<std::string> out;
    if (list != nullptr) {
        for (const StrictJson::Value& item : list->items) out.push_back(item.text);
    }
    return out;
}

// A played animation: frame names with their times (ms), and how it ends.
struct Played {
    std::vector<std::string> frames;
    std::vector<double> ms;
    bool loops = false;
};

// Phaser's animation `key` of PREFIX.anims.json, expanded the way Phaser
// plays it: a yoyo comes back without showing the end twice, `repeat` more
// plays after the first (-1: for ever, one play listed).
struct PhaserAnim {
    std::vector<std::string> frames;
    std::vector<double> ms;
    bool yoyo = false;
    int repeat = 0;
    double duration = 0;
};

std::map<std::string, PhaserAnim> ReadPhaser(const fs::path& path, const std::string& textureKey) {
    std::map<std::string, PhaserAnim> out;
    const StrictJson::Value doc = ReadJson(path);
    EXPECT_EQ(doc.Num("globalTimeScale"), 1.0);
    const StrictJson::Value* anims = doc.Get("anims");
    if (anims == nullptr) {
        ADD_FAILURE() << path << " has no anims";
        return out;
    }
    for (const StrictJson::Value& anim : anims->items) {
        EXPECT_EQ(anim.Get("type")->text, "frame");
        PhaserAnim& a = out[anim.Get("key")->text];
        for (const StrictJson::Value& frame : anim.Get("frames")->items) {
            EXPECT_EQ(frame.Get("key")->text, textureKey);
            a.frames.push_back(frame.Get("frame")->text);
            a.ms.push_back(frame.Num("duration"));
        }
        a.yoyo = anim.Get("yoyo")->boolean;
        a.repeat = static_cast<int>(anim.Num("repeat"));
        a.duration = anim.Num("duration");
    }
    return out;
}

// Godot's animations with each frame's time: duration / speed seconds.
std::map<std::string, Played> ReadGodot(const fs::path& tres, const fs::path& json) {
    std::map<std::string, Played> out;
    const GodotText::Result parsed = GodotText::Parse(ReadText(tres));
    EXPECT_TRUE(parsed.ok) << parsed.error;
    if (!parsed.ok) return out;
    // Which frame each AtlasTexture shows, by its region in the JSON.
    std::map<std::vector<double>, std::string> byRegion;
    const StrictJson::Value sheet = ReadJson(json);
    for (const auto& [name, frame] : sheet.Get("frames")->members) {
        const StrictJson::Value& r = *frame.Get("frame");
        byRegion[{r.Num("x"), r.Num("y"), r.Num("w"), r.Num("h")}] = name;
    }
    const GodotText::Value* animations = parsed.doc.All("resource").at(0)->Prop("animations");
    for (const GodotText::Value& animation : animations->items) {
        Played& p = out[animation.Get("name")->text];
        const double speed = animation.Get("speed")->real;
        p.loops = animation.Get("loop")->boolean;
        for (const GodotText::Value& frame : animation.Get("frames")->items) {
            const GodotText::Section* texture = parsed.doc.SubResource(frame.Get("texture")->text);
            const std::vector<double>& region = texture->Prop("region")->numbers;
            p.frames.push_back(byRegion[region]);
            p.ms.push_back(frame.Get("duration")->real / speed * 1000.0);
        }
    }
    return out;
}

std::vector<std::string> Names(const std::string& file, const std::vector<int>& numbers) {
    std::vector<std::string> out;
    out.reserve(numbers.size());
    for (const int k : numbers) out.push_back(file + "/" + std::to_string(k));
    return out;
}

TEST(SpriteAtlas, FramesAreNamedByFileAndNumberWithTheCanvasAsTheirSize) {
    const TempFolder dir;
    WriteBytes(dir / "in/chars/hero.aseprite", SpriteFile(6, 5, {100, 100, 100}));
    WriteBytes(dir / "in/Blob.ASE", SpriteFile(3, 7, {100, 100}));
    WritePng(dir / "in/crate.png", VelmoraTest::Sprite(4, 4, 9));
    WriteBytes(dir / "one.Aseprite", SpriteFile(2, 2, {100}));
    const Outcome r = Atlas({"-o", dir.Str("out/s"), dir.Str("in"), dir.Str("one.Aseprite")});
    ASSERT_EQ(r.status, 0) << r.err;
    const StrictJson::Value sheet = ReadJson(dir / "out/s.json");
    struct Expect {
        std::string name;
        double w, h;
    };
    const std::vector<Expect> expected = {{"Blob/0", 3, 7},        {"Blob/1", 3, 7},        {"chars/hero/0", 6, 5},
                                          {"chars/hero/1", 6, 5},  {"chars/hero/2", 6, 5},  {"crate", 4, 4},
                                          {"one/0", 2, 2}};
    const auto& frames = sheet.Get("frames")->members;
    ASSERT_EQ(frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(frames[i].first, expected[i].name);
        EXPECT_EQ(frames[i].second.Get("sourceSize")->Num("w"), expected[i].w);
        EXPECT_EQ(frames[i].second.Get("sourceSize")->Num("h"), expected[i].h);
        // Only frames of layered files carry a time.
        EXPECT_EQ(frames[i].second.Get("duration") != nullptr, expected[i].name != "crate");
    }
    // Files without tags are one animation each; the PNG keeps its own.
    std::vector<std::string> animations;
    for (const auto& [name, list] : sheet.Get("animations")->members) animations.push_back(name);
    EXPECT_EQ(animations, (std::vector<std::string>{"Blob", "chars/hero", "crate", "one"}));
    EXPECT_EQ(Texts(sheet.Get("animations")->Get("chars/hero")), Names("chars/hero", {0, 1, 2}));
    EXPECT_TRUE(fs::exists(dir / "out/s/chars/hero/2.tres"));
}

TEST(SpriteAtlas, EachDirectionAndRepeatPlaysInEveryFormat) {
    // Frames 1..3 of five, 60, 80 and 100 ms: Godot's tick is 20 ms.
    const std::vector<uint16_t> durations = {40, 60, 80, 100, 120};
    struct Case {
        uint8_t direction;
        uint16_t repeat;
        std::vector<int> pass;          // the JSON's animation
        std::vector<int> phaser;        // Phaser's frames
        bool yoyo;
        int phaserRepeat;
        std::vector<int> godot;         // Godot's frames
        bool loops;
    };
    const std::vector<Case> cases = {
        {0, 0, {1, 2, 3}, {1, 2, 3}, false, -1, {1, 2, 3}, true},
        {0, 2, {1, 2, 3}, {1, 2, 3}, false, 1, {1, 2, 3, 1, 2, 3}, false},
        {1, 0, {3, 2, 1}, {3, 2, 1}, false, -1, {3, 2, 1}, true},
        {1, 1, {3, 2, 1}, {3, 2, 1}, false, 0, {3, 2, 1}, false},
        {2, 0, {1, 2, 3, 2}, {1, 2, 3}, true, -1, {1, 2, 3, 2}, true},
        {2, 1, {1, 2, 3, 2}, {1, 2, 3}, false, 0, {1, 2, 3}, false},
        {2, 2, {1, 2, 3, 2}, {1, 2, 3}, true, 0, {1, 2, 3, 2, 1}, false},
        {2, 3, {1, 2, 3, 2}, {1, 2, 3, 2, 1, 2, 3}, false, 0, {1, 2, 3, 2, 1, 2, 3}, false},
        {2, 4, {1, 2, 3, 2}, {1, 2, 3}, true, 1, {1, 2, 3, 2, 1, 2, 3, 2, 1}, false},
        {3, 0, {3, 2, 1, 2}, {3, 2, 1}, true, -1, {3, 2, 1, 2}, true},
        {3, 1, {3, 2, 1, 2}, {3, 2, 1}, false, 0, {3, 2, 1}, false},
        {3, 2, {3, 2, 1, 2}, {3, 2, 1}, true, 0, {3, 2, 1, 2, 3}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("direction " + std::to_string(c.direction) + " repeat " + std::to_string(c.repeat));
        const TempFolder dir("-" + std::to_string(c.direction) + "-" + std::to_string(c.repeat));
        WriteBytes(dir / "in/hero.aseprite", SpriteFile(4, 4, durations, {Ase::Tag{1, 3, c.direction, c.repeat, "t"}}));
        const Outcome r = Atlas({"-o", dir.Str("out/pack"), dir.Str("in")});
        ASSERT_EQ(r.status, 0) << r.err;

        const StrictJson::Value sheet = ReadJson(dir / "out/pack.json");
        EXPECT_EQ(sheet.Get("animations")->members.size(), 1U);
        EXPECT_EQ(Texts(sheet.Get("animations")->Get("hero/t")), Names("hero", c.pass));
        for (size_t k = 0; k < durations.size(); ++k) {
            EXPECT_EQ(sheet.Get("frames")->Get("hero/" + std::to_string(k))->Num("duration"), durations[k]);
        }

        const auto phaser = ReadPhaser(dir / "out/pack.anims.json", "pack");
        ASSERT_EQ(phaser.count("hero/t"), 1U);
        const PhaserAnim& anim = phaser.at("hero/t");
        EXPECT_EQ(anim.frames, Names("hero", c.phaser));
        double total = 0;
        for (size_t i = 0; i < anim.frames.size(); ++i) {
            EXPECT_EQ(anim.ms[i], durations[static_cast<size_t>(c.phaser[i])]);
            total += anim.ms[i];
        }
        EXPECT_EQ(anim.duration, total);
        EXPECT_EQ(anim.yoyo, c.yoyo);
        EXPECT_EQ(anim.repeat, c.phaserRepeat);

        const auto godot = ReadGodot(dir / "out/pack.tres", dir / "out/pack.json");
        ASSERT_EQ(godot.count("hero/t"), 1U);
        const Played& played = godot.at("hero/t");
        EXPECT_EQ(played.frames, Names("hero", c.godot));
        EXPECT_EQ(played.loops, c.loops);
        for (size_t i = 0; i < played.frames.size() && i < c.godot.size(); ++i) {
            EXPECT_DOUBLE_EQ(played.ms[i], durations[static_cast<size_t>(c.godot[i])]);
        }
    }
}

TEST(SpriteAtlas, GodotSpeedIsASecondOverTheLargestTickOfEveryFrame) {
    struct Case {
        std::vector<uint16_t> durations;
        std::string speed;
        std::vector<std::string> units;
    };
    const std::vector<Case> cases = {
        {{100, 200, 150}, "20.0", {"2.0", "4.0", "3.0"}},
        {{100, 100}, "10.0", {"1.0", "1.0"}},
        {{33, 100}, "1000.0", {"33.0", "100.0"}},
        {{250, 1500}, "4.0", {"1.0", "6.0"}},
        {{65535}, "200.0", {"13107.0"}},
    };
    for (const Case& c : cases) {
        const TempFolder dir("-" + c.speed);
        WriteBytes(dir / "in/a.aseprite", SpriteFile(2, 2, c.durations));
        const Outcome r = Atlas({"-o", dir.Str("out/s"), dir.Str("in")});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string tres = ReadText(dir / "out/s.tres");
        std::string units;
        for (const std::string& u : c.units) units += "\"duration\": " + u + ",\n";
        std::string found;
        for (size_t at = tres.find("\"duration\": "); at != std::string::npos; at = tres.find("\"duration\": ", at + 1)) {
            found += tres.substr(at, tres.find('\n', at) - at + 1);
        }
        EXPECT_EQ(found, units) << "durations " << c.speed;
        EXPECT_NE(tres.find("\"speed\": " + c.speed + "\n"), std::string::npos) << tres;
    }
}

TEST(SpriteAtlas, TrimDedupeNormalMapsAndCollidersWorkOnTheirFrames) {
    const TempFolder dir;
    // Three frames of one colour in a box: trimmed alike, and shared.
    WriteBytes(dir / "in/blob.aseprite", SpriteFile(10, 8, {100, 100, 100}, {}, Box{2, 3, 5, 4}, true));
    const Outcome r = Atlas({"--trim", "--dedupe", "--normal-map", "--colliders", "-o", dir.Str("out/s"), dir.Str("in")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Packed 3 frames (1 unique)"), std::string::npos) << r.out;
    const StrictJson::Value sheet = ReadJson(dir / "out/s.json");
    for (const auto& [name, frame] : sheet.Get("frames")->members) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(frame.Get("trimmed")->boolean);
        const StrictJson::Value& placed = *frame.Get("spriteSourceSize");
        EXPECT_EQ(placed.Num("x"), 2);
        EXPECT_EQ(placed.Num("y"), 3);
        EXPECT_EQ(placed.Num("w"), 5);
        EXPECT_EQ(placed.Num("h"), 4);
        EXPECT_EQ(frame.Get("sourceSize")->Num("w"), 10);
        EXPECT_EQ(frame.Get("polygons")->items.size(), 1U);
        EXPECT_EQ(frame.Get("frame")->Num("x"), sheet.Get("frames")->members[0].second.Get("frame")->Num("x"));
    }
    EXPECT_TRUE(fs::exists(dir / "out/s_n.png"));
    EXPECT_TRUE(fs::exists(dir / "out/s/blob/1.tscn"));
}

TEST(SpriteAtlas, AFolderMixingPngSequencesAndSpriteFilesKeepsBothKindsOfAnimation) {
    const TempFolder dir;
    WritePng(dir / "in/coin_0.png", VelmoraTest::Sprite(4, 4, 1));
    WritePng(dir / "in/coin_1.png", VelmoraTest::Sprite(4, 4, 2));
    // A PNG sequence named as the sprite's tag gives way to it.
    WritePng(dir / "in/hero/run_1.png", VelmoraTest::Sprite(4, 4, 3));
    WritePng(dir / "in/hero/run_2.png", VelmoraTest::Sprite(4, 4, 4));
    WriteBytes(dir / "in/hero.aseprite", SpriteFile(4, 4, {70, 90}, {Ase::Tag{0, 1, 0, 0, "run"}}));
    const Outcome r = Atlas({"-o", dir.Str("out/s"), dir.Str("in")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", " + dir.Str("out/s") + ".anims.json and "), std::string::npos) << r.out;
    const StrictJson::Value sheet = ReadJson(dir / "out/s.json");
    std::map<std::string, std::vector<std::string>> animations;
    for (const auto& [name, list] : sheet.Get("animations")->members) animations[name] = Texts(&list);
    EXPECT_EQ(animations, (std::map<std::string, std::vector<std::string>>{
                              {"coin", {"coin_0", "coin_1"}},
                              {"hero/run", {"hero/0", "hero/1"}},
                              {"hero/run~2", {"hero/run_1", "hero/run_2"}}}));
    const auto phaser = ReadPhaser(dir / "out/s.anims.json", "s");
    ASSERT_EQ(phaser.size(), 3U);
    // PNG sequences at the fixed rate: no time of their own.
    EXPECT_EQ(phaser.at("coin").ms, (std::vector<double>{0, 0}));
    EXPECT_EQ(phaser.at("hero/run").ms, (std::vector<double>{70, 90}));
    const auto godot = ReadGodot(dir / "out/s.tres", dir / "out/s.json");
    EXPECT_EQ(godot.at("coin").ms, (std::vector<double>{100, 100}));
    EXPECT_EQ(godot.at("hero/run").ms, (std::vector<double>{70, 90}));
}

TEST(SpriteAtlas, EveryScaleVariantKeepsTheTimingUnderItsOwnTextureKey) {
    const TempFolder dir;
    WriteBytes(dir / "in/hero.aseprite", SpriteFile(8, 8, {70, 130}, {Ase::Tag{0, 1, 1, 0, "back"}}));
    const Outcome r = Atlas({"--scale", "1,0.5", "-o", dir.Str("out/s"), dir.Str("in")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& variant : std::vector<std::string>{"s", "s@0.5x"}) {
        SCOPED_TRACE(variant);
        const auto phaser = ReadPhaser(dir / ("out/" + variant + ".anims.json"), variant);
        ASSERT_EQ(phaser.count("hero/back"), 1U);
        EXPECT_EQ(phaser.at("hero/back").frames, Names("hero", {1, 0}));
        EXPECT_EQ(phaser.at("hero/back").ms, (std::vector<double>{130, 70}));
        EXPECT_EQ(ReadJson(dir / ("out/" + variant + ".json")).Get("frames")->Get("hero/1")->Num("duration"), 130);
        const auto godot = ReadGodot(dir / ("out/" + variant + ".tres"), dir / ("out/" + variant + ".json"));
        EXPECT_EQ(godot.at("hero/back").ms, (std::vector<double>{130, 70}));
    }
}

TEST(SpriteAtlas, PngInputsAloneWriteNoAnimationsFile) {
    const TempFolder dir;
    WritePng(dir / "in/coin_0.png", VelmoraTest::Sprite(4, 4, 1));
    WritePng(dir / "in/coin_1.png", VelmoraTest::Sprite(4, 4, 2));
    const Outcome r = Atlas({"-o", dir.Str("out/s"), dir.Str("in")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out/s.anims.json"));
    EXPECT_EQ(r.out.find("anims"), std::string::npos) << r.out;
    EXPECT_EQ(ReadJson(dir / "out/s.json").Get("frames")->Get("coin_0")->Get("duration"), nullptr);
}

TEST(SpriteAtlas, AnAnimationOverSeveralPagesIsOneAnimationForGodotAndPhaser) {
    const TempFolder dir;
    WriteBytes(dir / "in/big.aseprite", SpriteFile(20, 20, {100, 300, 200}, {Ase::Tag{0, 2, 2, 0, "swing"}}));
    const Outcome r = Atlas({"--max-size", "24x24", "-o", dir.Str("out/s"), dir.Str("in")});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::exists(dir / "out/s-2.png"));
    // No page holds the whole animation, so no page's JSON lists it.
    for (int p = 0; p < 3; ++p) {
        EXPECT_TRUE(ReadJson(dir / ("out/s-" + std::to_string(p) + ".json")).Get("animations")->members.empty());
    }
    const auto phaser = ReadPhaser(dir / "out/s.anims.json", "s");
    EXPECT_EQ(phaser.at("big/swing").frames, Names("big", {0, 1, 2}));
    const GodotText::Result tres = GodotText::Parse(ReadText(dir / "out/s.tres"));
    ASSERT_TRUE(tres.ok) << tres.error;
    const GodotText::Value& animation = tres.doc.All("resource").at(0)->Prop("animations")->items.at(0);
    EXPECT_EQ(animation.Get("name")->text, "big/swing");
    std::vector<double> units;
    for (const GodotText::Value& frame : animation.Get("frames")->items) units.push_back(frame.Get("duration")->real);
    EXPECT_EQ(units, (std::vector<double>{1, 3, 2, 3}));
    EXPECT_EQ(animation.Get("speed")->real, 10.0);
}

TEST(SpriteAtlas, ABrokenFileIsNamedOnOneLineAndNothingIsWritten) {
    const Ase::Bytes good = SpriteFile(4, 4, {100, 100}, {Ase::Tag{0, 1, 0, 0, "t"}});
    Ase::Bytes badMagic = good;
    badMagic[4] = 0;
    Ase::Bytes badCel = good;
    // The last cel's zlib header, its check bits made wrong.
    for (size_t at = badCel.size() - 2; at > 0; --at) {
        if (badCel[at] == 0x78 && badCel[at + 1] == 0x01) {
            badCel[at + 1] = 0x02;
            break;
        }
    }
    struct Case {
        std::string what;
        Ase::Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"truncated", Ase::Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2))},
        {"header only", Ase::Bytes(good.begin(), good.begin() + 128)},
        {"short header", Ase::Bytes(good.begin(), good.begin() + 60)},
        {"empty", {}},
        {"not aseprite", badMagic},
        {"damaged cel", badCel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempFolder dir("-" + std::to_string(&c - cases.data()));
        WritePng(dir / "in/crate.png", VelmoraTest::Sprite(4, 4, 1));
        WriteBytes(dir / "in/sub/bad.ase", c.bytes);
        const Outcome r = Atlas({"-o", dir.Str("out/s"), dir.Str("in")});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("velmora2d: " + dir.Str("in") + "/sub/bad.ase: ", 0), 0U) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        // The lock's folder may be there; no file of the run is.
        std::set<std::string> written;
        if (fs::exists(dir / "out")) written = TreeOf(dir / "out");
        for (const std::string& entry : written) {
            EXPECT_NE(entry.rfind('s', 0), 0U) << entry;
        }
    }
}

TEST(SpriteAtlas, AFrameNameTakenByBothAPngAndASpriteFileIsRefused) {
    const TempFolder dir;
    WriteBytes(dir / "in/hero.aseprite", SpriteFile(4, 4, {100}));
    WritePng(dir / "in/hero/0.png", VelmoraTest::Sprite(4, 4, 1));
    const Outcome r = Atlas({"-o", dir.Str("out/s"), dir.Str("in")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("'hero/0'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out/s.png"));
}

}  // namespace
