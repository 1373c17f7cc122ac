// The helper threads behind ParallelFor and ParallelJob: every item once,
// the promised number of threads really at work together, exceptions, and
// jobs started from several threads or from inside other jobs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/parallel.h"

#ifndef _WIN32
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

using Velmora::Support::ParallelFor;
using Velmora::Support::ParallelJob;

// Waits until `count` threads have arrived, or gives up after a while (a
// pool that offers fewer threads than promised would otherwise hang the
// test): true when all arrived.
class Meeting {
public:
    explicit Meeting(size_t count) : count_(count) {}
    bool Arrive() {
        ++arrived_;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (arrived_.load() < count_) {
            if (std::chrono::steady_clock::now() > giveUp) return false;
            std::this_thread::yield();
        }
        return true;
    }

private:
    size_t count_;
    std::atomic<size_t> arrived_{0};
};

TEST(ParallelFor, RunsEveryItemOnce) {
    struct Case {
        size_t count;
        unsigned jobs;
    };
    const Case cases[] = {{0, 1}, {0, 4}, {1, 1}, {1, 8}, {2, 2}, {7, 3}, {100, 1}, {100, 2}, {1000, 8}};
    for (const Case& c : cases) {
        std::vector<std::atomic<int>> runs(c.count);
        ParallelFor(c.count, c.jobs, [&runs](size_t i) { ++runs[i]; });
        for (size_t i = 0; i < c.count; ++i) {
            EXPECT_EQ(runs[i].load(), 1) << "item " << i << " of " << c.count << " on " << c.jobs << " jobs";
        }
    }
}

// Each item waits for all the others to have started: that passes only when
// `jobs` threads work at once, whatever the pool did before.
TEST(ParallelFor, GivesEachCallItsThreadsAtOnce) {
    for (const unsigned jobs : {2U, 3U, 5U, 2U}) {
        Meeting meeting(jobs);
        std::mutex lock;
        std::set<std::thread::id> threads;
        std::vector<char> met(jobs, 0);
        ParallelFor(jobs, jobs, [&](size_t i) {
            met[i] = meeting.Arrive() ? 1 : 0;
            const std::lock_guard<std::mutex> hold(lock);
            threads.insert(std::this_thread::get_id());
        });
        EXPECT_EQ(threads.size(), jobs) << jobs << " jobs";
        EXPECT_EQ(std::count(met.begin(), met.end(), 1), static_cast<std::ptrdiff_t>(jobs)) << jobs << " jobs";
    }
}

// Calls at once from several threads, each needing its own helpers (more
// than any test before has made the pool start), and a call made from
// inside another call's item.
TEST(ParallelFor, CallsAtOnceAndWithinOthersGetTheirOwnThreads) {
    constexpr unsigned kJobs = 3;
    std::atomic<unsigned> met{0};
    const auto call = [&met]() {
        Meeting meeting(kJobs);
        ParallelFor(kJobs, kJobs, [&](size_t) { met += meeting.Arrive() ? 1 : 0; });
    };
    std::vector<std::thread> others;
    others.reserve(3);
    for (int t = 0; t < 3; ++t) others.emplace_back(call);
    call();
    for (std::thread& other : others) other.join();
    EXPECT_EQ(met.load(), 4 * kJobs);

    std::atomic<int> inner{0};
    ParallelFor(4, 2, [&inner](size_t) {
        Meeting meeting(2);
        ParallelFor(2, 2, [&](size_t) { inner += meeting.Arrive() ? 1 : 0; });
    });
    EXPECT_EQ(inner.load(), 8);
}

TEST(ParallelFor, RethrowsTheFirstFailureAndStopsHandingOutWork) {
    struct Case {
        unsigned jobs;
        size_t throwAt;
    };
    for (const Case c : {Case{1, 0}, Case{1, 5}, Case{2, 3}, Case{4, 0}}) {
        std::atomic<size_t> ran{0};
        std::string what;
        try {
            ParallelFor(1000, c.jobs, [&](size_t i) {
                ++ran;
                if (i == c.throwAt) throw std::runtime_error("item " + std::to_string(i));
                // Long enough that the other threads cannot finish every
                // item while the throwing one is under way.
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            });
        } catch (const std::runtime_error& e) {
            what = e.what();
        }
        EXPECT_EQ(what, "item " + std::to_string(c.throwAt)) << c.jobs << " jobs";
        if (c.jobs == 1) {
            EXPECT_EQ(ran.load(), c.throwAt + 1);
        }
        // Items already taken finish; no thread takes many after the throw.
        EXPECT_LT(ran.load(), 1000U) << c.jobs << " jobs";
    }
    // The pool is whole afterwards.
    std::atomic<size_t> after{0};
    ParallelFor(64, 4, [&after](size_t) { ++after; });
    EXPECT_EQ(after.load(), 64U);
}

