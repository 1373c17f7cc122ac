#include "options.h"

#include <charconv>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace Velmora::Commands {

namespace {

const OptionRule* FindRule(const std::vector<OptionRule>& rules, const std::string& name) {
    for (const OptionRule& rule : rules) {
        if (name == rule.name || (rule.shortName != nullptr && name == rule.shortName)) {
            return &rule;
        }
    }
    return nullptr;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionRule>& rules,
                  ParsedOptions& parsed, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const OptionRule* rule = FindRule(rules, name);
        if (rule == nullptr) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!rule->takesValue) {
            if (equals != std::string::npos) {
                error = "option '" + std::string(rule->name) + "' takes no value";
                return false;
            }
            parsed.values[rule->name] = "";
            continue;
        }
        if (equals != std::string::npos) {
            parsed.values[rule->name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            parsed.values[rule->name] = args[++i];
        } else {
            error = "option '" + std::string(rule->name) + "' needs a value";
            return false;
        }
    }
    return true;
}

bool ParseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value) {
    int64_t parsed = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, parsed);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseFloat(const std::string& text, float& value) {
    // strtof (the program never changes the C locale, so "." is the decimal
    // point) rather than from_chars, whose float parsing pulls in libm. It
    // would skip leading blanks and read hexadecimal; refuse both.
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0 ||
        text.find_first_of("xX") != std::string::npos) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const float parsed = std::strtof(text.c_str(), &end);
    // ERANGE: beyond single precision either way ("1e99", "1e-99"); "inf"
    // itself is a value, not an overflow.
    if (end != text.c_str() + text.size() || std::isnan(parsed) || errno == ERANGE) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseSize(const std::string& text, int32_t max, int32_t& width, int32_t& height) {
    const size_t cross = text.find('x');
    int64_t w = 0;
    int64_t h = 0;
    if (cross == std::string::npos || !ParseInteger(text.substr(0, cross), 1, max, w) ||
        !ParseInteger(text.substr(cross + 1), 1, max, h)) {
        return false;
    }
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

}  // namespace Velmora::Commands
