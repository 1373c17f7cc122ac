// Work spread over a few threads, for the file commands and their encoders.
// The threads are helpers kept waiting between calls (parallel.cpp says why).
#ifndef VELMORA_SUPPORT_PARALLEL_H
#define VELMORA_SUPPORT_PARALLEL_H

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>

namespace Velmora::Support {

class HelperPool;

// Items body(0) .. body(count - 1), taken one at a time, in order, by the
// helpers it was offered to and by the caller (RunOne, Join).
class ParallelJob {
public:
    ParallelJob(size_t count, std::function<void(size_t)> body);
    // Waits for the helpers inside the job; items nobody took are dropped.
    ~ParallelJob();
    ParallelJob(const ParallelJob&) = delete;
    ParallelJob& operator=(const ParallelJob&) = delete;

    // Offers the items to up to `helpers` helper threads, which start at
    // once, while the caller goes on; once per job. Returns how many it was
    // offered to: none when no thread could be started, and then only Join
    // runs the items.
    size_t Start(size_t helpers);
    // Runs the next item nobody has taken on the calling thread; false
    // when none is left. What it throws is kept for Join, as a helper's is.
    bool RunOne();
    // Runs the items left on the calling thread, waits for the helpers,
    // and rethrows the first exception an item threw; the other items
    // are then left undone.
    void Join();

private:
    friend class HelperPool;
    void Work();

    std::function<void(size_t)> body_;
    size_t count_;
    std::atomic<size_t> next_{0};
    bool started_ = false;
    size_t seats_ = 0;    // helpers that may still join
    size_t working_ = 0;  // helpers inside it now
    int startedOn_ = -1;  // the processor Start ran on, where known
    std::exception_ptr failure_;
};

// Runs body(i) for i in [0, count) on up to `jobs` threads, the caller's
// included. The first exception a call throws stops the others from taking
// more work and is rethrown here once every thread has left.
void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& body);

// Starts helper threads until `helpers` wait for work, ahead of the first
// call that needs them.
void ReserveHelpers(unsigned helpers);

}  // namespace Velmora::Support

#endif  // VELMORA_SUPPORT_PARALLEL_H
