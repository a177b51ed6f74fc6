// SPDX-License-Identifier: MIT
// Broken and awkward tables, every choice and every injected file fault, all
// judged by the one invariant checker: exact messages, exact bytes, nothing
// beyond the descriptors in use touched, nothing left open, idempotent.
#include "HostileTables.h"
#include "Invariants.h"

#include <gtest/gtest.h>

#include <random>

using namespace hostile;

namespace {

// Choices that between them take every value of every input at least once,
// the values outside the radio groups included.
std::vector<TChoices> ChoiceMatrix()
{
    using namespace std::chrono;
    const year_month_day dates[] = {2024y / March / 5d, 1899y / December / 31d, 2156y / January / 1d,
                                    1900y / January / 1d};
    std::vector<TChoices> matrix;
    const int offsetModes[] = {omClear, omSet, omLeave, -1, 7};
    const int codePages[] = {cpZero, cpDos866, cpWin1251, cpLeave, -1, 9};
    for (int i = 0; i < 6; ++i) {
        matrix.push_back({offsetModes[i % 5], codePages[i], i % 2 == 0, i % 3 != 0, dates[i % 4]});
    }
    return matrix;
}

std::vector<TFaultPlan> FaultMatrix()
{
    // Reads 0 to 3: the last is the header read again before the write, on
    // tables with descriptors and records.
    return {{0, TFileFault::None, false}, {1, TFileFault::None, false}, {2, TFileFault::None, false},
            {3, TFileFault::None, false}, {-1, TFileFault::Fail, false}, {-1, TFileFault::Short, false}, {-1, TFileFault::None, true},
            {-1, TFileFault::Short, true}};
}

std::string Report(const std::string& label, const TChoices& choices, const TFaultPlan& faults,
                   const std::vector<std::string>& broken)
{
    return label + " (" + Describe(choices) + "; " + Describe(faults) + "):" + Lines(broken);
}

}  // namespace

TEST(HostileTables, EveryChoiceKeepsTheInvariants)
{
    TScratchDir dir;
    const std::string path = dir.File("hostile.dbf");
    int runs = 0;
    for (const auto& table : HostileTables()) {
        for (const auto& choices : ChoiceMatrix()) {
            WriteAll(path, table.image);
            const auto broken = CheckCorrection(path, choices);
            EXPECT_TRUE(broken.empty()) << Report(table.label, choices, {}, broken);
            ++runs;
        }
    }
    EXPECT_GT(runs, 300);
}

TEST(HostileTables, EveryFileFaultKeepsTheInvariants)
{
    TScratchDir dir;
    const std::string path = dir.File("faulty.dbf");
    const TChoices choices{omSet, cpWin1251, true, true};
    for (const auto& table : HostileTables()) {
        for (const auto& faults : FaultMatrix()) {
            WriteAll(path, table.image);
            const auto broken = CheckCorrection(path, choices, faults);
            EXPECT_TRUE(broken.empty()) << Report(table.label, choices, faults, broken);
        }
    }
}

// The checker must catch what it is there to catch: a table changed behind
// the correction's back, a wrong message, a missing write error.
TEST(HostileTables, TheCheckerNoticesBrokenInvariants)
{
    const TBytes before = People().Build();
    const TChoices choices{omSet, cpWin1251, true, false};
    const TExpected expected = Expect(before, "/x/t.dbf", choices);
    TRun good;
    good.messages = expected.messages;
    EXPECT_TRUE(Judge(before, expected.after, good, expected).empty());

    TBytes recordTouched = expected.after;
    recordTouched.back() ^= 1;
    EXPECT_FALSE(Judge(before, recordTouched, good, expected).empty());
    TBytes longer = expected.after;
    longer.push_back(0);
    EXPECT_FALSE(Judge(before, longer, good, expected).empty());
    EXPECT_FALSE(Judge(before, before, good, expected).empty()) << "nothing written";

    TRun wrongWords = good;
    wrongWords.messages.insert(wrongWords.messages.begin(), kReadRecordMsg);
    EXPECT_FALSE(Judge(before, expected.after, wrongWords, expected).empty());
    TRun leaked = good;
    leaked.descriptorsLeaked = 1;
    EXPECT_FALSE(Judge(before, expected.after, leaked, expected).empty());

    const TExpected failed = Expect(before, "/x/t.dbf", choices, {-1, TFileFault::Fail, false});
    EXPECT_FALSE(Judge(before, before, good, failed).empty()) << "a summary after a failed write";
    TRun quiet;
    EXPECT_FALSE(Judge(before, before, quiet, failed).empty()) << "no write error raised";
    quiet.raised = "Stream write error";
    quiet.raisedWriteError = true;
    EXPECT_TRUE(Judge(before, before, quiet, failed).empty());
}

