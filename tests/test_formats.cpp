// The sheet documents, each checked by reading it back the way its
// consumer does: strict JSON, Godot's text grammar, Unity's YAML layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "formats/sheet.h"
#include "godot_text_reader.h"
#include "json_reader.h"
#include "unity_yaml_reader.h"

using namespace Velmora;
using namespace Velmora::Formats;

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

SheetFrame Frame(const std::string& name, int32_t x, int32_t y, int32_t w, int32_t h) {
    SheetFrame f;
    f.name = name;
    f.x = x;
    f.y = y;
    f.w = w;
    f.h = h;
    f.sourceW = w;
    f.sourceH = h;
    return f;
}

SheetFrame Trimmed(const std::string& name, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sw, int32_t sh,
                   int32_t ox, int32_t oy, Polygons polygons = {}) {
    SheetFrame f = Frame(name, x, y, w, h);
    f.sourceW = sw;
    f.sourceH = sh;
    f.offsetX = ox;
    f.offsetY = oy;
    f.trimmed = true;
    f.polygons = std::move(polygons);
    return f;
}

Sheet SheetOf(std::vector<SheetFrame> frames, int32_t width = 256, int32_t height = 128) {
    Sheet s;
    s.imageFile = "atlas.png";
    s.width = width;
    s.height = height;
    s.frames = std::move(frames);
    return s;
}

StrictJson::Value ParseJson(const std::string& text) {
    StrictJson::Value v;
    std::string error;
    if (!StrictJson::Parser(text).Parse(v, error)) {
        // Stop the test here: nothing after it can be checked.
        ADD_FAILURE() << error << "\n" << text;
        throw std::runtime_error("invalid JSON");
    }
    return v;
}

GodotText::Document ParseGodot(const std::string& text) {
    const GodotText::Result r = GodotText::Parse(text);
    if (!r.ok) {
        ADD_FAILURE() << r.error << "\n" << text;
        throw std::runtime_error("unreadable Godot text");
    }
    return r.doc;
}

std::vector<double> Nums(const GodotText::Value* v) {
    return v == nullptr ? std::vector<double>{} : v->numbers;
}

std::vector<double> D(std::initializer_list<double> values) { return values; }

// ---- The Unity .meta reader, shared with the fuzz targets ---------------

using UnityYaml::CheckUnityYaml;
using UnityYaml::Flow;
using UnityYaml::ReadUnityNames;
using UnityYaml::UnityNames;
using UnityYaml::UnityValue;
using UnityYaml::YamlLine;

// ---- Names that try to break every document ----------------------------

const std::vector<std::string> kAwkwardNames = {
    "plain", "quote\"d", "back\\slash", "ctl\x01\x1f\x7f", "tab\tnew\nline\rret", "key: value",
    "#hash", "-lead", "trailing:", "true", "123", " spaced ", "caf\xC3\xA9/\xE6\xBC\xA2\xE5\xAD\x97",
    "bad\xFF\xFE", "cut\xE6\xBC", "over\xF4\x90\x80\x80", std::string("nul\x00" "byte", 8), "{brace}", "[list]",
    "a%b@c.d", "line\xE2\x80\xA8sep", "'single'", "&anchor *alias !tag",
};

Sheet AwkwardSheet() {
    std::vector<SheetFrame> frames;
    int32_t x = 0;
    for (const std::string& name : kAwkwardNames) {
        frames.push_back(Frame(name, x, 0, 4, 4));
        x += 4;
    }
    return SheetOf(frames, x, 4);
}

TEST(DocumentNames, InvalidUtf8BytesBecomeReplacementCharacters) {
    const struct { std::string in, out; } cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"bad\xFF\xFE", "bad" + kFffd + kFffd},
        {"cut\xE6\xBC", "cut" + kFffd + kFffd},                          // truncated sequence
        {"over\xF4\x90\x80\x80", "over" + kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
        {"sur\xED\xA0\x80", "sur" + kFffd + kFffd + kFffd},               // UTF-16 surrogate
        {"long\xC0\xAF", "long" + kFffd + kFffd},                          // overlong '/'
        {std::string("nul\0x", 5), "nul" + kFffd + "x"},
    };
    for (const auto& c : cases) EXPECT_EQ(DocumentName(c.in), c.out) << c.in;
}

TEST(AwkwardNames, JsonLayoutsStayValidAndKeepEveryName) {
    const Sheet sheet = AwkwardSheet();
    const StrictJson::Value hash = ParseJson(BuildJsonHash(sheet));
    const StrictJson::Value array = ParseJson(BuildJsonArray(sheet));
    const StrictJson::Value* frames = hash.Get("frames");
    ASSERT_NE(frames, nullptr);
    ASSERT_EQ(frames->members.size(), kAwkwardNames.size());
    ASSERT_EQ(array.Get("frames")->items.size(), kAwkwardNames.size());
    for (size_t i = 0; i < kAwkwardNames.size(); ++i) {
        const std::string expected = DocumentName(kAwkwardNames[i]);
        EXPECT_EQ(frames->members[i].first, expected);
        EXPECT_EQ(array.Get("frames")->items[i].Get("filename")->text, expected);
        EXPECT_EQ(frames->members[i].second.Get("frame")->Num("x"), 4.0 * static_cast<double>(i));
    }
}

