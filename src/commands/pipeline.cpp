#include "commands/pipeline.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <cstdio>
#include <iostream>
#include <new>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define VELMORA_ISATTY _isatty
#define VELMORA_FILENO _fileno
#else
#include <unistd.h>
#define VELMORA_ISATTY isatty
#define VELMORA_FILENO fileno
#endif

#include "commands/commands.h"
#include "io/file_io.h"
#include "io/png_io.h"

namespace Velmora::Commands {

namespace {

// A PNG of the largest accepted size compresses to far less than this; a
// bigger file is refused before it is read into memory.
constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;
constexpr uint64_t kMaxMetaBytes = uint64_t{16} << 20;

}  // namespace

bool ReadFeatureValues(const ParsedOptions& parsed, FrameFeatures& features, std::string& error) {
    const auto found = [&parsed](const char* name) -> const std::string* {
        const auto it = parsed.values.find(name);
        return it == parsed.values.end() ? nullptr : &it->second;
    };
    if (const std::string* text = found("--strength"); text != nullptr &&
                                                        !ParseFloat(*text, features.strength)) {
        error = "--strength needs a number, e.g. 2.5 or inf, not '" + *text + "'";
        return false;
    }
    int64_t alpha = 0;
    if (const std::string* text = found("--alpha"); text != nullptr) {
        if (!ParseInteger(*text, 0, 255, alpha)) {
            error = "--alpha needs a whole number from 0 to 255, not '" + *text + "'";
            return false;
        }
        features.alpha = static_cast<uint8_t>(alpha);
    }
    if (const std::string* text = found("--tolerance"); text != nullptr) {
        if (!ParseFloat(*text, features.tolerance) || features.tolerance < 0.0F) {
            error = "--tolerance needs a number of pixels, 0 or more, not '" + *text + "'";
            return false;
        }
    }
    return true;
}

void ReportLine(std::ostream& err, const std::string& line) { err << "velmora2d: " << line << '\n'; }

void ReportProblem(std::ostream& err, const std::string& what, const std::string& reason) {
    ReportLine(err, what + ": " + reason);
}

int ReportUsage(std::ostream& err, const std::string& command, const std::string& message) {
    err << "velmora2d: " << command << ": " << message << '\n'
        << "Try 'velmora2d " << command << " --help' for more information.\n";
    return kStatusUsage;
}

int ReadCommandLine(const std::string& command, const std::vector<std::string>& args,
                    const std::vector<OptionRule>& rules, const char* help, std::ostream& out,
                    std::ostream& err, ParsedOptions& parsed, FrameFeatures& features) {
    std::string error;
    if (!ParseOptions(args, rules, parsed, error)) {
        return ReportUsage(err, command, error);
    }
    if (parsed.values.count("--help") != 0) {
        out << help;
        return kStatusOk;
    }
    if (!ReadFeatureValues(parsed, features, error)) {
        return ReportUsage(err, command, error);
    }
    return kGoOn;
}

int GuardMemory(std::ostream& err, const std::function<int()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        ReportLine(err, "out of memory; nothing was written");
    } catch (const std::length_error&) {
        ReportLine(err, "out of memory (a size beyond what can be allocated); nothing was written");
    }
    return kStatusFailed;
}

std::string StripExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash)) {
        return name;
    }
    return name.substr(0, dot);
}

std::string ForwardSlashes(const std::string& path) {
    std::string result = path;
    for (char& c : result) {
        if (c == '\\') {
            c = '/';
        }
    }
    return result;
}

Progress::Progress(std::ostream& err)
    : err_(&err),
      enabled_(&err == &std::cerr && VELMORA_ISATTY(VELMORA_FILENO(stderr)) != 0),
      start_(std::chrono::steady_clock::now()) {}

void Progress::Show(const std::string& text) {
    if (!enabled_ || std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) {
        return;
    }
    // Carriage return and erase-line keep it to one line that later
    // output replaces.
    *err_ << "\r\x1b[K" << text << std::flush;
    shown_ = true;
}

void Progress::Stage(const std::string& what) { Show(what + "..."); }

void Progress::Count(const std::string& what, size_t done, size_t total) {
    Show(what + " " + std::to_string(done) + "/" + std::to_string(total));
}

void Progress::Done() {
    if (shown_) {
        *err_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }
}

