#include "atlas/watch.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <system_error>
#include <tuple>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "commands/commands.h"
#include "io/file_io.h"
#include "io/file_watch.h"
#include "support/report.h"

namespace Velmora::Commands {

namespace {

namespace fs = std::filesystem;

// How long the inputs must stay quiet before a re-pack: an editor's save or
// an exporter's burst of files is one re-pack, not one per file. A file that
// keeps changing is packed anyway after kSettleLimit.
constexpr int kSettleMs = 30;
constexpr auto kSettleLimit = std::chrono::seconds(2);

// One spelling per file for paths the watch reports and paths the inputs
// give ("./a.png" and "a.png", "art//a.png" and "art/a.png").
std::string SamePath(const std::string& path) { return fs::u8path(path).lexically_normal().generic_u8string(); }

// Whether a change may concern a frame: an image file that is not hidden,
// or a folder (frames may have come or gone with it). The tool's own
// temporaries, journal, lock and manifest are hidden; its documents are not
// images; its own images are no frames, which the look at the inputs finds.
bool MayConcernFrames(const Io::FileChange& change) {
    if (change.path.empty()) return true;
    const std::string base = Io::BaseName(change.path);
    if (base.empty() || base[0] == '.') return false;
    if (change.folder) return true;
    std::string extension = base.substr(std::min(base.size(), base.rfind('.') + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return base.find('.') != std::string::npos &&
           (extension == "png" || extension == "aseprite" || extension == "ase");
}

// The frames the inputs give now and the stamps of their files, or the
// problems finding them: equal looks need no re-pack.
struct Look {
    std::string problems;
    std::vector<std::tuple<std::string, std::string, bool, uintmax_t, int64_t>> frames;
    bool operator==(const Look& other) const { return problems == other.problems && frames == other.frames; }
};

Look LookAtInputs(const AtlasSettings& settings) {
    Look look;
    std::vector<InputFrame> frames;
    std::ostringstream problems;
    GatherFrames(settings.operands, settings.prefix, frames, problems);
    look.problems = problems.str();
    for (const InputFrame& frame : frames) {
        const FileStamp stamp = StampOf(frame.path);
        look.frames.emplace_back(frame.name, SamePath(frame.path), stamp.known, stamp.size, stamp.time);
    }
    return look;
}

bool TouchesFrames(const Look& look, const std::set<std::string>& changed) {
    return std::any_of(look.frames.begin(), look.frames.end(),
                       [&](const auto& frame) { return changed.count(std::get<1>(frame)) != 0; });
}

// When every change that may concern frames is to a file `look` already
// holds as a frame, and that file is still there, brings those files'
// stamps in `look` up to date and returns true: the frames are the same,
// only their pixels changed. Otherwise (a file added or removed, a folder,
// lost events) leaves `look` alone and returns false.
bool RestampSaved(const std::vector<Io::FileChange>& changes, Look& look) {
    std::set<std::string> saved;
    for (const Io::FileChange& change : changes) {
        if (!MayConcernFrames(change)) continue;
        if (change.path.empty() || change.folder) return false;
        saved.insert(SamePath(change.path));
    }
    std::vector<std::pair<size_t, FileStamp>> stamps;
    std::set<std::string> found;
    for (size_t i = 0; i < look.frames.size(); ++i) {
        const std::string& path = std::get<1>(look.frames[i]);
        if (saved.count(path) == 0) continue;
        const FileStamp stamp = StampOf(path);
        if (!stamp.known) return false;
        stamps.emplace_back(i, stamp);
        found.insert(path);
    }
    if (found.size() != saved.size()) return false;
    for (const auto& [i, stamp] : stamps) {
        std::get<3>(look.frames[i]) = stamp.size;
        std::get<4>(look.frames[i]) = stamp.time;
    }
    return true;
}

// Watches every INPUT: a folder with all its folders, a file through its
// folder, since editors often save by writing a new file and renaming it
// over the old one.
bool WatchInputs(const AtlasSettings& settings, Io::FileWatch& watch, std::ostream& err) {
    for (const std::string& input : settings.operands) {
        const Io::PathKind kind = Io::GetPathKind(input);
        std::string error;
        bool watched = false;
        if (kind == Io::PathKind::Folder) {
            watched = watch.Add(input, true, error);
        } else if (kind == Io::PathKind::File) {
            const std::string folder = fs::u8path(input).parent_path().u8string();
            watched = watch.Add(folder.empty() ? "." : folder, false, error);
        } else {
            error = input + (kind == Io::PathKind::Missing ? ": no such file or folder" : ": not a file or folder");
        }
        if (!watched) {
            Support::ReportLine(err, error);
            return false;
        }
    }
    return true;
}

}  // namespace

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
#ifndef _WIN32
    // One call for both, where std::filesystem makes two: a watch stamps
    // every frame's file on each change.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        stamp.known = true;
        stamp.size = static_cast<uintmax_t>(status.st_size);
        stamp.time = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    }
    return stamp;
#else
    std::error_code sizeError;
    std::error_code timeError;
    const fs::path file = fs::u8path(path);
    stamp.size = fs::file_size(file, sizeError);
    const fs::file_time_type time = fs::last_write_time(file, timeError);
    stamp.known = !sizeError && !timeError;
    stamp.time = stamp.known ? static_cast<int64_t>(time.time_since_epoch().count()) : 0;
    if (!stamp.known) stamp.size = 0;
    return stamp;
#endif
}

PagesPlan RememberedPlanPages(const std::vector<Size2D>& frameSizes, const std::vector<int64_t>& previousPage,
                              const AtlasGeometry& geometry, PackerKind packer, int32_t shelfRowWidth,
                              size_t maxPages, const Workers& workers) {
    struct Remembered {
        std::vector<Size2D> sizes;
        std::vector<int64_t> previous;
        AtlasGeometry geometry;
        PackerKind packer;
        int32_t shelfRowWidth;
        size_t maxPages;
        PagesPlan plan;
    };
    // A run plans once per scale, and a watch packs one set of scales, so
    // the last few plans are all there is to remember.
    constexpr size_t kRemembered = 8;
    static std::vector<Remembered> remembered;
    const auto same = [&](const Remembered& r) {
        const auto sameSize = [](Size2D a, Size2D b) { return a.w == b.w && a.h == b.h; };
        return r.previous == previousPage && r.geometry.padding == geometry.padding &&
               r.geometry.extrude == geometry.extrude && r.geometry.powerOfTwo == geometry.powerOfTwo &&
               r.geometry.maxWidth == geometry.maxWidth && r.geometry.maxHeight == geometry.maxHeight &&
               r.packer == packer && r.shelfRowWidth == shelfRowWidth && r.maxPages == maxPages &&
               std::equal(r.sizes.begin(), r.sizes.end(), frameSizes.begin(), frameSizes.end(), sameSize);
    };
    const auto found = std::find_if(remembered.begin(), remembered.end(), same);
    if (found != remembered.end()) return found->plan;
    PagesPlan plan = PlanPages(frameSizes, previousPage, geometry, packer, shelfRowWidth, maxPages, workers);
    if (remembered.size() == kRemembered) remembered.erase(remembered.begin());
    remembered.push_back(Remembered{frameSizes, previousPage, geometry, packer, shelfRowWidth, maxPages, plan});
    return plan;
}

bool DecodeCached(std::vector<InputFrame>& frames, const AtlasSettings& settings, FrameCache* cache,
                  Support::Progress& progress, std::ostream& err) {
    if (cache == nullptr) return DecodeFrames(frames, settings, progress, err);
    std::vector<FileStamp> stamps(frames.size());
    std::vector<bool> kept(frames.size(), false);
    std::vector<size_t> fresh;
    std::vector<InputFrame> decoding;
    std::set<std::string> changed;
    for (const std::string& path : cache->changed) changed.insert(SamePath(path));
    for (size_t i = 0; i < frames.size(); ++i) {
        stamps[i] = StampOf(frames[i].path);
        const auto found = cache->frames.find(frames[i].name);
        if (found != cache->frames.end() && found->second.frame.path == frames[i].path &&
            found->second.stamp == stamps[i] && changed.count(SamePath(frames[i].path)) == 0) {
            frames[i] = found->second.frame;  // a copy: packing takes the images
            kept[i] = true;
        } else {
            fresh.push_back(i);
            decoding.push_back(frames[i]);
        }
    }
    cache->changed.clear();
    cache->reused = frames.size() - fresh.size();
    if (!DecodeFrames(decoding, settings, progress, err)) return false;
    for (size_t j = 0; j < fresh.size(); ++j) {
        frames[fresh[j]] = std::move(decoding[j]);
    }
    std::map<std::string, FrameCache::Entry> next;
    for (size_t i = 0; i < frames.size(); ++i) {
        auto old = cache->frames.find(frames[i].name);
        if (kept[i] && old != cache->frames.end()) {
            next.emplace(frames[i].name, std::move(old->second));
        } else {
            next.emplace(frames[i].name, FrameCache::Entry{stamps[i], frames[i]});
        }
    }
    cache->frames = std::move(next);
    return true;
}

int WatchAtlas(const AtlasSettings& settings, const Io::OutputLock& lock, std::ostream& out, std::ostream& err) {
    // Watching starts before the first pack, so a file saved during it is
    // packed next.
    Io::FileWatch watch;
    if (!WatchInputs(settings, watch, err)) return kStatusFailed;
    FrameCache cache;
    Look last = LookAtInputs(settings);
    PackAtlas(settings, lock, &cache, out, err);
    const size_t inputs = settings.operands.size();
    out << "Watching " << inputs << (inputs == 1 ? " input" : " inputs") << " for changes; Ctrl-C stops\n";
    out.flush();
    err.flush();
    for (;;) {
        std::vector<Io::FileChange> changes;
        if (watch.Wait(-1, changes) == Io::FileWatch::Wake::Stop) break;
        const auto limit = std::chrono::steady_clock::now() + kSettleLimit;
        Io::FileWatch::Wake wake = Io::FileWatch::Wake::Changed;
        while (wake == Io::FileWatch::Wake::Changed && std::chrono::steady_clock::now() < limit) {
            wake = watch.Wait(kSettleMs, changes);
        }
        if (wake == Io::FileWatch::Wake::Stop) break;
        bool concerned = false;
        for (const Io::FileChange& change : changes) {
            if (!MayConcernFrames(change)) continue;
            concerned = true;
            if (!change.path.empty()) cache.changed.insert(SamePath(change.path));
        }
        if (!concerned) continue;
        // A save of frames already packed (the usual change) goes straight
        // to the pack; anything else first looks at all the inputs.
        if (!RestampSaved(changes, last)) {
            Look now = LookAtInputs(settings);
            if (now == last && !TouchesFrames(now, cache.changed)) {
                cache.changed.clear();  // the tool's own outputs, or nothing that shows
                continue;
            }
            last = std::move(now);
        }
        PackAtlas(settings, lock, &cache, out, err);
        out.flush();
        err.flush();
    }
    return kStatusOk;
}

}  // namespace Velmora::Commands
