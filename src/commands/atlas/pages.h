// --atlas over several pages: what an earlier run's pages held, and the
// names and Unity identities of this run's pages.
#ifndef VELMORA_COMMANDS_ATLAS_PAGES_H
#define VELMORA_COMMANDS_ATLAS_PAGES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "atlas/inputs.h"
#include "formats/unity_meta_reader.h"

namespace Velmora::Commands {

// The Unity ids an earlier run at PREFIX left, page by page: PREFIX-N.png.meta
// for a run of several pages, PREFIX.png.meta for one. The same ids tell
// which page each frame was on.
struct EarlierRun {
    std::vector<Formats::UnityKeptIds> atlas;   // by earlier page
    std::vector<Formats::UnityKeptIds> normal;  // by earlier page; empty without normal maps
};
// A scale variant's pages carry `suffix` ("@0.5x") after their number.
EarlierRun ReadEarlierRun(const std::string& prefix, const std::string& suffix, bool normalMap);

// For each packed image (`slot[i]` is frame i's image), the earlier page of
// the first of its frames an earlier .meta names, or -1.
std::vector<int64_t> EarlierPages(const std::vector<InputFrame>& frames, const std::vector<size_t>& slot,
                                  size_t images, const EarlierRun& earlier);

// The prefix of page `page` of `pages`: PREFIX itself when there is one
// page, so a run that fits one texture writes exactly the same files as
// ever, else PREFIX-N.
std::string PagePrefix(const std::string& prefix, size_t page, size_t pages);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_PAGES_H
