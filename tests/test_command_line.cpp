// The option tables: one declaration per option drives parsing, --help and
// (checked here) the manual page.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"

namespace {

using Velmora::Commands::CommandTable;
using Velmora::Commands::OptionHelp;

// The options a manual page describes: those named on the tag line of a
// tagged paragraph (the line after .TP), dashes unescaped ("\-\-out" is
// "--out").
std::set<std::string> ManualEntries(const std::string& path) {
    std::ifstream page(path);
    std::set<std::string> names;
    std::string line;
    bool tag = false;
    while (std::getline(page, line)) {
        if (line.rfind(".TP", 0) == 0) {
            tag = true;
            continue;
        }
        for (size_t at = tag ? line.find("\\-") : std::string::npos; at != std::string::npos;
             at = line.find("\\-", at)) {
            std::string name;
            while (at + 1 < line.size() && line.compare(at, 2, "\\-") == 0) {
                name += '-';
                at += 2;
            }
            while (at < line.size() && (std::islower(static_cast<unsigned char>(line[at])) != 0 ||
                                        line.compare(at, 2, "\\-") == 0)) {
                name += line[at] == '\\' ? '-' : line[at];
                at += line[at] == '\\' ? 2 : 1;
            }
            names.insert(name);
        }
        tag = false;
    }
    return names;
}

TEST(OptionTables, TheManualPageHasAnEntryForEveryOptionOfEveryCommand) {
    const std::set<std::string> documented = ManualEntries(VELMORA_MANUAL);
    ASSERT_GT(documented.size(), 10U) << "read too little of " << VELMORA_MANUAL;
    const struct {
        const char* command;
        std::vector<OptionHelp> options;
    } commands[] = {
        {"--atlas", Velmora::Commands::AtlasOptions()},
        {"--normalmap", Velmora::Commands::NormalMapOptions()},
        {"--colliders", Velmora::Commands::ColliderOptions()},
    };
    for (const auto& command : commands) {
        EXPECT_FALSE(command.options.empty()) << command.command;
        for (const OptionHelp& option : command.options) {
            EXPECT_EQ(documented.count(option.name), 1U)
                << command.command << " " << option.name << " has no entry in the manual page";
            if (option.shortName != nullptr) {
                EXPECT_EQ(documented.count(option.shortName), 1U)
                    << command.command << " " << option.shortName << " has no entry in the manual page";
            }
        }
    }
}

TEST(HelpText, DescriptionsLineUpAndLongNamesWrap) {
    const std::vector<OptionHelp> options = {
        {"--output", "-o", "PREFIX", "where to write"},
        {"--flag", nullptr, nullptr, "first line\nsecond line"},
        {"--a-very-long-option-name", nullptr, "VALUE", "on its own line"},
    };
    const std::string help = Velmora::Commands::HelpText("Usage: x\n\n", options, "Bye.\n");
    // "-o, --output PREFIX" is the widest name that fits: descriptions
    // start three blanks after it, at column 24.
    const std::string expected =
        "Usage: x\n"
        "\n"
        "Options:\n"
        "  -o, --output PREFIX   where to write\n"
        "  --flag                first line\n"
        "                        second line\n"
        "  --a-very-long-option-name VALUE\n"
        "                        on its own line\n"
        "  --help                this text\n"
        "Bye.\n";
    EXPECT_EQ(help, expected);
}

struct Settings {
    std::string value;
    std::vector<std::string> applied;  // in the order the table applied them
    std::vector<std::string> operands;
};

const CommandTable<Settings>& TestTable() {
    static const CommandTable<Settings> table{
        "--test",
        "Usage: velmora2d --test\n\n",
        {
            {{"--first", nullptr, "V", "the first"},
             [](const std::string& v, Settings& s, std::string& e) {
                 if (v == "bad") {
                     e = "--first cannot be bad";
                     return false;
                 }
                 s.value = v;
                 s.applied.emplace_back("first");
                 return true;
             }},
            {{"--second", "-s", nullptr, "a flag"},
             [](const std::string&, Settings& s, std::string&) {
                 s.applied.emplace_back("second");
                 return true;
             }},
        },
        "",
    };
    return table;
}

TEST(ReadCommandLine, AppliesOptionsInTableOrderAndReportsUsageErrors) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string value;
        std::vector<std::string> applied;
        std::vector<std::string> operands;
        const char* errPart;
    };
    const Case cases[] = {
        {"the last of a repeated value wins", {"--first", "a", "--first=b", "in"}, -1, "b", {"first"}, {"in"}, ""},
        {"table order, not argument order", {"-s", "--first", "x"}, -1, "x", {"first", "second"}, {}, ""},
        {"a value the option refuses", {"--first", "bad"}, 1, "", {}, {}, "--first cannot be bad"},
        {"an unknown option", {"--third"}, 1, "", {}, {}, "unknown option '--third'"},
        {"a flag given a value", {"--second=1"}, 1, "", {}, {}, "takes no value"},
        {"a value missing", {"--first"}, 1, "", {}, {}, "needs a value"},
        {"operands after --", {"--", "--first"}, -1, "", {}, {"--first"}, ""},
    };
    for (const Case& c : cases) {
        Settings settings;
        std::ostringstream out;
        std::ostringstream err;
        const int status = Velmora::Commands::ReadCommandLine(TestTable(), c.args, out, err, settings);
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_EQ(out.str(), "") << c.what;
        if (c.status == Velmora::Commands::kGoOn) {
            EXPECT_EQ(settings.value, c.value) << c.what;
            EXPECT_EQ(settings.applied, c.applied) << c.what;
            EXPECT_EQ(settings.operands, c.operands) << c.what;
            EXPECT_EQ(err.str(), "") << c.what;
        } else {
            EXPECT_NE(err.str().find(c.errPart), std::string::npos) << c.what << ": " << err.str();
            EXPECT_NE(err.str().find("Try 'velmora2d --test --help'"), std::string::npos) << c.what;
        }
    }
}

TEST(ReadCommandLine, HelpPrintsTheTableAndAppliesNothing) {
    for (const char* flag : {"--help", "-h"}) {
        Settings settings;
        std::ostringstream out;
        std::ostringstream err;
        const int status =
            Velmora::Commands::ReadCommandLine(TestTable(), {"--first", "bad", flag}, out, err, settings);
        EXPECT_EQ(status, 0) << flag;
        EXPECT_EQ(out.str(), Velmora::Commands::HelpText(TestTable())) << flag;
        EXPECT_NE(out.str().find("  -s, --second   a flag\n"), std::string::npos) << out.str();
        EXPECT_TRUE(settings.applied.empty()) << flag << ": help comes before any value is checked";
        EXPECT_EQ(err.str(), "") << flag;
    }
}

}  // namespace
