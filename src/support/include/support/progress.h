// A one-line progress report on a terminal's error stream, shown only once
// the work has taken half a second; silent for pipes, files and tests.
#ifndef VELMORA_SUPPORT_PROGRESS_H
#define VELMORA_SUPPORT_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>

namespace Velmora::Support {

class Progress {
public:
    explicit Progress(std::ostream& err);
    void Stage(const std::string& what);
    void Count(const std::string& what, size_t done, size_t total);
    void Done();

private:
    void Show(const std::string& text);
    std::ostream* err_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace Velmora::Support

#endif  // VELMORA_SUPPORT_PROGRESS_H
