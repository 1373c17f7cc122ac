#include "command_line.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "support/report.h"

namespace Velmora::Commands {

namespace {

// Names longer than this put their description on the next line, so one
// long name does not push every description to the right.
constexpr size_t kLongestInlineLabel = 20;

const OptionHelp kHelpOption{"--help", nullptr, nullptr, "this text"};

std::string Label(const OptionHelp& option) {
    std::string label;
    if (option.shortName != nullptr) {
        label.append(option.shortName).append(", ");
    }
    label += option.name;
    if (option.valueName != nullptr) {
        label.append(" ").append(option.valueName);
    }
    return label;
}

}  // namespace

std::string HelpText(const char* intro, const std::vector<OptionHelp>& options, const char* outro) {
    std::vector<OptionHelp> rows = options;
    rows.push_back(kHelpOption);
    size_t widest = 0;
    for (const OptionHelp& row : rows) {
        const size_t length = Label(row).size();
        if (length <= kLongestInlineLabel) {
            widest = std::max(widest, length);
        }
    }
    const std::string indent(2 + widest + 3, ' ');
    std::string text = intro;
    text += "Options:\n";
    for (const OptionHelp& row : rows) {
        const std::string label = Label(row);
        text += "  " + label;
        if (label.size() > kLongestInlineLabel) {
            text += "\n" + indent;
        } else {
            text += std::string(widest + 3 - label.size(), ' ');
        }
        for (const char* c = row.help; *c != '\0'; ++c) {
            text += *c;
            if (*c == '\n') {
                text += indent;
            }
        }
        text += '\n';
    }
    text += outro;
    return text;
}

int ReportUsage(std::ostream& err, const std::string& command, const std::string& message) {
    err << "velmora2d: " << command << ": " << message << '\n'
        << "Try 'velmora2d " << command << " --help' for more information.\n";
    return Support::kStatusUsage;
}

int ParseCommandLine(const char* command, const char* intro, const std::vector<OptionHelp>& options,
                     const char* outro, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err, ParsedOptions& parsed) {
    std::vector<OptionRule> rules;
    rules.reserve(options.size() + 1);
    for (const OptionHelp& option : options) {
        rules.push_back(OptionRule{option.name, option.shortName, option.valueName != nullptr});
    }
    rules.push_back(OptionRule{"--help", "-h", false});
    std::string error;
    if (!ParseOptions(args, rules, parsed, error)) {
        return ReportUsage(err, command, error);
    }
    if (parsed.values.count("--help") != 0) {
        out << HelpText(intro, options, outro);
        return Support::kStatusOk;
    }
    return kGoOn;
}

}  // namespace Velmora::Commands
