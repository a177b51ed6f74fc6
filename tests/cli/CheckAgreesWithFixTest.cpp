// SPDX-License-Identifier: MIT
// check must foretell exactly what fix does, on every table the invariant
// checker knows and every choice the command line can express; and both must
// do what the independent model of the correction says.
#include "CliTestSupport.h"
#include "HostileTables.h"
#include "Invariants.h"
#include "TableReport.h"

#include <gtest/gtest.h>

using namespace hostile;

namespace {

struct TCliChoices {
    TChoices model;
    std::vector<std::string> options;
};

// Every offset mode with every code page; the index flag and the date take
// each of their four combinations in turn, table after table (each write is
// flushed to the disk, so the whole cross product would be slow).
std::vector<TCliChoices> CliChoices(std::size_t turn)
{
    std::vector<TCliChoices> all;
    const std::pair<int, const char*> offsets[] = {{omClear, "clear"}, {omSet, "set"}, {omLeave, "keep"}};
    const std::pair<int, const char*> codePages[] = {{cpZero, "0"}, {cpDos866, "38"}, {cpWin1251, "87"}, {cpLeave, "keep"}};
    for (const auto& [offsetMode, offsetText] : offsets) {
        for (const auto& [codePage, codePageText] : codePages) {
            ++turn;
            const bool keepIndex = turn % 2 == 0;
            const bool insertDate = turn / 2 % 2 == 0;
            TCliChoices c;
            c.model = {offsetMode, codePage, !keepIndex, insertDate};
            c.options = {std::string("--offsets=") + offsetText, std::string("--codepage=") + codePageText};
            if (keepIndex) c.options.push_back("--keep-index-flag");
            if (insertDate) c.options.push_back("--date=2024-03-05");
            all.push_back(c);
        }
    }
    return all;
}

std::vector<std::string> Command(const char* name, const TCliChoices& c, const std::string& path)
{
    std::vector<std::string> arguments{name};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(path);
    return arguments;
}

}  // namespace

TEST(CheckAndFix, AgreeOnEveryHostileTableAndChoice)
{
    TScratchDir dir;
    const std::string path = dir.File("hostile.dbf");
    int compared = 0;
    std::size_t turn = 0;
    for (const auto& table : HostileTables()) {
        for (const auto& c : CliChoices(turn++)) {
            const std::string label = table.label + " (" + Describe(c.model) + ")";
            WriteAll(path, table.image);
            const TExpected expected = ExpectCommandLine(table.image, path, c.model);
            const TCliRun check = RunDbfFix(Command("check", c, path));
            const TTableReport report = ReadTable(path, TCorrectionChoices{c.model.offsetMode, c.model.codePageChoice,
                                                                           c.model.removeIndexFlag, c.model.insertDate,
                                                                           c.model.date});
            ASSERT_EQ(ReadAll(path), table.image) << label << ": check wrote";
            const TCliRun fix = RunDbfFix(Command("fix", c, path));
            const TBytes after = ReadAll(path);

            // What the table and the correction tell, but the window's summary.
            std::vector<std::string> told = expected.messages;
            if (expected.attemptsWrite) told.pop_back();
            EXPECT_EQ(report.Messages, told) << label;
            switch (check.status) {
            case esOk:
                EXPECT_EQ(fix.status, esOk) << label;
                EXPECT_EQ(after, table.image) << label << ": written though check found it right";
                EXPECT_EQ(expected.after, table.image) << label << ": the model would change it";
                EXPECT_NE(fix.out.find("уже в порядке"), std::string::npos) << label;
                break;
            case esWouldChange:
                EXPECT_EQ(fix.status, esOk) << label;
                EXPECT_EQ(after, expected.after) << label;
                ASSERT_GE(after.size(), report.After.size()) << label;
                EXPECT_TRUE(std::equal(report.After.begin(), report.After.end(), after.begin())) << label
                    << ": fix wrote other bytes than check foretold";
                EXPECT_FALSE(report.Changes.empty()) << label;
                break;
            default:
                EXPECT_EQ(check.status, esFailed) << label;
                EXPECT_EQ(fix.status, esFailed) << label;
                EXPECT_EQ(after, table.image) << label;
                EXPECT_FALSE(expected.attemptsWrite) << label << ": the model would correct it";
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 800);
}
