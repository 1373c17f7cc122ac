// Pure builders of the documents the file commands write: sprite-sheet
// JSON (hash and array layouts), Godot 4 text resources and scenes, Unity
// texture import settings, and the collider listings. Each takes plain
// records and returns the whole document; none reads or writes files.
#ifndef VELMORA_FORMATS_SHEET_H
#define VELMORA_FORMATS_SHEET_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/animations.h"
#include "formats/unity_meta_reader.h"  // UnityKeptIds, ReadUnityKeptIds
#include "velmora_engine.h"

namespace Velmora::Formats {

using Polygons = std::vector<std::vector<Point2D>>;

// One frame of a packed sheet.
struct SheetFrame {
    std::string name;       // bytes as found; may be any bytes, not only UTF-8
    int32_t x = 0;          // the frame's stored pixels in the atlas, top-left origin
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;
    int32_t sourceW = 0;    // the frame's size before trimming
    int32_t sourceH = 0;
    int32_t offsetX = 0;    // where the stored pixels sit inside the original frame
    int32_t offsetY = 0;
    bool trimmed = false;   // stored pixels smaller than the original frame
    Polygons polygons;      // colliders in original-frame pixels, y down
    // A frame of a layered sprite file: its time on screen, the name of
    // the file's animations ("hero"), its number in the file and the file's
    // tags (every frame of a file carries them). A PNG frame has no
    // duration (0) and plays at the fixed rate.
    int32_t durationMs = 0;
    std::string sprite;
    int32_t spriteFrame = 0;
    std::vector<FrameTag> spriteTags;
};

struct Sheet {
    std::string imageFile;      // the atlas PNG's file name, e.g. "atlas.png"
    std::string normalMapFile;  // the normal map PNG's file name; empty for none
    int32_t width = 0;          // atlas size
    int32_t height = 0;
    bool colliders = false;     // frames carry polygons (possibly none each)
    // A scale variant's factor as a decimal ("0.5"), and the Unity pixels
    // per unit that keep its sprites the size of scale 1's.
    std::string scale = "1";
    std::string pixelsPerUnit = "100";
    std::vector<SheetFrame> frames;  // in bytewise name order
    // Page 0 of several: the other pages' JSON file names, which PixiJS
    // loads with it (meta.related_multi_packs).
    std::vector<std::string> relatedPacks;
    // The animations the JSON lists, by index into `frames`; without them
    // the builders group the frames' own names. A page of several lists the
    // animations of the whole set that lie wholly on it.
    std::optional<std::vector<Animation>> animations;
};

// A frame name as every document writes it: valid UTF-8, each byte that is
// not part of a well-formed UTF-8 sequence (and NUL) replaced by U+FFFD.
// Two different names can map to one; callers that need distinct names in
// the documents compare these (the builders still keep them distinct by
// suffixing later duplicates with "~2", "~3", ...).
std::string DocumentName(const std::string& name);

// The animations of these frames: layered sprite files' tags, and the
// other frames grouped by name (see GroupAnimations); indices into
// `frames`, names unique.
std::vector<Animation> SheetAnimations(const std::vector<SheetFrame>& frames);

// JSON sprite sheet, frames keyed by name ("hash") or as a list ("array").
std::string BuildJsonHash(const Sheet& sheet);
std::string BuildJsonArray(const Sheet& sheet);

// Godot 4 SpriteFrames resource for the whole sheet. `imagePath` and
// `normalPath` are the ext_resource paths as they must appear (relative to
// the written file); `normalPath` empty when there is no normal map.
std::string BuildGodotSpriteFrames(const Sheet& sheet, const std::string& imagePath,
                                   const std::string& normalPath);

// One SpriteFrames over several pages: each frame's texture points at its
// own page, and the animations group the names of every page's frames.
std::string BuildGodotSpriteFrames(const std::vector<Sheet>& pages, const std::vector<std::string>& imagePaths,
                                   const std::vector<std::string>& normalPaths);

// The multi-page atlas document Phaser's load.multiatlas reads: one entry
// per page in `textures`, each with its image and its frames as a list.
std::string BuildPhaserMultiAtlas(const std::vector<Sheet>& pages);

// Every animation of the pages' frames in the form Phaser's
// AnimationManager.toJSON writes and fromJSON reads, each frame taken from
// the texture `textureKey`: timed animations with each frame's duration,
// a ping-pong as a yoyo where its repeat count allows, and `repeat` as
// Phaser counts it (-1 without end); name sequences at the fixed 10 frames
// a second, looping.
std::string BuildPhaserAnimations(const std::vector<Sheet>& pages, const std::string& textureKey);

// One frame as a stand-alone AtlasTexture resource.
std::string BuildGodotAtlasTexture(const SheetFrame& frame, const std::string& imagePath,
                                   const std::string& normalPath);

// One frame as a scene: a StaticBody2D root with a Sprite2D showing the
// frame (`texturePath`: the frame's AtlasTexture .tres, relative) and one
// CollisionPolygon2D per polygon, aligned with the sprite.
std::string BuildGodotColliderScene(const SheetFrame& frame, const std::string& texturePath);

// A stable 32-hex-digit guid for the asset at `key` (e.g. the output PREFIX
// written with "/"), never all zero.
std::string UnityGuidFor(const std::string& key);

// Unity TextureImporter .meta for the atlas PNG: sprite mode Multiple, one
// sprite per frame, ids kept from `kept` where the name matches.
// `normalGuid` empty when there is no normal map.
std::string BuildUnityMeta(const Sheet& sheet, const std::string& guid, const UnityKeptIds& kept,
                           const std::string& normalGuid);

// Unity .meta for the normal map PNG.
std::string BuildUnityNormalMapMeta(const std::string& guid);

// The --colliders listings of one image's polygons.
std::string BuildColliderText(const Polygons& polygons);
std::string BuildColliderJson(const Polygons& polygons);
std::string BuildColliderGodotScene(const Polygons& polygons, int32_t width, int32_t height);

}  // namespace Velmora::Formats

#endif  // VELMORA_FORMATS_SHEET_H