TEST(AwkwardNames, GodotResourcesParseAndNameEveryAnimation) {
    const Sheet sheet = AwkwardSheet();
    const GodotText::Document doc = ParseGodot(BuildGodotSpriteFrames(sheet, "atlas \"1\".png", ""));
    EXPECT_EQ(doc.ExtResource("1_atlas")->AttrText("path"), "atlas \"1\".png");
    std::set<std::string> animationNames;
    const GodotText::Section* resource = doc.All("resource").at(0);
    for (const auto& animation : resource->Prop("animations")->items) {
        EXPECT_EQ(animation.Get("name")->kind, GodotText::Value::Kind::StringName);
        animationNames.insert(animation.Get("name")->text);
    }
    // None of these names ends in digits except "123", which has no stem.
    std::set<std::string> expected;
    for (const auto& name : kAwkwardNames) expected.insert(DocumentName(name));
    EXPECT_EQ(animationNames, expected);
    for (const SheetFrame& frame : sheet.frames) {
        ParseGodot(BuildGodotAtlasTexture(frame, "../atlas.png", "../atlas_n.png"));
        SheetFrame withPolygon = frame;
        withPolygon.polygons = {{{0, 0}, {4, 0}, {4, 4}}};
        const GodotText::Document scene = ParseGodot(BuildGodotColliderScene(withPolygon, frame.name + ".tres"));
        EXPECT_EQ(scene.All("node").at(0)->AttrText("type"), "StaticBody2D");
        EXPECT_EQ(scene.ExtResource("1_texture")->AttrText("path"), DocumentName(frame.name) + ".tres");
    }
}

TEST(AwkwardNames, UnityMetaKeepsItsLayoutAndEveryNameRoundTrips) {
    const Sheet sheet = AwkwardSheet();
    const std::string meta = BuildUnityMeta(sheet, UnityGuidFor("out/atlas"), {}, "");
    std::vector<YamlLine> lines;
    std::string error;
    ASSERT_TRUE(CheckUnityYaml(meta, lines, error)) << error;
    const UnityNames names = ReadUnityNames(lines);
    std::vector<std::string> expected;
    expected.reserve(kAwkwardNames.size());
    for (const auto& name : kAwkwardNames) expected.push_back(DocumentName(name));
    EXPECT_EQ(names.spriteNames, expected);
    EXPECT_EQ(names.tableNames, expected);
    ASSERT_EQ(names.fileIdKeys, expected);
    EXPECT_EQ(names.tableIds, names.internalIds);
    EXPECT_EQ(names.fileIdValues, names.internalIds);
    const UnityKeptIds kept = ReadUnityKeptIds(meta);
    EXPECT_EQ(kept.guid, UnityGuidFor("out/atlas"));
    ASSERT_EQ(kept.sprites.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(kept.sprites.count(expected[i]), 1U) << expected[i];
        EXPECT_EQ(std::to_string(kept.sprites.at(expected[i]).internalId), names.internalIds[i]);
        EXPECT_EQ(kept.sprites.at(expected[i]).spriteId, names.spriteIds[i]);
    }
}

TEST(AwkwardNames, NamesEqualAfterMappingStayDistinct) {
    const Sheet sheet = SheetOf({Frame("a\xFF", 0, 0, 1, 1), Frame("a\xFE", 1, 0, 1, 1), Frame("a" + kFffd, 2, 0, 1, 1)});
    const StrictJson::Value hash = ParseJson(BuildJsonHash(sheet));
    EXPECT_EQ(hash.Get("frames")->members.size(), 3U);  // the reader refuses duplicate keys
    std::vector<YamlLine> lines;
    std::string error;
    ASSERT_TRUE(CheckUnityYaml(BuildUnityMeta(sheet, UnityGuidFor("x"), {}, ""), lines, error)) << error;
    const UnityNames names = ReadUnityNames(lines);
    EXPECT_EQ(std::set<std::string>(names.fileIdKeys.begin(), names.fileIdKeys.end()).size(), 3U);
}

// ---- Trimmed frames: each engine's coordinate conventions --------------

struct TrimCase {
    SheetFrame frame;
    int32_t atlasH;
};

const std::vector<TrimCase> kTrimCases = {
    {Trimmed("centre", 10, 20, 8, 6, 16, 16, 4, 5, {{{4, 5}, {12, 5}, {12, 11}, {4, 11}}}), 64},
    {Trimmed("corner", 0, 0, 3, 7, 32, 32, 29, 0, {{{29, 0}, {32, 0}, {30, 7}}}), 7},
    {Trimmed("odd", 5, 1, 5, 3, 9, 11, 1, 7, {{{1, 7}, {6, 7}, {6, 10}}, {{2, 8}, {3, 8}, {3, 9}}}), 40},
    {Trimmed("empty", 0, 0, 1, 1, 30, 20, 0, 0), 1},
};

