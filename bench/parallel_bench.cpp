// ParallelFor's helpers kept waiting against a thread started for each
// call, as the program did before: two items of fixed work, the caller busy
// with one, after a pause or back to back. The time is the call's, wall
// clock; the summary gives the ratio of the best runs. On a machine whose
// scheduler starts a new thread at once both take about one item's time.
//
//   build/default/bench/velmora_parallel_bench [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "best_times.h"
#include "support/parallel.h"

namespace {

// A fixed amount of arithmetic: 0.4 to 1.6 ms here, with the load.
uint64_t Work(uint64_t seed) {
    uint64_t x = seed;
    for (int i = 0; i < 400000; ++i) x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    return x;
}

// Arg: microseconds of pause before each call (0: back to back), as the
// program's phases leave between their calls; not timed.
void Pause(benchmark::State& state) {
    if (state.range(0) > 0) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::microseconds(state.range(0)));
        state.ResumeTiming();
    }
}

void KeptHelpers(benchmark::State& state) {
    uint64_t sink = 0;
    for (auto _ : state) {
        Pause(state);
        uint64_t results[2] = {};
        Velmora::Support::ParallelFor(2, 2, [&results](size_t i) { results[i] = Work(i + 1); });
        sink += results[0] ^ results[1];
    }
    benchmark::DoNotOptimize(sink);
}

void ThreadPerCall(benchmark::State& state) {
    uint64_t sink = 0;
    for (auto _ : state) {
        Pause(state);
        uint64_t other = 0;
        std::thread helper([&other] { other = Work(2); });
        const uint64_t mine = Work(1);
        helper.join();
        sink += mine ^ other;
    }
    benchmark::DoNotOptimize(sink);
}

BENCHMARK(KeptHelpers)->Arg(0)->Arg(2000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ThreadPerCall)->Arg(0)->Arg(2000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BestTimeReporter reporter(BestTimeReporter::Clock::Wall);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nSummary (best wall time of the runs above)\n");
    for (const char* pause : {"0", "2000"}) {
        const double kept = reporter.Best(std::string("KeptHelpers/") + pause + "/real_time");
        const double started = reporter.Best(std::string("ThreadPerCall/") + pause + "/real_time");
        if (kept > 0 && started > 0) {
            std::printf("pause %s us: kept helpers %.2f ms, a thread per call %.2f ms (%.2fx)\n", pause, kept * 1e3,
                        started * 1e3, started / kept);
        }
    }
    benchmark::Shutdown();
    return 0;
}
