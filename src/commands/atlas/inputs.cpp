#include "atlas/inputs.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <thread>

#include <utf8proc.h>

#include "atlas/sprite_files.h"
#include "frame_features.h"
#include "io/aseprite.h"
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

namespace fs = std::filesystem;

// The images a run writes for `prefix`: a folder packed into an atlas
// written inside it would otherwise take the last atlas in as a frame on
// every run. They are PREFIX, then -N for a page, @Sx for a scale and _n
// for a normal map, each when present, then .png, in PREFIX's folder.
class OwnOutputs {
public:
    explicit OwnOutputs(const std::string& prefix) : base_(fs::u8path(prefix).filename().u8string()) {
        std::error_code ec;
        folder_ = fs::weakly_canonical(fs::u8path(prefix).parent_path().empty() ? fs::path(".")
                                                                                : fs::u8path(prefix).parent_path(),
                                       ec);
        if (ec) folder_.clear();
    }

    bool Holds(const std::string& file) const {
        // Only a name that could be ours costs a look at the file system.
        const fs::path path = fs::u8path(file);
        if (folder_.empty() || !IsOwnName(path.filename().u8string())) return false;
        std::error_code ec;
        const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
        const fs::path real = fs::weakly_canonical(parent, ec);
        return !ec && real == folder_;
    }

private:
    static bool Skip(const std::string& name, size_t& at, const char* text) {
        const size_t length = std::strlen(text);
        if (name.compare(at, length, text) != 0) return false;
        at += length;
        return true;
    }

    static size_t SkipDigits(const std::string& name, size_t at, bool dots) {
        while (at < name.size() && ((name[at] >= '0' && name[at] <= '9') || (dots && name[at] == '.'))) ++at;
        return at;
    }

    bool IsOwnName(const std::string& name) const {
        if (name.rfind(base_, 0) != 0) return false;
        size_t at = base_.size();
        if (at < name.size() && name[at] == '-') {
            const size_t end = SkipDigits(name, at + 1, false);
            if (end == at + 1) return false;
            at = end;
        }
        if (at < name.size() && name[at] == '@') {
            const size_t end = SkipDigits(name, at + 1, true);
            if (end == at + 1 || end >= name.size() || name[end] != 'x') return false;
            at = end + 1;
        }
        Skip(name, at, "_n");
        return Skip(name, at, ".png") && at == name.size();
    }

    std::string base_;
    fs::path folder_;
};

bool FindFrames(const std::vector<std::string>& inputs, const std::string& prefix, std::vector<InputFrame>& frames,
                std::ostream& err) {
    const OwnOutputs own(prefix);
    bool ok = true;
    for (const std::string& input : inputs) {
        const Io::PathKind kind = Io::GetPathKind(input);
        if (kind == Io::PathKind::File) {
            const std::string name = Io::StripExtension(Io::BaseName(input));
            if (Io::IsAsepriteName(input)) {
                ok = AddSpriteFrames(name, input, frames, err) && ok;
            } else {
                frames.push_back(MakeInput(name, input));
            }
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
        if (!Io::ListSpriteFiles(input, found, error)) {
            ReportLine(err, error);
            ok = false;
            continue;
        }
        if (found.empty()) {
            ReportProblem(err, input, "no PNG files in this folder");
            ok = false;
        }
        for (Io::FoundFile& file : found) {
            if (Io::IsAsepriteName(file.relative)) {
                ok = AddSpriteFrames(Io::StripExtension(file.relative), file.path, frames, err) && ok;
            } else if (!own.Holds(file.path)) {
                frames.push_back(MakeInput(Io::StripExtension(file.relative), file.path));
            }
        }
    }
    return ok;
}

// `utf8` (valid UTF-8, no NUL) mapped by utf8proc with `options`, each code
// point first passed through `each` when given.
std::string MapUnicode(const std::string& utf8, int options, utf8proc_custom_func each = nullptr) {
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length = utf8proc_map_custom(
        reinterpret_cast<const utf8proc_uint8_t*>(utf8.data()), static_cast<utf8proc_ssize_t>(utf8.size()),
        &mapped, static_cast<utf8proc_option_t>(options), each, nullptr);
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    if (length == UTF8PROC_ERROR_NOMEM) {
        throw std::bad_alloc();
    }
    if (length < 0) {
        // Not reached with DocumentName's output; comparing unmapped
        // still catches names that are equal byte for byte.
        return utf8;
    }
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<size_t>(length));
}

// Canonical composition (NFC): macOS takes a name's composed and decomposed
// spellings ("é" as one code point or as "e" and an accent) for one name.
std::string ComposedName(const std::string& utf8) { return MapUnicode(utf8, UTF8PROC_STABLE | UTF8PROC_COMPOSE); }