TEST(TrimmedFrames, JsonKeepsOriginalSizeAndOffsetAndPolygons) {
    for (const TrimCase& c : kTrimCases) {
        Sheet sheet = SheetOf({c.frame}, 64, c.atlasH);
        sheet.colliders = true;
        for (const std::string& text : {BuildJsonHash(sheet), BuildJsonArray(sheet)}) {
            const StrictJson::Value doc = ParseJson(text);
            const StrictJson::Value* frames = doc.Get("frames");
            const StrictJson::Value& f = frames->kind == StrictJson::Value::Kind::Object ? frames->members.at(0).second
                                                                                         : frames->items.at(0);
            const SheetFrame& e = c.frame;
            EXPECT_TRUE(f.Get("trimmed")->boolean);
            EXPECT_FALSE(f.Get("rotated")->boolean);
            EXPECT_EQ(f.Get("spriteSourceSize")->Num("x"), e.offsetX);
            EXPECT_EQ(f.Get("spriteSourceSize")->Num("y"), e.offsetY);
            EXPECT_EQ(f.Get("spriteSourceSize")->Num("w"), e.w);
            EXPECT_EQ(f.Get("sourceSize")->Num("w"), e.sourceW);
            EXPECT_EQ(f.Get("sourceSize")->Num("h"), e.sourceH);
            const auto& polygons = f.Get("polygons")->items;
            ASSERT_EQ(polygons.size(), e.polygons.size());
            for (size_t p = 0; p < polygons.size(); ++p) {
                ASSERT_EQ(polygons[p].items.size(), e.polygons[p].size());
                for (size_t i = 0; i < e.polygons[p].size(); ++i) {
                    EXPECT_EQ(polygons[p].items[i].items.at(0).number, e.polygons[p][i].x);
                    EXPECT_EQ(polygons[p].items[i].items.at(1).number, e.polygons[p][i].y);
                }
            }
        }
    }
}

TEST(TrimmedFrames, GodotMarginRestoresOriginalPlacementAndPolygonsStayInFramePixels) {
    for (const TrimCase& c : kTrimCases) {
        const SheetFrame& e = c.frame;
        const GodotText::Document tex = ParseGodot(BuildGodotAtlasTexture(e, "atlas.png", ""));
        const GodotText::Section* res = tex.All("resource").at(0);
        EXPECT_EQ(Nums(res->Prop("region")), D({double(e.x), double(e.y), double(e.w), double(e.h)}));
        // The texture's size is region + margin size: the original frame.
        const std::vector<double> margin = Nums(res->Prop("margin"));
        ASSERT_EQ(margin.size(), 4U) << e.name;
        EXPECT_EQ(margin[0], e.offsetX);
        EXPECT_EQ(margin[1], e.offsetY);
        EXPECT_EQ(e.w + margin[2], e.sourceW);
        EXPECT_EQ(e.h + margin[3], e.sourceH);

        const GodotText::Document scene = ParseGodot(BuildGodotColliderScene(e, "frames/x.tres"));
        const auto nodes = scene.All("node");
        ASSERT_EQ(nodes.size(), 2 + e.polygons.size());
        EXPECT_EQ(nodes[1]->AttrText("type"), "Sprite2D");
        EXPECT_FALSE(nodes[1]->Prop("centered")->boolean);
        EXPECT_EQ(nodes[1]->Prop("texture")->kind, GodotText::Value::Kind::ExtRef);
        for (size_t p = 0; p < e.polygons.size(); ++p) {
            EXPECT_EQ(nodes[2 + p]->AttrText("type"), "CollisionPolygon2D");
            std::vector<double> flat;
            for (const Point2D& pt : e.polygons[p]) { flat.push_back(pt.x); flat.push_back(pt.y); }
            EXPECT_EQ(Nums(nodes[2 + p]->Prop("polygon")), flat);
        }
    }
}

TEST(TrimmedFrames, UnityRectPivotAndPhysicsShapeFollowUnityConventions) {
    for (const TrimCase& c : kTrimCases) {
        const SheetFrame& e = c.frame;
        const Sheet sheet = SheetOf({e}, 64, c.atlasH);
        std::vector<YamlLine> lines;
        std::string error;
        ASSERT_TRUE(CheckUnityYaml(BuildUnityMeta(sheet, UnityGuidFor("a"), {}, ""), lines, error)) << error;
        // Rect: bottom-left origin.
        EXPECT_EQ(UnityValue(lines, 8, "x"), std::to_string(e.x));
        EXPECT_EQ(UnityValue(lines, 8, "y"), std::to_string(c.atlasH - e.y - e.h));
        EXPECT_EQ(UnityValue(lines, 6, "alignment"), "9");
        // The pivot, in pixels from the rect's bottom-left corner, is the
        // original frame's centre: its bottom-left corner sits at
        // (-offsetX, -(sourceH - offsetY - h)) in those coordinates.
        const auto pivot = Flow(UnityValue(lines, 6, "pivot"));
        const double cx = -e.offsetX + e.sourceW / 2.0;
        const double cy = -(e.sourceH - e.offsetY - e.h) + e.sourceH / 2.0;
        EXPECT_NEAR(pivot.at("x") * e.w, cx, 1e-5 * e.w) << e.name;
        EXPECT_NEAR(pivot.at("y") * e.h, cy, 1e-5 * e.h) << e.name;
        // Physics points: rect-centre relative, y up; map back to frame pixels.
        std::vector<std::vector<std::map<std::string, double>>> shape;
        bool inShape = false;
        for (const YamlLine& l : lines) {
            if (l.key == "physicsShape" && l.indent == 6) { inShape = l.value.empty(); continue; }
            if (!inShape) continue;
            if (l.markers == 2 && !l.value.empty() && l.value[0] == '{') {
                shape.emplace_back();
            } else if (!(l.markers == 1 && l.indent == 10 && !shape.empty() && l.value[0] == '{')) {
                inShape = false;
                continue;
            }
            shape.back().push_back(Flow(l.value));
        }
        ASSERT_EQ(shape.size(), e.polygons.size()) << e.name;
        for (size_t p = 0; p < shape.size(); ++p) {
            ASSERT_EQ(shape[p].size(), e.polygons[p].size());
            for (size_t i = 0; i < shape[p].size(); ++i) {
                EXPECT_DOUBLE_EQ(shape[p][i].at("x") + e.w / 2.0 + e.offsetX, e.polygons[p][i].x);
                EXPECT_DOUBLE_EQ(e.offsetY + e.h / 2.0 - shape[p][i].at("y"), e.polygons[p][i].y);
                EXPECT_LE(std::fabs(shape[p][i].at("x")), e.w / 2.0);
                EXPECT_LE(std::fabs(shape[p][i].at("y")), e.h / 2.0);
            }
        }
    }
}

