// Waiting for files to change under a few folders, and for the user to end
// the wait. The system wakes the waiter (inotify on Linux,
// ReadDirectoryChangesW on Windows), so a quiet watch costs no CPU.
//
// While a FileWatch exists, Ctrl-C and SIGTERM (SIGHUP too; Ctrl-Break on
// Windows) no longer end the process: they wake Wait with Wake::Stop, so the
// caller finishes what it is writing and ends cleanly. One FileWatch at a
// time per process.
#ifndef VELMORA_IO_FILE_WATCH_H
#define VELMORA_IO_FILE_WATCH_H

#include <memory>
#include <string>
#include <vector>

namespace Velmora::Io {

// Something under a watched folder was created, written, renamed, removed
// or had its times changed. `path` is the watched folder's path as given,
// "/" and the entry's path inside it; empty when the system lost track of
// events (its queue overflowed), so anything may have changed.
struct FileChange {
    std::string path;
    bool folder = false;  // the entry is (or, on Windows, may have been) a folder
};

class FileWatch {
public:
    FileWatch();
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Watches `folder`, and with `recursive` every folder under it that is
    // not hidden (name starting with "."), including folders made later.
    // False with `error` as one line "PATH: reason".
    bool Add(const std::string& folder, bool recursive, std::string& error);

    enum class Wake { Changed, TimedOut, Stop };
    // Waits up to `timeoutMs` milliseconds (negative: as long as it takes)
    // for changes, appended to `changes`, or a request to stop, which wins
    // over changes and stays set.
    Wake Wait(int timeoutMs, std::vector<FileChange>& changes);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Velmora::Io

#endif  // VELMORA_IO_FILE_WATCH_H
