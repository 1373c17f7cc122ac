// Command-line parsing shared by the file commands: long options with a
// value as the next argument or after "=", flags, "-" short aliases, "--" to
// end options, operands in order.
#ifndef VELMORA_COMMANDS_OPTIONS_H
#define VELMORA_COMMANDS_OPTIONS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Velmora::Commands {

struct OptionRule {
    const char* name;       // "--output"
    const char* shortName;  // "-o", or nullptr
    bool takesValue;
};

struct ParsedOptions {
    std::map<std::string, std::string> values;  // by long name; the last one given wins
    std::vector<std::string> operands;
};

// Returns false with `error` (one phrase) for an unknown option or a
// missing value.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionRule>& rules,
                  ParsedOptions& parsed, std::string& error);

// Whole-string decimal integer within [min, max].
bool ParseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value);

// Whole-string float: finite or infinite, never NaN.
bool ParseFloat(const std::string& text, float& value);

// "WxH" with both sides within [1, max].
bool ParseSize(const std::string& text, int32_t max, int32_t& width, int32_t& height);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_OPTIONS_H
