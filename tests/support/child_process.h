// The real program run as a child process, for tests that hold it to what it
// does with files: started with its output streams in log files and its own
// working folder, waited for with a time limit, killed and reaped if a test
// drops it early. The including target defines VELMORA_PROGRAM, the path of
// the program.
#ifndef VELMORA_TESTS_SUPPORT_CHILD_PROCESS_H
#define VELMORA_TESTS_SUPPORT_CHILD_PROCESS_H

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
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
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "file_tree.h"

namespace VelmoraTest {

inline fs::path Program() {
    std::string path = VELMORA_PROGRAM;
#ifdef _WIN32
    // Cross-built, the path is the build machine's; wine shows its file
    // system as drive Z:.
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    return fs::u8path(path).make_preferred();
#else
    return fs::u8path(path);
#endif
}

// ---------------------------------------------------------------------------
// Child processes

struct Outcome {
    int status = -1;      // the exit status; -1 when ended by a signal
    bool hung = false;    // did not end in time and was killed
    std::string out;
    std::string err;
};

// The statuses a child gives when it cannot become the program.
constexpr int kNoLogFile = 121;
constexpr int kNoRedirection = 122;
constexpr int kNoFolder = 123;
constexpr int kNoExec = 124;

inline std::string Describe(const Outcome& outcome) {
    std::ostringstream text;
    text << "status " << outcome.status << (outcome.hung ? " (hung, killed)" : "");
    if (outcome.status == kNoLogFile) text << " (the child could not open its log files)";
    if (outcome.status == kNoRedirection) text << " (the child could not redirect its output)";
    if (outcome.status == kNoFolder) text << " (the child could not enter its folder)";
    if (outcome.status == kNoExec) text << " (the program could not be started)";
    text << ", stderr: " << outcome.err;
    return text.str();
}

#ifdef _WIN32
// One argument as the C runtime splits a command line again.
inline std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(slashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}
#endif

// A started program; killed and reaped if dropped before it ended, so a
// failed assertion never leaves it writing into a folder being removed.
class Child {
public:
    Child(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& out, const fs::path& err)
        : out_(out), err_(err) {
#ifdef _WIN32
        std::wstring command = Quote(Program().wstring());
        for (const std::string& arg : args) command += L" " + Quote(fs::u8path(arg).wstring());
        SECURITY_ATTRIBUTES inherit{};
        inherit.nLength = sizeof inherit;
        inherit.bInheritHandle = TRUE;
        HANDLE outFile = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE errFile = CreateFileW(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outFile;
        startup.hStdError = errFile;
        PROCESS_INFORMATION info{};
        const std::wstring program = Program().wstring();
        const std::wstring folder = cwd.wstring();
        if (outFile != INVALID_HANDLE_VALUE && errFile != INVALID_HANDLE_VALUE &&
            CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                           &startup, &info) != 0) {
            CloseHandle(info.hThread);
            process_ = info.hProcess;
            id_ = static_cast<long>(info.dwProcessId);
        } else {
            ADD_FAILURE() << "cannot start " << Program() << ": error " << GetLastError();
        }
        if (outFile != INVALID_HANDLE_VALUE) CloseHandle(outFile);
        if (errFile != INVALID_HANDLE_VALUE) CloseHandle(errFile);
#else
        // Everything the child needs is made before fork: after it, only
        // calls that are safe in a copy of a threaded process.
        std::vector<std::string> words = {Program().string()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        argv.reserve(words.size() + 1);
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const std::string folder = cwd.string();
        const std::string outPath = out.string();
        const std::string errPath = err.string();
        pid_ = fork();
        if (pid_ == 0) {
            const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (outFd < 0 || errFd < 0) _exit(kNoLogFile);
            if (dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) _exit(kNoRedirection);
            if (chdir(folder.c_str()) != 0) _exit(kNoFolder);
            execv(argv[0], argv.data());
            _exit(kNoExec);
        }
        if (pid_ < 0) ADD_FAILURE() << "fork: " << std::strerror(errno);
        id_ = pid_;
#endif
    }
    ~Child() {
        if (Running()) {
            Kill();
            Outcome ignored;
            while (!TryFinish(ignored)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    long Id() const { return id_; }
    bool Running() const {
#ifdef _WIN32
        return process_ != nullptr;
#else
        return pid_ > 0;
#endif
    }

    void Kill() const {
#ifdef _WIN32
        if (process_ != nullptr) TerminateProcess(process_, 255);
#else
        if (pid_ > 0) kill(pid_, SIGKILL);
#endif
    }

    // True, with `outcome`, once the program has ended.
    bool TryFinish(Outcome& outcome) {
        if (!Running()) return false;
#ifdef _WIN32
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        CloseHandle(process_);
        process_ = nullptr;
        outcome.status = static_cast<int>(code);
#else
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == 0 || (done < 0 && errno == EINTR)) return false;
        pid_ = -1;
        outcome.status = done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        outcome.out = ReadText(out_);
        outcome.err = ReadText(err_);
        return true;
    }

    // Waits for the end; a program still running after `limit` is killed
    // and reported as hung (a FIFO opened by mistake blocks for ever).
    Outcome Finish(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        Outcome outcome;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!TryFinish(outcome)) {
            if (!Running()) return outcome;
            if (std::chrono::steady_clock::now() > deadline && !outcome.hung) {
                outcome.hung = true;
                Kill();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return outcome;
    }

private:
    fs::path out_;
    fs::path err_;
    long id_ = 0;
#ifdef _WIN32
    HANDLE process_ = nullptr;
#else
    pid_t pid_ = -1;
#endif
};

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_CHILD_PROCESS_H
