#include <gtest/gtest.h>

#include <limits>

#include "velmora_engine.h"

namespace {

using Velmora::CollisionPolygon;
using Velmora::ExportGodot4Tres;
using Velmora::ExportUnityJson;
using Velmora::Rect2D;

const std::string kGodotHead =
    "[gd_resource type=\"AtlasTexture\" load_steps=2 format=3]\n\n"
    "[ext_resource type=\"Texture2D\" path=\"res://a.png\" id=\"1_atlas\"]\n\n";

std::string GodotFrame(const std::string& name, int k, const std::string& region) {
    return "# Frame: " + name + "\n[sub_resource type=\"AtlasTexture\" id=\"frame_" + std::to_string(k) +
           "\"]\natlas = ExtResource(\"1_atlas\")\nregion = Rect2(" + region + ")\n\n";
}

TEST(GodotExport, DocumentPiecesForEachInputShape) {
    struct Case {
        const char* name;
        std::vector<Rect2D> rects;
        std::vector<CollisionPolygon> polygons;
        std::string expected;
    };
    const Case cases[] = {
        {"empty lists: header and texture only", {}, {}, kGodotHead},
        {"no rects, one polygon: heading follows the texture", {}, {{"c", {{1, 2}}}},
         kGodotHead + "# Physics Collision Polygons\n# Collider: c\n"
                      "points = PackedVector2Array(Vector2(1, 2))\n\n"},
        {"no polygons: no collision heading", {{0, 0, 32, 32, "a"}}, {},
         kGodotHead + GodotFrame("a", 0, "0, 0, 32, 32")},
        {"polygon without points", {}, {{"empty", {}}},
         kGodotHead + "# Physics Collision Polygons\n# Collider: empty\npoints = PackedVector2Array()\n\n"},
        {"two polygons share one heading", {}, {{"p", {{3, 4}, {-5, 6}}}, {"q", {}}},
         kGodotHead + "# Physics Collision Polygons\n# Collider: p\n"
                      "points = PackedVector2Array(Vector2(3, 4), Vector2(-5, 6))\n\n"
                      "# Collider: q\npoints = PackedVector2Array()\n\n"},
        {"negative and extreme numbers", {{-8, 0, 16, 16, "n"}, {INT32_MIN, INT32_MAX, 0, -1, "m"}}, {},
         kGodotHead + GodotFrame("n", 0, "-8, 0, 16, 16") +
             GodotFrame("m", 1, "-2147483648, 2147483647, 0, -1")},
        {"repeated and empty names keep positional ids", {{0, 0, 1, 1, "x"}, {1, 0, 1, 1, "x"}, {2, 0, 1, 1, ""}},
         {}, kGodotHead + GodotFrame("x", 0, "0, 0, 1, 1") + GodotFrame("x", 1, "1, 0, 1, 1") +
                 GodotFrame("", 2, "2, 0, 1, 1")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExportGodot4Tres(c.rects, c.polygons, "res://a.png"), c.expected) << c.name;
    }
}

TEST(GodotExport, TwelveFramesCountIdsButKeepTheHeader) {
    std::vector<Rect2D> rects(12, Rect2D{0, 0, 1, 1, "f"});
    const std::string doc = ExportGodot4Tres(rects, {}, "t");
    EXPECT_EQ(doc.rfind("load_steps=2"), doc.find("load_steps=2")) << "header written once";
    EXPECT_NE(doc.find("id=\"frame_0\"]"), std::string::npos);
    EXPECT_NE(doc.find("id=\"frame_11\"]\n"), std::string::npos);
    EXPECT_EQ(doc.find("frame_12"), std::string::npos);
    EXPECT_EQ(doc.substr(doc.size() - 2), "\n\n") << "the document ends with an empty line";
}

TEST(GodotExport, UnsafeTextCannotBreakTheDocument) {
    struct Case {
        const char* name;
        std::string text;
        std::string inPath;     // as written inside path="..."
        std::string inComment;  // as written after "# Frame: "
    };
    const Case cases[] = {
        {"plain text unchanged", "res://x y.png", "res://x y.png", "res://x y.png"},
        {"empty", "", "", ""},
        {"quote", "a\"b", "a\\\"b", "a\"b"},
        {"backslash", "C:\\dir\\", "C:\\\\dir\\\\", "C:\\dir\\"},
        {"line ends", "a\nb\r\n", "a\\nb\\r\\n", "a\\nb\\r\\n"},
        {"tab and other controls", std::string("t\tz\x01\x1f\x7f", 6), "t\\tz\\u0001\\u001F\\u007F",
         "t\\tz\\u0001\\u001F\\u007F"},
        {"non-ASCII bytes unchanged", "h\xC3\xA9ros", "h\xC3\xA9ros", "h\xC3\xA9ros"},
    };
    for (const Case& c : cases) {
        const std::string doc = ExportGodot4Tres({{0, 0, 1, 1, c.text}}, {{c.text, {}}}, c.text);
        const std::string expected =
            "[gd_resource type=\"AtlasTexture\" load_steps=2 format=3]\n\n"
            "[ext_resource type=\"Texture2D\" path=\"" + c.inPath + "\" id=\"1_atlas\"]\n\n" +
            "# Frame: " + c.inComment +
            "\n[sub_resource type=\"AtlasTexture\" id=\"frame_0\"]\natlas = ExtResource(\"1_atlas\")\n"
            "region = Rect2(0, 0, 1, 1)\n\n# Physics Collision Polygons\n# Collider: " + c.inComment +
            "\npoints = PackedVector2Array()\n\n";
        EXPECT_EQ(doc, expected) << c.name;
    }
}

const std::string kUnityTail = "  ],\n  \"meta\": {\n    \"app\": \"Velmora 2D Studio\",\n";

std::string UnityFrame(const std::string& filename, const std::string& frame, bool last) {
    return "    {\n      \"filename\": \"" + filename + "\",\n      \"frame\": {" + frame +
           "},\n      \"rotated\": false,\n      \"trimmed\": false\n    }" + (last ? "\n" : ",\n");
}

TEST(UnityExport, DocumentPiecesForEachInputShape) {
    struct Case {
        const char* name;
        std::vector<Rect2D> rects;
        int32_t width, height;
        std::string expected;
    };
    const Case cases[] = {
        {"empty list", {}, 64, 0,
         "{\n  \"frames\": [\n" + kUnityTail + "    \"size\": {\"w\": 64, \"h\": 0}\n  }\n}\n"},
        {"single frame has no trailing comma", {{1, 2, 3, 4, "a"}}, 64, 4,
         "{\n  \"frames\": [\n" + UnityFrame("a", "\"x\": 1, \"y\": 2, \"w\": 3, \"h\": 4", true) +
             kUnityTail + "    \"size\": {\"w\": 64, \"h\": 4}\n  }\n}\n"},
        {"size is taken as given, never derived", {{0, 0, 500, 500, ""}, {-8, INT32_MIN, 0, INT32_MAX, ""}},
         0, -1,
         "{\n  \"frames\": [\n" + UnityFrame("", "\"x\": 0, \"y\": 0, \"w\": 500, \"h\": 500", false) +
             UnityFrame("", "\"x\": -8, \"y\": -2147483648, \"w\": 0, \"h\": 2147483647", true) +
             kUnityTail + "    \"size\": {\"w\": 0, \"h\": -1}\n  }\n}\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExportUnityJson(c.rects, c.width, c.height), c.expected) << c.name;
    }
}

TEST(UnityExport, NamesAreEscapedAsJsonStrings) {
    struct Case {
        const char* name;
        std::string raw;
        std::string escaped;
    };
    const Case cases[] = {
        {"plain", "hero_walk_0", "hero_walk_0"},
        {"quote and backslash", "say \"hi\" \\o/", "say \\\"hi\\\" \\\\o/"},
        {"short control escapes", "a\nb\rc\td", "a\\nb\\rc\\td"},
        {"other controls as \\u00XX", std::string("\0\x08\x0c\x1f\x7f", 5), "\\u0000\\u0008\\u000C\\u001F\\u007F"},
        {"non-ASCII bytes unchanged", "\xE2\x9C\x93", "\xE2\x9C\x93"},
        {"slash unchanged", "a/b", "a/b"},
    };
    for (const Case& c : cases) {
        const std::string doc = ExportUnityJson({{0, 0, 1, 1, c.raw}}, 64, 1);
        EXPECT_NE(doc.find("\"filename\": \"" + c.escaped + "\",\n"), std::string::npos)
            << c.name << "\n" << doc;
    }
}

}  // namespace
