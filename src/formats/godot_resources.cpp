// Godot 4 text resources: the sheet's SpriteFrames, one AtlasTexture per
// frame and one collider scene per frame. Written for format=3 as Godot's
// loader reads it: ';' comments only, packed arrays as flat numbers, every
// id declared before it is used, a .tres ending in its single [resource].
#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "formats/animations.h"
#include "formats/sheet.h"
#include "formats/text_escape.h"

namespace Velmora::Formats {

namespace {

std::string Int(int32_t v) { return std::to_string(v); }

std::string Rect(int32_t x, int32_t y, int32_t w, int32_t h) {
    return "Rect2(" + Int(x) + ", " + Int(y) + ", " + Int(w) + ", " + Int(h) + ")";
}

bool NeedsMargin(const SheetFrame& f) {
    return f.trimmed || f.offsetX != 0 || f.offsetY != 0 || f.sourceW != f.w || f.sourceH != f.h;
}

// The ext_resource lines of atlas pages and, for pages with a normal map,
// the CanvasTextures that pair it with the atlas: every ext_resource comes
// before the first sub_resource, as Godot's loader reads them in that
// order. Returns the reference each page's AtlasTextures use for `atlas`.
// Several pages tell their ids apart by number; a single atlas keeps the
// plain ids.
std::vector<std::string> AppendAtlasSources(std::string& out, const std::vector<std::string>& imagePaths,
                                            const std::vector<std::string>& normalPaths) {
    const size_t pages = imagePaths.size();
    const auto id = [pages](const char* kind, size_t page) {
        return std::string(kind) + (pages == 1 ? "" : "_" + std::to_string(page));
    };
    const auto normalOf = [&normalPaths](size_t page) {
        return page < normalPaths.size() ? normalPaths[page] : std::string();
    };
    for (size_t p = 0; p < pages; ++p) {
        out += "[ext_resource type=\"Texture2D\" path=" + Text::GodotString(DocumentName(imagePaths[p])) +
               " id=\"" + id("1_atlas", p) + "\"]\n";
        if (!normalOf(p).empty()) {
            out += "[ext_resource type=\"Texture2D\" path=" + Text::GodotString(DocumentName(normalOf(p))) +
                   " id=\"" + id("2_normal", p) + "\"]\n";
        }
    }
    out += '\n';
    std::vector<std::string> refs;
    for (size_t p = 0; p < pages; ++p) {
        if (normalOf(p).empty()) {
            refs.push_back("ExtResource(\"" + id("1_atlas", p) + "\")");
            continue;
        }
        out += "[sub_resource type=\"CanvasTexture\" id=\"" + id("canvas", p) + "\"]\n";
        out += "diffuse_texture = ExtResource(\"" + id("1_atlas", p) + "\")\n";
        out += "normal_texture = ExtResource(\"" + id("2_normal", p) + "\")\n\n";
        refs.push_back("SubResource(\"" + id("canvas", p) + "\")");
    }
    return refs;
}

// An AtlasTexture's properties: its region in the atlas and, for a frame
// whose stored pixels are smaller than the original, the margin that
// restores the original size and placement.
void AppendAtlasProperties(std::string& out, const SheetFrame& f, const std::string& atlasRef) {
    out += "atlas = " + atlasRef + "\n";
    out += "region = " + Rect(f.x, f.y, f.w, f.h) + "\n";
    if (NeedsMargin(f)) {
        out += "margin = " + Rect(f.offsetX, f.offsetY, f.sourceW - f.w, f.sourceH - f.h) + "\n";
    }
    // Keeps linear filtering from sampling the neighbouring frames.
    out += "filter_clip = true\n";
}

// A node name Godot accepts: its forbidden characters . : @ / " % and
// control characters become '_'; an empty name becomes "Frame".
std::string NodeName(const std::string& utf8) {
    std::string out;
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        const bool bad = c < 0x20U || c == 0x7FU || ch == '.' || ch == ':' || ch == '@' ||
                         ch == '/' || ch == '"' || ch == '%';
        out += bad ? '_' : ch;
    }
    return out.empty() ? "Frame" : out;
}


// How Godot plays an animation: `speed` ticks a second, each frame
// `duration` ticks. A timed animation's tick is the largest that divides
// every frame's time and a second, so speed and durations are whole
// numbers and duration / speed is each frame's time exactly; its frames are
// spelt out to the end when it does not loop, as Godot plays them once.
// Name sequences tick 10 times a second, one tick a frame.
struct Timing {
    int32_t unitMs = 100;
    std::vector<size_t> frames;
};

Timing TimingOf(const Animation& animation, const std::vector<SheetFrame>& frames) {
    if (!animation.timed) return Timing{100, animation.frames};
    Timing timing{1000, PlayedFrames(animation)};
    for (const size_t f : timing.frames) {
        timing.unitMs = std::gcd(timing.unitMs, std::max(frames[f].durationMs, 1));
    }
    return timing;
}

}  // namespace

