// --atlas --watch, run as a child process: every kind of change to the
// inputs gives one re-pack with the new frames, a broken file leaves the
// last outputs as they were, the tool's own files never wake it, a second
// run on its prefix is refused, and Ctrl-C or SIGTERM end it cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sstream>

#include "atlas/watch.h"
#include "io/png_io.h"
#include "support/aseprite_writer.h"
#include "support/child_process.h"
#include "support/file_tree.h"
#include "support/json_reader.h"
#include "support/sprites.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using VelmoraTest::Child;
using VelmoraTest::Describe;
using VelmoraTest::Outcome;
using VelmoraTest::ReadText;
using VelmoraTest::TempFolder;
using VelmoraTest::WriteText;

std::string PngBytes(int32_t width, int32_t height, uint32_t seed) {
    std::vector<uint8_t> png;
    std::string error;
    EXPECT_TRUE(Velmora::Io::EncodePng(VelmoraTest::Sprite(width, height, seed), png, error)) << error;
    return std::string(png.begin(), png.end());
}

void WritePng(const fs::path& path, int32_t width, int32_t height, uint32_t seed = 1) {
    WriteText(path, PngBytes(width, height, seed));
}

// A layered sprite file of `frames` frames, each one opaque colour.
void WriteSpriteFile(const fs::path& path, uint16_t width, uint16_t height, uint32_t frames) {
    namespace Ase = VelmoraTest::Ase;
    Ase::File file;
    file.width = width;
    file.height = height;
    for (uint32_t f = 0; f < frames; ++f) {
        Ase::Frame frame;
        if (f == 0) frame.chunks.push_back(Ase::LayerChunk(Ase::Layer{}));
        Ase::Cel cel;
        cel.width = width;
        cel.height = height;
        cel.pixels = Ase::Rgba(std::vector<uint32_t>(size_t{width} * height, 0xFF102030U + f));
        frame.chunks.push_back(Ase::CelChunk(cel));
        file.frames.push_back(frame);
    }
    const Ase::Bytes bytes = file.Build();
    WriteText(path, std::string(bytes.begin(), bytes.end()));
}

size_t Count(const std::string& text, const std::string& word) {
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) ++count;
    return count;
}

// Each frame of a hash-layout sheet and its source width.
std::map<std::string, int> FrameWidths(const fs::path& json) {
    StrictJson::Value sheet;
    std::string error;
    std::map<std::string, int> widths;
    EXPECT_TRUE(StrictJson::Parse(ReadText(json), sheet, error)) << json << ": " << error;
    const StrictJson::Value* frames = sheet.Get("frames");
    if (frames == nullptr) return widths;
    for (const auto& [name, frame] : frames->members) {
        const StrictJson::Value* source = frame.Get("sourceSize");
        widths[name] = source == nullptr ? -1 : static_cast<int>(source->Num("w"));
    }
    return widths;
}

// A watching run in folder `work`; its output streams go to files there.
class Watcher {
public:
    Watcher(const fs::path& work, const std::vector<std::string>& args)
        : out_(work / "watch.out"), err_(work / "watch.err"), child_(Args(args), work, out_, err_) {}

    static std::vector<std::string> Args(std::vector<std::string> args) {
        args.insert(args.begin(), {"--atlas", "--watch"});
        return args;
    }

    // Waits up to `limit` for `done` to hold of (standard output, error).
    bool WaitFor(const std::function<bool(const std::string&, const std::string&)>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
        const Clock::time_point deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            if (done(ReadText(out_), ReadText(err_))) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done(ReadText(out_), ReadText(err_));
    }
    bool WaitForPacks(size_t packs) const {
        return WaitFor([packs](const std::string& out, const std::string&) { return Count(out, "Packed ") >= packs; });
    }
    bool Ready() const {
        return WaitFor([](const std::string& out, const std::string&) { return Count(out, "Watching ") == 1; });
    }
    size_t Packs() const { return Count(ReadText(out_), "Packed "); }
    std::string Err() const { return ReadText(err_); }
    std::string Log() const { return "stdout: " + ReadText(out_) + "\nstderr: " + ReadText(err_); }
    Child& Process() { return child_; }

private:
    fs::path out_;
    fs::path err_;
    Child child_;
};

// The quiet period during which a change that wakes the watch would have
// shown as a re-pack several times over.
constexpr auto kQuiet = std::chrono::milliseconds(600);

