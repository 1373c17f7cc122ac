// The file commands. Each takes the arguments after its command word and
// the streams to write to, and returns the exit status: 0 success, 1 usage
// error, 2 input or output error. Only the summary (or a document meant for
// standard output) goes to `out`; every message goes to `err`.
#ifndef VELMORA_COMMANDS_COMMANDS_H
#define VELMORA_COMMANDS_COMMANDS_H

#include <iosfwd>
#include <string>
#include <vector>

namespace Velmora::Commands {

using Arguments = std::vector<std::string>;

constexpr int kStatusOk = 0;
constexpr int kStatusUsage = 1;
constexpr int kStatusFailed = 2;

int RunAtlas(const Arguments& args, std::ostream& out, std::ostream& err);
int RunNormalMap(const Arguments& args, std::ostream& out, std::ostream& err);
int RunColliders(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_COMMANDS_H