TEST(ParallelJob, RunsBesideItsCallerAndJoins) {
    // A helper runs the one item while the caller waits for it to start:
    // a job that only ran at Join would never meet.
    Meeting meeting(2);
    std::atomic<bool> met{false};
    ParallelJob job(1, [&](size_t) { met = meeting.Arrive(); });
    ASSERT_EQ(job.Start(1), 1U);
    EXPECT_TRUE(meeting.Arrive());
    job.Join();
    EXPECT_TRUE(met.load());

    // Joined again, or never started: Join runs what is left on the caller.
    job.Join();
    std::vector<int> order;
    ParallelJob alone(3, [&order](size_t i) { order.push_back(static_cast<int>(i)); });
    EXPECT_EQ(alone.Start(0), 0U);
    alone.Join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

    ParallelJob failing(1, [](size_t) { throw std::runtime_error("no"); });
    failing.Start(1);
    EXPECT_THROW(failing.Join(), std::runtime_error);
}

TEST(ParallelJob, RunOneTakesTheItemsInOrderAndKeepsFailuresForJoin) {
    std::vector<int> order;
    ParallelJob job(4, [&order](size_t i) {
        order.push_back(static_cast<int>(i));
        if (i == 2) throw std::runtime_error("two");
    });
    EXPECT_TRUE(job.RunOne());
    EXPECT_TRUE(job.RunOne());
    EXPECT_TRUE(job.RunOne());  // item 2 throws: kept, and the rest dropped
    EXPECT_FALSE(job.RunOne());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_THROW(job.Join(), std::runtime_error);
    job.Join();  // reported once
}

// Destroyed without Join: the item a helper took finishes first, so nothing
// it uses is gone while it runs.
TEST(ParallelJob, DestructionWaitsForTheItemsInProgress) {
    std::atomic<int> finished{0};
    Meeting meeting(2);
    {
        auto job = std::make_unique<ParallelJob>(1, [&](size_t) {
            meeting.Arrive();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++finished;
        });
        ASSERT_EQ(job->Start(1), 1U);
        ASSERT_TRUE(meeting.Arrive());
        job.reset();
        EXPECT_EQ(finished.load(), 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(finished.load(), 1);
}

#ifdef __linux__
// A helper never shares the processor its job was started on, where the
// caller works on its own share; afterwards it may run anywhere again.
TEST(ParallelJob, HelpersWorkOffTheProcessorTheJobStartedOn) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    if (CPU_COUNT(&allowed) < 2) GTEST_SKIP() << "one processor";
    // Helpers keep the processors the process had when it first used them.
    Velmora::Support::ReserveHelpers(1);
    std::vector<int> processors;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) processors.push_back(cpu);
    }
    for (const int here : {processors.front(), processors.back()}) {
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(here, &only);
        ASSERT_EQ(sched_setaffinity(0, sizeof only, &only), 0);
        Meeting meeting(2);
        std::atomic<int> helperOn{-1};
        ParallelJob job(1, [&](size_t) {
            helperOn = sched_getcpu();
            meeting.Arrive();
        });
        ASSERT_EQ(job.Start(1), 1U);
        EXPECT_TRUE(meeting.Arrive());
        job.Join();
        ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
        EXPECT_NE(helperOn.load(), -1);
        EXPECT_NE(helperOn.load(), here);
    }
    // Once out of their jobs, the helpers may run anywhere again.
    std::mutex lock;
    std::set<pid_t> helpers;
    Meeting all(8);  // each of the 8 threads takes one item
    ParallelFor(8, 8, [&](size_t) {
        all.Arrive();
        const auto self = static_cast<pid_t>(syscall(SYS_gettid));
        if (self == getpid()) return;
        const std::lock_guard<std::mutex> hold(lock);
        helpers.insert(self);
    });
    EXPECT_EQ(helpers.size(), 7U);
    for (const pid_t helper : helpers) {
        cpu_set_t mask;
        ASSERT_EQ(sched_getaffinity(helper, sizeof mask, &mask), 0);
        EXPECT_TRUE(CPU_EQUAL(&mask, &allowed)) << "helper " << helper;
    }
}
#endif

#ifndef _WIN32
// A signal for the process never lands on a helper, so the thread that
// holds termination back while it commits files is the one to get it.
TEST(ParallelFor, HelpersBlockEverySignal) {
    Meeting meeting(2);
    std::mutex lock;
    std::vector<int> blocked;  // of the threads that are not the caller
    const std::thread::id caller = std::this_thread::get_id();
    ParallelFor(2, 2, [&](size_t) {
        meeting.Arrive();
        if (std::this_thread::get_id() == caller) return;
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        const std::lock_guard<std::mutex> hold(lock);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) blocked.push_back(sigismember(&mask, signal));
    });
    EXPECT_EQ(blocked, (std::vector<int>{1, 1, 1, 1, 1}));
    sigset_t mine;
    pthread_sigmask(SIG_BLOCK, nullptr, &mine);
    EXPECT_EQ(sigismember(&mine, SIGTERM), 0) << "the caller's mask is its own";
}
#endif

}  // namespace
