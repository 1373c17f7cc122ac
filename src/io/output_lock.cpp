#include "io/output_lock.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "commit_journal.h"
#include "file_ops.h"

namespace Velmora::Io {

namespace fs = std::filesystem;

namespace {

using FileOps::Kind;

// "PID on HOST", as the lock file holds it.
std::string Holder() {
    char host[256] = "unknown host";
#ifdef _WIN32
    DWORD size = sizeof host;
    if (GetComputerNameA(host, &size) == 0) std::snprintf(host, sizeof host, "unknown host");
    return std::to_string(_getpid()) + " on " + host;
#else
    if (gethostname(host, sizeof host - 1) != 0) std::snprintf(host, sizeof host, "unknown host");
    host[sizeof host - 1] = '\0';
    return std::to_string(getpid()) + " on " + host;
#endif
}

std::string LockedMessage(const fs::path& lockPath, const std::string& holder, const std::string& name) {
    std::string message = lockPath.u8string();
    message.append(": locked by ").append(holder).append(", another run writing ").append(name);
    return message;
}

bool IsTemporaryName(const std::string& name) {
    // ".velmora-" + 16 hex digits + ".tmp" or ".old"
    if (name.size() != 9 + 16 + 4 || name.compare(0, 9, ".velmora-") != 0) return false;
    for (size_t i = 9; i < 25; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return name.compare(25, 4, ".tmp") == 0 || name.compare(25, 4, ".old") == 0;
}

// The folders above `folder` that do not exist yet, outermost first.
std::vector<fs::path> MissingFolders(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path at = folder; !at.empty() && FileOps::KindOf(at) == Kind::Missing; at = at.parent_path()) {
        missing.insert(missing.begin(), at);
        if (at == at.parent_path()) break;
    }
    return missing;
}

}  // namespace

struct OutputLock::State {
    fs::path folder = ".";
    std::string base;
    fs::path lockPath;
    std::vector<fs::path> createdFolders;
#ifdef _WIN32
    HANDLE handle = INVALID_HANDLE_VALUE;
#else
    int fd = -1;
#endif
    bool held = false;

    bool Take(const std::string& name, std::string& error);
    void Release();
};

#ifdef _WIN32
bool OutputLock::State::Take(const std::string& name, std::string& error) {
    const std::wstring wide = lockPath.wstring();
    // Not shared for writing: a second run's open fails while this one
    // lives, and the system closes the handle when it ends, however.
    handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED) {
            std::string holder = "another process";
            // The holder names itself just after taking the lock: until its
            // whole line is there, read again for a moment.
            for (int wait = 0; wait < 100 && holder == "another process"; ++wait) {
                if (wait > 0) Sleep(1);
                HANDLE reader = CreateFileW(wide.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
                if (reader == INVALID_HANDLE_VALUE) continue;
                char text[512] = {};
                DWORD got = 0;
                if (ReadFile(reader, text, sizeof text - 1, &got, nullptr) != 0 && got > 0 && text[got - 1] == '\n') {
                    holder = "process " + std::string(text, got);
                    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
                }
                CloseHandle(reader);
            }
            error = LockedMessage(lockPath, holder, name);
            return false;
        }
        error = lockPath.u8string() + ": " + FileOps::Reason(std::error_code(static_cast<int>(code), std::system_category()));
        return false;
    }
    const std::string text = Holder() + "\n";
    DWORD wrote = 0;
    SetEndOfFile(handle);
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
    held = true;
    return true;
}

