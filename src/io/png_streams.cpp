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
    std::vector<char> done;  // per unit of work: encoded, or given up
    std::atomic<bool> cancelled{false};
    std::exception_ptr failure;
    // Every band, in file order so the first pieces are ready first: taken
    // by the helpers, and by the caller while it waits for a piece.
    std::unique_ptr<Support::ParallelJob> bands;

    void Encode(size_t unit) {
        if (!cancelled) {
            try {
                encoders[work[unit].first].EncodeBand(work[unit].second);
            } catch (...) {
                // Kept before the others stop, so a band they skip is
                // never taken for a finished one.
                const std::lock_guard<std::mutex> hold(lock);
                if (!failure) failure = std::current_exception();
                cancelled = true;
            }
        }
        const std::lock_guard<std::mutex> hold(lock);
        done[unit] = 1;
        changed.notify_all();
    }
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
    state.bands = std::make_unique<Support::ParallelJob>(state.work.size(), [&state](size_t unit) { state.Encode(unit); });
    // The caller is the last of the `jobs` threads: it writes the files,
    // and encodes whenever it would otherwise wait.
    state.bands->Start(jobs > 1 ? jobs - 1 : 0);
}

PngStreams::~PngStreams() {
    state_->cancelled = true;
    // The bands nobody took are skipped; those being encoded finish.
    state_->bands->Join();
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
            while (state.done[unit] == 0) {
                // Bands are taken in order: the next one nobody has taken
                // is this one or a later one.
                hold.unlock();
                const bool took = state.bands->RunOne();
                hold.lock();
                if (!took) state.changed.wait(hold, [&]() { return state.done[unit] != 0; });
            }
            if (state.failure) {
                std::rethrow_exception(state.failure);
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
