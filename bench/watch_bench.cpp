// How long `velmora2d --atlas --watch` takes from one saved sprite to the new
// atlas on disk, with 1,000 sprites and the outputs on a tmpfs (/dev/shm when
// it exists): the watch's settling time, the gather, one file decoded (the
// rest from the frame cache), planning, composing, encoding and the commit.
// Each iteration rewrites one sprite and reads the run's standard output up
// to its next "Packed" line, printed once the commit is done.
//
//   build/default/bench/velmora_watch_bench [--program=PATH] [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "io/png_io.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string g_program = VELMORA_PROGRAM;
constexpr int kSprites = 1000;

fs::path Folder() {
    const fs::path shm = "/dev/shm";
    return (fs::is_directory(shm) ? shm : fs::temp_directory_path()) / ("velmora-watch-bench-" + std::to_string(getpid()));
}

// A sprite as pixel art looks: an ellipse 16 to 47 pixels a side (as
// `shape` says) in bands of a few shades of one colour from `seed`, with an
// outline, on a clear ground. Noise would make the atlas's deflate the whole
// story, which drawn art never does.
void WriteSprite(const fs::path& path, uint32_t shape, uint32_t seed) {
    std::mt19937 sides(shape);
    std::mt19937 random(seed);
    Velmora::Image image;
    image.width = 16 + static_cast<int32_t>(sides() % 32);
    image.height = 16 + static_cast<int32_t>(sides() % 32);
    image.pixels.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), 0U);
    const uint32_t colour = static_cast<uint32_t>(random()) & 0x00C0C0C0U;
    const int64_t w = image.width;
    const int64_t h = image.height;
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            const int64_t dx = 2 * x + 1 - w;
            const int64_t dy = 2 * y + 1 - h;
            const int64_t r = dx * dx * h * h + dy * dy * w * w;
            const int64_t limit = w * w * h * h;
            if (r > limit) continue;
            const auto band = static_cast<uint32_t>((y * 4) / h) * 0x00101010U;
            const bool edge = r * 10 > limit * 8;
            image.pixels[static_cast<size_t>(y * w + x)] = 0xFF000000U | (edge ? 0x00202020U : colour + band);
        }
    }
    std::vector<uint8_t> png;
    std::string error;
    if (!Velmora::Io::EncodePng(image, png, error)) return;
    // Written beside it and renamed over it, as editors save.
    const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".part");
    std::ofstream(temporary, std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                      static_cast<std::streamsize>(png.size()));
    fs::rename(temporary, path);
}

// The watching run, its standard output on a pipe.
class Watching {
public:
    Watching(const fs::path& folder, const std::vector<std::string>& extra) {
        std::vector<std::string> words = {g_program, "--atlas", "--watch", "-o", (folder / "out/sheet").string()};
        words.insert(words.end(), extra.begin(), extra.end());
        words.push_back((folder / "in").string());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        read_ = fds[0];
    }
    ~Watching() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (read_ >= 0) close(read_);
    }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

    // The processor time the run has used so far, in seconds (Linux).
    double CpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // Fields after the command name, which ends with the last ')'.
        const size_t end = text.rfind(')');
        if (end == std::string::npos) return 0.0;
        std::istringstream fields(text.substr(end + 2));
        std::string field;
        double ticks = 0.0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
        }
        return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // Blocks until a line starting with `word` arrives; false at the end.
    bool Line(const std::string& word) {
        for (;;) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                const std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (line.rfind(word, 0) == 0) return true;
                continue;
            }
            char chunk[4096];
            const ssize_t got = read(read_, chunk, sizeof chunk);
            if (got <= 0) return false;
            buffer_.append(chunk, static_cast<size_t>(got));
        }
    }

private:
    pid_t pid_ = -1;
    int read_ = -1;
    std::string buffer_;
};

void SavedToAtlas(benchmark::State& state, bool resize, const std::vector<std::string>& extra) {
    const fs::path folder = Folder();
    fs::remove_all(folder);
    fs::create_directories(folder / "in");
    for (uint32_t i = 0; i < kSprites; ++i) {
        WriteSprite(folder / "in" / ("sprite_" + std::to_string(1000 + i) + ".png"), i, i);
    }
    {
        Watching watch(folder, extra);
        if (!watch.Line("Watching")) {
            state.SkipWithError("the watching run did not start");
            return;
        }
        uint32_t seed = kSprites;
        const double cpuBefore = watch.CpuSeconds();
        for (auto _ : state) {
            const uint32_t index = seed % kSprites;
            const fs::path sprite = folder / "in" / ("sprite_" + std::to_string(1000 + index) + ".png");
            ++seed;
            const Clock::time_point start = Clock::now();
            WriteSprite(sprite, resize ? seed * 7919U : index, seed);
            if (!watch.Line("Packed")) {
                state.SkipWithError("the watching run ended");
                break;
            }
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        }
        // The run's own work per save, whatever else the machine is doing.
        state.counters["run_cpu_ms"] = 1000.0 * (watch.CpuSeconds() - cpuBefore) /
                                       static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    }
    fs::remove_all(folder);
}

// The usual save: new pixels, the same canvas, so the atlas keeps its plan.
void SameSize(benchmark::State& state) { SavedToAtlas(state, false, {}); }
// A sprite that changes size: the atlas is planned again.
void NewSize(benchmark::State& state) { SavedToAtlas(state, true, {}); }
// Trimmed and padded: the trimmed size of new pixels may change.
void SameSizeTrimmed(benchmark::State& state) { SavedToAtlas(state, false, {"--trim", "--padding", "1"}); }

BENCHMARK(SameSize)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(NewSize)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(SameSizeTrimmed)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--program=", 10) == 0) {
            g_program = argv[i] + 10;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