std::string BuildGodotSpriteFrames(const Sheet& sheet, const std::string& imagePath,
                                   const std::string& normalPath) {
    return BuildGodotSpriteFrames(std::vector<Sheet>{sheet}, {imagePath}, {normalPath});
}

std::string BuildGodotSpriteFrames(const std::vector<Sheet>& pages, const std::vector<std::string>& imagePaths,
                                   const std::vector<std::string>& normalPaths) {
    std::string out = "[gd_resource type=\"SpriteFrames\" format=3]\n\n";
    std::vector<std::string> images = imagePaths;
    images.resize(pages.size());
    const std::vector<std::string> atlasRefs = AppendAtlasSources(out, images, normalPaths);
    std::vector<SheetFrame> frames;
    size_t index = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
        for (const SheetFrame& frame : pages[p].frames) {
            out += "[sub_resource type=\"AtlasTexture\" id=\"frame_" + std::to_string(index++) + "\"]\n";
            AppendAtlasProperties(out, frame, atlasRefs[p]);
            out += '\n';
            frames.push_back(frame);
        }
    }
    const auto animations = SheetAnimations(frames);
    out += "[resource]\nanimations = [";
    bool firstAnimation = true;
    for (const Animation& animation : animations) {
        out += firstAnimation ? "{\n" : ", {\n";
        firstAnimation = false;
        out += "\"frames\": [";
        bool firstFrame = true;
        const Timing timing = TimingOf(animation, frames);
        for (const size_t frame : timing.frames) {
            out += firstFrame ? "{\n" : ", {\n";
            firstFrame = false;
            const int32_t units = animation.timed ? frames[frame].durationMs / timing.unitMs : 1;
            out += "\"duration\": " + Int(units) + ".0,\n\"texture\": SubResource(\"frame_" +
                   std::to_string(frame) + "\")\n}";
        }
        out += "],\n\"loop\": " + std::string(animation.repeat == 0 ? "true" : "false") + ",\n\"name\": &" +
               Text::GodotString(animation.name) + ",\n\"speed\": " + Int(1000 / timing.unitMs) + ".0\n}";
    }
    out += "]\n";
    return out;
}

std::string BuildGodotAtlasTexture(const SheetFrame& frame, const std::string& imagePath,
                                   const std::string& normalPath) {
    std::string out = "[gd_resource type=\"AtlasTexture\" format=3]\n\n";
    const std::string atlasRef = AppendAtlasSources(out, {imagePath}, {normalPath}).front();
    out += "[resource]\n";
    AppendAtlasProperties(out, frame, atlasRef);
    return out;
}

// The sprite is drawn uncentred, so node-local coordinates are the original
// frame's pixels (y down): the AtlasTexture's margin puts the stored pixels
// at their original place, and the polygons use the same frame pixels.
std::string BuildGodotColliderScene(const SheetFrame& frame, const std::string& texturePath) {
    std::string out = "[gd_scene format=3]\n\n";
    out += "[ext_resource type=\"Texture2D\" path=" + Text::GodotString(DocumentName(texturePath)) +
           " id=\"1_texture\"]\n\n";
    out += "[node name=" + Text::GodotString(NodeName(DocumentName(frame.name))) +
           " type=\"StaticBody2D\"]\n\n";
    out += "[node name=\"Sprite2D\" type=\"Sprite2D\" parent=\".\"]\n";
    out += "texture = ExtResource(\"1_texture\")\ncentered = false\n";
    for (size_t p = 0; p < frame.polygons.size(); ++p) {
        const std::string node =
            p == 0 ? "CollisionPolygon2D" : "CollisionPolygon2D" + std::to_string(p + 1);
        out += "\n[node name=\"" + node + "\" type=\"CollisionPolygon2D\" parent=\".\"]\n";
        out += "polygon = PackedVector2Array(" + Text::GodotFlatPoints(frame.polygons[p]) + ")\n";
    }
    return out;
}

}  // namespace Velmora::Formats
