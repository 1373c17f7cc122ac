// Sprite-sheet JSON in the two layouts 2-D engines read: frames keyed by
// name ("hash", which every client keys by name) and frames as a list with
// a "filename" each ("array"). Both carry the "animations" map that PixiJS
// turns into its sheet's animations.
#include <string>
#include <vector>

#include "formats/animations.h"
#include "formats/sheet.h"
#include "formats/text_escape.h"
#include "velmora_version.h"

namespace Velmora::Formats {

namespace {

std::string Int(int32_t v) { return std::to_string(v); }

// The polygons as nested [x, y] lists on one line.
std::string PolygonList(const Polygons& polygons) {
    std::string out = "[";
    for (size_t p = 0; p < polygons.size(); ++p) {
        if (p != 0) out += ", ";
        out += '[';
        const auto& points = polygons[p];
        for (size_t i = 0; i < points.size(); ++i) {
            if (i != 0) out += ", ";
            out += '[' + Int(points[i].x) + ", " + Int(points[i].y) + ']';
        }
        out += ']';
    }
    out += ']';
    return out;
}

// A frame's fields, each line indented by `indent`; no closing brace.
void AppendFrameFields(std::string& out, const SheetFrame& f, bool colliders,
                       const std::string& indent) {
    out += indent + "\"frame\": {\"x\": " + Int(f.x) + ", \"y\": " + Int(f.y) +
           ", \"w\": " + Int(f.w) + ", \"h\": " + Int(f.h) + "},\n";
    out += indent + "\"rotated\": false,\n";
    out += indent + "\"trimmed\": " + (f.trimmed ? "true" : "false") + ",\n";
    out += indent + "\"spriteSourceSize\": {\"x\": " + Int(f.offsetX) + ", \"y\": " +
           Int(f.offsetY) + ", \"w\": " + Int(f.w) + ", \"h\": " + Int(f.h) + "},\n";
    out += indent + "\"sourceSize\": {\"w\": " + Int(f.sourceW) + ", \"h\": " + Int(f.sourceH) + "}";
    // Frames of layered sprite files keep their time on screen, in ms.
    if (f.durationMs > 0) out += ",\n" + indent + "\"duration\": " + Int(f.durationMs);
    if (colliders) out += ",\n" + indent + "\"polygons\": " + PolygonList(f.polygons);
    out += '\n';
}

// Every animation, each as its frames' names in play order: the same list
// as the Godot SpriteFrames, one-frame animations included.
void AppendAnimations(std::string& out, const Sheet& sheet, const std::vector<std::string>& names) {
    const std::vector<Animation> animations = sheet.animations ? *sheet.animations : SheetAnimations(sheet.frames);
    out += "  \"animations\": {";
    for (size_t a = 0; a < animations.size(); ++a) {
        out += a == 0 ? "\n" : ",\n";
        out += "    " + Text::JsonString(animations[a].name) + ": [";
        const std::vector<size_t>& frames = animations[a].frames;
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i != 0) out += ", ";
            out += Text::JsonString(names[frames[i]]);
        }
        out += ']';
    }
    out += animations.empty() ? "},\n" : "\n  },\n";
}

void AppendMeta(std::string& out, const Sheet& sheet) {
    out += "  \"meta\": {\n";
    out += "    \"app\": \"velmora2d\",\n";
    out += "    \"version\": \"" VELMORA_VERSION "\",\n";
    out += "    \"image\": " + Text::JsonString(DocumentName(sheet.imageFile)) + ",\n";
    if (!sheet.normalMapFile.empty()) {
        out += "    \"normal_map\": " + Text::JsonString(DocumentName(sheet.normalMapFile)) + ",\n";
    }
    out += "    \"format\": \"RGBA8888\",\n";
    out += "    \"size\": {\"w\": " + Int(sheet.width) + ", \"h\": " + Int(sheet.height) + "},\n";
    if (!sheet.relatedPacks.empty()) {
        out += "    \"related_multi_packs\": [";
        for (size_t i = 0; i < sheet.relatedPacks.size(); ++i) {
            out += (i == 0 ? "" : ", ") + Text::JsonString(DocumentName(sheet.relatedPacks[i]));
        }
        out += "],\n";
    }
    out += "    \"scale\": " + Text::JsonString(sheet.scale) + "\n";
    out += "  }\n";
}

}  // namespace

std::string BuildJsonHash(const Sheet& sheet) {
    const std::vector<std::string> names = Text::UniqueDocumentNames(sheet.frames);
    std::string out = "{\n  \"frames\": {";
    for (size_t i = 0; i < sheet.frames.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        out += "    " + Text::JsonString(names[i]) + ": {\n";
        AppendFrameFields(out, sheet.frames[i], sheet.colliders, "      ");
        out += "    }";
    }
    out += sheet.frames.empty() ? "},\n" : "\n  },\n";
    AppendAnimations(out, sheet, names);
    AppendMeta(out, sheet);
    out += "}\n";
    return out;
}

std::string BuildJsonArray(const Sheet& sheet) {
    const std::vector<std::string> names = Text::UniqueDocumentNames(sheet.frames);
    std::string out = "{\n  \"frames\": [";
    for (size_t i = 0; i < sheet.frames.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        out += "    {\n      \"filename\": " + Text::JsonString(names[i]) + ",\n";
        AppendFrameFields(out, sheet.frames[i], sheet.colliders, "      ");
        out += "    }";
    }
    out += sheet.frames.empty() ? "],\n" : "\n  ],\n";
    AppendAnimations(out, sheet, names);
    AppendMeta(out, sheet);
    out += "}\n";
    return out;
}

std::string BuildPhaserMultiAtlas(const std::vector<Sheet>& pages) {
    std::string out = "{\n  \"textures\": [";
    for (size_t p = 0; p < pages.size(); ++p) {
        const Sheet& sheet = pages[p];
        out += p == 0 ? "\n" : ",\n";
        out += "    {\n";
        out += "      \"image\": " + Text::JsonString(DocumentName(sheet.imageFile)) + ",\n";
        if (!sheet.normalMapFile.empty()) {
            out += "      \"normalMap\": " + Text::JsonString(DocumentName(sheet.normalMapFile)) + ",\n";
        }
        out += "      \"format\": \"RGBA8888\",\n";
        out += "      \"size\": {\"w\": " + Int(sheet.width) + ", \"h\": " + Int(sheet.height) + "},\n";
        out += "      \"scale\": " + sheet.scale + ",\n";
        const std::vector<std::string> names = Text::UniqueDocumentNames(sheet.frames);
        out += "      \"frames\": [";
        for (size_t i = 0; i < sheet.frames.size(); ++i) {
            out += i == 0 ? "\n" : ",\n";
            out += "        {\n          \"filename\": " + Text::JsonString(names[i]) + ",\n";
            AppendFrameFields(out, sheet.frames[i], sheet.colliders, "          ");
            out += "        }";
        }
        out += sheet.frames.empty() ? "]\n" : "\n      ]\n";
        out += "    }";
    }
    out += pages.empty() ? "],\n" : "\n  ],\n";
    out += "  \"meta\": {\n";
    out += "    \"app\": \"velmora2d\",\n";
    out += "    \"version\": \"" VELMORA_VERSION "\",\n";
    out += "    \"format\": \"RGBA8888\",\n";
    out += "    \"scale\": " + Text::JsonString(pages.empty() ? std::string("1") : pages.front().scale) + "\n";
    out += "  }\n}\n";
    return out;
}

}  // namespace Velmora::Formats
