// Time and peak memory of `velmora2d --atlas` on large inputs, each run in
// its own process (peak resident memory is per process): a 16384 x 16384
// 1-bit PNG of 32 KB, refused from its header alone; and --trim over large,
// mostly transparent frames, whose peak should follow
//   jobs x (one whole frame + its file) + every trimmed frame + the atlas,
// printed as model_MiB beside the measured peak_MiB. The inputs are written
// at run time, row by row through zlib, so this program stays small: a
// child's peak starts from the resident memory it inherits at fork.
//
//   build/default/bench/velmora_input_bench [--program=PATH] [--benchmark_repetitions=3]
//
// --program runs another build of velmora2d on the same inputs (an older
// one, say); by default the one built beside this program.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string g_program = VELMORA_PROGRAM;
fs::path g_folder;

// The trim case: frames of kFrameSide^2 pixels, each with one opaque
// kOpaqueSide^2 square; the rest is transparent.
constexpr int kFrames = 6;
constexpr uint32_t kFrameSide = 4096;
constexpr uint32_t kOpaqueSide = 256;
constexpr uint32_t kHugeSide = 16384;

void PutU32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

void PutChunk(std::ofstream& file, const char* type, const std::string& data) {
    std::string chunk;
    PutU32(chunk, static_cast<uint32_t>(data.size()));
    chunk += type;
    chunk += data;
    const auto* bytes = reinterpret_cast<const Bytef*>(chunk.data());
    PutU32(chunk, static_cast<uint32_t>(crc32_z(0, bytes + 4, chunk.size() - 4)));
    file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

// A PNG whose filtered rows (filter byte included) `row` fills one at a
// time, deflated as they come: no image is ever held whole.
void WritePng(const fs::path& path, uint32_t width, uint32_t height, uint8_t depth, uint8_t colour,
              size_t rowBytes, const std::function<void(uint32_t, std::vector<uint8_t>&)>& row) {
    std::ofstream file(path, std::ios::binary);
    file.write("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    PutU32(header, width);
    PutU32(header, height);
    header += static_cast<char>(depth);
    header += static_cast<char>(colour);
    header.append(3, '\0');
    PutChunk(file, "IHDR", header);
    z_stream stream{};
    deflateInit(&stream, 6);
    std::vector<uint8_t> in(rowBytes);
    std::vector<uint8_t> out(size_t{1} << 16);
    std::string idat;
    for (uint32_t y = 0; y <= height; ++y) {
        const bool last = y == height;
        if (!last) {
            row(y, in);
        }
        stream.next_in = in.data();
        stream.avail_in = last ? 0 : static_cast<uInt>(in.size());
        int code = Z_OK;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            code = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            idat.append(reinterpret_cast<const char*>(out.data()), out.size() - stream.avail_out);
        } while (stream.avail_out == 0 || (last && code != Z_STREAM_END));
    }
    deflateEnd(&stream);
    PutChunk(file, "IDAT", idat);
    PutChunk(file, "IEND", "");
}

void WriteInputs() {
    g_folder = fs::temp_directory_path() / ("velmora-input-bench-" + std::to_string(getpid()));
    fs::create_directories(g_folder / "frames");
    // 1-bit grey, all black: 2 KiB per row before deflate, 32 KB of file.
    WritePng(g_folder / "huge.png", kHugeSide, kHugeSide, 1, 0, 1 + kHugeSide / 8,
             [](uint32_t, std::vector<uint8_t>& row) { std::fill(row.begin(), row.end(), uint8_t{0}); });
    for (int i = 0; i < kFrames; ++i) {
        // 8-bit RGBA; the square sits at a different place in each frame.
        const uint32_t left = 512 + 400 * static_cast<uint32_t>(i);
        const uint32_t top = 3000 - 350 * static_cast<uint32_t>(i);
        WritePng(g_folder / "frames" / ("f" + std::to_string(i) + ".png"), kFrameSide, kFrameSide, 8, 6,
                 1 + size_t{kFrameSide} * 4, [&](uint32_t y, std::vector<uint8_t>& row) {
                     std::fill(row.begin(), row.end(), uint8_t{0});
                     if (y >= top && y < top + kOpaqueSide) {
                         for (uint32_t x = left; x < left + kOpaqueSide; ++x) {
                             uint8_t* pixel = row.data() + 1 + size_t{x} * 4;
                             pixel[0] = static_cast<uint8_t>(x);
                             pixel[1] = static_cast<uint8_t>(y);
                             pixel[2] = static_cast<uint8_t>(i * 40);
                             pixel[3] = 255;
                         }
                     }
                 });
    }
}

struct Run {
    int status = -1;
    double seconds = 0;
    double peakMiB = 0;
};

// One run of the program in a child process, its output discarded.
Run RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(g_program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) {
        return run;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux gives KiB
    return run;
}

void Measure(benchmark::State& state, const std::vector<std::string>& args, int expected, double modelMiB) {
    double peak = 0;
    for (auto _ : state) {
        const Run run = RunProgram(args);
        if (run.status != expected) {
            state.SkipWithError(("exit status " + std::to_string(run.status) + ", expected " +
                                 std::to_string(expected)).c_str());
            return;
        }
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakMiB);
    }
    state.counters["peak_MiB"] = peak;
    if (modelMiB > 0) {
        state.counters["model_MiB"] = modelMiB;
    }
}

// The floor every run starts from: the program printing its version.
void Startup(benchmark::State& state) { Measure(state, {"--version"}, 0, 0); }

void HeaderRefusal(benchmark::State& state) {
    Measure(state, {"--atlas", "-o", (g_folder / "out" / "huge").string(), (g_folder / "huge.png").string()}, 2, 0);
}

void TrimLargeFrames(benchmark::State& state) {
    const auto jobs = static_cast<double>(state.range(0));
    const double frameMiB = double{kFrameSide} * kFrameSide * 4 / (1 << 20);
    const double fileMiB = static_cast<double>(fs::file_size(g_folder / "frames" / "f0.png")) / (1 << 20);
    const double trimmedMiB = kFrames * double{kOpaqueSide} * kOpaqueSide * 4 / (1 << 20);
    // The atlas holds the trimmed frames about as tightly as they are.
    const double model = jobs * (frameMiB + fileMiB) + 2 * trimmedMiB;
    Measure(state,
            {"--atlas", "--trim", "--jobs", std::to_string(state.range(0)), "-o", (g_folder / "out" / "trim").string(),
             (g_folder / "frames").string()},
            0, model);
}

BENCHMARK(Startup)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(HeaderRefusal)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(TrimLargeFrames)->ArgName("jobs")->Arg(1)->Arg(2)->UseManualTime()->Iterations(2)->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Our own option first; Google Benchmark refuses what it does not know.
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
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    WriteInputs();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(g_folder, ec);
    return 0;
}
