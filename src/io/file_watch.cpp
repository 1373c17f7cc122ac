// FileWatch on Linux: one inotify descriptor for every watched folder, and a
// pipe the stop signals write to, polled together.
#ifndef _WIN32
#include "io/file_watch.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include <csignal>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/inotify.h>
#endif

#include "io/file_io.h"

namespace Velmora::Io {

namespace fs = std::filesystem;

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];

// Written by the signal handler; read by Wait. Only one watch at a time.
int g_stopWrite = -1;
volatile sig_atomic_t g_stopped = 0;

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    g_stopped = 1;
    const char byte = 1;
    if (g_stopWrite >= 0) {
        const ssize_t wrote = write(g_stopWrite, &byte, 1);
        static_cast<void>(wrote);  // a full pipe already holds a wake-up
    }
    errno = saved;
}

}  // namespace

struct FileWatch::State {
    int notify = -1;
    int stopPipe[2] = {-1, -1};
    struct Folder {
        std::string path;
        bool recursive = false;
    };
    std::map<int, Folder> folders;  // by watch descriptor
    struct sigaction previous[kStopSignalCount] = {};
    bool handling = false;

#ifdef __linux__
    bool AddOne(const std::string& path, bool recursive, std::string& error) {
        const uint32_t mask = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
        const int wd = inotify_add_watch(notify, path.c_str(), mask);
        if (wd < 0) {
            error = path + ": " +
                    (errno == ENOSPC ? std::string("too many folders to watch (see fs.inotify.max_user_watches)")
                                     : SystemReason(std::error_code(errno, std::generic_category())));
            return false;
        }
        folders[wd] = Folder{path, recursive};
        return true;
    }

    // `path` and the folders under it; a folder reached twice through
    // symlinks is watched once.
    bool AddTree(const std::string& path, std::set<fs::path>& seen, std::string& error) {
        std::error_code ec;
        const fs::path real = fs::canonical(fs::u8path(path), ec);
        if (!ec && !seen.insert(real).second) return true;
        if (!AddOne(path, true, error)) return false;
        fs::directory_iterator it(fs::u8path(path), ec);
        if (ec) {
            error = path + ": " + SystemReason(ec);
            return false;
        }
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().u8string();
            if (name.empty() || name[0] == '.' || !it->is_directory(ec)) continue;
            std::string child = path;
            child.append("/").append(name);
            if (!AddTree(child, seen, error)) return false;
        }
        if (ec) {
            error = path + ": " + SystemReason(ec);
            return false;
        }
        return true;
    }

    // Every event waiting on the descriptor, as changes.
    void Drain(std::vector<FileChange>& changes) {
        alignas(struct inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = read(notify, buffer, sizeof buffer);
            if (got <= 0) return;
            for (size_t at = 0; at + sizeof(struct inotify_event) <= static_cast<size_t>(got);) {
                struct inotify_event event {};
                std::memcpy(&event, buffer + at, sizeof event);
                const char* name = buffer + at + sizeof event;
                at += sizeof event + event.len;
                if ((event.mask & IN_Q_OVERFLOW) != 0) {
                    changes.push_back(FileChange{"", true});
                    continue;
                }
                const auto found = folders.find(event.wd);
                if (found == folders.end()) continue;
                const Folder folder = found->second;
                if ((event.mask & IN_IGNORED) != 0) {
                    folders.erase(found);
                    continue;
                }
                FileChange change;
                change.path = folder.path;
                if (event.len > 0 && name[0] != '\0') change.path += "/" + std::string(name);
                change.folder = (event.mask & (IN_ISDIR | IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
                if (change.folder && folder.recursive && (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0 &&
                    event.len > 0 && name[0] != '.') {
                    // Files made in it before its watch starts are found by
                    // the caller's look at the folder this change leads to.
                    std::set<fs::path> seen;
                    std::string ignored;
                    AddTree(change.path, seen, ignored);
                }
                changes.push_back(std::move(change));
            }
        }
    }
#endif
};

FileWatch::FileWatch() : state_(std::make_unique<State>()) {
#ifdef __linux__
    state_->notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
    if (pipe(state_->stopPipe) == 0) {
        for (const int fd : state_->stopPipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        g_stopped = 0;
        g_stopWrite = state_->stopPipe[1];
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t i = 0; i < kStopSignalCount; ++i) {
            sigaction(kStopSignals[i], &action, &state_->previous[i]);
        }
        state_->handling = true;
    }
}

FileWatch::~FileWatch() {
    if (state_->handling) {
        for (size_t i = 0; i < kStopSignalCount; ++i) {
            sigaction(kStopSignals[i], &state_->previous[i], nullptr);
        }
        g_stopWrite = -1;
    }
    for (const int fd : state_->stopPipe) {
        if (fd >= 0) close(fd);
    }
    if (state_->notify >= 0) close(state_->notify);
}

bool FileWatch::Add(const std::string& folder, bool recursive, std::string& error) {
#ifdef __linux__
    if (state_->notify < 0 || !state_->handling) {
        error = folder + ": cannot watch: " + SystemReason(std::error_code(errno, std::generic_category()));
        return false;
    }
    if (!recursive) return state_->AddOne(folder, false, error);
    std::set<fs::path> seen;
    return state_->AddTree(folder, seen, error);
#else
    static_cast<void>(recursive);
    error = folder + ": watching folders is not supported on this system";
    return false;
#endif
}

FileWatch::Wake FileWatch::Wait(int timeoutMs, std::vector<FileChange>& changes) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (g_stopped != 0) return Wake::Stop;
        int left = -1;
        if (timeoutMs >= 0) {
            const auto remaining =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = remaining > 0 ? static_cast<int>(remaining) : 0;
        }
        struct pollfd polled[2] = {{state_->stopPipe[0], POLLIN, 0}, {state_->notify, POLLIN, 0}};
        const int ready = poll(polled, state_->notify >= 0 ? 2 : 1, left);
        if (ready < 0 && errno != EINTR) return g_stopped != 0 ? Wake::Stop : Wake::TimedOut;
        if (g_stopped != 0) return Wake::Stop;
#ifdef __linux__
        if (ready > 0 && (polled[1].revents & POLLIN) != 0) {
            const size_t before = changes.size();
            state_->Drain(changes);
            if (changes.size() != before) return Wake::Changed;
        }
#endif
        if (ready == 0) return Wake::TimedOut;
    }
}

}  // namespace Velmora::Io
#endif  // !_WIN32
