// FileWatch on Windows: an overlapped ReadDirectoryChangesW per watched
// folder and an event the console handler sets on Ctrl-C or Ctrl-Break,
// waited on together.
#ifdef _WIN32
#include "io/file_watch.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "io/file_io.h"

namespace Velmora::Io {

namespace fs = std::filesystem;

namespace {

HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (g_stopEvent != nullptr) SetEvent(g_stopEvent);
    return TRUE;
}

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                          FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;

}  // namespace

struct FileWatch::State {
    struct Folder {
        std::string path;
        bool recursive = false;
        HANDLE handle = INVALID_HANDLE_VALUE;
        OVERLAPPED overlapped{};
        alignas(DWORD) char buffer[64 * 1024] = {};
    };
    std::vector<std::unique_ptr<Folder>> folders;
    HANDLE stop = nullptr;
    bool handling = false;

    static bool Start(Folder& folder) {
        ResetEvent(folder.overlapped.hEvent);
        return ReadDirectoryChangesW(folder.handle, folder.buffer, sizeof folder.buffer,
                                     folder.recursive ? TRUE : FALSE, kFilter, nullptr, &folder.overlapped,
                                     nullptr) != 0;
    }

    // The records a finished read left in `folder`'s buffer, as changes.
    static void Collect(const Folder& folder, DWORD bytes, std::vector<FileChange>& changes) {
        if (bytes == 0) {
            changes.push_back(FileChange{"", true});  // the buffer overflowed
            return;
        }
        for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
            const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(folder.buffer + at);
            const std::wstring name(record->FileName, record->FileNameLength / sizeof(WCHAR));
            FileChange change;
            const fs::path relative(name);
            change.path = folder.path + "/" + relative.generic_u8string();
            std::error_code ec;
            const fs::file_status status = fs::status(fs::u8path(change.path), ec);
            // A name gone has no kind left to ask for.
            change.folder = ec || status.type() == fs::file_type::not_found || fs::is_directory(status);
            bool hidden = false;
            for (const fs::path& part : relative) {
                const std::wstring text = part.wstring();
                hidden = hidden || (!text.empty() && text[0] == L'.');
            }
            if (!hidden) changes.push_back(std::move(change));
            if (record->NextEntryOffset == 0) break;
            at += record->NextEntryOffset;
        }
    }
};

FileWatch::FileWatch() : state_(std::make_unique<State>()) {
    state_->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (state_->stop != nullptr) {
        g_stopEvent = state_->stop;
        state_->handling = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
    }
}

FileWatch::~FileWatch() {
    if (state_->handling) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    for (const std::unique_ptr<State::Folder>& folder : state_->folders) {
        CancelIoEx(folder->handle, &folder->overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(folder->handle, &folder->overlapped, &ignored, TRUE);
        CloseHandle(folder->overlapped.hEvent);
        CloseHandle(folder->handle);
    }
    g_stopEvent = nullptr;
    if (state_->stop != nullptr) CloseHandle(state_->stop);
}

bool FileWatch::Add(const std::string& folder, bool recursive, std::string& error) {
    auto entry = std::make_unique<State::Folder>();
    entry->path = folder;
    entry->recursive = recursive;
    // The caller waits on at most MAXIMUM_WAIT_OBJECTS handles, the stop
    // event among them.
    if (state_->stop == nullptr || state_->folders.size() + 1 >= MAXIMUM_WAIT_OBJECTS) {
        error = folder + ": too many folders to watch";
        return false;
    }
    entry->handle = CreateFileW(fs::u8path(folder).c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (entry->handle == INVALID_HANDLE_VALUE) {
        error = folder + ": " + SystemReason(std::error_code(static_cast<int>(GetLastError()), std::system_category()));
        return false;
    }
    entry->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (entry->overlapped.hEvent == nullptr || !State::Start(*entry)) {
        error = folder + ": " + SystemReason(std::error_code(static_cast<int>(GetLastError()), std::system_category()));
        if (entry->overlapped.hEvent != nullptr) CloseHandle(entry->overlapped.hEvent);
        CloseHandle(entry->handle);
        return false;
    }
    state_->folders.push_back(std::move(entry));
    return true;
}

FileWatch::Wake FileWatch::Wait(int timeoutMs, std::vector<FileChange>& changes) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        std::vector<HANDLE> handles{state_->stop};
        for (const std::unique_ptr<State::Folder>& folder : state_->folders) {
            handles.push_back(folder->overlapped.hEvent);
        }
        DWORD left = INFINITE;
        if (timeoutMs >= 0) {
            const auto remaining =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = remaining > 0 ? static_cast<DWORD>(remaining) : 0;
        }
        const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, left);
        if (WaitForSingleObject(state_->stop, 0) == WAIT_OBJECT_0) return Wake::Stop;
        if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED) return Wake::TimedOut;
        const size_t before = changes.size();
        for (const std::unique_ptr<State::Folder>& folder : state_->folders) {
            DWORD bytes = 0;
            if (WaitForSingleObject(folder->overlapped.hEvent, 0) != WAIT_OBJECT_0) continue;
            if (GetOverlappedResult(folder->handle, &folder->overlapped, &bytes, FALSE) != 0) {
                State::Collect(*folder, bytes, changes);
            } else {
                changes.push_back(FileChange{folder->path, true});  // the folder itself went away
            }
            if (!State::Start(*folder)) ResetEvent(folder->overlapped.hEvent);
        }
        if (changes.size() != before) return Wake::Changed;
    }
}

}  // namespace Velmora::Io
#endif  // _WIN32
