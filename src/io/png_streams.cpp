#include "io/png_streams.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#include "io/png_io.h"
#include "support/parallel.h"

namespace Velmora::Io {

struct PngStreams::State {
    std::vector<PngEncoder> encoders;
    std::vector<size_t> firstBand;  // per image, its first unit of work
    std::vector<std::pair<size_t, size_t>> work;  // (image, band)
    std::vector<size_t> cursor;  // per image: 0 head, 1.. bands, then tail, then end
    std::mutex lock;
    std::condition_variable changed;
    std::vector<char> done;  // per unit of work
    bool finished = false;  // every worker has stopped
    std::atomic<bool> cancelled{false};
    std::exception_ptr failure;
    // Hands the bands out; on a helper thread, so the caller can write.
    std::unique_ptr<Support::ParallelJob> runner;
};

PngStreams::PngStreams(const std::vector<PngPicture>& images, unsigned jobs)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.encoders.reserve(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        state.encoders.emplace_back(*images[i].image, images[i].colours);
        state.firstBand.push_back(state.work.size());
        for (size_t band = 0; band < state.encoders[i].BandCount(); ++band) {
            state.work.emplace_back(i, band);
        }
    }
    state.cursor.assign(images.size(), 0);
    state.done.assign(state.work.size(), 0);
    // Bands are handed out in file order, so the first pieces are ready
    // first.
    state.runner = std::make_unique<Support::ParallelJob>(1, [&state, jobs](size_t) {
        std::exception_ptr failure;
        try {
            Support::ParallelFor(state.work.size(), jobs, [&state](size_t k) {
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
    if (state.runner->Start(1) == 0) {
        // No thread to spare: every band is encoded before the first piece
        // is asked for.
        state.runner->Join();
    }
}

PngStreams::~PngStreams() {
    state_->cancelled = true;
    // Runs the job here if no helper took it yet (cancelled, it skips every
    // band); it keeps its own exceptions.
    state_->runner->Join();
}

bool PngStreams::Next(size_t image, std::vector<uint8_t>& piece, std::string& failure) {
    State& state = *state_;
    PngEncoder& encoder = state.encoders[image];
    size_t& cursor = state.cursor[image];
    const size_t bands = encoder.BandCount();
    if (cursor > bands + 1) {
        return false;
    }
    if (cursor == 0) {
        piece = encoder.Head();
    } else if (cursor == bands + 1) {
        piece = PngEncoder::Tail();
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

}  // namespace Velmora::Io
