#include "atlas/atlas_settings.h"

#include "atlas/scales.h"

#include "options.h"

namespace Velmora::Commands {

namespace {

using Settings = AtlasSettings;

// The prefix's last component names the files (PREFIX.png) and the folder of
// per-frame files (PREFIX/): nothing, "." or ".." there would name a folder
// instead ("-o .." wrote "...png" and every frame into the parent). Both
// separators and a leading drive ("C:..") count on every system, so a
// command is refused alike on Linux and Windows.
bool ApplyOutput(const std::string& value, Settings& settings, std::string& error) {
    const size_t cut = value.find_last_of("/\\");
    std::string last = cut == std::string::npos ? value : value.substr(cut + 1);
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (cut == std::string::npos && last.size() >= 2 && isLetter(last[0]) && last[1] == ':') {
        last.erase(0, 2);
    }
    if (last.empty() || last == "." || last == "..") {
        error = "--output needs a file name prefix, not a folder: '" + value + "'";
        return false;
    }
    settings.prefix = value;
    return true;
}

bool ApplyJson(const std::string& value, Settings& settings, std::string& error) {
    if (value != "hash" && value != "array") {
        error = "--json is 'hash' or 'array', not '" + value + "'";
        return false;
    }
    settings.jsonArray = value == "array";
    return true;
}

bool ApplyPacker(const std::string& value, Settings& settings, std::string& error) {
    if (value != "maxrects" && value != "shelf") {
        error = "--packer is 'maxrects' or 'shelf', not '" + value + "'";
        return false;
    }
    settings.packer = value == "shelf" ? PackerKind::Shelf : PackerKind::MaxRects;
    return true;
}

// A whole number option from `min` to `max` into `target`.
bool ApplyCount(const char* name, const std::string& value, int64_t min, int64_t max, int64_t& target,
                std::string& error) {
    if (!ParseInteger(value, min, max, target)) {
        error = std::string(name) + " needs a whole number from " + std::to_string(min) + " to " +
                std::to_string(max);
        return false;
    }
    return true;
}

bool ApplyMaxWidth(const std::string& value, Settings& settings, std::string& error) {
    int64_t number = 0;
    if (!ApplyCount("--max-width", value, 1, kAtlasLimit, number, error)) {
        return false;
    }
    settings.shelfRowWidth = static_cast<int32_t>(number);
    return true;
}

bool ApplyMaxSize(const std::string& value, Settings& settings, std::string& error) {
    if (!ParseSize(value, kAtlasLimit, settings.geometry.maxWidth, settings.geometry.maxHeight)) {
        error = "--max-size needs WxH with sides from 1 to 8192, e.g. 4096x4096";
        return false;
    }
    return true;
}

bool ApplyMaxPages(const std::string& value, Settings& settings, std::string& error) {
    int64_t number = 0;
    if (!ApplyCount("--max-pages", value, 1, 4096, number, error)) {
        return false;
    }
    settings.maxPages = static_cast<size_t>(number);
    return true;
}

bool ApplyScale(const std::string& value, Settings& settings, std::string& error) {
    return ParseScales(value, settings.scales, error);
}

bool ApplyFilter(const std::string& value, Settings& settings, std::string& error) {
    return ParseFilter(value, settings.filter, error);
}

bool ApplyPadding(const std::string& value, Settings& settings, std::string& error) {
    int64_t number = 0;
    if (!ApplyCount("--padding", value, 0, 1024, number, error)) {
        return false;
    }
    settings.geometry.padding = static_cast<int32_t>(number);
    return true;
}

bool ApplyExtrude(const std::string& value, Settings& settings, std::string& error) {
    int64_t number = 0;
    if (!ApplyCount("--extrude", value, 0, 1024, number, error)) {
        return false;
    }
    settings.geometry.extrude = static_cast<int32_t>(number);
    return true;
}

bool ApplyJobs(const std::string& value, Settings& settings, std::string& error) {
    int64_t number = 0;
    if (!ApplyCount("--jobs", value, 1, 256, number, error)) {
        return false;
    }
    settings.jobs = static_cast<unsigned>(number);
    return true;
}

}  // namespace

const CommandTable<AtlasSettings>& AtlasTable() {
    static const CommandTable<AtlasSettings> table{
        "--atlas",
        "Usage: velmora2d --atlas [options] INPUT...\n"
        "\n"
        "Packs PNG sprites into an atlas and writes it with its documents:\n"
        "  PREFIX.png          the atlas, 8-bit RGBA\n"
        "  PREFIX.json         sprite-sheet JSON (PixiJS, Phaser)\n"
        "  PREFIX.tres         Godot 4 SpriteFrames, animations from numbered names\n"
        "  PREFIX/NAME.tres    Godot 4 AtlasTexture per frame\n"
        "  PREFIX.png.meta     Unity import settings, one sprite per frame\n"
        "Frames that do not fit one --max-size page go on more pages, each written\n"
        "as PREFIX-0, PREFIX-1, ... with PREFIX.multiatlas.json for Phaser.\n"
        "INPUT is a PNG or Aseprite file, or a folder searched recursively for\n"
        "*.png, *.aseprite and *.ase. A frame is named by its path relative to its\n"
        "folder (or its file name), without the extension, with '/' between\n"
        "folders; an Aseprite file's frames add '/' and their number (hero/0), its\n"
        "tags are timed animations, and PREFIX.anims.json holds them for Phaser.\n"
        "\n",
        {
            {{"--output", "-o", "PREFIX", "where to write (default: atlas)"}, ApplyOutput},
            {{"--json", nullptr, "hash|array", "JSON layout (default: hash)"}, ApplyJson},
            {{"--packer", nullptr, "maxrects|shelf",
              "maxrects packs tightly (default); shelf fills rows\nin name order up to --max-width"},
             ApplyPacker},
            {{"--max-width", nullptr, "N", "shelf row limit (default: 2048)"}, ApplyMaxWidth},
            {{"--max-size", nullptr, "WxH", "largest atlas (default and limit: 8192x8192)"}, ApplyMaxSize},
            {{"--max-pages", nullptr, "N", "at most N atlas pages (default: as many as needed)"},
             ApplyMaxPages},
            {{"--watch", nullptr, nullptr, "after packing, pack again whenever an input changes, until Ctrl-C"},
             [](const std::string&, Settings& s, std::string&) { return s.watch = true; }},
            {{"--scale", nullptr, "S[,S...]", "write a scale variant per S, e.g. 1,0.5 (PREFIX@0.5x...)"},
             ApplyScale},
            {{"--filter", nullptr, "smooth|nearest",
              "resampling for --scale (default: smooth; nearest for pixel art)"},
             ApplyFilter},
            {{"--pot", nullptr, nullptr, "power-of-two atlas width and height"},
             [](const std::string&, Settings& s, std::string&) { return s.geometry.powerOfTwo = true; }},
            {{"--trim", nullptr, nullptr,
              "cut transparent borders; every format keeps the\nframe's original size and placement"},
             [](const std::string&, Settings& s, std::string&) { return s.trim = true; }},
            {{"--padding", nullptr, "N", "transparent pixels between frames and at the edges"}, ApplyPadding},
            {{"--extrude", nullptr, "N", "repeat each frame's edge pixels N times around it"}, ApplyExtrude},
            {{"--dedupe", nullptr, nullptr, "identical frames share one rectangle"},
             [](const std::string&, Settings& s, std::string&) { return s.dedupe = true; }},
            {{"--normal-map", nullptr, nullptr, "also write PREFIX_n.png, the frames' normal maps"},
             [](const std::string&, Settings& s, std::string&) { return s.features.normalMap = true; }},
            {{"--strength", nullptr, "S", "normal map strength (default: 1.0)"},
             [](const std::string& v, Settings& s, std::string& e) { return ApplyStrength(v, s.features, e); }},
            {{"--colliders", nullptr, nullptr,
              "trace collision polygons: Unity physics shapes,\nJSON \"polygons\", Godot scenes PREFIX/NAME.tscn"},
             [](const std::string&, Settings& s, std::string&) { return s.features.colliders = true; }},
            {{"--alpha", nullptr, "A", "solid from this alpha on, 0-255 (default: 10)"},
             [](const std::string& v, Settings& s, std::string& e) { return ApplyAlpha(v, s.features, e); }},
            {{"--tolerance", nullptr, "T", "polygon simplification in pixels (default: 1.0)"},
             [](const std::string& v, Settings& s, std::string& e) { return ApplyTolerance(v, s.features, e); }},
            {{"--min-area", nullptr, "A",
              "drop collider specks enclosing fewer square pixels,\nexcept a frame's largest (default: 5; 0 keeps all)"},
             [](const std::string& v, Settings& s, std::string& e) { return ApplyMinArea(v, s.features, e); }},
            {{"--jobs", nullptr, "N", "decoding and encoding threads (default: all cores)"}, ApplyJobs},
        },
        "Frames are never rotated.\n"
        "\n"
        "Exit status: 0 written, 1 usage error, 2 input or output error (nothing\n"
        "is written then).\n",
    };
    return table;
}

std::vector<OptionHelp> AtlasOptions() { return OptionTexts(AtlasTable()); }

bool HasScaleVariants(const AtlasSettings& settings) {
    return settings.scales.size() != 1 || settings.scales[0].numerator != settings.scales[0].denominator;
}

}  // namespace Velmora::Commands
