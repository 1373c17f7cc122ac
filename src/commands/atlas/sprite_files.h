// --atlas's layered sprite files (.aseprite, .ase): each file's frames as
// input frames, named FILE/0, FILE/1, ..., and every file decoded once and
// split into them.
#ifndef VELMORA_COMMANDS_ATLAS_SPRITE_FILES_H
#define VELMORA_COMMANDS_ATLAS_SPRITE_FILES_H

#include <iosfwd>
#include <string>
#include <vector>

#include "atlas/atlas_settings.h"
#include "atlas/inputs.h"

namespace Velmora::Commands {

// Adds the frames of the file at `path`, read from its header alone, as
// `name`/0, `name`/1, ... with the canvas as their size. A file whose header
// is not an Aseprite file's is reported on `err` (one line naming it).
bool AddSpriteFrames(const std::string& name, const std::string& path, std::vector<InputFrame>& frames,
                     std::ostream& err);

// Decodes each file the frames come from once, on settings.jobs threads,
// and gives every frame its image (shaped as a PNG frame is), duration and
// the file's tags. A file that fails, or no longer holds the frames its
// header promised, sets the error of its first frame; the others' stay
// empty. PNG frames are left as they are.
void DecodeSpriteFiles(std::vector<InputFrame>& frames, const AtlasSettings& settings,
                       std::vector<std::string>& errors);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_SPRITE_FILES_H
