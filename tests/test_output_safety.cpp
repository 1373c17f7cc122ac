// The real program, run as a child process, held to what it promises about
// its outputs: one run per prefix at a time, a run killed at any moment
// leaves the next run exactly the old set or the new one and nothing else,
// a re-pack removes only what earlier runs wrote, and an output that is not
// a regular file is refused and left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "io/png_io.h"
#include "support/atlas_files.h"
#include "support/child_process.h"
#include "support/file_tree.h"
#include "velmora/image.h"

namespace {

using VelmoraTest::WritePng;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Velmora::Image;
using VelmoraTest::ReadText;
using VelmoraTest::TempFolder;
using VelmoraTest::WriteText;

using VelmoraTest::Child;
using VelmoraTest::Describe;
using VelmoraTest::Outcome;
using VelmoraTest::Program;

std::string HostName() {
    char host[256] = {};
#ifdef _WIN32
    DWORD size = sizeof host;
    if (GetComputerNameA(host, &size) == 0) return "";
#else
    if (gethostname(host, sizeof host - 1) != 0) return "";
#endif
    return host;
}

// Holds the lock file of an output name the way a run does, with `text` as
// the holder it names.
class HeldLock {
public:
    HeldLock(const fs::path& path, const std::string& text) {
#ifdef _WIN32
        handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD wrote = 0;
        held_ = handle_ != INVALID_HANDLE_VALUE && SetEndOfFile(handle_) != 0 &&
                WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) != 0 &&
                wrote == text.size();
#else
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        held_ = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0 && ftruncate(fd_, 0) == 0 &&
                pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
#endif
    }
    ~HeldLock() {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
        if (fd_ >= 0) close(fd_);
#endif
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    bool Held() const { return held_; }

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
    bool held_ = false;
};

// ---------------------------------------------------------------------------
// Inputs and trees

// An opaque ellipse in colours from `seed` on a transparent ground, with a
// hole in it for odd seeds: outlines to trace and edges to light.
Image Blob(int32_t width, int32_t height, uint32_t seed) {
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0U);
    std::mt19937 random(seed);
    const uint32_t colour = static_cast<uint32_t>(random()) & 0x00FFFFFFU;
    const int64_t w = width;
    const int64_t h = height;
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            // Inside when ((2x+1-w)/w)^2 + ((2y+1-h)/h)^2 <= 1, in integers.
            const int64_t dx = 2 * x + 1 - w;
            const int64_t dy = 2 * y + 1 - h;
            const int64_t r = dx * dx * h * h + dy * dy * w * w;
            const int64_t limit = w * w * h * h;
            const bool hole = (seed & 1U) != 0 && r * 5 < limit;
            if (r <= limit && !hole) {
                const auto shade = static_cast<uint32_t>((x * 7 + y * 13) & 0xFF);
                image.pixels[static_cast<size_t>(y * w + x)] = 0xFF000000U | (colour ^ (shade << 8));
            }
        }
    }
    return image;
}

struct Frame {
    std::string name;  // the frame's name: its path under the input folder, no ".png"
    int32_t width;
    int32_t height;
    uint32_t seed;
};

void WriteFrames(const fs::path& folder, const std::vector<Frame>& frames) {
    fs::create_directories(folder);
    for (const Frame& frame : frames) {
        WritePng(folder / fs::u8path(frame.name + ".png"), Blob(frame.width, frame.height, frame.seed));
    }
}

// Every entry under `root`, hidden ones included: a file's bytes after "=",
// anything else its kind in brackets. Folders end in "/".
using Tree = std::map<std::string, std::string>;
Tree Entries(const fs::path& root) {
    Tree tree;
    if (!fs::exists(root)) return tree;
    for (const std::string& name : VelmoraTest::TreeOf(root)) {
        const fs::path path = root / fs::u8path(name);
        std::error_code ec;
        switch (fs::symlink_status(path, ec).type()) {
        case fs::file_type::regular:
            tree[name] = "=" + ReadText(path);
            break;
        case fs::file_type::directory:
            tree[name] = "(folder)";
            break;
        case fs::file_type::symlink:
            tree[name] = "(link to " + fs::read_symlink(path, ec).u8string() + ")";
            break;
        case fs::file_type::fifo:
            tree[name] = "(fifo)";
            break;
        case fs::file_type::socket:
            tree[name] = "(socket)";
            break;
        case fs::file_type::character:
            tree[name] = "(character device)";
            break;
        default:
            tree[name] = "(other)";
            break;
        }
    }
    return tree;
}

