// Steps the file commands share: reporting, reading and decoding inputs in
// parallel, per-frame normal maps and colliders, and output files.
#ifndef VELMORA_COMMANDS_PIPELINE_H
#define VELMORA_COMMANDS_PIPELINE_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "commands/options.h"
#include "formats/sheet.h"
#include "io/output_set.h"
#include "velmora_engine.h"

namespace Velmora::Commands {

// One input sprite on its way through the pipeline.
struct InputFrame {
    std::string name;
    std::string path;
    Image image;          // decoded, then trimmed when asked
    int32_t sourceW = 0;  // size as decoded
    int32_t sourceH = 0;
    Rect2D stored;        // the part of the original that is packed
};

// The per-frame features --atlas shares with --normalmap and --colliders.
struct FrameFeatures {
    bool normalMap = false;
    float strength = 1.0F;
    bool colliders = false;
    uint8_t alpha = 10;
    float tolerance = 1.0F;
};

// Reads --strength, --alpha and --tolerance when given.
bool ReadFeatureValues(const ParsedOptions& parsed, FrameFeatures& features, std::string& error);

// "velmora2d: WHAT: REASON" on one line.
void ReportProblem(std::ostream& err, const std::string& what, const std::string& reason);
void ReportLine(std::ostream& err, const std::string& line);
// A usage error: the message and a hint to the command's help; status 1.
int ReportUsage(std::ostream& err, const std::string& command, const std::string& message);

// Reads a file command's arguments. Returns kGoOn when the command should
// run; otherwise the status to end with, after printing `help` (--help) or
// reporting a usage error.
constexpr int kGoOn = -1;
int ReadCommandLine(const std::string& command, const std::vector<std::string>& args,
                    const std::vector<OptionRule>& rules, const char* help, std::ostream& out,
                    std::ostream& err, ParsedOptions& parsed, FrameFeatures& features);

// Runs `body`, turning memory exhaustion into a message and status 2.
int GuardMemory(std::ostream& err, const std::function<int()>& body);

std::string StripExtension(const std::string& name);
std::string ForwardSlashes(const std::string& path);

// A one-line progress report on a terminal's error stream, shown only once
// the work has taken half a second; silent for pipes, files and tests.
class Progress {
public:
    explicit Progress(std::ostream& err);
    void Stage(const std::string& what);
    void Count(const std::string& what, size_t done, size_t total);
    void Done();

private:
    void Show(const std::string& text);
    std::ostream* err_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
};

// Runs body(i) for i in [0, count) on up to `jobs` threads.
void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& body);

// Reads and decodes one PNG; on failure reports "PATH: reason".
bool DecodeFile(const std::string& path, Image& image, std::ostream& err);

// Decodes every frame (in parallel); reports every file that fails, in
// frame order.
bool DecodeFrames(std::vector<InputFrame>& frames, unsigned jobs, Progress& progress, std::ostream& err);

std::vector<Image> NormalMapAll(const std::vector<Image>& images, float strength, unsigned jobs);
std::vector<Formats::Polygons> TraceAll(const std::vector<Image>& images, const FrameFeatures& features,
                                        unsigned jobs);
Formats::Polygons OffsetPolygons(const Formats::Polygons& polygons, int32_t dx, int32_t dy);

// The normal map of one image as an image.
Image NormalMapImage(const Image& image, float strength);

void AddText(std::vector<Io::OutputFile>& files, const std::string& path, const std::string& text);
// Encodes `image` as PATH; on failure reports it and returns false.
bool AddPng(std::vector<Io::OutputFile>& files, const std::string& path, const Image& image,
            std::ostream& err);

// Encodes (path, image) pairs on `jobs` background threads, band by band,
// and hands out each file's pieces in order as soon as they are ready, so
// the files are written while later bands still deflate. The bytes never
// depend on `jobs`. The images must outlive it; destroying it stops the
// work not yet started and waits for the rest.
class PngStreams {
public:
    PngStreams(const std::vector<std::pair<std::string, const Image*>>& images, unsigned jobs);
    ~PngStreams();
    PngStreams(const PngStreams&) = delete;
    PngStreams& operator=(const PngStreams&) = delete;

    // The next piece of image i's file, as OutputSet::NextPiece: true with
    // a piece, false at the end or with `failure` set. Rethrows what a
    // worker threw (memory exhaustion). One caller at a time.
    bool Next(size_t image, std::vector<uint8_t>& piece, std::string& failure);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The ids an existing Unity .meta at `path` holds; none when it is absent.
Formats::UnityKeptIds ReadKeptIds(const std::string& path);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_PIPELINE_H
