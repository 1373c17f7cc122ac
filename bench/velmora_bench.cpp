// Speed of the engine's heavy operations, against plain baselines measured
// in the same run: the normal map against its one-pixel-at-a-time reference,
// the packer against a memcpy of the same bytes, the outline tracer per pixel
// read, the collider tracer against one pass reading every pixel's alpha,
// and resampling an atlas-sized image for a half-size scale variant.
// Ratios are printed after the Google Benchmark table; machines are noisy,
// so compare figures from one run only.
//
//   build/default/bench/velmora_bench [--benchmark_filter=NormalMap] [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "best_times.h"
#include "velmora/packing.h"
#include "velmora/collider.h"
#include "velmora/image.h"
#include "velmora/resample.h"
#include "velmora_engine.h"
#include "normal_map_internal.h"

namespace {

using Velmora::NormalMapInternal::NormalMapPath;
using Pixels = std::vector<uint32_t>;

// Opaque random colours: every pixel is processed and the gradients vary.
Pixels OpaqueNoise(int32_t width, int32_t height) {
    std::mt19937 rng(12345);
    Pixels pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint32_t& p : pixels) {
        p = static_cast<uint32_t>(rng()) | 0xFF000000u;
    }
    return pixels;
}

void CountPixels(benchmark::State& state, int64_t pixelsPerIteration) {
    state.counters["pixels"] = benchmark::Counter(
        static_cast<double>(pixelsPerIteration) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void NormalMapReference(benchmark::State& state) {
    const auto size = static_cast<int32_t>(state.range(0));
    const Pixels pixels = OpaqueNoise(size, size);
    for (auto _ : state) {
        Pixels result = Velmora::NormalMapInternal::GenerateNormalMapReference(pixels, size, size, 1.0f);
        benchmark::DoNotOptimize(result.data());
    }
    CountPixels(state, int64_t{size} * size);
}

// The whole public call, allocation of the result included.
void NormalMap(benchmark::State& state) {
    const auto size = static_cast<int32_t>(state.range(0));
    const Pixels pixels = OpaqueNoise(size, size);
    for (auto _ : state) {
        Pixels result = Velmora::GenerateNormalMap(pixels, size, size, 1.0f);
        benchmark::DoNotOptimize(result.data());
    }
    CountPixels(state, int64_t{size} * size);
}

void NormalMapOnPath(benchmark::State& state, NormalMapPath path) {
    if (!Velmora::NormalMapInternal::IsPathSupported(path)) {
        state.SkipWithError("path not supported on this CPU");
        return;
    }
    const auto size = static_cast<int32_t>(state.range(0));
    const Pixels pixels = OpaqueNoise(size, size);
    for (auto _ : state) {
        Pixels result = Velmora::NormalMapInternal::GenerateNormalMapOnPath(path, pixels, size, size, 1.0f);
        benchmark::DoNotOptimize(result.data());
    }
    CountPixels(state, int64_t{size} * size);
}

void NormalMapSse2(benchmark::State& state) {
    NormalMapOnPath(state, NormalMapPath::Sse2);
}

void NormalMapAvx2(benchmark::State& state) {
    NormalMapOnPath(state, NormalMapPath::Avx2);
}

BENCHMARK(NormalMapReference)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(NormalMap)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(NormalMapSse2)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(NormalMapAvx2)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

constexpr int kPackFrames = 10000;
constexpr int32_t kPackFrameSize = 32;
constexpr int32_t kPackMaxWidth = 2048;

std::vector<Velmora::SpriteFrame> PackInput() {
    std::vector<Velmora::SpriteFrame> frames(kPackFrames);
    for (int i = 0; i < kPackFrames; ++i) {
        frames[static_cast<size_t>(i)] = Velmora::SpriteFrame{
            "frame_" + std::to_string(i), kPackFrameSize, kPackFrameSize,
            OpaqueNoise(kPackFrameSize, kPackFrameSize)};
    }
    return frames;
}

// 10,000 frames of 32 x 32 onto a 2048-wide atlas; the caller's output
// containers are reused from one call to the next.
void PackSprites(benchmark::State& state) {
    const std::vector<Velmora::SpriteFrame> frames = PackInput();
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Velmora::Rect2D> rects;
    Pixels atlas;
    for (auto _ : state) {
        const bool packed = Velmora::PackSprites(frames, kPackMaxWidth, width, height, rects, atlas);
        benchmark::DoNotOptimize(packed);
        benchmark::DoNotOptimize(atlas.data());
    }
    state.SetBytesProcessed(state.iterations() * kPackFrames * kPackFrameSize * kPackFrameSize *
                            static_cast<int64_t>(sizeof(uint32_t)));
}

// The floor for the packer: copying the same frame pixels into one buffer.
void PackMemcpyBaseline(benchmark::State& state) {
    const std::vector<Velmora::SpriteFrame> frames = PackInput();
    const size_t frameBytes = static_cast<size_t>(kPackFrameSize * kPackFrameSize) * sizeof(uint32_t);
    Pixels target(frames.size() * static_cast<size_t>(kPackFrameSize * kPackFrameSize));
    for (auto _ : state) {
        auto* out = reinterpret_cast<unsigned char*>(target.data());
        for (const Velmora::SpriteFrame& frame : frames) {
            std::memcpy(out, frame.pixels.data(), frameBytes);
            out += frameBytes;
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frames.size() * frameBytes));
}

BENCHMARK(PackSprites)->Unit(benchmark::kMillisecond);
BENCHMARK(PackMemcpyBaseline)->Unit(benchmark::kMillisecond);

// The whole MaxRects search on 1,000 sizes: random sides of 16 to 192
// (Arg 0) or equal 32 x 32 tiles (Arg 1).
void PackRectsMaxRects(benchmark::State& state) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> side(16, 192);
    std::vector<Velmora::Size2D> sizes(1000, Velmora::Size2D{32, 32});
    if (state.range(0) == 0) {
        for (Velmora::Size2D& s : sizes) {
            s.w = side(rng);
            s.h = side(rng);
        }
    }
    for (auto _ : state) {
        const Velmora::RectPlacement placement = Velmora::PackRectsMaxRects(sizes, 8192, 8192, false);
        benchmark::DoNotOptimize(placement.positions.data());
    }
}

BENCHMARK(PackRectsMaxRects)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

constexpr int32_t kTraceSize = 4096;
constexpr double kTraceReads = 4.0 * kTraceSize * kTraceSize;

// Worst case: nothing is solid, so each of the four passes reads every pixel.
void TraceTransparent(benchmark::State& state) {
    const Pixels pixels(static_cast<size_t>(kTraceSize) * kTraceSize, 0u);
    for (auto _ : state) {
        std::vector<Velmora::Point2D> points = Velmora::GenerateCollisionHull(pixels, kTraceSize, kTraceSize, 1, 1);
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["per_read"] = benchmark::Counter(kTraceReads * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(TraceTransparent)->Unit(benchmark::kMillisecond);

// Collider masks: a few dozen overlapping discs (large regions, long
// outlines, holes between discs), or every pixel solid at random (a maze of
// small regions, the most outlines per pixel).
Velmora::Image ColliderMask(int32_t size, bool noisy) {
    std::mt19937 rng(777);
    Velmora::Image image{size, size, Pixels(static_cast<size_t>(size) * static_cast<size_t>(size), 0u)};
    if (noisy) {
        for (uint32_t& p : image.pixels) {
            p = static_cast<uint32_t>(rng()) | 0x00FFFFFFu;  // alpha at random
        }
        return image;
    }
    for (int disc = 0; disc < 40; ++disc) {
        const auto cx = static_cast<int64_t>(rng() % static_cast<uint32_t>(size));
        const auto cy = static_cast<int64_t>(rng() % static_cast<uint32_t>(size));
        const auto r = static_cast<int64_t>(size / 32) + static_cast<int64_t>(rng() % static_cast<uint32_t>(size / 8));
        for (int64_t y = std::max<int64_t>(0, cy - r); y < std::min<int64_t>(size, cy + r + 1); ++y) {
            for (int64_t x = std::max<int64_t>(0, cx - r); x < std::min<int64_t>(size, cx + r + 1); ++x) {
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
                    image.pixels[static_cast<size_t>(y * size + x)] = 0xFF3060A0u;
                }
            }
        }
    }
    return image;
}

void CountPerPixel(benchmark::State& state, int64_t pixels) {
    state.counters["per_pixel"] = benchmark::Counter(
        static_cast<double>(pixels) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The floor for the collider: one pass over the pixels, reading alpha.
void ColliderAlphaPass(benchmark::State& state) {
    const Velmora::Image image = ColliderMask(static_cast<int32_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        size_t solid = 0;
        for (const uint32_t p : image.pixels) {
            solid += (p >> 24) >= 128u;
        }
        benchmark::DoNotOptimize(solid);
    }
    CountPerPixel(state, static_cast<int64_t>(image.pixels.size()));
}

void Collider(benchmark::State& state) {
    const Velmora::Image image = ColliderMask(static_cast<int32_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        std::vector<std::vector<Velmora::Point2D>> polygons = Velmora::TraceColliderPolygons(image, 128, 1.0f);
        benchmark::DoNotOptimize(polygons.data());
    }
    CountPerPixel(state, static_cast<int64_t>(image.pixels.size()));
}

// Arguments: side, then 0 for discs or 1 for noise.
BENCHMARK(ColliderAlphaPass)->ArgsProduct({{256, 2048}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(Collider)->ArgsProduct({{256, 2048}, {0, 1}})->Unit(benchmark::kMillisecond);

// An atlas-like image: 2048 x 2048 cut into 128-pixel cells, each holding a
// sprite of 24 to 128 pixels across, noise inside a disc with a soft rim,
// with transparent gaps between sprites.
Velmora::Image AtlasLike() {
    constexpr int32_t kSide = 2048;
    constexpr int32_t kCell = 128;
    std::mt19937 rng(2048);
    Velmora::Image image{kSide, kSide, Pixels(static_cast<size_t>(kSide) * kSide, 0u)};
    for (int32_t top = 0; top < kSide; top += kCell) {
        for (int32_t left = 0; left < kSide; left += kCell) {
            const auto r = static_cast<int64_t>(12 + rng() % 53);
            const int64_t rim = r * 3 / 4;
            for (int64_t y = -r; y < r; ++y) {
                for (int64_t x = -r; x < r; ++x) {
                    const int64_t d2 = x * x + y * y;
                    if (d2 >= r * r) {
                        continue;
                    }
                    const int64_t alpha = d2 <= rim * rim ? 255 : 255 * (r * r - d2) / (r * r - rim * rim);
                    const size_t at = static_cast<size_t>(top + kCell / 2 + y) * kSide +
                                      static_cast<size_t>(left + kCell / 2 + x);
                    image.pixels[at] = (static_cast<uint32_t>(rng()) & 0x00FFFFFFu) | static_cast<uint32_t>(alpha) << 24;
                }
            }
        }
    }
    return image;
}

// The half-size variant of a 2048 x 2048 atlas: Arg 0 smooth, Arg 1 nearest.
void ResampleAtlasHalf(benchmark::State& state) {
    const Velmora::Image image = AtlasLike();
    const Velmora::ResampleFilter filter =
        state.range(0) == 0 ? Velmora::ResampleFilter::Smooth : Velmora::ResampleFilter::Nearest;
    for (auto _ : state) {
        Velmora::ResampleResult result = Velmora::ResampleImage(image, {1, 2}, filter);
        benchmark::DoNotOptimize(result.image.pixels.data());
    }
    CountPerPixel(state, static_cast<int64_t>(image.pixels.size()));
}

BENCHMARK(ResampleAtlasHalf)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Refuses to time a fast path that does not give the reference's bytes.
bool FastPathsMatchReference() {
    const int32_t sizes[] = {256, 1024, 4096};
    for (const int32_t size : sizes) {
        const Pixels pixels = OpaqueNoise(size, size);
        const Pixels expected = Velmora::NormalMapInternal::GenerateNormalMapReference(pixels, size, size, 1.0f);
        for (const NormalMapPath path : {NormalMapPath::Portable, NormalMapPath::Sse2, NormalMapPath::Avx2}) {
            if (Velmora::NormalMapInternal::IsPathSupported(path) &&
                Velmora::NormalMapInternal::GenerateNormalMapOnPath(path, pixels, size, size, 1.0f) != expected) {
                std::fprintf(stderr, "normal map path %d differs from the reference at %d x %d\n",
                             static_cast<int>(path), size, size);
                return false;
            }
        }
        if (Velmora::GenerateNormalMap(pixels, size, size, 1.0f) != expected) {
            std::fprintf(stderr, "GenerateNormalMap differs from the reference at %d x %d\n", size, size);
            return false;
        }
    }
    return true;
}

// The console table plus, at the end, each fast version against its
// baseline from the same run. Uses the best CPU time of each benchmark: the
// benchmarks are single-threaded, and CPU time leaves out the moments a busy
// machine spends on other processes.
class RatioReporter : public BestTimeReporter {
public:
    RatioReporter() : BestTimeReporter(Clock::Cpu) {}

    void PrintSummary() const {
        std::printf("\nSummary (best CPU time of the runs above)\n");
        for (const char* size : {"256", "1024", "4096"}) {
            const double reference = Best(std::string("NormalMapReference/") + size);
            if (reference <= 0) {
                continue;
            }
            const double pixels = std::stod(size) * std::stod(size);
            std::printf("normal map %sx%s: reference %.1f Mpx/s", size, size, pixels / reference / 1e6);
            for (const char* fast : {"NormalMap", "NormalMapSse2", "NormalMapAvx2"}) {
                const double t = Best(std::string(fast) + "/" + size);
                if (t > 0) {
                    std::printf(", %s %.1f Mpx/s (%.1fx)", fast, pixels / t / 1e6, reference / t);
                }
            }
            std::printf("\n");
        }
        const double pack = Best("PackSprites");
        const double copy = Best("PackMemcpyBaseline");
        if (pack > 0 && copy > 0) {
            std::printf("packer: %.2f ms, memcpy %.2f ms, ratio %.2fx\n", pack * 1e3, copy * 1e3, pack / copy);
        }
        for (const char* set : {"0", "1"}) {
            const double t = Best(std::string("PackRectsMaxRects/") + set);
            if (t > 0) {
                std::printf("MaxRects search, 1000 %s: %.1f ms\n", set[0] == '0' ? "random sizes 16..192" : "tiles 32x32",
                            t * 1e3);
            }
        }
        const double trace = Best("TraceTransparent");
        if (trace > 0) {
            std::printf("tracer 4096x4096 transparent, step 1: %.2f ms, %.3f ns per pixel read\n", trace * 1e3,
                        trace / kTraceReads * 1e9);
        }
        for (const char* size : {"256", "2048"}) {
            for (const char* mask : {"0", "1"}) {
                const std::string args = std::string(size) + "/" + mask;
                const double pass = Best("ColliderAlphaPass/" + args);
                const double trace = Best("Collider/" + args);
                if (pass > 0 && trace > 0) {
                    const double pixels = std::stod(size) * std::stod(size);
                    std::printf("collider %sx%s %s: %.2f ns per pixel, alpha pass %.3f ns per pixel, ratio %.1fx\n",
                                size, size, mask[0] == '0' ? "discs" : "noise", trace / pixels * 1e9,
                                pass / pixels * 1e9, trace / pass);
                }
            }
        }
        for (const char* filter : {"0", "1"}) {
            const double t = Best(std::string("ResampleAtlasHalf/") + filter);
            if (t > 0) {
                std::printf("resample 2048x2048 to 1024x1024, %s: %.1f ms, %.2f ns per input pixel\n",
                            filter[0] == '0' ? "smooth" : "nearest", t * 1e3, t / (2048.0 * 2048.0) * 1e9);
            }
        }
    }

};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!FastPathsMatchReference()) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