// Full Unicode case folding on top: it matches more than Windows or macOS do
// ("ß" with "ss", say); refusing a few names that would work there beats
// one frame's file overwriting another's.
std::string FoldedName(const std::string& utf8) {
    return MapUnicode(utf8, UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);
}

// Windows upper-cases names code point by code point, which also joins a
// few that folding keeps apart: "ı" (dotless) and "i" are both "I" there.
std::string UpperName(const std::string& utf8) {
    return MapUnicode(utf8, UTF8PROC_STABLE | UTF8PROC_COMPOSE,
                      [](utf8proc_int32_t code, void*) { return utf8proc_toupper(code); });
}

std::string ClashReason(const std::string& first, const std::string& second) {
    if (first == second) {
        return "both give the frame name '" + first + "'";
    }
    const std::string names = "the frame names '" + first + "' and '" + second + "'";
    if (ComposedName(first) == ComposedName(second)) {
        return names + " differ only in how accents are encoded; their files would collide on macOS";
    }
    if (UpperName(first) != UpperName(second)) {
        return names + " are equal under Unicode case folding; their files may collide on case-insensitive "
                       "file systems";
    }
    const bool folded = FoldedName(first) == FoldedName(second);
    return names + " differ only in case; their files would collide on Windows" + (folded ? " and macOS" : "");
}

// Sorts frames bytewise by name and reports every pair of names that would
// give the same per-frame file somewhere: names given by two inputs, names
// that differ only in bytes that are not UTF-8 (documents and per-frame
// file names carry them as U+FFFD), and names that differ only in case or
// accent encoding (one file on Windows or macOS, where a set must still
// work when copied).
bool OrderFrames(std::vector<InputFrame>& frames, std::ostream& err) {
    std::stable_sort(frames.begin(), frames.end(),
                     [](const InputFrame& a, const InputFrame& b) { return a.name < b.name; });
    std::map<std::string, size_t> folded;
    std::map<std::string, size_t> upper;
    bool ok = true;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::string shown = Formats::DocumentName(frames[i].name);
        const auto [byFold, freshFold] = folded.emplace(FoldedName(shown), i);
        const auto [byUpper, freshUpper] = upper.emplace(UpperName(shown), i);
        if (!freshFold || !freshUpper) {
            const InputFrame& first = frames[freshFold ? byUpper->second : byFold->second];
            ReportProblem(err, first.path + ", " + frames[i].path,
                          ClashReason(Formats::DocumentName(first.name), shown));
            ok = false;
        }
    }
    return ok;
}

// Whether a frame of `size` fits the atlas on its own: the plan the atlas
// gets, for this frame alone. A limit no frame can meet (padding that fills
// it, a shelf wider than it) is the settings' fault, not the frame's, and
// is reported when the atlas is planned.
bool FitsAlone(Size2D size, const AtlasSettings& settings) {
    const AtlasPlan plan = PlanAtlas({size}, settings.geometry, settings.packer, settings.shelfRowWidth);
    return plan.failure != PlanFailure::FramesOutside;
}

std::string TooLarge(Size2D size, const AtlasSettings& settings) {
    const Size2D limit = AtlasLimit(settings.geometry);
    std::string text = std::to_string(size.w) + "x" + std::to_string(size.h) +
                       " does not fit the atlas size limit " + std::to_string(limit.w) + "x" +
                       std::to_string(limit.h);
    const int32_t padding = settings.geometry.padding;
    const int32_t extrude = settings.geometry.extrude;
    if (padding > 0) {
        text += " with --padding " + std::to_string(padding);
    }
    if (extrude > 0) {
        text += std::string(padding > 0 ? " and" : " with") + " --extrude " + std::to_string(extrude);
    }
    return text;
}

// Reports every error, in frame order; true when there was none.
bool ReportErrors(const std::vector<std::string>& errors, std::ostream& err) {
    bool ok = true;
    for (const std::string& error : errors) {
        if (!error.empty()) {
            ReportLine(err, error);
            ok = false;
        }
    }
    return ok;
}

}  // namespace

bool GatherFrames(const std::vector<std::string>& inputs, const std::string& prefix, std::vector<InputFrame>& frames,
                  std::ostream& err) {
    return FindFrames(inputs, prefix, frames, err) && OrderFrames(frames, err);
}

void ShapeFrame(InputFrame& frame, const AtlasSettings& settings) {
    frame.sourceW = frame.image.width;
    frame.sourceH = frame.image.height;
    frame.stored = Area2D{0, 0, frame.image.width, frame.image.height};
    frame.normal = Image{};
    if (!settings.trim) return;
    frame.stored = FindOpaqueBounds(frame.image);
    // The map of the whole frame, cropped: computed on the trimmed frame
    // its edges would see their own pixels repeated instead of the clear
    // ones around them.
    if (settings.features.normalMap) {
        frame.normal = NormalMapImage(frame.image, settings.features.strength);
    }
    if (frame.stored.w != frame.image.width || frame.stored.h != frame.image.height) {
        frame.image = CropImage(frame.image, frame.stored);
        if (settings.features.normalMap) frame.normal = CropImage(frame.normal, frame.stored);
    }
}

