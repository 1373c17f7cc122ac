// A file command run in the test's own process, its output and status
// captured, for the tests of --atlas and the other file commands.
#ifndef VELMORA_TESTS_SUPPORT_COMMAND_RUN_H
#define VELMORA_TESTS_SUPPORT_COMMAND_RUN_H

#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"

namespace VelmoraTest {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

inline Outcome Atlas(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = Velmora::Commands::RunAtlas(args, out, err);
    return Outcome{status, out.str(), err.str()};
}

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_COMMAND_RUN_H
