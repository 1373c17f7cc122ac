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

// Every text document of `sheet` written under `prefix`: JSON (hash or
// array), Godot's SpriteFrames and per-frame files, Unity's .meta files.
std::vector<Io::OutputFile> BuildDocuments(const std::string& prefix, bool jsonArray, const Formats::Sheet& sheet,
                                           const KeptUnityIds& kept);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_DOCUMENTS_H
