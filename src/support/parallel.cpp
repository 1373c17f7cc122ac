#include "support/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <sched.h>
#endif

#include "support/signals.h"

namespace Velmora::Support {

namespace {

// Keeps the calling thread off processor `busy` for its lifetime, when it
// is there and may run elsewhere. Helpers start where the scheduler puts
// them, often on the processor of the thread that woke them; some
// schedulers (a 2-core VM here) then leave both there for tens of
// milliseconds while the other processor idles. The caller works on its
// own share, so a helper does better anywhere else.
class AwayFrom {
public:
    explicit AwayFrom(int busy) {
#ifdef __linux__
        if (busy < 0 || sched_getcpu() != busy || sched_getaffinity(0, sizeof previous_, &previous_) != 0) return;
        cpu_set_t away = previous_;
        CPU_CLR(busy, &away);
        moved_ = CPU_COUNT(&away) > 0 && sched_setaffinity(0, sizeof away, &away) == 0;
#else
        static_cast<void>(busy);
#endif
    }
    ~AwayFrom() {
#ifdef __linux__
        if (moved_) sched_setaffinity(0, sizeof previous_, &previous_);
#endif
    }
    AwayFrom(const AwayFrom&) = delete;
    AwayFrom& operator=(const AwayFrom&) = delete;

private:
#ifdef __linux__
    cpu_set_t previous_{};
    bool moved_ = false;
#endif
};

}  // namespace

// Helper threads kept for the life of the process. A thread started for
// each call may begin on its creator's processor and wait there for
// milliseconds while another one idles (measured on a 2-core VM: a new
// thread's first work ran 2-4 ms late in most calls, several times per
// atlas); a waiting helper that is woken runs at once.
class HelperPool {
public:
    // Never destroyed: helpers wait on its members until the process ends.
    static HelperPool& Instance() {
        static HelperPool* const pool = new HelperPool();
        return *pool;
    }

    void Reserve(size_t helpers) {
        std::unique_lock<std::mutex> hold(lock_);
        Spawn(hold, helpers);
    }

    // Offers the job to up to `helpers` helpers, starting threads so that
    // that many are free: a posted job is always taken up, even while every
    // earlier helper is busy in another job. Returns how many it was
    // offered to: fewer when the system starts no more threads.
    size_t Post(ParallelJob& job, size_t helpers) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            // Claimed before Spawn lets go of the lock, so that a call
            // made meanwhile starts helpers of its own.
            promised_ += helpers;
            Spawn(hold, promised_);
            // Seats no thread could be started for are given up.
            const size_t unserved = std::min(helpers, promised_ > idle_ ? promised_ - idle_ : 0);
            helpers -= unserved;
            promised_ -= unserved;
            if (helpers == 0) return 0;
            job.seats_ = helpers;
            waiting_.push_back(&job);
        }
        if (helpers == 1) {
            wake_.notify_one();
        } else {
            wake_.notify_all();
        }
        return helpers;
    }

    // Once the caller has no item left: no helper joins any more, and
    // those inside finish their last item.
    void Finish(ParallelJob& job) {
        std::unique_lock<std::mutex> hold(lock_);
        if (job.seats_ > 0) {
            promised_ -= job.seats_;
            job.seats_ = 0;
            waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), &job), waiting_.end());
        }
        left_.wait(hold, [&job]() { return job.working_ == 0; });
    }

    std::mutex& Lock() { return lock_; }

private:
    HelperPool() {
#ifdef __linux__
        processors_ = sched_getaffinity(0, sizeof allowed_, &allowed_) == 0;
#endif
    }

    // Starts helpers until `free` wait for work, and waits for them to be
    // waiting: a new thread may first have to wait for its creator's
    // processor (see above), which it gets at once while the creator waits
    // here, and not for milliseconds while the creator works.
    void Spawn(std::unique_lock<std::mutex>& hold, size_t free) {
        if (idle_ >= free) return;
        {
            // Helpers never take a signal: one meant for the process goes
            // to the main thread, which holds termination back while it
            // commits files. A new thread begins with its creator's mask.
            const HeldSignals masked(HeldSignals::Which::All);
            try {
                while (idle_ < free) {
                    std::thread(&HelperPool::Serve, this).detach();
                    ++idle_;
                    ++spawned_;
                }
            } catch (const std::system_error&) {
                // Out of threads: the callers do more of the work themselves.
            }
        }
        ready_.wait(hold, [this]() { return serving_ == spawned_; });
    }

    void Serve() {
#ifdef __linux__
        // A new thread has its creator's processors, which are narrowed
        // while that one is a helper at work (AwayFrom): every helper
        // starts from those the process had.
        if (processors_) sched_setaffinity(0, sizeof allowed_, &allowed_);
#endif
        std::unique_lock<std::mutex> hold(lock_);
        ++serving_;
        ready_.notify_all();
        for (;;) {
            wake_.wait(hold, [this]() { return !waiting_.empty(); });
            ParallelJob& job = *waiting_.front();
            if (--job.seats_ == 0) waiting_.pop_front();
            --promised_;
            --idle_;
            ++job.working_;
            const int busy = job.startedOn_;
            hold.unlock();
            {
                const AwayFrom away(busy);
                job.Work();
            }
            hold.lock();
            --job.working_;
            ++idle_;
            left_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;  // a job waits for helpers
    std::condition_variable left_;  // a helper has left its job
    std::condition_variable ready_;  // a new helper waits for work
    std::deque<ParallelJob*> waiting_;
    size_t idle_ = 0;      // helpers not inside a job
    size_t promised_ = 0;  // seats of the waiting jobs
    size_t spawned_ = 0;   // helpers started
    size_t serving_ = 0;   // of those, helpers that have reached their loop
#ifdef __linux__
    cpu_set_t allowed_{};  // the processors of the thread that first used it
    bool processors_ = false;
#endif
};

ParallelJob::ParallelJob(size_t count, std::function<void(size_t)> body) : body_(std::move(body)), count_(count) {}

ParallelJob::~ParallelJob() {
    if (started_) {
        HelperPool::Instance().Finish(*this);
    }
}

size_t ParallelJob::Start(size_t helpers) {
    if (started_ || helpers == 0) return 0;
#ifdef __linux__
    startedOn_ = sched_getcpu();
#endif
    const size_t offered = HelperPool::Instance().Post(*this, helpers);
    started_ = offered > 0;
    return offered;
}

bool ParallelJob::RunOne() {
    const size_t i = next_++;
    if (i >= count_) return false;
    // A worker's exception (memory exhaustion) must not end the process:
    // the first one is kept, and the others stop taking work.
    try {
        body_(i);
    } catch (...) {
        next_ = count_;
        const std::lock_guard<std::mutex> hold(HelperPool::Instance().Lock());
        if (!failure_) failure_ = std::current_exception();
    }
    return true;
}

void ParallelJob::Work() {
    while (RunOne()) {
    }
}

void ParallelJob::Join() {
    Work();
    if (started_) {
        HelperPool::Instance().Finish(*this);
        started_ = false;
    }
    if (failure_) {
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
}

void ParallelFor(size_t count, unsigned jobs, const std::function<void(size_t)>& body) {
    ParallelJob job(count, [&body](size_t i) { body(i); });
    const size_t threads = std::min<size_t>(jobs, count);
    if (threads > 1) {
        job.Start(threads - 1);
    }
    job.Join();
}

void ReserveHelpers(unsigned helpers) {
    HelperPool::Instance().Reserve(helpers);
}

}  // namespace Velmora::Support