TEST(Watch, EveryKindOfChangeGivesOneRepackWithTheNewFrames) {
    const TempFolder dir;
    const fs::path in = dir / "in";
    WritePng(in / "a.png", 8, 8);
    WritePng(in / "b.png", 10, 10);
    Watcher watch(dir.path(), {"-o", "out/sheet", "in"});
    ASSERT_TRUE(watch.Ready()) << watch.Log();
    ASSERT_EQ(watch.Packs(), 1U) << watch.Log();
    EXPECT_EQ(FrameWidths(dir / "out/sheet.json"), (std::map<std::string, int>{{"a", 8}, {"b", 10}}));

    struct Step {
        const char* change;
        bool repacks;
        std::function<void()> make;
        std::map<std::string, int> frames;  // afterwards, with their widths
    };
    const fs::path staging = dir / "staging";
    const std::vector<Step> steps = {
        {"a new file", true, [&] { WritePng(in / "c.png", 12, 12); }, {{"a", 8}, {"b", 10}, {"c", 12}}},
        {"an edited file", true, [&] { WritePng(in / "a.png", 20, 8); }, {{"a", 20}, {"b", 10}, {"c", 12}}},
        {"a file saved by renaming a new one over it", true,
         [&] {
             WritePng(staging / "a.png", 14, 8);
             fs::rename(staging / "a.png", in / "a.png");
         },
         {{"a", 14}, {"b", 10}, {"c", 12}}},
        {"a deleted file", true, [&] { fs::remove(in / "b.png"); }, {{"a", 14}, {"c", 12}}},
        {"a renamed file", true, [&] { fs::rename(in / "c.png", in / "d.png"); }, {{"a", 14}, {"d", 12}}},
        {"a folder moved in", true,
         [&] {
             WritePng(staging / "sub/e.png", 6, 6);
             fs::rename(staging / "sub", in / "sub");
         },
         {{"a", 14}, {"d", 12}, {"sub/e", 6}}},
        {"a new file in that folder", true, [&] { WritePng(in / "sub/f.png", 7, 7); },
         {{"a", 14}, {"d", 12}, {"sub/e", 6}, {"sub/f", 7}}},
        {"a layered sprite file", true, [&] { WriteSpriteFile(in / "hero.aseprite", 5, 4, 2); },
         {{"a", 14}, {"d", 12}, {"hero/0", 5}, {"hero/1", 5}, {"sub/e", 6}, {"sub/f", 7}}},
        {"that file saved with another frame", true, [&] { WriteSpriteFile(in / "hero.aseprite", 5, 4, 3); },
         {{"a", 14}, {"d", 12}, {"hero/0", 5}, {"hero/1", 5}, {"hero/2", 5}, {"sub/e", 6}, {"sub/f", 7}}},
        {"a file that is no image", false, [&] { WriteText(in / "notes.txt", "x"); },
         {{"a", 14}, {"d", 12}, {"hero/0", 5}, {"hero/1", 5}, {"hero/2", 5}, {"sub/e", 6}, {"sub/f", 7}}},
    };
    size_t packs = 1;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.change);
        step.make();
        if (step.repacks) {
            ++packs;
            ASSERT_TRUE(watch.WaitForPacks(packs)) << watch.Log();
        } else {
            std::this_thread::sleep_for(kQuiet);
        }
        EXPECT_EQ(watch.Packs(), packs) << watch.Log();
        EXPECT_EQ(FrameWidths(dir / "out/sheet.json"), step.frames);
    }
    EXPECT_EQ(watch.Err(), "");
}

TEST(Watch, ABrokenFileIsReportedTheLastOutputsStayAndTheWatchGoesOn) {
    const TempFolder dir;
    const fs::path in = dir / "in";
    WritePng(in / "a.png", 8, 8);
    Watcher watch(dir.path(), {"-o", "out/sheet", "in"});
    ASSERT_TRUE(watch.Ready()) << watch.Log();
    const std::string png = ReadText(dir / "out/sheet.png");
    const std::string json = ReadText(dir / "out/sheet.json");
    const std::string whole = PngBytes(9, 9, 3);
    struct Broken {
        const char* what;
        std::string bytes;
    };
    const std::vector<Broken> broken = {
        {"not a PNG", "this is no image"},
        {"half written", whole.substr(0, whole.size() / 2)},
        {"empty", ""},
    };
    size_t reports = 0;
    for (const Broken& file : broken) {
        SCOPED_TRACE(file.what);
        WriteText(in / "bad.png", file.bytes);
        ++reports;
        ASSERT_TRUE(watch.WaitFor([&](const std::string&, const std::string& err) {
            return Count(err, "in/bad.png: ") >= reports;
        })) << watch.Log();
        // One line, naming the file.
        EXPECT_EQ(Count(watch.Err(), "\n"), reports) << watch.Log();
        EXPECT_EQ(watch.Packs(), 1U);
        EXPECT_EQ(ReadText(dir / "out/sheet.png"), png);
        EXPECT_EQ(ReadText(dir / "out/sheet.json"), json);
    }
    WriteText(in / "bad.png", whole);
    ASSERT_TRUE(watch.WaitForPacks(2)) << watch.Log();
    EXPECT_EQ(FrameWidths(dir / "out/sheet.json"), (std::map<std::string, int>{{"a", 8}, {"bad", 9}}));
    EXPECT_EQ(Count(watch.Err(), "\n"), reports) << watch.Log();
}