// The model itself, against figures worked out by hand.
TEST(HostileTables, TheModelGivesTheWorkedExamples)
{
    TTableLayout layout;
    layout.fields = {{"  AB\0zz", 'c', 10, 2, 77}, {"B", 'n', 8, 2, 77}, {"C", 'l', 1, 4, 77}};
    layout.recordCount = 2;
    layout.languageDriver = 38;
    const TBytes file = layout.Build();
    const TExpected e = Expect(file, "t.DbF", {omSet, cpDos866, true, true});
    ASSERT_EQ(e.messages, std::vector<std::string>{"Готово! Кодовая страница 38 - не изменилась"});
    EXPECT_EQ(e.inUse, 3U);
    const TBytes name(e.after.begin() + 32, e.after.begin() + 43);
    EXPECT_EQ(name, (TBytes{'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(e.after[32 + 11], 'C');
    EXPECT_EQ(e.after[32 + 17], 0);
    EXPECT_EQ(e.after[64 + 17], 2);
    EXPECT_EQ(e.after[32 + 12], 1);
    EXPECT_EQ(e.after[64 + 12], 11);
    EXPECT_EQ(e.after[96 + 12], 19);
    EXPECT_EQ((TBytes{e.after[1], e.after[2], e.after[3]}), (TBytes{124, 3, 5}));
    EXPECT_EQ(Expect(Cut(file, 20), "t.dbf", {}).messages, std::vector<std::string>{kReadHeaderMsg});
    EXPECT_EQ(Expect(file, "x.txt", {}).messages, (std::vector<std::string>{kBadTypeMsg, kNotFoundMsg}));
}

// Thousands of tables broken at random, reproducibly, in the ordinary suite:
// the fuzz target's work in small, for every build (sanitizers included).
TEST(HostileTables, RandomlyBrokenTablesKeepTheInvariants)
{
    TScratchDir dir;
    const std::string path = dir.File("random.dbf");
    std::mt19937 random(20240305);
    const auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const auto tables = HostileTables();
    const auto choicesList = ChoiceMatrix();
    const auto faultsList = FaultMatrix();
    const int rounds = 1500;
    for (int round = 0; round < rounds; ++round) {
        TBytes image = tables[below(tables.size())].image;
        const std::size_t mutations = 1 + below(8);
        for (std::size_t k = 0; k < mutations && !image.empty(); ++k) {
            // Mostly the header and the descriptors, where the decisions are.
            const std::size_t span = std::min<std::size_t>(image.size(), below(4) == 0 ? image.size() : 200);
            switch (below(5)) {
            case 0: image[below(span)] = static_cast<std::uint8_t>(random()); break;
            case 1: image[below(span)] ^= static_cast<std::uint8_t>(1U << below(8)); break;
            case 2: image.resize(below(image.size() + 1)); break;
            case 3: image.insert(image.begin() + static_cast<std::ptrdiff_t>(below(span)), below(40), 13); break;
            default: {
                const std::uint8_t interesting[] = {0, 1, 13, 31, 32, 33, 0x30, 0x7F, 0x80, 0xFF, 'c', 'C', ' '};
                image[below(span)] = interesting[below(sizeof interesting)];
            }
            }
        }
        const TChoices& choices = choicesList[below(choicesList.size())];
        const TFaultPlan faults = below(3) == 0 ? faultsList[below(faultsList.size())] : TFaultPlan{};
        WriteAll(path, image);
        const auto broken = CheckCorrection(path, choices, faults);
        ASSERT_TRUE(broken.empty()) << Report("random table " + std::to_string(round), choices, faults, broken);
    }
}

// A long character field keeps the high byte of its width through any number
// of corrections, also when blank names among the fields are emptied by the
// first one and the descriptors in use are counted differently the next time.
TEST(HostileTables, LongCharacterFieldsSurviveRepeatedCorrections)
{
    TScratchDir dir;
    const std::string path = dir.File("clipper.dbf");
    const std::vector<std::vector<TFieldLayout>> layouts = {
        {{"LONG", 'C', 300 & 0xFF, 300 >> 8}, {"   ", 'N', 5, 2}, {"LAST", 'L', 1}},
        {{"FIRST", 'D', 8}, {"LONG", 'c', 600 & 0xFF, 600 >> 8}, {" ", 'D', 8}},
        {{"LONG", 'C', 300 & 0xFF, 300 >> 8}, {"", 'C', 4}, {"AFTER", 'N', 3}},
    };
    for (const auto& fields : layouts) {
        TTableLayout layout;
        layout.fields = fields;
        layout.recordCount = 2;
        unsigned width = 1;
        for (const auto& f : fields) width += f.length + ((f.type == 'C' || f.type == 'c') ? 256U * f.decimals : 0U);
        layout.recordLength = static_cast<std::uint16_t>(width);
        WriteAll(path, layout.Build());
        for (int round = 0; round < 3; ++round) {
            const auto broken = CheckCorrection(path, {omSet, cpLeave, true, false});
            EXPECT_TRUE(broken.empty()) << Report(fields[0].name + " round " + std::to_string(round), {}, {}, broken);
        }
        const TBytes after = ReadAll(path);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].type == 'C' || fields[i].type == 'c') {
                EXPECT_EQ(after[32 + 32 * i + 17], fields[i].decimals) << "the width's high byte of field " << i;
            }
        }
    }
}
