// Engine export documents: Godot 4 text resource and Unity sprite-sheet JSON.
// Each builds its whole document in one string; numbers go through
// std::to_chars so no locale can add grouping or change digits.
#include "velmora_engine.h"

#include <charconv>

namespace Velmora {
namespace {

template <typename Integer>
void AppendInt(std::string& out, Integer value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

bool IsControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

// Writes a control character as \n, \r, \t or \u00XX.
void AppendControlEscape(std::string& out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    switch (byte) {
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default:
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
            return;
    }
}

// `quoted` text sits between double quotes, where a backslash or quote would
// end or bend the string; elsewhere (comment lines) only a line end can do
// harm. Text without such bytes is copied unchanged.
void AppendSafe(std::string& out, const std::string& text, bool quoted) {
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (IsControl(byte)) {
            AppendControlEscape(out, byte);
        } else if (quoted && (ch == '"' || ch == '\\')) {
            out += '\\';
            out += ch;
        } else {
            out += ch;
        }
    }
}

void AppendGodotFrame(std::string& out, const Rect2D& rect, uint64_t index) {
    out += "# Frame: ";
    AppendSafe(out, rect.name, false);
    out += "\n[sub_resource type=\"AtlasTexture\" id=\"frame_";
    AppendInt(out, index);
    out += "\"]\natlas = ExtResource(\"1_atlas\")\nregion = Rect2(";
    AppendInt(out, rect.x);
    out += ", ";
    AppendInt(out, rect.y);
    out += ", ";
    AppendInt(out, rect.w);
    out += ", ";
    AppendInt(out, rect.h);
    out += ")\n\n";
}

void AppendGodotCollider(std::string& out, const CollisionPolygon& polygon) {
    out += "# Collider: ";
    AppendSafe(out, polygon.name, false);
    out += "\npoints = PackedVector2Array(";
    const char* separator = "";
    for (const Point2D& point : polygon.points) {
        out += separator;
        out += "Vector2(";
        AppendInt(out, point.x);
        out += ", ";
        AppendInt(out, point.y);
        out += ')';
        separator = ", ";
    }
    out += ")\n\n";
}

void AppendUnityFrame(std::string& out, const Rect2D& rect) {
    out += "    {\n      \"filename\": \"";
    AppendSafe(out, rect.name, true);
    out += "\",\n      \"frame\": {\"x\": ";
    AppendInt(out, rect.x);
    out += ", \"y\": ";
    AppendInt(out, rect.y);
    out += ", \"w\": ";
    AppendInt(out, rect.w);
    out += ", \"h\": ";
    AppendInt(out, rect.h);
    out += "},\n      \"rotated\": false,\n      \"trimmed\": false\n    }";
}

}  // namespace

std::string ExportGodot4Tres(const std::vector<Rect2D>& rects,
                             const std::vector<CollisionPolygon>& polygons,
                             const std::string& texturePath) {
    std::string out = "[gd_resource type=\"AtlasTexture\" load_steps=2 format=3]\n\n"
                      "[ext_resource type=\"Texture2D\" path=\"";
    AppendSafe(out, texturePath, true);
    out += "\" id=\"1_atlas\"]\n\n";
    uint64_t index = 0;
    for (const Rect2D& rect : rects) {
        AppendGodotFrame(out, rect, index++);
    }
    if (!polygons.empty()) {
        out += "# Physics Collision Polygons\n";
        for (const CollisionPolygon& polygon : polygons) {
            AppendGodotCollider(out, polygon);
        }
    }
    return out;
}

std::string ExportUnityJson(const std::vector<Rect2D>& rects, int32_t atlasWidth,
                            int32_t atlasHeight) {
    std::string out = "{\n  \"frames\": [\n";
    for (size_t k = 0; k < rects.size(); ++k) {
        AppendUnityFrame(out, rects[k]);
        out += (k + 1 < rects.size()) ? ",\n" : "\n";
    }
    out += "  ],\n  \"meta\": {\n    \"app\": \"Velmora 2D Studio\",\n    \"size\": {\"w\": ";
    AppendInt(out, atlasWidth);
    out += ", \"h\": ";
    AppendInt(out, atlasHeight);
    out += "}\n  }\n}\n";
    return out;
}

}  // namespace Velmora