// What differs between two trees, a line per entry, the first few.
std::string Differences(const Tree& expected, const Tree& actual) {
    std::ostringstream text;
    int shown = 0;
    const auto line = [&](const std::string& what, const std::string& name) {
        if (++shown <= 12) text << "\n  " << what << ": " << name;
    };
    for (const auto& [name, content] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            line("missing", name);
        } else if (found->second != content) {
            line("differs", name);
        }
    }
    for (const auto& entry : actual) {
        if (expected.count(entry.first) == 0) line("unexpected", entry.first);
    }
    if (shown > 12) text << "\n  ... " << shown - 12 << " more";
    return text.str();
}

// Compares trees without printing their bytes: only where they differ.
::testing::AssertionResult SameTree(const Tree& expected, const Tree& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the trees differ:" << Differences(expected, actual);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

#ifndef _WIN32  // the kill test's
void CopyTree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// The same tree with its files as hard links: no data to write or, later,
// to free, which on a disk is most of a trial's time. The program replaces
// a file only by renaming, so `from` stays as it was; a program writing
// into a target in place would change it, and the next trial, compared
// with sets held in memory, would show it.
void LinkTree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::create_hard_links);
}
#endif

// ---------------------------------------------------------------------------

class OutputSafety : public ::testing::Test {
protected:
    OutputSafety() { fs::create_directories(logs_); }

    fs::path Path(const std::string& relative) const { return root_ / relative; }
    std::string Text(const std::string& relative) const { return Path(relative).u8string(); }