TEST(Watch, ABurstOfSavesGivesOneRepack) {
    const TempFolder dir;
    const fs::path in = dir / "in";
    WritePng(in / "a.png", 8, 8);
    Watcher watch(dir.path(), {"-o", "out/sheet", "in"});
    ASSERT_TRUE(watch.Ready()) << watch.Log();
    // Encoded first, so the files are written back to back.
    std::vector<std::string> files;
    for (uint32_t i = 0; i < 40; ++i) files.push_back(PngBytes(4 + static_cast<int32_t>(i % 9), 5, i));
    for (size_t i = 0; i < files.size(); ++i) WriteText(in / ("burst_" + std::to_string(i) + ".png"), files[i]);
    WriteText(in / "a.png", files[0]);
    ASSERT_TRUE(watch.WaitForPacks(2)) << watch.Log();
    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(watch.Packs(), 2U) << watch.Log();
    const std::map<std::string, int> frames = FrameWidths(dir / "out/sheet.json");
    EXPECT_EQ(frames.size(), 41U);
    EXPECT_EQ(frames.at("a"), 4);
}

TEST(Watch, ItsOwnOutputsInsideTheWatchedFolderDoNotWakeIt) {
    const TempFolder dir;
    const fs::path in = dir / "in";
    WritePng(in / "a.png", 8, 8);
    WritePng(in / "b.png", 9, 9);
    // Every kind of file a run writes lands in the watched folder.
    Watcher watch(dir.path(), {"--normal-map", "--colliders", "-o", "in/sheet", "in"});
    ASSERT_TRUE(watch.Ready()) << watch.Log();
    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(watch.Packs(), 1U) << watch.Log();
    WritePng(in / "b.png", 11, 9);
    ASSERT_TRUE(watch.WaitForPacks(2)) << watch.Log();
    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(watch.Packs(), 2U) << watch.Log();
    EXPECT_EQ(FrameWidths(dir / "in/sheet.json"), (std::map<std::string, int>{{"a", 8}, {"b", 11}}));
    EXPECT_TRUE(fs::exists(in / "sheet_n.png"));
    EXPECT_EQ(watch.Err(), "");
}

TEST(Watch, ASecondRunOnItsPrefixIsRefusedNamingIt) {
    const TempFolder dir;
    WritePng(dir / "in/a.png", 8, 8);
    Watcher watch(dir.path(), {"-o", "out/sheet", "in"});
    ASSERT_TRUE(watch.Ready()) << watch.Log();
    for (const bool watching : {false, true}) {
        std::vector<std::string> args = {"--atlas", "-o", "out/sheet", "in"};
        if (watching) args.insert(args.begin() + 1, "--watch");
        Child second(args, dir.path(), dir / "second.out", dir / "second.err");
        const Outcome outcome = second.Finish(std::chrono::seconds(20));
        EXPECT_EQ(outcome.status, 2) << Describe(outcome);
        EXPECT_NE(outcome.err.find(".sheet.velmora-lock: locked by process " + std::to_string(watch.Process().Id())),
                  std::string::npos)
            << outcome.err;
    }
    EXPECT_EQ(watch.Packs(), 1U);
}

