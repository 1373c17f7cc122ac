// Start-up baseline: about the least a C++ console program can do. It writes
// the given number of bytes to standard output through std::cout, as many as
// the velmora2d command it is measured against, and exits.
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    long bytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    const std::string line(63, '=');
    while (bytes >= 64) {
        std::cout << line << "\n";
        bytes -= 64;
    }
    std::cout << std::string(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '=');
    return 0;
}