void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& body) {
    std::atomic<size_t> next{0};
    // A worker's exception (memory exhaustion) must not end the process: the
    // first one is kept, the others stop taking work, and the caller's
    // thread rethrows it once all have joined.
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto work = [&]() {
        try {
            for (size_t i = next++; i < count; i = next++) {
                body(i);
            }
        } catch (...) {
            next = count;
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    const size_t extra = std::min<size_t>(jobs, count) > 1 ? std::min<size_t>(jobs, count) - 1 : 0;
    for (size_t t = 0; t < extra; ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool DecodeFile(const std::string& path, Image& image, std::ostream& err) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!Io::ReadFileBytes(path, kMaxInputBytes, bytes, error) || !Io::DecodePng(bytes, image, error)) {
        ReportProblem(err, path, error);
        return false;
    }
    return true;
}

bool DecodeFrames(std::vector<InputFrame>& frames, unsigned jobs, Progress& progress, std::ostream& err) {
    std::vector<std::string> errors(frames.size());
    std::atomic<size_t> done{0};
    const std::thread::id caller = std::this_thread::get_id();
    ParallelFor(frames.size(), jobs, [&](size_t i) {
        std::vector<uint8_t> bytes;
        try {
            if (!Io::ReadFileBytes(frames[i].path, kMaxInputBytes, bytes, errors[i]) ||
                !Io::DecodePng(bytes, frames[i].image, errors[i])) {
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

Image NormalMapImage(const Image& image, float strength) {
    Image normal;
    normal.width = image.width;
    normal.height = image.height;
    normal.pixels = GenerateNormalMap(image.pixels, image.width, image.height, strength);
    return normal;
}

std::vector<Image> NormalMapAll(const std::vector<Image>& images, float strength, unsigned jobs) {
    std::vector<Image> normals(images.size());
    ParallelFor(images.size(), jobs, [&](size_t i) { normals[i] = NormalMapImage(images[i], strength); });
    return normals;
}

std::vector<Formats::Polygons> TraceAll(const std::vector<Image>& images, const FrameFeatures& features,
                                        unsigned jobs) {
    std::vector<Formats::Polygons> polygons(images.size());
    ParallelFor(images.size(), jobs, [&](size_t i) {
        polygons[i] = TraceColliderPolygons(images[i], features.alpha, features.tolerance);
    });
    return polygons;
}

Formats::Polygons OffsetPolygons(const Formats::Polygons& polygons, int32_t dx, int32_t dy) {
    Formats::Polygons moved = polygons;
    for (std::vector<Point2D>& polygon : moved) {
        for (Point2D& point : polygon) {
            point.x += dx;
            point.y += dy;
        }
    }
    return moved;
}

void AddText(std::vector<Io::OutputFile>& files, const std::string& path, const std::string& text) {
    files.push_back(Io::OutputFile{path, std::vector<uint8_t>(text.begin(), text.end())});
}

bool AddPng(std::vector<Io::OutputFile>& files, const std::string& path, const Image& image,
            std::ostream& err) {
    Io::OutputFile file{path, {}};
    std::string error;
    if (!Io::EncodePng(image, file.bytes, error)) {
        ReportProblem(err, path, error);
        return false;
    }
    files.push_back(std::move(file));
    return true;
}

struct PngStreams::State {
    std::vector<Io::PngEncoder> encoders;
    std::vector<size_t> firstBand;  // per image, its first unit of work
    std::vector<std::pair<size_t, size_t>> work;  // (image, band)
    std::vector<size_t> cursor;  // per image: 0 head, 1.. bands, then tail, then end
    std::mutex lock;
    std::condition_variable changed;
    std::vector<char> done;  // per unit of work
    bool finished = false;  // every worker has stopped
    std::atomic<bool> cancelled{false};
    std::exception_ptr failure;
    std::thread runner;
};

PngStreams::PngStreams(const std::vector<std::pair<std::string, const Image*>>& images, unsigned jobs)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.encoders.reserve(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        state.encoders.emplace_back(*images[i].second);
        state.firstBand.push_back(state.work.size());
        for (size_t band = 0; band < state.encoders[i].BandCount(); ++band) {
            state.work.emplace_back(i, band);
        }
    }
    state.cursor.assign(images.size(), 0);
    state.done.assign(state.work.size(), 0);
    // Bands are handed out in file order, so the first pieces are ready
    // first.
    state.runner = std::thread([&state, jobs]() {
        std::exception_ptr failure;
        try {
            ParallelFor(state.work.size(), jobs, [&state](size_t k) {
                if (state.cancelled) return;
                state.encoders[state.work[k].first].EncodeBand(state.work[k].second);
                const std::lock_guard<std::mutex> hold(state.lock);
                state.done[k] = 1;
                state.changed.notify_all();
            });
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard<std::mutex> hold(state.lock);
        state.failure = failure;
        state.finished = true;
        state.changed.notify_all();
    });
}

PngStreams::~PngStreams() {
    state_->cancelled = true;
    state_->runner.join();
}

bool PngStreams::Next(size_t image, std::vector<uint8_t>& piece, std::string& failure) {
    State& state = *state_;
    Io::PngEncoder& encoder = state.encoders[image];
    size_t& cursor = state.cursor[image];
    const size_t bands = encoder.BandCount();
    if (cursor > bands + 1) {
        return false;
    }
    if (cursor == 0) {
        piece = encoder.Head();
    } else if (cursor == bands + 1) {
        piece = Io::PngEncoder::Tail();
    } else {
        // Bands are taken in order, so those before this one are done.
        const size_t band = cursor - 1;
        const size_t unit = state.firstBand[image] + band;
        {
            std::unique_lock<std::mutex> hold(state.lock);
            state.changed.wait(hold, [&]() { return state.finished || state.done[unit] != 0; });
            if (state.failure) {
                std::rethrow_exception(state.failure);
            }
            if (state.done[unit] == 0) {
                failure = "encoding stopped";
                return false;
            }
        }
        if (!encoder.TakeBand(band, piece, failure)) {
            return false;
        }
    }
    ++cursor;
    return true;
}

Formats::UnityKeptIds ReadKeptIds(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (Io::GetPathKind(path) != Io::PathKind::File || !Io::ReadFileBytes(path, kMaxMetaBytes, bytes, error)) {
        return {};
    }
    return Formats::ReadUnityKeptIds(std::string(bytes.begin(), bytes.end()));
}

}  // namespace Velmora::Commands
