#include "atlas/inputs.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <new>
#include <thread>

#include "io/file_io.h"
#include "io/png_io.h"
#include "support/parallel.h"
#include "support/report.h"

namespace Velmora::Commands {

namespace {

using Support::ReportLine;
using Support::ReportProblem;

InputFrame MakeInput(const std::string& name, const std::string& path) {
    InputFrame frame;
    frame.name = name;
    frame.path = path;
    return frame;
}

bool FindFrames(const std::vector<std::string>& inputs, std::vector<InputFrame>& frames, std::ostream& err) {
    bool ok = true;
    for (const std::string& input : inputs) {
        const Io::PathKind kind = Io::GetPathKind(input);
        if (kind == Io::PathKind::File) {
            frames.push_back(MakeInput(Io::StripExtension(Io::BaseName(input)), input));
            continue;
        }
        if (kind != Io::PathKind::Folder) {
            ReportProblem(err, input, kind == Io::PathKind::Missing ? "no such file or folder"
                                                                    : "not a file or folder");
            ok = false;
            continue;
        }
        std::vector<Io::FoundFile> found;
        std::string error;
        if (!Io::ListPngFiles(input, found, error)) {
            ReportLine(err, error);
            ok = false;
            continue;
        }
        if (found.empty()) {
            ReportProblem(err, input, "no PNG files in this folder");
            ok = false;
        }
        for (Io::FoundFile& file : found) {
            frames.push_back(MakeInput(Io::StripExtension(file.relative), file.path));
        }
    }
    return ok;
}

// Sorts frames bytewise by name and reports names given by two inputs,
// also where two names differ only in bytes that are not UTF-8 (documents
// and per-frame file names carry them as U+FFFD, so they would collide).
bool OrderFrames(std::vector<InputFrame>& frames, std::ostream& err) {
    std::stable_sort(frames.begin(), frames.end(),
                     [](const InputFrame& a, const InputFrame& b) { return a.name < b.name; });
    std::map<std::string, size_t> seen;
    bool ok = true;
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto [it, fresh] = seen.emplace(Formats::DocumentName(frames[i].name), i);
        if (!fresh) {
            const InputFrame& first = frames[it->second];
            ReportProblem(err, first.path + ", " + frames[i].path,
                          "both give the frame name '" + it->first + "'");
            ok = false;
        }
    }
    return ok;
}

}  // namespace

bool GatherFrames(const std::vector<std::string>& inputs, std::vector<InputFrame>& frames, std::ostream& err) {
    return FindFrames(inputs, frames, err) && OrderFrames(frames, err);
}

bool DecodeFrames(std::vector<InputFrame>& frames, unsigned jobs, Support::Progress& progress,
                  std::ostream& err) {
    std::vector<std::string> errors(frames.size());
    std::atomic<size_t> done{0};
    const std::thread::id caller = std::this_thread::get_id();
    Support::ParallelFor(frames.size(), jobs, [&](size_t i) {
        try {
            if (!Io::ReadPngFile(frames[i].path, frames[i].image, errors[i])) {
                errors[i] = frames[i].path + ": " + errors[i];
            }
        } catch (const std::bad_alloc&) {
            errors[i] = frames[i].path + ": out of memory while decoding";
        }
        const size_t finished = ++done;
        if (std::this_thread::get_id() == caller) {
            progress.Count("decoding", finished, frames.size());
        }
    });
    bool ok = true;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (!errors[i].empty()) {
            ReportLine(err, errors[i]);
            ok = false;
            continue;
        }
        frames[i].sourceW = frames[i].image.width;
        frames[i].sourceH = frames[i].image.height;
    }
    return ok;
}

PackedImages PrepareImages(std::vector<InputFrame>& frames, bool trim, bool dedupe) {
    for (InputFrame& frame : frames) {
        frame.stored = Area2D{0, 0, frame.image.width, frame.image.height};
        if (trim) {
            frame.stored = FindOpaqueBounds(frame.image);
            if (frame.stored.w != frame.image.width || frame.stored.h != frame.image.height) {
                frame.image = CropImage(frame.image, frame.stored);
            }
        }
    }
    std::vector<Image> all(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        all[i] = std::move(frames[i].image);
    }
    std::vector<size_t> twin(frames.size());
    if (dedupe) {
        twin = FindDuplicateImages(all);
    } else {
        for (size_t i = 0; i < frames.size(); ++i) {
            twin[i] = i;
        }
    }
    PackedImages packed;
    packed.slot.resize(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        if (twin[i] == i) {
            packed.slot[i] = packed.images.size();
            packed.images.push_back(std::move(all[i]));
        } else {
            packed.slot[i] = packed.slot[twin[i]];
        }
    }
    return packed;
}

Formats::UnityKeptIds ReadKeptIds(const std::string& path) {
    // Far larger than any .meta this tool writes.
    constexpr uint64_t kMaxMetaBytes = uint64_t{16} << 20;
    std::vector<uint8_t> bytes;
    std::string error;
    if (Io::GetPathKind(path) != Io::PathKind::File || !Io::ReadFileBytes(path, kMaxMetaBytes, bytes, error)) {
        return {};
    }
    return Formats::ReadUnityKeptIds(std::string(bytes.begin(), bytes.end()));
}

}  // namespace Velmora::Commands
