// SPDX-License-Identifier: MIT
// The counter on stderr: how often it is drawn, and that it is gone before the
// closing count.
#include "CliTestSupport.h"
#include "Progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>

namespace {

using namespace std::chrono_literals;

std::size_t CountOf(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

}  // namespace

// Tables finished at a steady pace, each with a line of its own printed after
// hiding the counter, as the commands do; a clock of the test's own.
TEST(Progress, RedrawnAtMostTenTimesASecond)
{
    struct TCase {
        const char* name;
        bool terminal;
        std::size_t tables;
        std::chrono::microseconds perTable;
        std::size_t maxRedraws;
        std::size_t minRedraws;
    };
    const TCase cases[] = {
        {"thousands in a second", true, 5000, 200us, 11, 10},
        {"slow tables, one draw each", true, 20, 150ms, 20, 20},
        {"not a terminal", false, 5000, 200us, 0, 0},
        {"a single table", true, 1, 1s, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream err;
        std::chrono::steady_clock::time_point now{};
        {
            TProgress progress(err, c.terminal, c.tables, [&] { return now; });
            for (std::size_t done = 1; done <= c.tables; ++done) {
                now += c.perTable;
                progress.Hide();
                progress.Done(done);
            }
            EXPECT_LE(progress.Redraws(), c.maxRedraws);
            EXPECT_GE(progress.Redraws(), c.minRedraws);
            progress.Hide();
        }
        const std::string text = err.str();
        // Each draw starts with a return, each hiding adds two: nothing else is written.
        EXPECT_LE(CountOf(text, "\r"), 3 * c.maxRedraws);
        if (c.maxRedraws == 0) {
            EXPECT_EQ(text, "");
        }
        // The last thing on the line is blanks and a return: the count comes after a clean line.
        if (!text.empty()) {
            EXPECT_EQ(text.back(), '\r');
            EXPECT_EQ(text.substr(text.rfind("\r", text.size() - 2)).find_first_not_of(" \r"), std::string::npos);
        }
    }
}

// The whole command with the counter asked for: at most one draw per tenth of
// a second the run took, and none left on the line; the total only where the
// tables are named, not found by a walk still under way.
TEST(Progress, CommandsKeepTheCounterOffTheirLines)
{
    const TScratchDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 300; ++i) {
        paths.push_back(dir.File("t" + std::to_string(i) + ".dbf"));
        WriteAll(paths.back(), WrongTable().Build());
    }
    for (const auto& [command, walk] : {std::pair("show", false), std::pair("check", false), std::pair("fix", false),
                                        std::pair("check", true), std::pair("fix", true)}) {
        SCOPED_TRACE(std::string(command) + (walk ? " -r" : ""));
        std::vector<std::string> arguments{command};
        if (walk) {
            arguments.insert(arguments.end(), {"-r", dir.Path().string()});
        } else {
            arguments.insert(arguments.end(), paths.begin(), paths.end());
        }
        std::ostringstream out;
        std::ostringstream err;
        const auto start = std::chrono::steady_clock::now();
        DbfFixMain(arguments, out, err, true);
        const auto tenths = (std::chrono::steady_clock::now() - start) / 100ms;
        const std::string text = err.str();
        EXPECT_LE(CountOf(text, "обработано"), static_cast<std::size_t>(tenths) + 1);
        EXPECT_GE(CountOf(text, "обработано"), 1U);
        EXPECT_EQ(CountOf(text, " из 300"), walk ? 0U : CountOf(text, "обработано"));
        EXPECT_EQ(out.str().find('\r'), std::string::npos);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\r');
    }
}
