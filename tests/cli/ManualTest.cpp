// SPDX-License-Identifier: MIT
// The manual pages and --help name the same options, so that neither can
// drift from the other: every option a command's --help lists is in both
// pages (with the values it takes), and every long option the pages name
// exists.
#include "DbfFix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string Help(const std::vector<std::string>& arguments)
{
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(DbfFixMain(arguments, out, err, false), esOk) << err.str();
    return out.str();
}

// The page's source with troff's escapes for the minus and the font changes taken out.
std::string PageText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::ostringstream text;
    text << in.rdbuf();
    std::string page = std::regex_replace(text.str(), std::regex(R"(\\-)"), "-");
    return std::regex_replace(page, std::regex(R"(\\f[BIPR])"), "");
}

struct THelpOption {
    std::string Name;                 // "--codepage", "-r"
    std::vector<std::string> Values;  // the lower-case words of "0|38|auto|keep"
};

// The options a --help lists, from its option lines ("  -r,--recursive  text").
std::vector<THelpOption> HelpOptions(const std::string& help)
{
    std::vector<THelpOption> options;
    std::istringstream lines(help);
    const std::regex optionLine(R"(^  ((?:-[A-Za-z0-9],)?-[-A-Za-z0-9]+)(?: ([^ ]+))?)");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_search(line, match, optionLine)) continue;
        std::string names = match[1];
        std::vector<std::string> values;
        std::string type = match[2];
        const std::regex word(R"([a-z0-9][-a-z0-9]*)");
        for (std::sregex_iterator it(type.begin(), type.end(), word), end; it != end; ++it) {
            // A word of a value list "a|b|c" only: not a placeholder or a note.
            if (type.find('|') != std::string::npos) values.push_back(it->str());
        }
        std::istringstream each(names);
        for (std::string name; std::getline(each, name, ',');) options.push_back({name, values});
    }
    return options;
}

}  // namespace

TEST(Manual, PagesNameEveryOptionAndNoOther)
{
    const std::vector<std::vector<std::string>> commands = {{}, {"show"}, {"check"}, {"fix"}, {"restore"}};
    const std::string pages[] = {DBF_MAN_DIR "/dbffix.1.in", DBF_MAN_DIR "/ru/dbffix.1.in"};
    std::set<std::string> known;
    std::size_t listed = 0;
    for (const auto& page : pages) {
        SCOPED_TRACE(page);
        const std::string text = PageText(page);
        for (const auto& command : commands) {
            std::vector<std::string> arguments = command;
            arguments.push_back("--help");
            for (const auto& option : HelpOptions(Help(arguments))) {
                SCOPED_TRACE((command.empty() ? "dbffix" : command[0]) + " " + option.Name);
                ++listed;
                known.insert(option.Name);
                const std::regex named("(^|[^-A-Za-z0-9])" + option.Name + "([^-A-Za-z0-9]|$)");
                EXPECT_TRUE(std::regex_search(text, named)) << "not in the page";
                if (option.Values.empty()) continue;
                // The values on the page's line that names the option with its "=".
                const auto at = text.find(option.Name + "=");
                ASSERT_NE(at, std::string::npos) << "the page gives no values";
                const std::string line = text.substr(at, text.find('\n', at) - at);
                for (const auto& value : option.Values) {
                    EXPECT_TRUE(std::regex_search(line, std::regex("[ {|]" + value + "[ }|]"))) << value << " in " << line;
                }
            }
        }
        // Every long option the page names is one some --help lists (the
        // page's examples name find's options with a single dash only).
        const std::regex longOption(R"((^|[^-A-Za-z0-9])(--[a-z][-a-z0-9]*[a-z0-9]))");
        for (std::sregex_iterator it(text.begin(), text.end(), longOption), end; it != end; ++it) {
            EXPECT_TRUE(known.count((*it)[2]) == 1) << (*it)[2] << " is named in the page but exists in no --help";
        }
    }
    // The --help lines were understood at all: a parser that finds nothing checks nothing.
    EXPECT_GE(listed, 2U * 30U);
    for (const char* option : {"--codepage", "--record-count", "--files-from", "-0", "--follow", "-r", "--table"}) {
        EXPECT_EQ(known.count(option), 1U) << option;
    }
}

// --help in one language, its columns lined up as a terminal shows them.
TEST(Help, RussianThroughAndAligned)
{
    constexpr std::size_t kColumn = 36;
    const auto columns = [](const std::string& text) {
        return static_cast<std::size_t>(
            std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
    };
    for (const std::vector<std::string>& command :
         std::vector<std::vector<std::string>>{{}, {"show"}, {"check"}, {"fix"}, {"restore"}}) {
        std::vector<std::string> arguments = command;
        arguments.push_back("--help");
        const std::string help = Help(arguments);
        SCOPED_TRACE(help);
        // CLI11's own English words and its placeholders in capitals.
        for (const char* english : {"Usage", "Options", "OPTIONS", "Positionals", "Excludes", "Needs", "REQUIRED",
                                    "Option Group", "SUBCOMMAND", "Subcommands", "TEXT", "TABLE", "PATH", "DIR",
                                    "BACKUP", "YYYY", "FILE"}) {
            EXPECT_EQ(help.find(english), std::string::npos) << english;
        }
        std::istringstream lines(help);
        std::size_t entries = 0;
        bool descriptionBelow = false;  // the last entry's name filled its column
        for (std::string line; std::getline(lines, line);) {
            const bool continuation = line.rfind(std::string(kColumn, ' '), 0) == 0;
            EXPECT_TRUE(continuation || !descriptionBelow) << "no description under: " << line;
            descriptionBelow = false;
            if (continuation) {
                EXPECT_NE(line[kColumn], ' ') << line;
                continue;
            }
            if (line.rfind("  ", 0) != 0 || line[2] == ' ') continue;
            ++entries;
            // The description starts at the column after a blank, or on the
            // next line when the name fills the column.
            std::size_t at = 0;
            std::size_t seen = 0;
            while (at < line.size() && seen < kColumn) {
                if ((static_cast<unsigned char>(line[at]) & 0xC0U) != 0x80U) ++seen;
                ++at;
            }
            if (columns(line) > kColumn && line[at - 1] == ' ' && line[at] != ' ') continue;
            descriptionBelow = true;
        }
        EXPECT_GE(entries, 3U);
    }
}
