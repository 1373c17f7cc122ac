// Unity texture import settings (.png.meta, TextureImporter
// serializedVersion 11, the layout Unity has kept unchanged from 2021.2 to
// 6000.x) for the atlas as a Multiple-mode sprite sheet, and for its normal
// map. Ids are derived from names so re-packing keeps scene references.
#include <set>
#include <string>
#include <vector>

#include "formats/sheet.h"
#include "formats/text_escape.h"

namespace Velmora::Formats {

namespace {

std::string Int(int64_t v) { return std::to_string(v); }

bool IsHex32(const std::string& s) {
    if (s.size() != 32) return false;
    for (const char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return s.find_first_not_of('0') != std::string::npos;
}

struct SpriteIds {
    int64_t internalId = 0;
    std::string spriteId;
};

// Kept ids first (an existing scene refers to them), then ids derived
// from the name for the rest, re-derived with a counter on any clash.
std::vector<SpriteIds> AssignIds(const std::vector<std::string>& names, const UnityKeptIds& kept) {
    std::vector<SpriteIds> ids(names.size());
    std::set<int64_t> usedInternal;
    std::set<std::string> usedSprite;
    for (size_t i = 0; i < names.size(); ++i) {
        const auto it = kept.sprites.find(names[i]);
        if (it == kept.sprites.end()) continue;
        if (it->second.internalId != 0 && usedInternal.insert(it->second.internalId).second) {
            ids[i].internalId = it->second.internalId;
        }
        if (IsHex32(it->second.spriteId) && usedSprite.insert(it->second.spriteId).second) {
            ids[i].spriteId = it->second.spriteId;
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        for (unsigned k = 0; ids[i].internalId == 0; ++k) {
            const std::string key = k == 0 ? names[i] : names[i] + '\0' + std::to_string(k);
            const auto id = static_cast<int64_t>(Text::Hash64("velmora2d unity internalID", key, 7));
            if (id != 0 && usedInternal.insert(id).second) ids[i].internalId = id;
        }
        for (unsigned k = 0; ids[i].spriteId.empty(); ++k) {
            const std::string key = k == 0 ? names[i] : names[i] + '\0' + std::to_string(k);
            std::string id = Text::Hex128("velmora2d unity spriteID", key);
            if (usedSprite.insert(id).second) ids[i].spriteId = id;
        }
    }
    return ids;
}

struct ImporterSettings {
    int textureType = 8;
    int sRGB = 1;
    int spriteMode = 2;
    int alphaIsTransparency = 1;
};

// The texture settings, as Unity writes them. Choices: no mipmaps, point
// filtering and clamping (frames are packed edge to edge unless padded, so
// any blending would pick up neighbours), no compression and no resizing
// up to 8192 (the atlas limit), so Unity shows the atlas' exact pixels.
void AppendTextureSettings(std::string& out, const ImporterSettings& s) {
    out += "  serializedVersion: 11\n"
           "  mipmaps:\n"
           "    mipMapMode: 0\n"
           "    enableMipMap: 0\n"
           "    sRGBTexture: " + Int(s.sRGB) + "\n"
           "    linearTexture: 0\n"
           "    fadeOut: 0\n"
           "    borderMipMap: 0\n"
           "    mipMapsPreserveCoverage: 0\n"
           "    alphaTestReferenceValue: 0.5\n"
           "    mipMapFadeDistanceStart: 1\n"
           "    mipMapFadeDistanceEnd: 3\n"
           "  bumpmap:\n"
           "    convertToNormalMap: 0\n"
           "    externalNormalMap: 0\n"
           "    heightScale: 0.25\n"
           "    normalMapFilter: 0\n"
           "  isReadable: 0\n"
           "  streamingMipmaps: 0\n"
           "  streamingMipmapsPriority: 0\n"
           "  vTOnly: 0\n"
           "  ignoreMasterTextureLimit: 0\n"
           "  grayScaleToAlpha: 0\n"
           "  generateCubemap: 6\n"
           "  cubemapConvolution: 0\n"
           "  seamlessCubemap: 0\n"
           "  textureFormat: 1\n"
           "  maxTextureSize: 8192\n"
           "  textureSettings:\n"
           "    serializedVersion: 2\n"
           "    filterMode: 0\n"
           "    aniso: 1\n"
           "    mipBias: 0\n"
           "    wrapU: 1\n"
           "    wrapV: 1\n"
           "    wrapW: 1\n"
           "  nPOTScale: 0\n"
           "  lightmap: 0\n"
           "  compressionQuality: 50\n"
           "  spriteMode: " + Int(s.spriteMode) + "\n"
           "  spriteExtrude: 1\n"
           "  spriteMeshType: 1\n"
           "  alignment: 0\n"
           "  spritePivot: {x: 0.5, y: 0.5}\n"
           "  spritePixelsToUnits: 100\n"
           "  spriteBorder: {x: 0, y: 0, z: 0, w: 0}\n"
           "  spriteGenerateFallbackPhysicsShape: 1\n"
           "  alphaUsage: 1\n"
           "  alphaIsTransparency: " + Int(s.alphaIsTransparency) + "\n"
           "  spriteTessellationDetail: -1\n"
           "  textureType: " + Int(s.textureType) + "\n"
           "  textureShape: 1\n"
           "  singleChannelComponent: 0\n"
           "  flipbookRows: 1\n"
           "  flipbookColumns: 1\n"
           "  maxTextureSizeSet: 0\n"
           "  compressionQualitySet: 0\n"
           "  textureFormatSet: 0\n"
           "  ignorePngGamma: 0\n"
           "  applyGammaDecoding: 0\n"
           "  platformSettings:\n"
           "  - serializedVersion: 3\n"
           "    buildTarget: DefaultTexturePlatform\n"
           "    maxTextureSize: 8192\n"
           "    resizeAlgorithm: 0\n"
           "    textureFormat: -1\n"
           "    textureCompression: 0\n"
           "    compressionQuality: 50\n"
           "    crunchedCompression: 0\n"
           "    allowsAlphaSplitting: 0\n"
           "    overridden: 0\n"
           "    androidETC2FallbackOverride: 0\n"
           "    forceMaximumCompressionQuality_BC6H_BC7: 0\n";
}

// The sheet-level fields Unity writes after the sprite list, then the rest.
void AppendSheetTail(std::string& out, const std::string& normalGuid) {
    out += "    outline: []\n"
           "    physicsShape: []\n"
           "    bones: []\n"
           "    spriteID: \n"
           "    internalID: 0\n"
           "    vertices: []\n"
           "    indices: \n"
           "    edges: []\n"
           "    weights: []\n";
    if (normalGuid.empty()) {
        out += "    secondaryTextures: []\n";
    } else {
        out += "    secondaryTextures:\n"
               "    - texture: {fileID: 2800000, guid: " + normalGuid + ", type: 3}\n"
               "      name: _NormalMap\n";
    }
}

void AppendFooter(std::string& out) {
    out += "  spritePackingTag: \n"
           "  pSDRemoveMatte: 0\n"
           "  pSDShowRemoveMatteOption: 0\n"
           "  userData: \n"
           "  assetBundleName: \n"
           "  assetBundleVariant: \n";
}

// A physics point: original-frame pixels (y down) to pixels relative to the
// sprite rect's centre, y up. Halves are exact in decimal.
std::string PhysicsPoint(const SheetFrame& f, const Point2D& p) {
    const int64_t x2 = 2 * (static_cast<int64_t>(p.x) - f.offsetX) - f.w;
    const int64_t y2 = static_cast<int64_t>(f.h) - 2 * (static_cast<int64_t>(p.y) - f.offsetY);
    return "{x: " + Text::Decimal(x2, 2) + ", y: " + Text::Decimal(y2, 2) + "}";
}

void AppendSprite(std::string& out, const Sheet& sheet, const SheetFrame& f, const std::string& name,
                  const SpriteIds& ids) {
    // Unity's rect origin is the image's bottom-left corner.
    const int64_t rectY = static_cast<int64_t>(sheet.height) - f.y - f.h;
    out += "    - serializedVersion: 2\n";
    out += "      name: " + Text::YamlScalar(name) + "\n";
    out += "      rect:\n        serializedVersion: 2\n";
    out += "        x: " + Int(f.x) + "\n        y: " + Int(rectY) + "\n";
    out += "        width: " + Int(f.w) + "\n        height: " + Int(f.h) + "\n";
    const bool moved = f.trimmed || f.offsetX != 0 || f.offsetY != 0 || f.sourceW != f.w ||
                       f.sourceH != f.h;
    if (moved && f.w > 0 && f.h > 0) {
        // A custom pivot at the original frame's centre, normalised to the
        // rect with y up: x = (sourceW/2 - offsetX) / w,
        // y = (h - (sourceH/2 - offsetY)) / h.
        const int64_t px2 = static_cast<int64_t>(f.sourceW) - 2 * static_cast<int64_t>(f.offsetX);
        const int64_t py2 = 2 * static_cast<int64_t>(f.h) + 2 * static_cast<int64_t>(f.offsetY) - f.sourceH;
        out += "      alignment: 9\n";
        out += "      pivot: {x: " + Text::Decimal(px2, 2 * static_cast<int64_t>(f.w)) +
               ", y: " + Text::Decimal(py2, 2 * static_cast<int64_t>(f.h)) + "}\n";
    } else {
        out += "      alignment: 0\n      pivot: {x: 0.5, y: 0.5}\n";
    }
    out += "      border: {x: 0, y: 0, z: 0, w: 0}\n";
    out += "      outline: []\n";
    if (f.polygons.empty()) {
        out += "      physicsShape: []\n";
    } else {
        out += "      physicsShape:\n";
        for (const auto& polygon : f.polygons) {
            for (size_t i = 0; i < polygon.size(); ++i) {
                out += i == 0 ? "      - - " : "        - ";
                out += PhysicsPoint(f, polygon[i]) + "\n";
            }
            if (polygon.empty()) out += "      - []\n";
        }
    }
    out += "      tessellationDetail: 0\n";
    out += "      bones: []\n";
    out += "      spriteID: " + ids.spriteId + "\n";
    out += "      internalID: " + Int(ids.internalId) + "\n";
    out += "      vertices: []\n      indices: \n      edges: []\n      weights: []\n";
}

}  // namespace

std::string UnityGuidFor(const std::string& key) { return Text::Hex128("velmora2d unity guid", key); }

std::string BuildUnityMeta(const Sheet& sheet, const std::string& guid, const UnityKeptIds& kept,
                           const std::string& normalGuid) {
    const std::vector<std::string> names = Text::UniqueDocumentNames(sheet.frames);
    const std::vector<SpriteIds> ids = AssignIds(names, kept);
    std::string out = "fileFormatVersion: 2\nguid: " + guid + "\nTextureImporter:\n";
    if (names.empty()) {
        out += "  internalIDToNameTable: []\n";
    } else {
        out += "  internalIDToNameTable:\n";
        for (size_t i = 0; i < names.size(); ++i) {
            out += "  - first:\n      213: " + Int(ids[i].internalId) + "\n";
            out += "    second: " + Text::YamlScalar(names[i]) + "\n";
        }
    }
    out += "  externalObjects: {}\n";
    AppendTextureSettings(out, ImporterSettings{});
    out += "  spriteSheet:\n    serializedVersion: 2\n";
    if (names.empty()) {
        out += "    sprites: []\n";
    } else {
        out += "    sprites:\n";
        for (size_t i = 0; i < names.size(); ++i) {
            AppendSprite(out, sheet, sheet.frames[i], names[i], ids[i]);
        }
    }
    AppendSheetTail(out, normalGuid);
    if (names.empty()) {
        out += "    nameFileIdTable: {}\n";
    } else {
        out += "    nameFileIdTable:\n";
        for (size_t i = 0; i < names.size(); ++i) {
            out += "      " + Text::YamlScalar(names[i]) + ": " + Int(ids[i].internalId) + "\n";
        }
    }
    AppendFooter(out);
    return out;
}

// The normal map imports as a linear (non-sRGB) normal-map texture, with
// the atlas' filtering so its texels line up with the sprites'.
std::string BuildUnityNormalMapMeta(const std::string& guid) {
    std::string out = "fileFormatVersion: 2\nguid: " + guid + "\nTextureImporter:\n";
    out += "  internalIDToNameTable: []\n  externalObjects: {}\n";
    ImporterSettings settings;
    settings.textureType = 1;
    settings.sRGB = 0;
    settings.spriteMode = 0;
    settings.alphaIsTransparency = 0;
    AppendTextureSettings(out, settings);
    out += "  spriteSheet:\n    serializedVersion: 2\n    sprites: []\n";
    AppendSheetTail(out, "");
    out += "    nameFileIdTable: {}\n";
    AppendFooter(out);
    return out;
}


// ---- Reading ids back from an existing .meta ----------------------------

namespace {

size_t Indent(const std::string& line) {
    size_t n = 0;
    while (n < line.size() && line[n] == ' ') ++n;
    return n;
}

std::string TrimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp >= 0xD800U && cp <= 0xDFFFU) cp = 0xFFFDU;
    if (cp > 0x10FFFFU) cp = 0xFFFDU;
    if (cp < 0x80U) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800U) {
        out += static_cast<char>(0xC0U | (cp >> 6U));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else if (cp < 0x10000U) {
        out += static_cast<char>(0xE0U | (cp >> 12U));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else {
        out += static_cast<char>(0xF0U | (cp >> 18U));
        out += static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    }
}

// A YAML scalar that starts at `text[pos]` and may continue on the
// following lines (quoted scalars that Unity folds). Returns false when it
// cannot be read.
bool ReadScalar(const std::vector<std::string>& lines, size_t& lineIndex, size_t pos, std::string& value) {
    const std::string& first = lines[lineIndex];
    value.clear();
    if (pos >= first.size()) return true;
    const char quote = first[pos];
    if (quote != '"' && quote != '\'') {
        std::string plain = first.substr(pos);
        const size_t comment = plain.find(" #");
        if (comment != std::string::npos) plain.resize(comment);
        value = TrimRight(plain);
        return true;
    }
    // Quoted: walk characters across lines, folding each line break into
    // one space (an empty line into a newline), as YAML does.
    size_t li = lineIndex;
    size_t i = pos + 1;
    // How the next line break folds: into a space, into nothing (after an
    // escaped line end), or into nothing more (a blank line gave a '\n').
    enum class Fold { Space, Nothing, AfterBlank } fold = Fold::Space;
    while (li < lines.size() && li < lineIndex + 64) {
        const std::string& line = lines[li];
        while (i < line.size()) {
            const char c = line[i];
            if (c == quote) {
                if (quote == '\'' && i + 1 < line.size() && line[i + 1] == '\'') {
                    value += '\'';
                    i += 2;
                    continue;
                }
                lineIndex = li;
                return true;
            }
            if (quote == '"' && c == '\\') {
                if (i + 1 >= line.size()) {  // escaped line break: no space
                    fold = Fold::Nothing;
                    break;
                }
                const char e = line[i + 1];
                i += 2;
                int digits = 0;
                switch (e) {
                    case 'n': value += '\n'; break;
                    case 't': value += '\t'; break;
                    case 'r': value += '\r'; break;
                    case '0': value += '\0'; break;
                    case 'a': value += '\a'; break;
                    case 'b': value += '\b'; break;
                    case 'v': value += '\v'; break;
                    case 'f': value += '\f'; break;
                    case 'e': value += '\x1b'; break;
                    case ' ': value += ' '; break;
                    case 'N': AppendUtf8(value, 0x85U); break;
                    case '_': AppendUtf8(value, 0xA0U); break;
                    case 'L': AppendUtf8(value, 0x2028U); break;
                    case 'P': AppendUtf8(value, 0x2029U); break;
                    case 'x': digits = 2; break;
                    case 'u': digits = 4; break;
                    case 'U': digits = 8; break;
                    default: value += e; break;
                }
                if (digits > 0) {
                    uint32_t cp = 0;
                    for (int k = 0; k < digits; ++k, ++i) {
                        const int v = i < line.size() ? HexValue(line[i]) : -1;
                        if (v < 0) return false;
                        cp = (cp << 4U) | static_cast<uint32_t>(v);
                    }
                    AppendUtf8(value, cp);
                }
                continue;
            }
            value += c;
            ++i;
        }
        // Line break inside the quotes.
        if (fold != Fold::Nothing) {
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        }
        ++li;
        if (li >= lines.size()) return false;
        const std::string& next = lines[li];
        i = 0;
        while (i < next.size() && (next[i] == ' ' || next[i] == '\t')) ++i;
        if (i >= next.size() && fold != Fold::Nothing) {
            value += '\n';
            fold = Fold::AfterBlank;
            continue;
        }
        if (fold == Fold::Space) value += ' ';
        fold = Fold::Space;
    }
    return false;
}

bool ParseInt64(const std::string& text, int64_t& out) {
    if (text.empty()) return false;
    size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative) i = 1;
    if (i >= text.size()) return false;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? 0x8000000000000000ULL : 0x7FFFFFFFFFFFFFFFULL;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    out = negative ? static_cast<int64_t>(0U - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

std::string LowerHex32(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const int v = HexValue(c);
        if (v < 0) return "";
        out += "0123456789abcdef"[v];
    }
    return IsHex32(out) ? out : "";
}

struct PendingSprite {
    bool hasName = false;
    std::string name;
    UnityKeptIds::SpriteIds ids;
};

void Keep(UnityKeptIds& kept, const PendingSprite& sprite) {
    // A name seen twice is ambiguous: keep the first, as it is listed first.
    if (sprite.hasName && (sprite.ids.internalId != 0 || !sprite.ids.spriteId.empty())) {
        kept.sprites.emplace(sprite.name, sprite.ids);
    }
}

}  // namespace

UnityKeptIds ReadUnityKeptIds(const std::string& metaText) {
    UnityKeptIds kept;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= metaText.size() && lines.size() < 10000000) {
        const size_t end = metaText.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(TrimRight(metaText.substr(start)));
            break;
        }
        lines.push_back(TrimRight(metaText.substr(start, end - start)));
        start = end + 1;
    }
    if (!lines.empty() && lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0) lines[0].erase(0, 3);