TEST(UntrimmedFrames, UseCentreAlignmentAndNoMargin) {
    const Sheet sheet = SheetOf({Frame("a", 2, 3, 10, 12)}, 20, 20);
    std::vector<YamlLine> lines;
    std::string error;
    ASSERT_TRUE(CheckUnityYaml(BuildUnityMeta(sheet, UnityGuidFor("a"), {}, ""), lines, error)) << error;
    EXPECT_EQ(UnityValue(lines, 6, "alignment"), "0");
    EXPECT_EQ(Flow(UnityValue(lines, 6, "pivot")).at("x"), 0.5);
    EXPECT_EQ(UnityValue(lines, 8, "y"), "5");
    const GodotText::Document tex = ParseGodot(BuildGodotAtlasTexture(sheet.frames[0], "atlas.png", ""));
    EXPECT_EQ(tex.All("resource").at(0)->Prop("margin"), nullptr);
    const StrictJson::Value json = ParseJson(BuildJsonHash(sheet));
    EXPECT_FALSE(json.Get("frames")->members.at(0).second.Get("trimmed")->boolean);
    EXPECT_EQ(json.Get("frames")->members.at(0).second.Get("polygons"), nullptr);
}

// ---- Animations in every document ---------------------------------------

// A document's animations in document order: each name with its frames'
// names in play order.
using AnimationList = std::vector<std::pair<std::string, std::vector<std::string>>>;

// The SpriteFrames' animations; `names` are the frames' names in sheet
// order (the order of the frame sub-resources).
AnimationList GodotAnimations(const GodotText::Document& doc, const std::vector<std::string>& names) {
    const auto subs = doc.All("sub_resource");
    AnimationList out;
    for (const auto& animation : doc.All("resource").at(0)->Prop("animations")->items) {
        EXPECT_TRUE(animation.Get("loop")->boolean);
        EXPECT_GT(animation.Get("speed")->real, 0.0);
        EXPECT_EQ(animation.Get("name")->kind, GodotText::Value::Kind::StringName);
        out.emplace_back(animation.Get("name")->text, std::vector<std::string>{});
        for (const auto& f : animation.Get("frames")->items) {
            EXPECT_EQ(f.Get("duration")->real, 1.0);
            const std::string id = f.Get("texture")->text;
            size_t index = 0;
            while (index < subs.size() && subs[index]->AttrText("id") != id) ++index;
            EXPECT_LT(index, names.size());
            out.back().second.push_back(index < names.size() ? names[index] : "?");
        }
    }
    return out;
}

// The JSON's "animations" map; every frame it names must be a frame of the
// sheet, by its key (hash) or "filename" (array).
AnimationList JsonAnimations(const StrictJson::Value& doc) {
    std::set<std::string> frames;
    for (const auto& member : doc.Get("frames")->members) frames.insert(member.first);
    for (const auto& item : doc.Get("frames")->items) frames.insert(item.Get("filename")->text);
    AnimationList out;
    const StrictJson::Value* animations = doc.Get("animations");
    if (animations == nullptr || animations->kind != StrictJson::Value::Kind::Object) {
        ADD_FAILURE() << "no \"animations\" object";
        return out;
    }
    for (const auto& [name, list] : animations->members) {
        EXPECT_EQ(list.kind, StrictJson::Value::Kind::Array) << name;
        out.emplace_back(name, std::vector<std::string>{});
        for (const auto& frame : list.items) {
            EXPECT_EQ(frames.count(frame.text), 1U) << name << ": " << frame.text;
            out.back().second.push_back(frame.text);
        }
    }
    return out;
}

std::map<std::string, std::vector<std::string>> Animations(const std::vector<std::string>& names) {
    std::vector<SheetFrame> frames;
    frames.reserve(names.size());
    for (const auto& n : names) frames.push_back(Frame(n, 0, 0, 1, 1));
    const GodotText::Document doc = ParseGodot(BuildGodotSpriteFrames(SheetOf(frames), "atlas.png", ""));
    const AnimationList list = GodotAnimations(doc, names);
    return {list.begin(), list.end()};
}

