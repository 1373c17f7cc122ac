// The output set, in three steps, each undone on failure:
//
//   1. stage:   create missing folders; write every file to a temporary
//               ".<name>.velmora-<pid>-<n>.tmp" beside its target, created
//               exclusively so nothing else is ever overwritten;
//   2. commit:  per file, move an existing target aside to a backup
//               ".<name>.velmora-<pid>-<n>.old", then rename the
//               temporary into place;
//   3. finish:  remove the backups.
// A target that already holds exactly the new bytes is left as it is.
//
// Failure in 1 or 2 removes what was placed, renames the backups back,
// removes the temporaries and the folders step 1 created. On POSIX systems
// SIGINT, SIGTERM and SIGHUP are held back while this runs, so an interrupt
// arrives after the set is whole or gone, never half-way.
#include "io/output_set.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <csignal>
#include <pthread.h>
#include <unistd.h>
#endif

namespace Velmora::Io {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// Console interrupts have no cheap equivalent; temporaries may remain there.
struct DeferSignals {
    DeferSignals() {}  // user-provided: an unused guard is not a warning
};
#else
// Holds back the termination signals for its lifetime; they are delivered
// when it ends.
class DeferSignals {
public:
    DeferSignals() {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGHUP);
        active_ = pthread_sigmask(SIG_BLOCK, &held, &previous_) == 0;
    }
    ~DeferSignals() {
        if (active_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    DeferSignals(const DeferSignals&) = delete;
    DeferSignals& operator=(const DeferSignals&) = delete;

private:
    sigset_t previous_{};
    bool active_ = false;
};
#endif

struct Staged {
    OutputFile file;  // bytes released once the temporary is written
    fs::path target;
    fs::path temp;    // empty until written
    fs::path backup;  // empty unless a previous target was moved aside
    int fd = -1;      // the temporary, while it is being written in pieces
    bool placed = false;
    bool unchanged = false;  // the target already holds exactly these bytes
};

// Whether `target` is a regular file holding exactly `bytes`. Such a file is
// left alone: no new inode, no rename, and its modification time stays, so
// engines watching the folder do not import it again.
bool HoldsExactly(const fs::path& target, const std::vector<uint8_t>& bytes) {
    std::error_code ec;
    if (fs::symlink_status(target, ec).type() != fs::file_type::regular ||
        fs::file_size(target, ec) != bytes.size() || ec) {
        return false;
    }
    std::ifstream in(target, std::ios::binary);
    std::vector<char> held(bytes.size());
    if (!in.read(held.data(), static_cast<std::streamsize>(held.size()))) {
        return bytes.empty() && in.good();
    }
    return std::equal(held.begin(), held.end(), bytes.begin(),
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

int ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

// Creates `path` only if nothing has that name; -1 with errno otherwise.
int CreateExclusive(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t chunk = std::min<size_t>(bytes.size() - done, size_t{1} << 30);
#ifdef _WIN32
        const int wrote = _write(fd, bytes.data() + done, static_cast<unsigned>(chunk));
#else
        const ssize_t wrote = write(fd, bytes.data() + done, chunk);
        if (wrote < 0 && errno == EINTR) continue;
#endif
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

bool CloseFile(int fd) {
#ifdef _WIN32
    return _close(fd) == 0;
#else
    return close(fd) == 0;
#endif
}

std::string Reason(const std::error_code& ec) {
    if (ec == std::errc::no_such_file_or_directory) return "no such file or folder";
    if (ec == std::errc::permission_denied) return "permission denied";
    if (ec == std::errc::no_space_on_device) return "no space left on device";
    if (ec == std::errc::read_only_file_system) return "read-only file system";
    return "cannot write file";
}

fs::path SiblingName(const fs::path& target, int n, const char* suffix) {
    return target.parent_path() /
           fs::u8path("." + target.filename().u8string() + ".velmora-" + std::to_string(ProcessId()) + "-" +
                      std::to_string(n) + suffix);
}

// Creates the missing folders above `target`, outermost first, appending
// each to `created`.
bool CreateParents(const Staged& item, std::vector<fs::path>& created, std::string& error) {
    std::vector<fs::path> missing;
    std::error_code ec;
    fs::path folder = item.target.parent_path();
    while (!folder.empty()) {
        const fs::file_status status = fs::status(folder, ec);
        if (status.type() != fs::file_type::not_found) {
            if (!fs::is_directory(status)) {
                error = item.file.path + ": " + folder.u8string() + " is not a folder";
                return false;
            }
            break;
        }
        missing.push_back(folder);
        if (folder == folder.parent_path()) break;
        folder = folder.parent_path();
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // "a/.." may exist by the time it is reached: not ours to remove.
        if (fs::create_directory(*it, ec)) created.push_back(*it);
        if (ec) {
            error = item.file.path + ": cannot create folder " + it->u8string() + ": " + Reason(ec);
            return false;
        }
    }
    return true;
}

// Creates the item's temporary and leaves it open in `item.fd`.
bool OpenTemporary(Staged& item, std::string& error) {
    for (int n = 0; n < 1000; ++n) {
        const fs::path temp = SiblingName(item.target, n, ".tmp");
        const int fd = CreateExclusive(temp);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            error = item.file.path + ": " + Reason(std::error_code(errno, std::generic_category()));
            return false;
        }
        item.temp = temp;
        item.fd = fd;
        return true;
    }
    error = item.file.path + ": cannot create a temporary file";
    return false;
}

bool WriteTemporary(Staged& item, std::string& error) {
    if (!OpenTemporary(item, error)) {
        return false;
    }
    const bool wrote = WriteAll(item.fd, item.file.bytes);
    const int writeErrno = errno;
    const bool closed = CloseFile(item.fd);
    item.fd = -1;
    if (!closed || !wrote) {
        error = item.file.path + ": " + Reason(std::error_code(wrote ? errno : writeErrno, std::generic_category()));
        return false;
    }
    return true;
}

bool Place(Staged& item, std::string& error) {
    std::error_code ec;
    if (fs::symlink_status(item.target, ec).type() != fs::file_type::not_found) {
        for (int n = 0; n < 1000 && item.backup.empty(); ++n) {
            const fs::path backup = SiblingName(item.target, n, ".old");
            if (fs::symlink_status(backup, ec).type() == fs::file_type::not_found) {
                fs::rename(item.target, backup, ec);
                if (ec) {
                    error = item.file.path + ": cannot replace file: " + Reason(ec);
                    return false;
                }
                item.backup = backup;
            }
        }
        if (item.backup.empty()) {
            error = item.file.path + ": cannot replace file";
            return false;
        }
    }
    fs::rename(item.temp, item.target, ec);
    if (ec) {
        error = item.file.path + ": " + Reason(ec);
        return false;
    }
    item.temp.clear();
    item.placed = true;
    return true;
}

void RollBack(std::vector<Staged>& items, const std::vector<fs::path>& createdFolders) {
    std::error_code ec;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        // Left open only when making its pieces threw.
        if (it->fd >= 0) CloseFile(it->fd);
        if (it->placed) fs::remove(it->target, ec);
        if (!it->backup.empty()) fs::rename(it->backup, it->target, ec);
        if (!it->temp.empty()) fs::remove(it->temp, ec);
    }
    for (auto it = createdFolders.rbegin(); it != createdFolders.rend(); ++it) {
        fs::remove(*it, ec);  // only empty folders go
    }
}

}  // namespace

struct OutputSet::State {
    DeferSignals deferSignals;
    std::vector<Staged> items;
    std::set<fs::path> seen;
    std::vector<fs::path> createdFolders;
    bool finished = false;
};

OutputSet::OutputSet() : state_(std::make_unique<State>()) {}

OutputSet::~OutputSet() {
    if (!state_->finished) {
        RollBack(state_->items, state_->createdFolders);
    }
}

namespace {

// The checks every staged file passes before anything is written.
bool Admit(const Staged& item, bool finished, std::set<fs::path>& seen, std::string& error) {
    std::error_code ec;
    if (finished) {
        error = item.file.path + ": the output set is already finished";
        return false;
    }
    if (item.file.path.empty() || !item.target.has_filename()) {
        error = item.file.path + ": not a file name";
        return false;
    }
    if (!seen.insert(item.target.lexically_normal()).second) {
        error = item.file.path + ": written twice in one set";
        return false;
    }
    if (fs::is_directory(item.target, ec)) {
        error = item.file.path + ": is a folder";
        return false;
    }
    return true;
}

}  // namespace

bool OutputSet::Stage(OutputFile file, std::string& error) {
    State& state = *state_;
    Staged item;
    // Kept as written, so messages name folders in the caller's words.
    item.target = fs::u8path(file.path);
    item.file = std::move(file);
    if (!Admit(item, state.finished, state.seen, error)) {
        return false;
    }
    item.unchanged = HoldsExactly(item.target, item.file.bytes);
    const bool written = item.unchanged || (CreateParents(item, state.createdFolders, error) &&
                                            WriteTemporary(item, error));
    // The bytes live on in the temporary (or the unchanged target).
    item.file.bytes = {};
    state.items.push_back(std::move(item));
    return written;
}

bool OutputSet::StagePieces(const std::string& path, const NextPiece& next, std::string& error) {
    State& state = *state_;
    Staged item;
    item.target = fs::u8path(path);
    item.file.path = path;
    if (!Admit(item, state.finished, state.seen, error)) {
        return false;
    }
    // The target is compared piece by piece as the temporary is written;
    // if it held exactly these bytes the temporary goes and it stays.
    std::error_code ec;
    std::ifstream old;
    if (fs::symlink_status(item.target, ec).type() == fs::file_type::regular) {
        old.open(item.target, std::ios::binary);
    }
    bool same = old.is_open();
    std::vector<char> held;
    const bool opened = CreateParents(item, state.createdFolders, error) && OpenTemporary(item, error);
    // Recorded at once, so a failure below removes the temporary.
    state.items.push_back(item);
    Staged& staged = state.items.back();
    if (!opened) {
        return false;
    }
    bool written = true;
    std::vector<uint8_t> piece;
    std::string failure;
    while (written && next(piece, failure)) {
        written = WriteAll(staged.fd, piece);
        if (!written) {
            error = path + ": " + Reason(std::error_code(errno, std::generic_category()));
        }
        if (same) {
            held.resize(piece.size());
            same = old.read(held.data(), static_cast<std::streamsize>(held.size())) &&
                   std::equal(held.begin(), held.end(), piece.begin(),
                              [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
        }
    }
    if (written && !failure.empty()) {
        error = path + ": " + failure;
        written = false;
    }
    const int closeErrno = CloseFile(staged.fd) ? 0 : errno;
    staged.fd = -1;
    if (written && closeErrno != 0) {
        error = path + ": " + Reason(std::error_code(closeErrno, std::generic_category()));
        written = false;
    }
    if (written && same && old.peek() == std::ifstream::traits_type::eof()) {
        fs::remove(staged.temp, ec);
        if (!ec) {
            staged.temp.clear();
            staged.unchanged = true;
        }
    }
    return written;
}

bool OutputSet::Commit(std::string& error) {
    State& state = *state_;
    if (state.finished) {
        error = "the output set is already finished";
        return false;
    }
    for (Staged& item : state.items) {
        if (!item.unchanged && !Place(item, error)) {
            return false;  // the destructor undoes it all
        }
    }
    std::error_code ec;
    for (const Staged& item : state.items) {
        if (!item.backup.empty()) fs::remove(item.backup, ec);
    }
    state.finished = true;
    return true;
}

bool CommitOutputs(const std::vector<OutputFile>& files, std::string& error) {
    OutputSet set;
    for (const OutputFile& file : files) {
        if (!set.Stage(file, error)) {
            return false;
        }
    }
    return set.Commit(error);
}

}  // namespace Velmora::Io
