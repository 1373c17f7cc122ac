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
#include <fstream>
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

// An opaque blob of random colours on a clear ground, 16 to 47 pixels a side.
void WriteSprite(const fs::path& path, uint32_t seed) {
    std::mt19937 random(seed);
    Velmora::Image image;
    image.width = 16 + static_cast<int32_t>(random() % 32);
    image.height = 16 + static_cast<int32_t>(random() % 32);
    image.pixels.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), 0U);
    for (int32_t y = 2; y < image.height - 2; ++y) {
        for (int32_t x = 2; x < image.width - 2; ++x) {
            image.pixels[static_cast<size_t>(y * image.width + x)] = 0xFF000000U | (random() & 0x00F0F0F0U);
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

void SavedToAtlas(benchmark::State& state, const std::vector<std::string>& extra) {
    const fs::path folder = Folder();
    fs::remove_all(folder);
    fs::create_directories(folder / "in");
    for (uint32_t i = 0; i < kSprites; ++i) {
        WriteSprite(folder / "in" / ("sprite_" + std::to_string(1000 + i) + ".png"), i);
    }
    {
        Watching watch(folder, extra);
        if (!watch.Line("Watching")) {
            state.SkipWithError("the watching run did not start");
            return;
        }
        uint32_t seed = kSprites;
        for (auto _ : state) {
            const fs::path sprite = folder / "in" / ("sprite_" + std::to_string(1000 + seed % kSprites) + ".png");
            const Clock::time_point start = Clock::now();
            WriteSprite(sprite, ++seed * 7919U);
            if (!watch.Line("Packed")) {
                state.SkipWithError("the watching run ended");
                break;
            }
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        }
    }
    fs::remove_all(folder);
}

void SavedToAtlasPlain(benchmark::State& state) { SavedToAtlas(state, {}); }
void SavedToAtlasTrimmed(benchmark::State& state) { SavedToAtlas(state, {"--trim", "--padding", "1"}); }

BENCHMARK(SavedToAtlasPlain)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(SavedToAtlasTrimmed)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

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
