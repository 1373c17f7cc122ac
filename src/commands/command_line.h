// One table per file command declares each option once: its names, the name
// of its value, its help and how it changes the command's settings. The same
// table parses the arguments and writes --help.
#ifndef VELMORA_COMMANDS_COMMAND_LINE_H
#define VELMORA_COMMANDS_COMMAND_LINE_H

#include <iosfwd>
#include <string>
#include <vector>

#include "options.h"

namespace Velmora::Commands {

// What --help shows of one option.
struct OptionHelp {
    const char* name;       // "--output"
    const char* shortName;  // "-o", or nullptr
    const char* valueName;  // "PREFIX", or nullptr for a flag
    const char* help;       // "\n" starts a continuation line
};

// `Settings` is the command's plain record of settings; `operands` gets the
// arguments that are not options.
template <typename Settings>
struct OptionEntry {
    OptionHelp text;
    // Applies the option's value ("" for a flag); false with `error` for a
    // value it cannot take.
    bool (*apply)(const std::string& value, Settings& settings, std::string& error);
};

template <typename Settings>
struct CommandTable {
    const char* command;  // "--atlas"
    const char* intro;    // "Usage: ..." up to the option list
    std::vector<OptionEntry<Settings>> options;
    const char* outro;    // after the option list
};

// --help of a command: intro, "Options:", one row per option and --help,
// outro. Descriptions line up in one column; a name too long for it has
// its description on the next line.
std::string HelpText(const char* intro, const std::vector<OptionHelp>& options, const char* outro);

// A usage error: the message and a hint to the command's help; status 1.
int ReportUsage(std::ostream& err, const std::string& command, const std::string& message);

// What reading a command line came to.
constexpr int kGoOn = -1;

// Parses `args` with the rules of `options` (and --help, -h); kGoOn with
// `parsed` filled, or the status after a usage error or the help text.
int ParseCommandLine(const char* command, const char* intro, const std::vector<OptionHelp>& options,
                     const char* outro, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err, ParsedOptions& parsed);

template <typename Settings>
std::vector<OptionHelp> OptionTexts(const CommandTable<Settings>& table) {
    std::vector<OptionHelp> texts;
    texts.reserve(table.options.size());
    for (const OptionEntry<Settings>& entry : table.options) {
        texts.push_back(entry.text);
    }
    return texts;
}

template <typename Settings>
std::string HelpText(const CommandTable<Settings>& table) {
    return HelpText(table.intro, OptionTexts(table), table.outro);
}

// Reads a command line into `settings`: each option given is applied in the
// table's order (the last value of a repeated option wins), then the
// operands are stored. Returns kGoOn when the command should run;
// otherwise the status to end with, after --help or a usage error.
template <typename Settings>
int ReadCommandLine(const CommandTable<Settings>& table, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err, Settings& settings) {
    ParsedOptions parsed;
    const int early = ParseCommandLine(table.command, table.intro, OptionTexts(table), table.outro, args,
                                       out, err, parsed);
    if (early != kGoOn) {
        return early;
    }
    std::string error;
    for (const OptionEntry<Settings>& entry : table.options) {
        const auto given = parsed.values.find(entry.text.name);
        if (given != parsed.values.end() && !entry.apply(given->second, settings, error)) {
            return ReportUsage(err, table.command, error);
        }
    }
    settings.operands = parsed.operands;
    return kGoOn;
}

// Each file command's options, as its table declares them.
std::vector<OptionHelp> AtlasOptions();
std::vector<OptionHelp> NormalMapOptions();
std::vector<OptionHelp> ColliderOptions();

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_COMMAND_LINE_H