    size_t sheetIndent = std::string::npos;    // indent of "spriteSheet:"
    size_t spritesIndent = std::string::npos;  // indent of "sprites:"
    size_t itemIndent = std::string::npos;     // column of the items' "- "
    PendingSprite sprite;
    bool inSprite = false;
    for (size_t li = 0; li < lines.size(); ++li) {
        const std::string& line = lines[li];
        const size_t indent = Indent(line);
        if (indent >= line.size() || line[indent] == '#') continue;
        std::string content = line.substr(indent);

        if (indent == 0 && content.compare(0, 5, "guid:") == 0 && kept.guid.empty()) {
            std::string value;
            size_t at = li;
            if (ReadScalar(lines, at, line.find_first_not_of(' ', 5) == std::string::npos
                                          ? line.size() : line.find_first_not_of(' ', 5), value)) {
                kept.guid = LowerHex32(value);
            }
            continue;
        }
        // Leaving a block closes what it held.
        if (sheetIndent != std::string::npos && indent <= sheetIndent) {
            if (inSprite) Keep(kept, sprite);
            inSprite = false;
            sheetIndent = spritesIndent = itemIndent = std::string::npos;
        }
        if (spritesIndent != std::string::npos &&
            (indent < spritesIndent || (indent == spritesIndent && content.compare(0, 2, "- ") != 0))) {
            if (inSprite) Keep(kept, sprite);
            inSprite = false;
            spritesIndent = itemIndent = std::string::npos;
        }
        if (sheetIndent == std::string::npos) {
            if (content == "spriteSheet:") sheetIndent = indent;
            continue;
        }
        if (spritesIndent == std::string::npos) {
            if (content == "sprites:") spritesIndent = indent;
            continue;
        }
        // Inside the sprite list.
        size_t keyIndent = indent;
        if (content.compare(0, 2, "- ") == 0 && (itemIndent == std::string::npos || indent == itemIndent)) {
            if (inSprite) Keep(kept, sprite);
            sprite = PendingSprite();
            inSprite = true;
            itemIndent = indent;
            content.erase(0, 2);
            keyIndent = indent + 2;
            while (!content.empty() && content[0] == ' ') {
                content.erase(0, 1);
                ++keyIndent;
            }
        }
        if (!inSprite || keyIndent != itemIndent + 2) continue;
        const size_t colon = content.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = content.substr(0, colon);
        size_t valuePos = line.size() - content.size() + colon + 1;
        while (valuePos < line.size() && line[valuePos] == ' ') ++valuePos;
        std::string value;
        size_t at = li;
        if (!ReadScalar(lines, at, valuePos, value)) continue;
        if (key == "name") {
            sprite.hasName = true;
            sprite.name = value;
            li = at;
        } else if (key == "internalID") {
            int64_t id = 0;
            if (ParseInt64(value, id)) sprite.ids.internalId = id;
        } else if (key == "spriteID") {
            sprite.ids.spriteId = LowerHex32(value);
        }
    }
    if (inSprite) Keep(kept, sprite);
    return kept;
}

}  // namespace Velmora::Formats
