#include "support/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace Velmora::Support {

void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& body) {
    std::atomic<size_t> next{0};
    // A worker's exception (memory exhaustion) must not end the process: the
    // first one is kept, the others stop taking work, and the caller's
    // thread rethrows it once all have joined.
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto work = [&]() {
        try {
            for (size_t i = next++; i < count; i = next++) {
                body(i);
            }
        } catch (...) {
            next = count;
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    const size_t extra = std::min<size_t>(jobs, count) > 1 ? std::min<size_t>(jobs, count) - 1 : 0;
    for (size_t t = 0; t < extra; ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace Velmora::Support
