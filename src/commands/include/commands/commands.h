// The file commands. Each takes the arguments after its command word and
// the streams to write to, and returns the exit status: 0 success, 1 usage
// error, 2 input or output error. Only the summary (or a document meant for
// standard output) goes to `out`; every message goes to `err`.
#ifndef VELMORA_COMMANDS_COMMANDS_H
#define VELMORA_COMMANDS_COMMANDS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "support/report.h"

namespace Velmora::Commands {

using Arguments = std::vector<std::string>;

using Support::kStatusFailed;
using Support::kStatusOk;
using Support::kStatusUsage;

int RunAtlas(const Arguments& args, std::ostream& out, std::ostream& err);
int RunNormalMap(const Arguments& args, std::ostream& out, std::ostream& err);
int RunColliders(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_COMMANDS_H
