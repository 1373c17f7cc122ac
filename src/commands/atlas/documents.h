// --atlas's documents: the sheet the formats describe, and every text file
// built from it.
#ifndef VELMORA_COMMANDS_ATLAS_DOCUMENTS_H
#define VELMORA_COMMANDS_ATLAS_DOCUMENTS_H

#include <string>
#include <vector>

#include "atlas/inputs.h"
#include "formats/sheet.h"
#include "io/output_set.h"
#include "velmora/packing.h"

namespace Velmora::Commands {

// The ids an earlier run's Unity .meta files hold, kept so scene references
// survive re-packing.
struct KeptUnityIds {
    Formats::UnityKeptIds atlas;      // PREFIX.png.meta
    Formats::UnityKeptIds normalMap;  // PREFIX_n.png.meta
};

// One entry per frame, in frame order, where `plan` put its packed image;
// polygons[slot] are the packed image's colliders (none without colliders).
std::vector<Formats::SheetFrame> PlaceFrames(const std::vector<InputFrame>& frames, const PackedImages& packed,
                                             const AtlasPlan& plan, const std::vector<Formats::Polygons>& polygons);

// One page of the atlas: where its files go (PREFIX, or PREFIX-N of
// several), what it holds, and the ids the earlier page it carries on kept.
struct PageDocuments {
    std::string prefix;
    Formats::Sheet sheet;
    KeptUnityIds kept;
};

// Every text document of the pages written under `prefix`: per page its
// JSON (hash or array) and Unity .meta files; Godot's SpriteFrames over
// every page and its per-frame files; with several pages, Phaser's
// multi-atlas PREFIX.multiatlas.json, and page 0's JSON naming the others.
std::vector<Io::OutputFile> BuildDocuments(const std::string& prefix, bool jsonArray,
                                           std::vector<PageDocuments> pages);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_DOCUMENTS_H