namespace {

// Counts the frames done on every thread; the progress line is drawn from
// the calling thread alone.
class FrameCount {
public:
    FrameCount(Support::Progress& progress, const char* what, size_t total)
        : progress_(progress), what_(what), total_(total), caller_(std::this_thread::get_id()) {}

    void Done() {
        const size_t finished = ++done_;
        if (std::this_thread::get_id() == caller_) progress_.Count(what_, finished, total_);
    }

private:
    Support::Progress& progress_;
    const char* what_;
    size_t total_;
    std::thread::id caller_;
    std::atomic<size_t> done_{0};
};

// Reads a PNG frame's file into `bytes` and checks its header: what is
// wrong with it, or nothing.
std::string CheckFile(const InputFrame& frame, const AtlasSettings& settings, std::vector<uint8_t>& bytes,
                      Size2D& size) {
    std::string why;
    if (!Io::ReadPngBytes(frame.path, bytes, why) || !Io::PngSize(bytes, size, why)) {
        return frame.path + ": " + why;
    }
    if (!settings.trim && !HasScaleVariants(settings) && !FitsAlone(size, settings)) {
        return frame.path + ": " + TooLarge(size, settings);
    }
    return {};
}

}  // namespace

bool DecodeFrames(std::vector<InputFrame>& frames, const AtlasSettings& settings, Support::Progress& progress,
                  std::ostream& err) {
    // Every header is checked, and a file that is no PNG, or a frame too
    // large for the atlas, is refused with all the others like it before a
    // single file's pixel error is reported. Each file is read once: its
    // pixels are decoded as soon as its header passes, unless a refused
    // header was already seen, and trimmed at once, so no more than one
    // file and one whole image per thread are held beside the frames.
    std::vector<std::string> headerErrors(frames.size());
    std::vector<std::string> errors(frames.size());
    std::atomic<bool> refused{false};
    FrameCount count(progress, "decoding", frames.size());
    Support::ParallelFor(frames.size(), settings.jobs, [&](size_t i) {
        InputFrame& frame = frames[i];
        // A layered sprite file's header was read when its frames were
        // named; its pixels are decoded below, once per file.
        if (frame.spriteFrame >= 0) {
            const Size2D size{frame.sourceW, frame.sourceH};
            const bool fits = settings.trim || HasScaleVariants(settings) || FitsAlone(size, settings);
            if (frame.spriteFrame == 0 && !fits) {
                headerErrors[i] = frame.path + ": " + TooLarge(size, settings);
                refused = true;
            }
        } else {
            try {
                std::vector<uint8_t> bytes;
                Size2D size{};
                headerErrors[i] = CheckFile(frame, settings, bytes, size);
                std::string why;
                if (!headerErrors[i].empty()) {
                    refused = true;
                } else if (!refused) {
                    if (Io::DecodePng(bytes, frame.image, why)) {
                        // Scale variants shape each scale's own pixels later.
                        if (!HasScaleVariants(settings)) ShapeFrame(frame, settings);
                    } else {
                        errors[i] = frame.path + ": " + why;
                    }
                }
            } catch (const std::bad_alloc&) {
                frame.image = Image{};
                errors[i] = frame.path + ": out of memory while decoding";
            }
        }
        count.Done();
    });
    if (!ReportErrors(headerErrors, err)) {
        return false;
    }
    // Each layered sprite file once, split into its frames.
    DecodeSpriteFiles(frames, settings, errors);
    return ReportErrors(errors, err);
}

bool DecodesIntoAtlas(const AtlasSettings& settings, const std::vector<InputFrame>& frames) {
    const FrameFeatures& features = settings.features;
    return !settings.trim && !settings.dedupe && !HasScaleVariants(settings) && !features.normalMap &&
           !features.colliders && settings.geometry.extrude == 0 &&
           std::all_of(frames.begin(), frames.end(), [](const InputFrame& f) { return f.spriteFrame < 0; });
}

namespace {

// Frees a file's bytes (assigning {} would keep their memory).
void Drop(std::vector<uint8_t>& file) {
    std::vector<uint8_t>().swap(file);
}

// Every kept file's pixel error, decoded aside.
void FindUndecodable(const std::vector<InputFrame>& frames, const std::vector<std::vector<uint8_t>>& files,
                     unsigned jobs, std::vector<std::string>& errors) {
    Support::ParallelFor(frames.size(), jobs, [&](size_t i) {
        if (files[i].empty()) return;
        Image image;
        std::string why;
        try {
            if (!Io::DecodePng(files[i], image, why)) errors[i] = frames[i].path + ": " + why;
        } catch (const std::bad_alloc&) {
            errors[i] = frames[i].path + ": out of memory while decoding";
        }
    });
}

}  // namespace