TEST(Animations, GroupByStemInNumericOrder) {
    using Groups = std::map<std::string, std::vector<std::string>>;
    const struct { std::vector<std::string> names; Groups expected; } cases[] = {
        {{"hero_walk_0", "hero_walk_1", "hero_walk_2", "hero_walk_3"},
         {{"hero_walk", {"hero_walk_0", "hero_walk_1", "hero_walk_2", "hero_walk_3"}}}},
        {{"run1", "run10", "run2"}, {{"run", {"run1", "run2", "run10"}}}},
        {{"idle", "jump"}, {{"idle", {"idle"}}, {"jump", {"jump"}}}},
        // The still stays out; "run1" and "run_2" differ in separator.
        {{"run", "run1", "run_2"}, {{"run", {"run"}}, {"run1", {"run1"}}, {"run_2", {"run_2"}}}},
        {{"icon2"}, {{"icon2", {"icon2"}}}},  // no siblings: its own name
        {{"007", "_5", "x_"}, {{"007", {"007"}}, {"_5", {"_5"}}, {"x_", {"x_"}}}},
        {{"a_b_01", "a_b_2", "a_b_0010"}, {{"a_b", {"a_b_01", "a_b_2", "a_b_0010"}}}},
        {{"x1", "x_1", "x01"}, {{"x", {"x01", "x1"}}, {"x_1", {"x_1"}}}},  // equal numbers: bytewise
        {{"big99999999999999999999", "big100000000000000000000"},
         {{"big", {"big99999999999999999999", "big100000000000000000000"}}}},
        {{"enemies/bat_1", "enemies/bat_0", "enemies/bat"},
         {{"enemies/bat", {"enemies/bat_0", "enemies/bat_1"}}, {"enemies/bat~2", {"enemies/bat"}}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Animations(c.names), c.expected) << c.names.front();
}

// PixiJS reads the JSON's map, Godot the SpriteFrames: both must offer the
// same animations with the same frames in the same order, in either JSON
// layout, whatever the names.
TEST(Animations, JsonMapListsTheSameAnimationsAsTheSpriteFrames) {
    std::vector<std::string> names = {
        "books-01", "books-02", "books-03", "capguy/walk/0001", "capguy/walk/0002", "fish-136x80",
        "drape_1", "lazer", "lazer_00", "lazer_01", "lazer_02", "crate", "crate32", "car", "car90",
        "run_1", "run_2", "run_9", "run_10", "walk_1", "walk_01", "fx.1", "fx.2", "jump 1", "jump 2",
        "caf\xC3\xA9_1", "caf\xC3\xA9_2", "quote\"d_1", "quote\"d_2", "back\\slash_1", "back\\slash_2",
        "bad\xFF_1", "bad\xFE_1", "tab\t_1", "tab\t_2",
    };
    std::sort(names.begin(), names.end());  // as a sheet lists its frames
    std::vector<SheetFrame> frames;
    frames.reserve(names.size());
    for (const auto& n : names) frames.push_back(Frame(n, 0, 0, 1, 1));
    const Sheet sheet = SheetOf(frames);

    std::vector<std::string> documentNames;
    documentNames.reserve(names.size());
    for (const auto& n : names) documentNames.push_back(DocumentName(n));
    documentNames[static_cast<size_t>(std::find(names.begin(), names.end(), "bad\xFF_1") - names.begin())] += "~2";
    const AnimationList godot =
        GodotAnimations(ParseGodot(BuildGodotSpriteFrames(sheet, "atlas.png", "")), documentNames);
    for (const bool array : {false, true}) {
        const StrictJson::Value json = ParseJson(array ? BuildJsonArray(sheet) : BuildJsonHash(sheet));
        std::vector<std::string> keys;
        for (const auto& member : json.members) keys.push_back(member.first);
        EXPECT_EQ(keys, (std::vector<std::string>{"frames", "animations", "meta"}));
        EXPECT_EQ(JsonAnimations(json), godot) << (array ? "array" : "hash");
    }

    const std::map<std::string, std::vector<std::string>> byName(godot.begin(), godot.end());
    const std::map<std::string, std::vector<std::string>> expected = {
        {"books", {"books-01", "books-02", "books-03"}},
        {"capguy/walk", {"capguy/walk/0001", "capguy/walk/0002"}},
        {"lazer", {"lazer_00", "lazer_01", "lazer_02"}},
        {"lazer~2", {"lazer"}},
        {"run", {"run_1", "run_2", "run_9", "run_10"}},
        {"walk", {"walk_01", "walk_1"}},
        {"quote\"d", {"quote\"d_1", "quote\"d_2"}},
        {"back\\slash", {"back\\slash_1", "back\\slash_2"}},
        {"tab\t", {"tab\t_1", "tab\t_2"}},
        {"caf\xC3\xA9", {"caf\xC3\xA9_1", "caf\xC3\xA9_2"}},
        {"fish-136x80", {"fish-136x80"}},
        {"crate32", {"crate32"}},
    };
    for (const auto& [name, list] : expected) {
        const auto found = byName.find(name);
        ASSERT_NE(found, byName.end()) << name;
        EXPECT_EQ(found->second, list) << name;
    }
    // Every frame in exactly one animation.
    std::multiset<std::string> listed;
    for (const auto& entry : godot) listed.insert(entry.second.begin(), entry.second.end());
    EXPECT_EQ(listed, std::multiset<std::string>(documentNames.begin(), documentNames.end()));

    // A sheet without frames still has the map, empty.
    for (const std::string& text : {BuildJsonHash(SheetOf({})), BuildJsonArray(SheetOf({}))}) {
        const StrictJson::Value doc = ParseJson(text);
        const StrictJson::Value* empty = doc.Get("animations");
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->kind, StrictJson::Value::Kind::Object);
        EXPECT_TRUE(empty->members.empty());
    }
}

// ---- Normal maps ---------------------------------------------------------

TEST(NormalMaps, EveryFormatPointsAtTheNormalMap) {
    Sheet sheet = SheetOf({Frame("a_0", 0, 0, 4, 4), Trimmed("a_1", 4, 0, 2, 2, 4, 4, 1, 1)});
    sheet.normalMapFile = "atlas_n.png";
    const GodotText::Document frames = ParseGodot(BuildGodotSpriteFrames(sheet, "atlas.png", "atlas_n.png"));
    const GodotText::Section* canvas = frames.SubResource("canvas");
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->AttrText("type"), "CanvasTexture");
    EXPECT_EQ(frames.ExtResource(canvas->Prop("diffuse_texture")->text)->AttrText("path"), "atlas.png");
    EXPECT_EQ(frames.ExtResource(canvas->Prop("normal_texture")->text)->AttrText("path"), "atlas_n.png");
    for (const auto* sub : frames.All("sub_resource")) {
        if (sub->AttrText("type") != "AtlasTexture") continue;
        EXPECT_EQ(sub->Prop("atlas")->kind, GodotText::Value::Kind::SubRef);
        EXPECT_EQ(sub->Prop("atlas")->text, "canvas");
    }
    const GodotText::Document one = ParseGodot(BuildGodotAtlasTexture(sheet.frames[1], "../atlas.png", "../atlas_n.png"));
    EXPECT_EQ(one.All("resource").at(0)->Prop("atlas")->text, "canvas");

    EXPECT_EQ(ParseJson(BuildJsonArray(sheet)).Get("meta")->Get("normal_map")->text, "atlas_n.png");
    EXPECT_EQ(ParseJson(BuildJsonHash(SheetOf({}))).Get("meta")->Get("normal_map"), nullptr);

    const std::string normalGuid = UnityGuidFor("atlas_n");
    std::vector<YamlLine> lines;
    std::string error;
    ASSERT_TRUE(CheckUnityYaml(BuildUnityMeta(sheet, UnityGuidFor("atlas"), {}, normalGuid), lines, error)) << error;
    EXPECT_EQ(Flow("{fileID: 2800000, type: 3}").at("type"), 3);
    EXPECT_NE(UnityValue(lines, 6, "texture").find("guid: " + normalGuid), std::string::npos);
    EXPECT_EQ(UnityValue(lines, 6, "name"), "a_0");
    std::vector<YamlLine> normal;
    ASSERT_TRUE(CheckUnityYaml(BuildUnityNormalMapMeta(normalGuid), normal, error)) << error;
    EXPECT_EQ(UnityValue(normal, 0, "guid"), normalGuid);
    EXPECT_EQ(UnityValue(normal, 2, "textureType"), "1");
    EXPECT_EQ(UnityValue(normal, 4, "sRGBTexture"), "0");
}

