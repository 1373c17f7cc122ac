// Unity texture import settings (.png.meta, TextureImporter
// serializedVersion 11, the layout Unity has kept unchanged from 2021.2 to
// 6000.x) for the atlas as a Multiple-mode sprite sheet, and for its normal
// map. Ids are derived from names so re-packing keeps scene references;
// the ids an earlier write gave are read back by unity_meta_reader.cpp.
#include <set>
#include <string>
#include <vector>

#include "formats/sheet.h"
#include "formats/text_escape.h"
#include "formats/unity_meta_reader.h"

namespace Velmora::Formats {

namespace {

std::string Int(int64_t v) { return std::to_string(v); }

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
        if (IsUnityHexId(it->second.spriteId) && usedSprite.insert(it->second.spriteId).second) {
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
    std::string pixelsPerUnit = "100";
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
           "  spritePixelsToUnits: " + s.pixelsPerUnit + "\n"
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
    ImporterSettings settings;
    settings.pixelsPerUnit = sheet.pixelsPerUnit;
    AppendTextureSettings(out, settings);
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

}  // namespace Velmora::Formats
