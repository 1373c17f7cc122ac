#include "atlas/pages.h"

#include "formats/sheet.h"
#include "io/file_io.h"

namespace Velmora::Commands {

namespace {

// Far more pages than any texture budget makes; it bounds what a folder of
// stray .meta files can make a run read.
constexpr size_t kMaxEarlierPages = 4096;

}  // namespace

EarlierRun ReadEarlierRun(const std::string& prefix, const std::string& suffix, bool normalMap) {
    EarlierRun earlier;
    const auto read = [&](const std::string& pagePrefix) {
        earlier.atlas.push_back(ReadKeptIds(pagePrefix + ".png.meta"));
        if (normalMap) earlier.normal.push_back(ReadKeptIds(pagePrefix + "_n.png.meta"));
    };
    if (Io::GetPathKind(PagePrefix(prefix, 0, 2) + suffix + ".png.meta") == Io::PathKind::File) {
        for (size_t page = 0; page < kMaxEarlierPages; ++page) {
            const std::string pagePrefix = PagePrefix(prefix, page, 2) + suffix;
            if (Io::GetPathKind(pagePrefix + ".png.meta") != Io::PathKind::File) break;
            read(pagePrefix);
        }
    } else {
        read(prefix + suffix);
    }
    return earlier;
}

std::vector<int64_t> EarlierPages(const std::vector<InputFrame>& frames, const std::vector<size_t>& slot,
                                  size_t images, const EarlierRun& earlier) {
    std::vector<int64_t> pages(images, -1);
    for (size_t i = 0; i < frames.size() && i < slot.size(); ++i) {
        int64_t& page = pages[slot[i]];
        // The .meta files name sprites as every document names frames.
        const std::string name = Formats::DocumentName(frames[i].name);
        for (size_t p = 0; page < 0 && p < earlier.atlas.size(); ++p) {
            if (earlier.atlas[p].sprites.count(name) != 0) page = static_cast<int64_t>(p);
        }
    }
    return pages;
}

std::string PagePrefix(const std::string& prefix, size_t page, size_t pages) {
    return pages == 1 ? prefix : prefix + "-" + std::to_string(page);
}

}  // namespace Velmora::Commands