// ---- Unity ids: stable, distinct, kept ----------------------------------

bool IsGuid(const std::string& s) {
    return s.size() == 32 && s.find_first_not_of("0123456789abcdef") == std::string::npos &&
           s.find_first_not_of('0') != std::string::npos;
}

TEST(UnityIds, GuidsAreStableWellFormedAndDistinct) {
    std::set<std::string> seen;
    std::vector<std::string> keys = {"", "atlas", "out/atlas", "out\\atlas", "atlas_n", "Atlas", "atlas "};
    for (int i = 0; i < 2000; ++i) keys.push_back("sprites/set" + std::to_string(i));
    for (const auto& key : keys) {
        const std::string guid = UnityGuidFor(key);
        EXPECT_TRUE(IsGuid(guid)) << guid;
        EXPECT_EQ(guid, UnityGuidFor(key));
        EXPECT_TRUE(seen.insert(guid).second) << key;
    }
}

TEST(UnityIds, SpriteIdsAreNonZeroAndUniqueOnLargeSheets) {
    std::vector<SheetFrame> frames;
    frames.reserve(3000);
    for (int i = 0; i < 3000; ++i) frames.push_back(Frame("f" + std::to_string(i), 0, 0, 1, 1));
    std::vector<YamlLine> lines;
    std::string error;
    ASSERT_TRUE(CheckUnityYaml(BuildUnityMeta(SheetOf(frames), UnityGuidFor("big"), {}, ""), lines, error)) << error;
    const UnityNames names = ReadUnityNames(lines);
    std::set<std::string> internal(names.internalIds.begin(), names.internalIds.end());
    std::set<std::string> sprite(names.spriteIds.begin(), names.spriteIds.end());
    EXPECT_EQ(internal.size(), frames.size());
    EXPECT_EQ(sprite.size(), frames.size());
    EXPECT_EQ(internal.count("0"), 0U);
    for (const auto& id : names.spriteIds) EXPECT_TRUE(IsGuid(id)) << id;
}

TEST(UnityIds, RepackingKeepsIdsOfFramesThatKeepTheirNames) {
    const Sheet before = SheetOf({Frame("walk_0", 0, 0, 4, 4), Frame("walk_1", 4, 0, 4, 4), Frame("old", 8, 0, 4, 4)});
    const std::string first = BuildUnityMeta(before, UnityGuidFor("a"), {}, "");
    const UnityKeptIds kept = ReadUnityKeptIds(first);
    // Unchanged frames: the same bytes again.
    EXPECT_EQ(BuildUnityMeta(before, kept.guid, kept, ""), first);
    // Renamed and added frames get fresh ids that clash with no kept one.
    const Sheet after = SheetOf({Frame("new", 0, 0, 4, 4), Frame("walk_0", 4, 0, 4, 4), Frame("walk_1", 8, 0, 4, 4)});
    const UnityKeptIds again = ReadUnityKeptIds(BuildUnityMeta(after, kept.guid, kept, ""));
    for (const char* name : {"walk_0", "walk_1"}) {
        EXPECT_EQ(again.sprites.at(name).internalId, kept.sprites.at(name).internalId);
        EXPECT_EQ(again.sprites.at(name).spriteId, kept.sprites.at(name).spriteId);
    }
    EXPECT_NE(again.sprites.at("new").internalId, 0);
    EXPECT_EQ(again.sprites.count("old"), 0U);
}

