// The atlas encoder against libspng's own encoder with the same zlib
// settings, on one thread and with the bands shared by two threads, for an
// atlas of noise (run-length settings) and one of shaded discs on
// transparent ground (filtered settings). Prints the time ratios and the
// file sizes after the table; compare figures from one run only.
//
//   build/default/bench/velmora_png_bench [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>
#include <spng.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "best_times.h"
#include "io/png_io.h"

namespace {

using Velmora::Image;

// 0: random opaque colours, as the mixed benchmark set; 1: shaded discs in
// a grid on transparent ground, as an atlas of drawn sprites.
const Image& Atlas(int64_t kind) {
    static const Image images[2] = {
        [] {
            Image image{1242, 2657, {}};
            std::mt19937 rng(7);
            image.pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
            for (uint32_t& p : image.pixels) p = (rng() & 0xffffffu) | 0xff000000u;
            return image;
        }(),
        [] {
            Image image{1978, 2831, {}};
            image.pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
            for (int32_t y = 0; y < image.height; ++y) {
                for (int32_t x = 0; x < image.width; ++x) {
                    const int32_t cx = x % 96 - 48, cy = y % 96 - 48, cell = x / 96 + y / 96 * 21;
                    if (cx * cx + cy * cy > 44 * 44) continue;
                    const uint32_t shade = static_cast<uint32_t>(cx + cy < -20 ? 230 : cx + cy < 20 ? 180 : 120);
                    image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)] =
                        ((shade * static_cast<uint32_t>(cell % 7 + 1) / 8) << 8) | shade | 0xff000000u;
                }
            }
            return image;
        }()};
    return images[kind];
}

std::map<std::string, size_t>& Sizes() {
    static std::map<std::string, size_t> sizes;
    return sizes;
}

void SpngEncode(benchmark::State& state) {
    const Image& image = Atlas(state.range(0));
    const bool noisy = state.range(0) == 0;
    size_t length = 0;
    for (auto _ : state) {
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_ihdr header{static_cast<uint32_t>(image.width), static_cast<uint32_t>(image.height), 8, 6, 0, 0, 0};
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, noisy ? 1 : 4);
        spng_set_option(ctx, SPNG_IMG_COMPRESSION_STRATEGY, noisy ? Z_RLE : Z_DEFAULT_STRATEGY);
        spng_set_option(ctx, SPNG_IMG_MEM_LEVEL, 9);
        spng_set_option(ctx, SPNG_FILTER_CHOICE, noisy ? SPNG_FILTER_CHOICE_NONE : SPNG_FILTER_CHOICE_UP);
        spng_set_ihdr(ctx, &header);
        int code = spng_encode_image(ctx, image.pixels.data(), image.pixels.size() * 4, SPNG_FMT_PNG,
                                     SPNG_ENCODE_FINALIZE);
        void* png = code == 0 ? spng_get_png_buffer(ctx, &length, &code) : nullptr;
        spng_ctx_free(ctx);
        if (code != 0) {
            state.SkipWithError(spng_strerror(code));
            return;
        }
        std::free(png);
    }
    Sizes()["SpngEncode/" + std::to_string(state.range(0))] = length;
}

// Arguments: the atlas kind, the number of threads sharing its bands, and
// 1 to let an atlas of few colours be indexed (the discs have 22).
void EncodePng(benchmark::State& state) {
    const Image& image = Atlas(state.range(0));
    const size_t threads = static_cast<size_t>(state.range(1));
    const auto colours = state.range(2) != 0 ? Velmora::Io::PngColours::Smallest : Velmora::Io::PngColours::Rgba;
    std::vector<uint8_t> png;
    for (auto _ : state) {
        Velmora::Io::PngEncoder encoder(image, colours);
        std::vector<std::thread> pool;
        for (size_t t = 0; t < threads; ++t) {
            pool.emplace_back([&encoder, t, threads]() {
                for (size_t band = t; band < encoder.BandCount(); band += threads) encoder.EncodeBand(band);
            });
        }
        for (std::thread& thread : pool) thread.join();
        std::string error;
        if (!encoder.Finish(png, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    Sizes()["EncodePng/" + std::to_string(state.range(0)) + "/" + std::to_string(state.range(2))] = png.size();
}

BENCHMARK(SpngEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodePng)->ArgsProduct({{0, 1}, {1, 2}, {0}})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(EncodePng)->ArgsProduct({{0, 1}, {1, 2}, {1}})->UseRealTime()->Unit(benchmark::kMillisecond);

// The table, then each encoder run against libspng's from the same run, by
// best wall time (the two-thread runs share the work).
class RatioReporter : public BestTimeReporter {
public:
    RatioReporter() : BestTimeReporter(Clock::Wall) {}

    void PrintSummary() const {
        std::printf("\nSummary (best wall time of the runs above)\n");
        for (const std::string kind : {"0", "1"}) {
            const double spng = Best("SpngEncode/" + kind);
            for (const std::string colours : {"0", "1"}) {
                const double one = Best("EncodePng/" + kind + "/1/" + colours + "/real_time");
                const double two = Best("EncodePng/" + kind + "/2/" + colours + "/real_time");
                if (spng <= 0 || one <= 0 || two <= 0) continue;
                std::printf("%s%s: libspng %.1f ms, %zu B; bands on 1 thread %.1f ms (%.2fx), on 2 threads %.1f ms "
                            "(%.2fx), %zu B\n",
                            kind == "0" ? "noise 1242x2657" : "discs 1978x2831",
                            colours == "0" ? "" : ", indexed when few colours", spng * 1e3,
                            Sizes()["SpngEncode/" + kind], one * 1e3, spng / one, two * 1e3, spng / two,
                            Sizes()["EncodePng/" + kind + "/" + colours]);
            }
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
