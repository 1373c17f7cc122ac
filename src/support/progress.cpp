#include "support/progress.h"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define VELMORA_ISATTY _isatty
#define VELMORA_FILENO _fileno
#else
#include <unistd.h>
#define VELMORA_ISATTY isatty
#define VELMORA_FILENO fileno
#endif

namespace Velmora::Support {

Progress::Progress(std::ostream& err)
    : err_(&err),
      enabled_(&err == &std::cerr && VELMORA_ISATTY(VELMORA_FILENO(stderr)) != 0),
      start_(std::chrono::steady_clock::now()) {}

void Progress::Show(const std::string& text) {
    if (!enabled_ || std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) {
        return;
    }
    // Carriage return and erase-line keep it to one line that later
    // output replaces.
    *err_ << "\r\x1b[K" << text << std::flush;
    shown_ = true;
}

void Progress::Stage(const std::string& what) { Show(what + "..."); }

void Progress::Count(const std::string& what, size_t done, size_t total) {
    Show(what + " " + std::to_string(done) + "/" + std::to_string(total));
}

void Progress::Done() {
    if (shown_) {
        *err_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }
}

}  // namespace Velmora::Support