TEST(UnityIds, KeptIdsThatClashOrAreInvalidAreReplaced) {
    UnityKeptIds kept;
    kept.guid = UnityGuidFor("k");
    kept.sprites["a"] = {42, "0123456789abcdef0123456789abcdef"};
    kept.sprites["b"] = {42, "0123456789abcdef0123456789abcdef"};  // same ids as "a"
    kept.sprites["c"] = {0, "not hex"};
    const Sheet sheet = SheetOf({Frame("a", 0, 0, 1, 1), Frame("b", 1, 0, 1, 1), Frame("c", 2, 0, 1, 1)});
    const UnityKeptIds out = ReadUnityKeptIds(BuildUnityMeta(sheet, kept.guid, kept, ""));
    EXPECT_EQ(out.sprites.at("a").internalId, 42);
    EXPECT_EQ(out.sprites.at("a").spriteId, "0123456789abcdef0123456789abcdef");
    EXPECT_NE(out.sprites.at("b").internalId, 42);
    EXPECT_NE(out.sprites.at("b").spriteId, out.sprites.at("a").spriteId);
    EXPECT_NE(out.sprites.at("c").internalId, 0);
    EXPECT_TRUE(IsGuid(out.sprites.at("c").spriteId));
}

TEST(UnityIds, ReadsMetasAsUnityRewritesThemAndSurvivesGarbage) {
    const std::string unityStyle =
        "fileFormatVersion: 2\r\nguid: 4B151D64DC186F44B91AE8E0C5FDA30F\r\nTextureImporter:\r\n"
        "  spriteSheet:\r\n    serializedVersion: 2\r\n    sprites:\r\n"
        "    - serializedVersion: 2\r\n      name: \"quoted: \\\"name\\\" \\u00E9\"\r\n"
        "      rect:\r\n        serializedVersion: 2\r\n        x: 0\r\n"
        "      internalID: -1048880301\r\n      spriteID: 4B151D64DC186F44B91AE8E0C5FDA30F\r\n"
        "    - name: 'single ''q'''\r\n      internalID: 9223372036854775807\r\n"
        "    - name: plain name # comment\r\n      internalID: 99999999999999999999\r\n"
        "      spriteID: 5\r\n"
        "    - name: \"folded long\r\n        name\"\r\n      internalID: 7\r\n"
        "    outline: []\r\n    internalID: 555\r\n";
    const UnityKeptIds kept = ReadUnityKeptIds(unityStyle);
    EXPECT_EQ(kept.guid, "4b151d64dc186f44b91ae8e0c5fda30f");
    ASSERT_EQ(kept.sprites.count("quoted: \"name\" \xC3\xA9"), 1U);
    EXPECT_EQ(kept.sprites.at("quoted: \"name\" \xC3\xA9").internalId, -1048880301);
    EXPECT_EQ(kept.sprites.at("quoted: \"name\" \xC3\xA9").spriteId, "4b151d64dc186f44b91ae8e0c5fda30f");
    EXPECT_EQ(kept.sprites.at("single 'q'").internalId, INT64_MAX);
    EXPECT_EQ(kept.sprites.count("plain name"), 0U);  // overflowing id, bad spriteID: nothing kept
    EXPECT_EQ(kept.sprites.at("folded long name").internalId, 7);
    EXPECT_EQ(kept.sprites.size(), 3U);

    const std::string garbage[] = {"", "guid:", "guid: 0000", std::string("\xFF\xFE\x00garbage", 10), "  spriteSheet:\n    sprites:\n    - name: \"open",
                                   std::string(100000, '-'), "spriteSheet:\nsprites:\n- name: x\n  internalID: 0\n"};
    for (const auto& text : garbage) {
        const UnityKeptIds g = ReadUnityKeptIds(text);
        EXPECT_TRUE(g.guid.empty());
        EXPECT_TRUE(g.sprites.empty());
    }
}

// ---- Collider listings ----------------------------------------------------

const std::vector<Polygons> kPolygonSets = {
    {},
    {{{0, 0}, {4, 0}, {4, 4}}},
    {{{1, 2}, {10, 2}, {10, 9}, {1, 9}}, {{20, 20}, {25, 21}, {22, 30}}},
};

