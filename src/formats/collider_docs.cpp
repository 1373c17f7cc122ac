// The --colliders listings: plain text, JSON and a Godot scene.
#include <string>

#include "formats/sheet.h"
#include "formats/text_escape.h"

namespace Velmora::Formats {

namespace {

std::string Int(int32_t v) { return std::to_string(v); }


}  // namespace

// One polygon per line: points as "x,y" separated by single spaces, the
// line ended by "\n". No polygons: empty output.
std::string BuildColliderText(const Polygons& polygons) {
    std::string out;
    for (const auto& polygon : polygons) {
        for (size_t i = 0; i < polygon.size(); ++i) {
            if (i != 0) out += ' ';
            out += Int(polygon[i].x) + ',' + Int(polygon[i].y);
        }
        out += '\n';
    }
    return out;
}

// A JSON array of polygons, one per line, each an array of [x, y] points.
std::string BuildColliderJson(const Polygons& polygons) {
    if (polygons.empty()) return "[]\n";
    std::string out = "[\n";
    for (size_t p = 0; p < polygons.size(); ++p) {
        out += "  [";
        for (size_t i = 0; i < polygons[p].size(); ++i) {
            if (i != 0) out += ", ";
            out += '[' + Int(polygons[p][i].x) + ", " + Int(polygons[p][i].y) + ']';
        }
        out += p + 1 < polygons.size() ? "],\n" : "]\n";
    }
    out += "]\n";
    return out;
}

// A scene whose StaticBody2D root sits at the image's top-left corner, so
// the polygons' node-local points are the image's pixels, y down.
std::string BuildColliderGodotScene(const Polygons& polygons, int32_t width, int32_t height) {
    std::string out = "[gd_scene format=3]\n\n";
    out += "; Collision polygons of a " + Int(width) + " x " + Int(height) +
           " image, in its pixels (origin top-left, y down).\n\n";
    out += "[node name=\"Colliders\" type=\"StaticBody2D\"]\n";
    for (size_t p = 0; p < polygons.size(); ++p) {
        const std::string node = p == 0 ? "CollisionPolygon2D" : "CollisionPolygon2D" + std::to_string(p + 1);
        out += "\n[node name=\"" + node + "\" type=\"CollisionPolygon2D\" parent=\".\"]\n";
        out += "polygon = PackedVector2Array(" + Text::GodotFlatPoints(polygons[p]) + ")\n";
    }
    return out;
}

}  // namespace Velmora::Formats