TEST(Watch, InputsThatCannotBeWatchedAreRefusedBeforeAnythingIsWritten) {
    const TempFolder dir;
    WritePng(dir / "in/a.png", 8, 8);
    struct Refusal {
        const char* input;
        const char* message;
    };
    const std::vector<Refusal> refusals = {
        {"missing", "velmora2d: missing: no such file or folder\n"},
        {"in/gone.png", "velmora2d: in/gone.png: no such file or folder\n"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.input);
        Child run({"--atlas", "--watch", "-o", "out/sheet", "in", refusal.input}, dir.path(), dir / "run.out",
                  dir / "run.err");
        const Outcome outcome = run.Finish(std::chrono::seconds(20));
        EXPECT_EQ(outcome.status, 2) << Describe(outcome);
        EXPECT_EQ(outcome.err, refusal.message);
        EXPECT_EQ(outcome.out, "");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(Watch, CtrlCOrSigtermEndItWithStatusZeroAndNothingLeftOver) {
#ifdef _WIN32
    GTEST_SKIP() << "sends POSIX signals; Ctrl-C reaches only processes sharing a console, which a child "
                    "under wine does not have";
#else
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const TempFolder dir(std::to_string(signal));
        WritePng(dir / "in/a.png", 8, 8);
        Watcher watch(dir.path(), {"-o", "out/sheet", "in"});
        ASSERT_TRUE(watch.Ready()) << watch.Log();
        WritePng(dir / "in/a.png", 12, 8);
        ASSERT_TRUE(watch.WaitForPacks(2)) << watch.Log();
        kill(static_cast<pid_t>(watch.Process().Id()), signal);
        const Outcome outcome = watch.Process().Finish(std::chrono::seconds(20));
        EXPECT_EQ(outcome.status, 0) << Describe(outcome);
        EXPECT_FALSE(outcome.hung);
        // The whole set and its manifest; no lock, journal or temporary.
        EXPECT_EQ(VelmoraTest::TreeOf(dir / "out"),
                  (std::set<std::string>{".sheet.velmora-manifest", "sheet.json", "sheet.png", "sheet.png.meta",
                                         "sheet.tres", "sheet/", "sheet/a.tres"}));
        // The lock is free: a run on the same prefix goes ahead.
        Child next({"--atlas", "-o", "out/sheet", "in"}, dir.path(), dir / "next.out", dir / "next.err");
        const Outcome after = next.Finish(std::chrono::seconds(20));
        EXPECT_EQ(after.status, 0) << Describe(after);
    }
#endif
}

// The cache a re-pack decodes through: each round changes the files, then
// decodes the inputs again; the frames must be what decoding the files
// gives, with only the changed files decoded.
TEST(FrameCache, OnlyFilesThatChangedAreDecodedAgain) {
    const TempFolder dir;
    const fs::path in = dir / "in";
    WritePng(in / "a.png", 8, 8, 1);
    WritePng(in / "b.png", 9, 9, 2);
    WritePng(in / "c.png", 10, 10, 3);
    Velmora::Commands::AtlasSettings settings;
    settings.prefix = dir.Str("out/sheet");
    settings.operands = {dir.Str("in")};
    Velmora::Commands::FrameCache cache;
    struct Round {
        const char* change;
        std::function<void()> make;
        size_t frames;
        size_t reused;
    };
    const std::vector<Round> rounds = {
        {"the first decode", [] {}, 3, 0},
        {"nothing", [] {}, 3, 3},
        {"a file of another size", [&] { WritePng(in / "a.png", 12, 8, 4); }, 3, 2},
        {"a file rewritten with its size and time, reported changed",
         [&] {
             // Other pixels in a file of the same length, with the old time.
             const fs::file_time_type time = fs::last_write_time(in / "b.png");
             const std::string old = ReadText(in / "b.png");
             std::string other;
             for (uint32_t seed = 100; seed < 2000 && other.size() != old.size(); ++seed) other = PngBytes(9, 9, seed);
             ASSERT_EQ(other.size(), old.size());
             WriteText(in / "b.png", other);
             fs::last_write_time(in / "b.png", time);
             cache.changed.insert(dir.Str("in") + "/b.png");
         },
         3, 2},
        {"a file touched", [&] { fs::last_write_time(in / "c.png", fs::last_write_time(in / "c.png") + std::chrono::seconds(2)); }, 3, 2},
        {"a file removed", [&] { fs::remove(in / "a.png"); }, 2, 2},
        {"a file added", [&] { WritePng(in / "d.png", 5, 5, 6); }, 3, 2},
    };
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.change);
        round.make();
        std::vector<Velmora::Commands::InputFrame> frames;
        std::ostringstream err;
        ASSERT_TRUE(Velmora::Commands::GatherFrames(settings.operands, settings.prefix, frames, err)) << err.str();
        Velmora::Support::Progress progress(err);
        ASSERT_TRUE(Velmora::Commands::DecodeCached(frames, settings, &cache, progress, err)) << err.str();
        ASSERT_EQ(frames.size(), round.frames);
        EXPECT_EQ(cache.reused, round.reused);
        EXPECT_EQ(cache.frames.size(), round.frames);
        EXPECT_TRUE(cache.changed.empty());
        for (const Velmora::Commands::InputFrame& frame : frames) {
            Velmora::Image file;
            std::string error;
            ASSERT_TRUE(Velmora::Io::ReadPngFile(frame.path, file, error)) << error;
            EXPECT_EQ(frame.image.width, file.width) << frame.name;
            EXPECT_EQ(frame.image.pixels, file.pixels) << frame.name;
        }
    }
}

}  // namespace