bool ReadFrames(std::vector<InputFrame>& frames, const AtlasSettings& settings,
                std::vector<std::vector<uint8_t>>& files, Support::Progress& progress, std::ostream& err) {
    // As DecodeFrames: every header before any pixel error. Every file is
    // kept, to be decoded straight onto the atlas: sprite art is a twentieth
    // of its pixels' size, and noise, nearly as large as its pixels, would
    // otherwise be held twice (file, then pixels) and copied once more.
    std::vector<std::string> headerErrors(frames.size());
    std::vector<std::string> errors(frames.size());
    FrameCount count(progress, "reading", frames.size());
    files.assign(frames.size(), {});
    Support::ParallelFor(frames.size(), settings.jobs, [&](size_t i) {
        InputFrame& frame = frames[i];
        try {
            Size2D size{};
            std::vector<uint8_t>& file = files[i];
            headerErrors[i] = CheckFile(frame, settings, file, size);
            if (!headerErrors[i].empty()) {
                Drop(file);
            } else {
                frame.image = Image{size.w, size.h, {}};  // sized, its pixels still in the file
            }
            ShapeFrame(frame, settings);
        } catch (const std::bad_alloc&) {
            frame.image = Image{};
            Drop(files[i]);
            errors[i] = frame.path + ": out of memory while decoding";
        }
        count.Done();
    });
    if (!ReportErrors(headerErrors, err)) return false;
    if (std::any_of(errors.begin(), errors.end(), [](const std::string& e) { return !e.empty(); })) {
        // The kept files' errors too, all in frame order.
        FindUndecodable(frames, files, settings.jobs, errors);
        ReportErrors(errors, err);
        return false;
    }
    return true;
}

Workers LentThreads(unsigned jobs) {
    return Workers{jobs, [jobs](size_t tasks, const std::function<void(size_t)>& task) {
                       Support::ParallelFor(tasks, jobs, task);
                   }};
}

bool ComposeFromFiles(const std::vector<InputFrame>& frames, const std::vector<Image>& images, const PagesPlan& plan,
                      std::vector<Image>& pages, std::vector<std::vector<uint8_t>>& files,
                      const AtlasSettings& settings, Support::Progress& progress, std::ostream& err) {
    pages.resize(plan.pages.size());
    for (size_t p = 0; p < plan.pages.size(); ++p) {
        // Blank: the frames are put onto it below.
        if (!BlankImage(plan.pages[p].width, plan.pages[p].height, LentThreads(settings.jobs), pages[p])) {
            ReportLine(err, "the atlas could not be made");
            return false;
        }
    }
    std::vector<std::string> errors(frames.size());
    FrameCount count(progress, "decoding", frames.size());
    // Frames lie apart, so each is put in place on any thread.
    Support::ParallelFor(frames.size(), settings.jobs, [&](size_t i) {
        const size_t p = plan.pageOf[i];
        const Point2D at = plan.pages[p].positions[plan.indexOnPage[i]];
        Image& page = pages[p];
        const Image& image = images[i];
        std::string why;
        try {
            // The plan keeps every frame inside its page; checked all the
            // same, since a file is decoded straight into the page's memory.
            const bool inside = at.x >= 0 && at.y >= 0 && image.width <= page.width - at.x &&
                                image.height <= page.height - at.y;
            if (!inside) {
                errors[i] = frames[i].path + ": does not fit its place";
            } else {
                const auto width = static_cast<size_t>(page.width);
                uint32_t* first = page.pixels.data() + static_cast<size_t>(at.y) * width + static_cast<size_t>(at.x);
                if (!Io::DecodePngInto(files[i], Size2D{image.width, image.height}, first, width, why)) {
                    errors[i] = frames[i].path + ": " + why;
                }
            }
        } catch (const std::bad_alloc&) {
            errors[i] = frames[i].path + ": out of memory while decoding";
        }
        Drop(files[i]);
        count.Done();
    });
    return ReportErrors(errors, err);
}

bool ReportUndecodable(const std::vector<InputFrame>& frames, const std::vector<std::vector<uint8_t>>& files,
                       unsigned jobs, std::ostream& err) {
    std::vector<std::string> errors(frames.size());
    FindUndecodable(frames, files, jobs, errors);
    return ReportErrors(errors, err);
}

PackedImages PrepareImages(std::vector<InputFrame>& frames, bool dedupe) {
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
            if (IsValidImage(frames[i].normal)) packed.normals.push_back(std::move(frames[i].normal));
        } else {
            packed.slot[i] = packed.slot[twin[i]];
        }
    }
    if (packed.normals.size() != packed.images.size()) packed.normals.clear();
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