TEST(ColliderListings, EveryFormatReadsBackAsThePolygons) {
    for (const Polygons& polygons : kPolygonSets) {
        // Text: one polygon per line, "x,y" points separated by spaces.
        std::istringstream text(BuildColliderText(polygons));
        std::string line;
        size_t p = 0;
        while (std::getline(text, line)) {
            ASSERT_LT(p, polygons.size());
            std::istringstream points(line);
            std::string point;
            size_t i = 0;
            while (points >> point) {
                const size_t comma = point.find(',');
                EXPECT_EQ(std::stoi(point.substr(0, comma)), polygons[p].at(i).x);
                EXPECT_EQ(std::stoi(point.substr(comma + 1)), polygons[p].at(i).y);
                ++i;
            }
            EXPECT_EQ(i, polygons[p].size());
            ++p;
        }
        EXPECT_EQ(p, polygons.size());

        const StrictJson::Value json = ParseJson(BuildColliderJson(polygons));
        ASSERT_EQ(json.items.size(), polygons.size());
        for (size_t q = 0; q < polygons.size(); ++q) {
            ASSERT_EQ(json.items[q].items.size(), polygons[q].size());
            for (size_t i = 0; i < polygons[q].size(); ++i) {
                EXPECT_EQ(json.items[q].items[i].items.at(0).number, polygons[q][i].x);
                EXPECT_EQ(json.items[q].items[i].items.at(1).number, polygons[q][i].y);
            }
        }

        const GodotText::Document scene = ParseGodot(BuildColliderGodotScene(polygons, 32, 32));
        const auto nodes = scene.All("node");
        ASSERT_EQ(nodes.size(), polygons.size() + 1);
        EXPECT_EQ(nodes[0]->AttrText("type"), "StaticBody2D");
        for (size_t q = 0; q < polygons.size(); ++q) {
            std::vector<double> flat;
            for (const Point2D& pt : polygons[q]) { flat.push_back(pt.x); flat.push_back(pt.y); }
            EXPECT_EQ(Nums(nodes[q + 1]->Prop("polygon")), flat);
            EXPECT_EQ(nodes[q + 1]->AttrText("parent"), ".");
        }
    }
}

// ---- The strict Godot reader refuses what Godot refuses -----------------

TEST(GodotReader, RefusesWhatGodotsLoaderRefuses) {
    const std::string head = "[gd_resource type=\"AtlasTexture\" format=3]\n\n"
                             "[ext_resource type=\"Texture2D\" path=\"a.png\" id=\"1\"]\n\n";
    const struct { const char* why; std::string text; } bad[] = {
        {"hash comment", "[gd_resource type=\"X\" format=3]\n# note\n[resource]\n"},
        {"nested vectors", head + "[resource]\npolygon = PackedVector2Array(Vector2(1, 2))\n"},
        {"odd packed count", head + "[resource]\npolygon = PackedVector2Array(1, 2, 3)\n"},
        {"no resource", head + "[sub_resource type=\"A\" id=\"s\"]\nx = 1\n"},
        {"ref before declaration", head + "[sub_resource type=\"A\" id=\"s\"]\nt = SubResource(\"t\")\n[sub_resource type=\"A\" id=\"t\"]\n[resource]\n"},
        {"self reference", head + "[sub_resource type=\"A\" id=\"s\"]\nt = SubResource(\"s\")\n[resource]\n"},
        {"unknown ext", head + "[resource]\natlas = ExtResource(\"2\")\n"},
        {"rect arity", head + "[resource]\nregion = Rect2(0, 0, 4)\n"},
        {"trailing comma in constructor", head + "[resource]\nregion = Rect2(0, 0, 4, 4,)\n"},
        {"section after resource", head + "[resource]\n[sub_resource type=\"A\" id=\"s\"]\n"},
        {"two resources", head + "[resource]\n[resource]\n"},
        {"format 2", "[gd_resource type=\"X\" format=2]\n[resource]\n"},
        {"byte order mark", "\xEF\xBB\xBF[gd_resource type=\"X\" format=3]\n[resource]\n"},
        {"escape above ascii", head + "[resource]\nname = \"caf\\u00e9\"\n"},
        {"invalid utf8", head + "[resource]\nname = \"caf\xE9\"\n"},
        {"unterminated", head + "[resource]\nname = \"abc\n"},
        {"node name", "[gd_scene format=3]\n[node name=\"a.b\" type=\"Node2D\"]\n"},
        {"orphan node", "[gd_scene format=3]\n[node name=\"a\" type=\"Node2D\"]\n[node name=\"b\" type=\"Node2D\"]\n"},
        {"ext after sub", "[gd_resource type=\"X\" format=3]\n[sub_resource type=\"A\" id=\"s\"]\n"
                          "[ext_resource type=\"T\" path=\"p\" id=\"1\"]\n[resource]\n"},
    };
    for (const auto& c : bad) EXPECT_FALSE(GodotText::Parse(c.text).ok) << c.why;

    const std::string good[] = {
        head + "; a comment\n[resource]\natlas = ExtResource(\"1\")\nregion = Rect2(0, 0, 4, 4.5)\n"
               "a = [1, 2,]\nd = {\n\"k\": &\"v\",\n}\nn = null\nf = -1e-05\ns = \"tab\\there \\\"q\\\" \xC3\xA9\"\n",
        "[gd_scene format=3]\n[node name=\"Root\" type=\"Node2D\"]\n[node name=\"C\" type=\"Node2D\" parent=\".\"]\n"
        "polygon = PackedVector2Array(1, 2, -3, 4.5)\n",
    };
    for (const auto& text : good) {
        const GodotText::Result r = GodotText::Parse(text);
        EXPECT_TRUE(r.ok) << r.error;
    }
    const GodotText::Result r = GodotText::Parse(good[0]);
    EXPECT_EQ(r.doc.All("resource").at(0)->Prop("s")->text, "tab\there \"q\" \xC3\xA9");
    EXPECT_EQ(r.doc.All("resource").at(0)->Prop("d")->Get("k")->text, "v");
}

}  // namespace
