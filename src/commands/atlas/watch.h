// --atlas --watch: the pack run again whenever its inputs change, each time
// reusing the decoded frames of the files that did not.
#ifndef VELMORA_COMMANDS_ATLAS_WATCH_H
#define VELMORA_COMMANDS_ATLAS_WATCH_H

#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "atlas/atlas_settings.h"
#include "atlas/inputs.h"
#include "io/output_lock.h"
#include "support/progress.h"
#include "velmora/packing.h"

namespace Velmora::Commands {

// What a file looked like when it was read; a file that cannot be looked
// at has `known` false and never matches.
struct FileStamp {
    bool known = false;
    uintmax_t size = 0;
    int64_t time = 0;  // last write, in the file system's own ticks
    bool operator==(const FileStamp& other) const {
        return known && other.known && size == other.size && time == other.time;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
FileStamp StampOf(const std::string& path);

// The decoded frames of the last pack, by frame name, with the stamp of the
// file each came from, and the files reported changed since: a file saved
// twice within one tick of its clock keeps its stamp but not its place here.
struct FrameCache {
    struct Entry {
        FileStamp stamp;
        InputFrame frame;
    };
    std::map<std::string, Entry> frames;
    std::set<std::string> changed;  // paths, spelt any way ("a//b.png", "a\\b.png")
    size_t reused = 0;              // frames the last decode took from here
};

// DecodeFrames, taking from `cache` every frame whose file kept its stamp
// and was not reported changed, and keeping what it decoded there for the
// next run. Without a cache, DecodeFrames itself.
bool DecodeCached(std::vector<InputFrame>& frames, const AtlasSettings& settings, FrameCache* cache,
                  Support::Progress& progress, std::ostream& err);

// PlanPages, remembering the plans of the last run: a re-pack whose frames
// kept their sizes (the usual save) plans nothing again. PlanPages gives the
// same plan for the same arguments, so the bytes written are the same.
PagesPlan RememberedPlanPages(const std::vector<Size2D>& frameSizes, const std::vector<int64_t>& previousPage,
                              const AtlasGeometry& geometry, PackerKind packer, int32_t shelfRowWidth,
                              size_t maxPages, const Workers& workers);

// One whole pack under `lock`, reported as a run of --atlas reports it; the
// exit status of such a run.
int PackAtlas(const AtlasSettings& settings, const Io::OutputLock& lock, FrameCache* cache, std::ostream& out,
              std::ostream& err);

// Packs, then packs again after every change to the inputs until asked to
// stop (Ctrl-C, SIGTERM, Ctrl-Break): status 0 then, 2 when the inputs
// cannot be watched.
int WatchAtlas(const AtlasSettings& settings, const Io::OutputLock& lock, std::ostream& out, std::ostream& err);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_WATCH_H