    // The program with `args`, run in `cwd`: each run's own log files.
    std::unique_ptr<Child> Start(const std::vector<std::string>& args, const fs::path& cwd) {
        const std::string n = std::to_string(++runs_);
        return std::make_unique<Child>(args, cwd, logs_ / ("out" + n), logs_ / ("err" + n));
    }
    Outcome Run(const std::vector<std::string>& args, const fs::path& cwd,
                std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        return Start(args, cwd)->Finish(limit);
    }
    // A complete run of `args` in a fresh folder `name`; its tree.
    Tree Reference(const std::string& name, const std::vector<std::string>& args) {
        const fs::path folder = Path(name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        const Outcome run = Run(args, folder);
        EXPECT_EQ(run.status, 0) << Describe(run);
        return Entries(folder);
    }

    TempFolder root_;
    fs::path logs_ = root_ / "logs";
    int runs_ = 0;
};

// Names of the files the journal and the lock keep beside "sheet".
const char* const kLock = ".sheet.velmora-lock";
const char* const kJournal = ".sheet.velmora-journal";

#ifndef _WIN32

// Where a killed run was, read from what it left: no lock file (before
// taking it or after releasing it), the lock only, a journal of
// temporaries, a commit plan cut short, a whole plan being carried out,
// the commit complete and being tidied.
enum class Phase { BeforeLock, Working, Staging, Planning, Renaming, Tidying, Ended, Count };
const char* const kPhaseNames[] = {"no lock file (not taken yet, or released)",
                                   "lock held, no journal",
                                   "staging temporaries",
                                   "writing the commit plan",
                                   "renaming (whole plan)",
                                   "commit complete, tidying",
                                   "ended before the kill"};

Phase PhaseLeft(const fs::path& work) {
    if (!fs::exists(work / kJournal)) return fs::exists(work / kLock) ? Phase::Working : Phase::BeforeLock;
    const std::string journal = ReadText(work / kJournal);
    if (Contains(journal, "\ncomplete\n")) return Phase::Tidying;
    if (Contains(journal, "\nend\n")) return Phase::Renaming;
    if (Contains(journal, "\ncommit\n")) return Phase::Planning;
    return Phase::Staging;
}

#endif

TEST_F(OutputSafety, AKillAtAnyMomentLeavesTheNextRunExactlyTheOldSetOrTheNewOne) {
#ifdef _WIN32
    GTEST_SKIP() << "kills the program with SIGKILL";
#else
    // OLD: 150 frames in five folders, with normal map and colliders. NEW:
    // a folder of them and a few more gone, a fifth changed, a new folder
    // added, the normal map dropped.
    std::vector<Frame> oldFrames;
    std::vector<Frame> newFrames;
    for (uint32_t i = 0; i < 150; ++i) {
        const std::string name = "g" + std::to_string(i / 30) + "/f_" + std::to_string(100 + i);
        const Frame frame{name, static_cast<int32_t>(6 + (i * 7) % 40), static_cast<int32_t>(6 + (i * 11) % 36), i};
        oldFrames.push_back(frame);
        if (i / 30 == 4 || i % 15 == 3) continue;
        newFrames.push_back(i % 5 == 1 ? Frame{name, frame.width + 3, frame.height + 2, i + 1000} : frame);
    }
    for (uint32_t i = 0; i < 30; ++i) {
        newFrames.push_back(Frame{"n/f_" + std::to_string(i), static_cast<int32_t>(8 + (i * 5) % 30),
                                  static_cast<int32_t>(8 + (i * 3) % 30), 2000 + i});
    }
    WriteFrames(Path("in-old"), oldFrames);
    WriteFrames(Path("in-new"), newFrames);
    const std::vector<std::string> newRun = {"--atlas", "--colliders", "-o", "sheet", Text("in-new")};
    const Tree oldSet =
        Reference("ref-old", {"--atlas", "--normal-map", "--colliders", "-o", "sheet", Text("in-old")});
    ASSERT_EQ(oldSet.count("sheet_n.png"), 1U);
    ASSERT_EQ(oldSet.count("sheet/g4/f_220.tscn"), 1U);
    CopyTree(Path("ref-old"), Path("ref-new"));
    ASSERT_EQ(Run(newRun, Path("ref-new")).status, 0);
    const Tree newSet = Entries(Path("ref-new"));
    // The new set is whole and has lost what the old one had and it does not write.
    ASSERT_EQ(newSet.count("sheet_n.png") + newSet.count("sheet_n.png.meta") + newSet.count("sheet/g4/"), 0U)
        << Differences(oldSet, newSet);
    ASSERT_EQ(newSet.count("sheet/n/f_0.tscn"), 1U);
    ASSERT_EQ(newSet.count(".sheet.velmora-manifest"), 1U);

    const fs::path work = Path("work");
    // How long the run takes, and how long its commit from the moment the
    // plan is whole to the journal's removal: the journal is watched.
    std::vector<double> durations;
    std::vector<double> commits;
    for (int i = 0; i < 3; ++i) {
        LinkTree(Path("ref-old"), work);
        const Clock::time_point start = Clock::now();
        const auto child = Start(newRun, work);
        Outcome outcome;
        double planSeen = -1;
        double journalSeen = -1;
        while (!child->TryFinish(outcome)) {
            const double at = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (fs::exists(work / kJournal)) {
                journalSeen = at;
                if (planSeen < 0 && Contains(ReadText(work / kJournal), "\nend\n")) planSeen = at;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        durations.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ASSERT_EQ(outcome.status, 0) << Describe(outcome);
        ASSERT_TRUE(SameTree(newSet, Entries(work))) << "a second run gives other outputs";
        if (planSeen >= 0) commits.push_back(journalSeen - planSeen);
    }
    std::sort(durations.begin(), durations.end());
    std::sort(commits.begin(), commits.end());
    const double duration = durations[1];
    // Unseen, the commit is taken to be the run's last fifth.
    const double commit = commits.empty() ? duration / 5 : commits[commits.size() / 2];
    std::cout << "[ kills    ] a run takes " << duration << " ms, its commit from a whole plan on about " << commit
              << " ms (medians of 3)\n";

    const std::string missing = Text("no-such-input");
    std::mt19937 random(20240611);
    int counts[static_cast<int>(Phase::Count)][2] = {};
    int trials = 0;
    const auto trial = [&](double delay, bool waitForPlan) {
        LinkTree(Path("ref-old"), work);
        ++trials;
        const Clock::time_point start = Clock::now();
        const auto child = Start(newRun, work);
        Outcome outcome;
        bool ended = false;
        if (waitForPlan) {
            // Delays counted from the moment the commit plan is whole.
            while (!(ended = child->TryFinish(outcome))) {
                if (fs::exists(work / kJournal) && Contains(ReadText(work / kJournal), "\nend\n")) break;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
        const Clock::time_point killAt =
            (waitForPlan ? Clock::now() : start) +
            std::chrono::microseconds(static_cast<int64_t>(delay * 1000));
        while (!ended && Clock::now() < killAt) {
            ended = child->TryFinish(outcome);
            if (!ended) std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        if (!ended) {
            child->Kill();
            outcome = child->Finish();
        }
        // Ended by the kill (-1), or by itself, which must be a success.
        EXPECT_LE(outcome.status, 0) << "the run failed by itself: " << Describe(outcome);
        ended = outcome.status == 0;
        const Phase phase = ended ? Phase::Ended : PhaseLeft(work);
        // The next run on the prefix fails on its input, but first makes
        // the outputs whole again.
        const Outcome next = Run({"--atlas", "-o", "sheet", missing}, work);
        EXPECT_EQ(next.status, 2) << Describe(next);
        EXPECT_TRUE(Contains(next.err, missing)) << "did not get as far as its input: " << next.err;
        const Tree after = Entries(work);
        const bool isOld = after == oldSet;
        const bool isNew = after == newSet;
        if (isOld || isNew) {
            ++counts[static_cast<int>(phase)][isNew ? 1 : 0];
        } else {
            ADD_FAILURE() << "killed after " << delay << " ms" << (waitForPlan ? " of the commit" : "") << " ("
                          << kPhaseNames[static_cast<int>(phase)] << "): neither set.\n against the old set:"
                          << Differences(oldSet, after) << "\n against the new set:" << Differences(newSet, after);
        }
    };

    // Spread over the whole run and a little past it ...
    std::uniform_real_distribution<double> overRun(0.0, duration * 1.1);
    for (int i = 0; i < 30; ++i) trial(overRun(random), false);
    // ... and inside the commit, timed from the moment its plan is whole.
    std::uniform_real_distribution<double> inCommit(0.0, std::max(1.0, commit * 1.2));
    for (int i = 0; i < 10; ++i) trial(inCommit(random), true);

    int old = 0;
    int fresh = 0;
    std::ostringstream table;
    for (int p = 0; p < static_cast<int>(Phase::Count); ++p) {
        old += counts[p][0];
        fresh += counts[p][1];
        table << "[ kills    ]   " << kPhaseNames[p] << ": " << counts[p][0] << " old, " << counts[p][1] << " new\n";
    }
    std::cout << "[ kills    ] " << trials << " trials: " << old << " ended as the old set, " << fresh
              << " as the new set\n"
              << table.str();
    const int inside = counts[static_cast<int>(Phase::Renaming)][0] + counts[static_cast<int>(Phase::Renaming)][1] +
                       counts[static_cast<int>(Phase::Tidying)][0] + counts[static_cast<int>(Phase::Tidying)][1];
    if (inside == 0) std::cout << "[ kills    ] note: no kill landed inside a commit on this machine\n";
    RecordProperty("old", old);
    RecordProperty("new", fresh);
    RecordProperty("inside_commit", inside);
#endif
}

// The holder a lock message names ("PID on HOST"), or "" if it names none.
std::string HolderNamed(const std::string& err, const std::string& lockName) {
    const std::string marker = lockName + ": locked by process ";
    const size_t at = err.find(marker);
    if (at == std::string::npos) return "";
    const size_t from = at + marker.size();
    const size_t end = err.find(", another run", from);
    return err.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

TEST_F(OutputSafety, RunsAtOnceOnOnePrefixLeaveExactlyTheOutputOfOneThatSucceeded) {
    // Three runs with different frames and options, so each run's set is
    // told apart from the others' and a mix of two is seen.
    std::vector<Frame> a;
    std::vector<Frame> b;
    std::vector<Frame> c;
    for (uint32_t i = 0; i < 40; ++i) {
        a.push_back(Frame{"a/x_" + std::to_string(i), static_cast<int32_t>(6 + i % 17), 9, 3000 + i});
        b.push_back(Frame{"b/y_" + std::to_string(i), 11, static_cast<int32_t>(6 + i % 13), 4000 + i});
        c.push_back(Frame{i < 10 ? "a/x_" + std::to_string(i) : "z_" + std::to_string(i), 7, 7, 5000 + i});
    }
    WriteFrames(Path("in-a"), a);
    WriteFrames(Path("in-b"), b);
    WriteFrames(Path("in-c"), c);
    const std::vector<std::vector<std::string>> runs = {
        {"--atlas", "--normal-map", "-o", "sheet", Text("in-a")},
        {"--atlas", "--colliders", "-o", "sheet", Text("in-b")},
        {"--atlas", "--padding", "1", "-o", "sheet", Text("in-c")}};
    std::vector<Tree> sets;
    for (size_t r = 0; r < runs.size(); ++r) sets.push_back(Reference("ref-" + std::to_string(r), runs[r]));
    ASSERT_TRUE(sets[0] != sets[1] && sets[1] != sets[2] && sets[0] != sets[2]);

    const fs::path work = Path("work");
    fs::create_directories(work);
    const std::string host = HostName();
    int succeeded = 0;
    int refused = 0;
    std::vector<int> won(runs.size(), 0);
    // The folder is kept from round to round: each round also re-packs
    // over another run's set.
    for (size_t round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::unique_ptr<Child>> children(runs.size());
        for (size_t k = 0; k < runs.size(); ++k) {
            const size_t r = (round + k) % runs.size();
            children[r] = Start(runs[r], work);
        }
        std::vector<Outcome> outcomes;
        outcomes.reserve(children.size());
        for (const auto& child : children) outcomes.push_back(child->Finish());
        std::vector<size_t> winners;
        for (size_t r = 0; r < runs.size(); ++r) {
            const Outcome& outcome = outcomes[r];
            if (outcome.status == 0) {
                ++succeeded;
                winners.push_back(r);
                continue;
            }
            ++refused;
            EXPECT_EQ(outcome.status, 2) << "run " << r << ": " << Describe(outcome);
            EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
            const std::string holder = HolderNamed(outcome.err, kLock);
            bool named = false;
            for (size_t other = 0; other < runs.size(); ++other) {
                named = named || (other != r && holder == std::to_string(children[other]->Id()) + " on " + host);
            }
            EXPECT_TRUE(named) << "run " << r << " does not name another run as the holder of " << kLock << ": "
                               << outcome.err;
        }
        ASSERT_FALSE(winners.empty()) << "no run succeeded";
        const Tree after = Entries(work);
        const auto match = std::find_if(winners.begin(), winners.end(), [&](size_t r) { return after == sets[r]; });
        if (match == winners.end()) {
            ADD_FAILURE() << "the outputs are no successful run's set; against run " << winners.back() << ":"
                          << Differences(sets[winners.back()], after);
        } else {
            ++won[*match];
        }
    }
    std::cout << "[ together ] 10 rounds of 3 runs: " << succeeded << " exited 0, " << refused
              << " were refused the lock; the outputs were run a's " << won[0] << " times, b's " << won[1]
              << ", c's " << won[2] << "\n";
}

TEST_F(OutputSafety, ASecondRunWhileTheLockIsHeldStopsAtOnceNamingTheHolder) {
    // The input does not exist: a run that read it before the lock would
    // say so instead.
    const std::string missing = Text("no-such-input");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* lock;
    };
    const Case cases[] = {
        {"--atlas", {"--atlas", "-o", "sheet", missing}, ".sheet.velmora-lock"},
        {"--normalmap", {"--normalmap", missing, "out.png"}, ".out.png.velmora-lock"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path work = Path(std::string("work") + c.what);
        fs::create_directories(work);
        WriteText(work / "sheet.json", "an earlier run's");
        const HeldLock held(work / c.lock, "123 on testhost\n");
        ASSERT_TRUE(held.Held());
        const Tree before = Entries(work);
        const Outcome run = Run(c.args, work);
        EXPECT_EQ(run.status, 2) << Describe(run);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(HolderNamed(run.err, c.lock), "123 on testhost") << run.err;
        EXPECT_FALSE(Contains(run.err, missing)) << "read its input before taking the lock: " << run.err;
        EXPECT_TRUE(SameTree(before, Entries(work)));
    }
}

TEST_F(OutputSafety, ALockFileLeftByARunThatDiedIsTakenOver) {
    WriteFrames(Path("in"), {{"a", 9, 7, 1}, {"sub/b", 12, 10, 2}});
    WritePng(Path("in/c.png"), Blob(16, 16, 3));
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* lock;
    };
    const Case cases[] = {
        {"--atlas", {"--atlas", "--normal-map", "-o", "sheet", Text("in")}, ".sheet.velmora-lock"},
        {"--normalmap", {"--normalmap", Text("in/c.png"), "out.png"}, ".out.png.velmora-lock"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Tree expected = Reference(std::string("ref") + c.what, c.args);
        const fs::path work = Path(std::string("work") + c.what);
        // Nobody holds it: what a killed run leaves.
        WriteText(work / c.lock, "4242 on gone-host\n");
        const Outcome run = Run(c.args, work);
        EXPECT_EQ(run.status, 0) << Describe(run);
        EXPECT_TRUE(SameTree(expected, Entries(work)));
    }
}

// Makes a file system object that is not a regular file; false when this
// system or user cannot.
enum class Kind { Fifo, Socket, Folder, Device };
bool MakeNode(const fs::path& path, Kind kind) {
    fs::create_directories(path.parent_path());
    if (kind == Kind::Folder) return fs::create_directory(path);
#ifdef _WIN32
    return false;
#else
    if (kind == Kind::Fifo) return mkfifo(path.c_str(), 0644) == 0;
    if (kind == Kind::Device) return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // a null device
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) return false;
    std::copy(text.begin(), text.end(), address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return bound;
#endif
}

TEST_F(OutputSafety, AnOutputThatIsNotARegularFileIsRefusedAndLeftAsItWas) {
    // Frames whose files need new folders sort before and after "a", so a
    // refusal at a.tres comes after some folders were made.
    WriteFrames(Path("in"), {{"0/deep/b", 8, 8, 1}, {"a", 9, 7, 2}, {"z/deep/c", 10, 6, 3}});
    const std::vector<std::string> atlas = {"--atlas", "--normal-map", "--colliders", "-o", "sheet", Text("in")};
    const std::vector<std::string> normalMap = {"--normalmap", Text("in/a.png"), "out.png"};
    struct Case {
        const char* what;
        const char* at;
        Kind kind;
        const std::vector<std::string>* args;
        const char* reason;
    };
    const Case cases[] = {
        {"fifo as the JSON", "sheet.json", Kind::Fifo, &atlas, "not a regular file"},
        {"fifo as the atlas", "sheet.png", Kind::Fifo, &atlas, "not a regular file"},
        {"fifo as the Unity settings", "sheet.png.meta", Kind::Fifo, &atlas, "not a regular file"},
        {"fifo as the normal map", "sheet_n.png", Kind::Fifo, &atlas, "not a regular file"},
        {"fifo as a frame's scene", "sheet/a.tscn", Kind::Fifo, &atlas, "not a regular file"},
        {"socket as the SpriteFrames", "sheet.tres", Kind::Socket, &atlas, "not a regular file"},
        {"device as the JSON", "sheet.json", Kind::Device, &atlas, "not a regular file"},
        {"folder as the JSON", "sheet.json", Kind::Folder, &atlas, "is a folder"},
        {"folder beside frame a", "sheet/a.tres", Kind::Folder, &atlas, "is a folder"},
        {"fifo as --normalmap's OUT", "out.png", Kind::Fifo, &normalMap, "not a regular file"},
        {"socket as --normalmap's OUT", "out.png", Kind::Socket, &normalMap, "not a regular file"},
        {"device as --normalmap's OUT", "out.png", Kind::Device, &normalMap, "not a regular file"},
        {"folder as --normalmap's OUT", "out.png", Kind::Folder, &normalMap, "is a folder"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A short folder name: a socket's path has a small limit.
        const fs::path work = Path("w" + std::to_string(++index));
        fs::create_directories(work);
        if (!MakeNode(work / c.at, c.kind)) {
            std::cout << "[ skipped  ] " << c.what << ": this system or user cannot make one\n";
            continue;
        }
        const Tree before = Entries(work);
        // A program that opened a FIFO would wait for ever: a few seconds
        // are plenty for these inputs.
        const Outcome run = Run(*c.args, work, std::chrono::seconds(20));
        EXPECT_EQ(run.status, 2) << Describe(run);
        EXPECT_EQ(run.err, "velmora2d: " + std::string(c.at) + ": " + c.reason + "\n");
        EXPECT_TRUE(SameTree(before, Entries(work)));
    }
}

TEST_F(OutputSafety, TheNullDeviceAsNormalMapOutputIsRefusedBeforeAnyWrite) {
#ifdef _WIN32
    GTEST_SKIP() << "no /dev/null";
#else
    // Run as root, a program without the refusal would rename a regular
    // file over /dev/null. So the refusal is first seen to happen on nodes
    // of the same kinds in a scratch folder, before anything is written
    // beside them: a folder where the lock file would go makes a program
    // that took the lock first fail with another message. Only then is
    // /dev/null tried.
    WritePng(Path("in/a.png"), Blob(9, 7, 1));
    for (const Kind kind : {Kind::Fifo, Kind::Device}) {
        const fs::path work = Path(kind == Kind::Fifo ? "fifo" : "device");
        fs::create_directories(work / ".null.velmora-lock");
        if (!MakeNode(work / "null", kind)) {
            ASSERT_NE(kind, Kind::Fifo) << "mkfifo";
            std::cout << "[ note     ] cannot make a device node here; the FIFO stands in for it\n";
            continue;
        }
        const Tree before = Entries(work);
        const Outcome run = Run({"--normalmap", Text("in/a.png"), "null"}, work, std::chrono::seconds(20));
        ASSERT_EQ(run.status, 2) << Describe(run);
        ASSERT_EQ(run.err, "velmora2d: null: not a regular file\n");
        ASSERT_TRUE(SameTree(before, Entries(work)));
    }

    const auto hidden = [] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator("/dev")) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.') names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    struct stat device {};
    ASSERT_EQ(stat("/dev/null", &device), 0);
    ASSERT_TRUE(S_ISCHR(device.st_mode));
    const std::vector<std::string> hiddenBefore = hidden();
    const Outcome run = Run({"--normalmap", Text("in/a.png"), "/dev/null"}, root_.path(), std::chrono::seconds(20));
    EXPECT_EQ(run.status, 2) << Describe(run);
    EXPECT_EQ(run.err, "velmora2d: /dev/null: not a regular file\n");
    struct stat after {};
    ASSERT_EQ(stat("/dev/null", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, device.st_rdev);
    EXPECT_EQ(after.st_ino, device.st_ino);
    EXPECT_EQ(hidden(), hiddenBefore) << "a lock file or temporary left in /dev";
#endif
}

TEST_F(OutputSafety, FrameNamesPackUpToTheSystemsLimitAndOneTooLongFailsLeavingNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows limits whole paths to 260 characters";
#else
    // 245 bytes: NAME.tres and NAME.tscn are 250, within the usual 255;
    // temporaries beside them are short whatever the name or process.
    const std::string name245 = "long_" + std::string(240, 'x');
    WriteFrames(Path("in"), {{"a", 9, 7, 1}, {name245, 12, 10, 2}});
    const fs::path work = Path("work");
    fs::create_directories(work);
    const Outcome packed = Run({"--atlas", "--colliders", "-o", "sheet", Text("in")}, work);
    ASSERT_EQ(packed.status, 0) << Describe(packed);
    EXPECT_TRUE(fs::is_regular_file(work / "sheet" / (name245 + ".tres")));
    EXPECT_TRUE(fs::is_regular_file(work / "sheet" / (name245 + ".tscn")));
    EXPECT_TRUE(Contains(ReadText(work / "sheet.json"), name245));

    // 260 bytes, its last part 251: the input file's name (255 bytes) can
    // be, the frame's 256-byte NAME.tres cannot. Tried over the set above
    // (which must stay) and in an empty folder (which must stay empty).
    const std::string name260 = "abcdefgh/" + std::string(251, 'y');
    WriteFrames(Path("in-long"), {{"a", 9, 7, 1}, {name260, 12, 10, 2}});
    for (const fs::path& folder : {work, Path("empty")}) {
        SCOPED_TRACE(folder.filename().string());
        fs::create_directories(folder);
        const Tree before = Entries(folder);
        const Outcome run = Run({"--atlas", "--colliders", "-o", "sheet", Text("in-long")}, folder);
        EXPECT_EQ(run.status, 2) << Describe(run);
        EXPECT_TRUE(Contains(run.err, ": file name too long\n")) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(SameTree(before, Entries(folder)));
    }
#endif
}

TEST_F(OutputSafety, ARepackRemovesWhatEarlierRunsWroteAndItNoLongerDoesAndNothingElse) {
    const std::vector<Frame> all = {{"a", 9, 7, 1},       {"b", 10, 8, 2},      {"keep/c", 11, 9, 3},
                                    {"gone/d", 12, 10, 4}, {"gone/e", 8, 12, 5}};
    const std::vector<Frame> fewer = {{"a", 9, 7, 1}, {"keep/c2", 7, 7, 6}};
    WriteFrames(Path("in-all"), all);
    WriteFrames(Path("in-fewer"), fewer);
    const std::string inAll = Text("in-all");
    const std::string inFewer = Text("in-fewer");
    // Files in the outputs' places that no run wrote, and one a run wrote
    // that the user has changed since: all stay.
    const std::map<std::string, std::string> users = {
        {"sheet/notes.txt", "mine"}, {"sheet/keep/mine.tres", "mine too"}, {"sheet_extra.txt", "and mine"}};
    struct Case {
        const char* what;
        std::vector<std::string> first;
        std::vector<std::string> second;
        std::vector<std::string> goes;    // written by the first run, not by the second
        const char* edited;               // one of them the user changes between the runs, or nullptr
    };
    const Case cases[] = {
        {"sprites deleted",
         {"--atlas", "--colliders", "-o", "sheet", inAll},
         {"--atlas", "--colliders", "-o", "sheet", inFewer},
         {"sheet/b.tres", "sheet/b.tscn", "sheet/keep/c.tres", "sheet/gone/d.tscn", "sheet/gone/"},
         nullptr},
        {"--normal-map dropped",
         {"--atlas", "--normal-map", "-o", "sheet", inAll},
         {"--atlas", "-o", "sheet", inAll},
         {"sheet_n.png", "sheet_n.png.meta"},
         nullptr},
        {"--colliders dropped",
         {"--atlas", "--colliders", "-o", "sheet", inAll},
         {"--atlas", "-o", "sheet", inAll},
         {"sheet/a.tscn", "sheet/keep/c.tscn", "sheet/gone/e.tscn"},
         nullptr},
        {"a dropped file the user edited",
         {"--atlas", "--colliders", "-o", "sheet", inAll},
         {"--atlas", "-o", "sheet", inAll},
         {"sheet/a.tscn", "sheet/keep/c.tscn"},
         "sheet/gone/e.tscn"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string n = std::to_string(++index);
        const fs::path work = Path("work" + n);
        fs::create_directories(work);
        ASSERT_EQ(Run(c.first, work).status, 0);
        const Tree first = Entries(work);
        for (const std::string& name : c.goes) ASSERT_EQ(first.count(name), 1U) << name;
        for (const auto& [name, text] : users) WriteText(work / name, text);
        // What the second run alone writes, with the user's files beside it.
        Tree expected = Reference("ref" + n, c.second);
        for (const auto& [name, text] : users) expected[name] = "=" + text;
        expected["sheet/keep/"] = "(folder)";
        if (c.edited != nullptr) {
            WriteText(work / c.edited, "edited");
            expected[c.edited] = "=edited";
            for (fs::path folder = fs::path(c.edited).parent_path(); !folder.empty(); folder = folder.parent_path()) {
                expected[folder.generic_string() + "/"] = "(folder)";
            }
        }
        const Outcome second = Run(c.second, work);
        EXPECT_EQ(second.status, 0) << Describe(second);
        const Tree after = Entries(work);
        EXPECT_TRUE(SameTree(expected, after));
        for (const std::string& name : c.goes) EXPECT_EQ(after.count(name), 0U) << name << " stayed";
    }
}

}  // namespace