void OutputLock::State::Release() {
    if (!held) return;
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    // Fails harmlessly when the next run has opened it already.
    DeleteFileW(lockPath.wstring().c_str());
    held = false;
}
#else
bool OutputLock::State::Take(const std::string& name, std::string& error) {
    // A releasing run removes the file while still holding it; a lock taken
    // on that removed file is no lock, so try again on the new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            error = lockPath.u8string() + ": " + FileOps::ErrnoReason(errno);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            std::string holder = "another process";
            char text[512] = {};
            ssize_t got = pread(fd, text, sizeof text - 1, 0);
            // The holder names itself just after taking the lock: until its
            // whole line is there, read again for a moment.
            for (int wait = 0; code == EWOULDBLOCK && wait < 100 && (got <= 0 || text[got - 1] != '\n'); ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                got = pread(fd, text, sizeof text - 1, 0);
            }
            if (got > 0) {
                holder = "process " + std::string(text, static_cast<size_t>(got));
                while (!holder.empty() && holder.back() == '\n') holder.pop_back();
            }
            close(fd);
            fd = -1;
            error = code == EWOULDBLOCK ? LockedMessage(lockPath, holder, name)
                                        : lockPath.u8string() + ": " + FileOps::ErrnoReason(code);
            return false;
        }
        struct stat opened {};
        struct stat named {};
        if (fstat(fd, &opened) == 0 && stat(lockPath.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino) {
            const std::string text = Holder() + "\n";
            if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
                error = lockPath.u8string() + ": " + FileOps::ErrnoReason(errno);
                close(fd);
                fd = -1;
                return false;
            }
            held = true;
            return true;
        }
        close(fd);
        fd = -1;
    }
    error = lockPath.u8string() + ": the lock keeps changing hands";
    return false;
}

void OutputLock::State::Release() {
    if (!held) return;
    unlink(lockPath.c_str());
    close(fd);
    fd = -1;
    held = false;
}
#endif

OutputLock::OutputLock() : state_(std::make_unique<State>()) {}

OutputLock::~OutputLock() {
    state_->Release();
    // A run that wrote nothing leaves no folder behind either.
    Journal::RemoveEmptyFolders(state_->createdFolders);
}

const fs::path& OutputLock::Folder() const { return state_->folder; }
const std::string& OutputLock::Base() const { return state_->base; }
fs::path OutputLock::JournalPath() const { return state_->folder / fs::u8path("." + state_->base + ".velmora-journal"); }
fs::path OutputLock::ManifestPath() const {
    return state_->folder / fs::u8path("." + state_->base + ".velmora-manifest");
}

bool OutputLock::Owns(const std::string& base, const std::string& relative, bool temporary) {
    const size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : relative.substr(0, slash);
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    const bool ownFolder = folder.empty() || folder == base || folder.rfind(base + "/", 0) == 0;
    if (temporary) return ownFolder && IsTemporaryName(name);
    if (relative == base || relative == "." + base + ".velmora-manifest") return true;
    if (relative.size() <= base.size() || relative.compare(0, base.size(), base) != 0) return false;
    // BASE, then a page's "-N" and a scale's "@Sx" where present, then what
    // follows every output's name: an extension, "_n", or the folder.
    size_t at = base.size();
    const auto digits = [&relative](size_t from, bool dots) {
        while (from < relative.size() &&
               ((relative[from] >= '0' && relative[from] <= '9') || (dots && relative[from] == '.'))) {
            ++from;
        }
        return from;
    };
    if (relative[at] == '-') {
        const size_t end = digits(at + 1, false);
        if (end == at + 1) return false;
        at = end;
    }
    if (at < relative.size() && relative[at] == '@') {
        const size_t end = digits(at + 1, true);
        if (end == at + 1 || end >= relative.size() || relative[end] != 'x') return false;
        at = end + 1;
    }
    if (at == relative.size()) return at > base.size();
    const char next = relative[at];
    return next == '.' || next == '_' || next == '/';
}

bool OutputLock::Acquire(const std::string& name, Scope scope, std::string& error) {
    State& state = *state_;
    const fs::path path = fs::u8path(name);
    state.base = path.filename().u8string();
    state.folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (scope == Scope::File) {
        const Kind kind = FileOps::KindOf(path);
        if (kind == Kind::Folder || kind == Kind::Other) {
            error = name + (kind == Kind::Folder ? ": is a folder" : ": not a regular file");
            return false;
        }
    }
    state.lockPath = state.folder / fs::u8path("." + state.base + ".velmora-lock");
    for (const fs::path& folder : MissingFolders(state.folder)) {
        std::error_code ec;
        if (fs::create_directory(folder, ec)) state.createdFolders.push_back(folder);
        if (ec) {
            error = name + ": cannot create folder " + folder.u8string() + ": " + FileOps::Reason(ec);
            return false;
        }
    }
    if (!state.Take(name, error)) return false;
    const fs::path journal = JournalPath();
    if (FileOps::KindOf(journal) == Kind::Missing) return true;
    Journal::Record record;
    return Journal::Read(journal, state.folder, state.base, &OutputLock::Owns, record, error) &&
           Journal::Recover(journal, record, error);
}

}  // namespace Velmora::Io
