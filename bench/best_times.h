// A console reporter that also keeps, per benchmark, the best time of its
// runs (repetitions included), so a summary can print ratios between
// benchmarks of the same run.
#ifndef VELMORA_BENCH_BEST_TIMES_H
#define VELMORA_BENCH_BEST_TIMES_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class BestTimeReporter : public benchmark::ConsoleReporter {
public:
    // CPU time suits single-threaded benchmarks on a busy machine (it leaves
    // out time spent on other processes); wall time suits threaded ones.
    enum class Clock { Cpu, Wall };
    // Plain text, no colour codes: the output is meant to be pasted.
    explicit BestTimeReporter(Clock clock) : ConsoleReporter(OO_Tabular), clock_(clock) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) {
                continue;
            }
            const double total = clock_ == Clock::Cpu ? run.cpu_accumulated_time : run.real_accumulated_time;
            const double seconds = total / static_cast<double>(run.iterations);
            const std::string name = run.run_name.str();
            const auto found = best_.find(name);
            if (found == best_.end() || seconds < found->second) {
                best_[name] = seconds;
            }
        }
    }

    // Seconds per iteration, or 0 when the benchmark did not run.
    double Best(const std::string& name) const {
        const auto found = best_.find(name);
        return found == best_.end() ? 0.0 : found->second;
    }

private:
    Clock clock_;
    std::map<std::string, double> best_;
};

#endif  // VELMORA_BENCH_BEST_TIMES_H
