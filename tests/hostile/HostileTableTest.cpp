// SPDX-License-Identifier: MIT
// Broken and awkward tables, every choice and every injected file fault, all
// judged by the one invariant checker: exact messages, exact bytes, nothing
// beyond the descriptors in use touched, nothing left open, idempotent.
#include "Invariants.h"

#include <gtest/gtest.h>

#include <random>

using namespace hostile;

namespace {

TTableLayout People(std::uint32_t records = 5)
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 10, 0, 0, 0x11}, {"AGE", 'N', 3, 0, 0, 0}, {"BORN", 'D', 8, 0, 0, 0},
                   {"OK", 'L', 1, 0, 0, 0}};
    layout.recordCount = records;
    return layout;
}

struct THostileTable {
    std::string label;
    TBytes image;
};

TBytes WithLE16(TBytes image, std::size_t at, std::uint16_t v)
{
    image[at] = static_cast<std::uint8_t>(v);
    image[at + 1] = static_cast<std::uint8_t>(v >> 8);
    return image;
}

TBytes WithLE32(TBytes image, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return image;
}

TBytes Cut(TBytes image, std::size_t size)
{
    image.resize(size);
    return image;
}

// The tables a damaged world hands the tool.
std::vector<THostileTable> HostileTables()
{
    std::vector<THostileTable> tables;
    const auto add = [&](const std::string& label, TBytes image) { tables.push_back({label, std::move(image)}); };
    const TBytes people = People().Build();

    add("a sound table", people);
    add("no records", People(0).Build());
    add("an empty file", {});
    add("one byte", Cut(people, 1));
    add("twenty bytes", Cut(people, 20));
    add("31 bytes", Cut(people, 31));
    add("the header alone", Cut(people, 32));
    add("ends inside the descriptors", Cut(people, 32 + 32 + 7));
    add("ends before the first record", Cut(people, 32 + 4 * 32 + 1));
    add("ends inside the first record", Cut(people, 32 + 4 * 32 + 1 + 5));
    for (const std::uint16_t headerLength : {0, 1, 31, 32, 33, 63, 64, 97, 3264, 3265, 3296, 40000, 65535}) {
        add("HeaderLength " + std::to_string(headerLength), WithLE16(people, 8, headerLength));
    }
    for (const std::uint16_t recordLength : {0, 1, 23, 3999, 4000, 4001, 65535}) {
        add("RecordLength " + std::to_string(recordLength), WithLE16(people, 10, recordLength));
    }
    for (const std::uint32_t recordCount : {0U, 1U, 6U, 0x7FFFFFFFU, 0x80000000U, 0xFFFFFFFFU}) {
        add("RecordCount " + std::to_string(recordCount), WithLE32(people, 4, recordCount));
    }
    {
        TTableLayout layout = People();
        layout.fields.insert(layout.fields.begin() + 1, TFieldLayout{"", 'C', 0});
        layout.fields.push_back({"EMPTYWIDTH", 'C', 0});
        add("empty descriptors among the fields", layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.fields = {{"  AB\0xyz", 'c', 2, 2}, {std::string(11, ' '), 'd', 8, 3}, {"\xC8NAME", 'l', 1, 1},
                       {"CITY", 'n', 20, 2}, {"NOZEROBYTES", 'C', 5, 9}, {"\t\r\x01X\x1F", '?', 3, 7},
                       {"\x0DNOTFIRST", 'C', 1}};
        add("names, types and decimals to correct", layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.tail = TBytes(263, 0);
        add("a 263-byte tail of zeros", layout.Build());
        layout.tail.assign(200, 'T');
        add("a text tail", layout.Build());
        layout.tail = {'T', 'A', 'I', 'L', 0, 0, 0, 0, 0, 0, 0, 'C', 1, 2, 3, 4, 9, 0};
        layout.tail.resize(80, 'x');
        add("a tail that reads like descriptors", layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.fields.clear();
        for (int i = 0; i < 255; ++i) {
            layout.fields.push_back({"F" + std::to_string(i), i % 3 ? 'c' : 'I', 1, 1, 0, 0x5A});
            if (i == 100 || i == 101 || i == 144 || i == 254) {
                add(std::to_string(i + 1) + " descriptors", layout.Build());
            }
        }
    }
    add("Harbour autoincrement fields", HarbourAutoIncrementTable().Build());
    add("Visual FoxPro under a dBase III version byte", VisualFoxProUnderDBase3Table().Build());
    for (const auto& table : DBase7Tables()) add("dBase 7 (version " + std::to_string(table[0]) + ")", table);
    for (const std::uint8_t version : {0x04, 0x8C, 0x44}) {
        TTableLayout layout = People();
        layout.version = version;
        add("a dBase III layout under dBase 7 version " + std::to_string(version), layout.Build());
    }
    {
        TTableLayout layout = People();
        layout.fields[0] = {"LONG", 'C', 300 & 0xFF, 300 >> 8};
        layout.recordLength = 1 + 300 + 3 + 8 + 1;
        add("a Clipper long character field", layout.Build());
        layout.fields[0].type = 'c';
        add("a Clipper long character field typed c", layout.Build());
        layout.recordLength = 1 + 44 + 3 + 8 + 1 + 1;
        add("decimals on C that add up to nothing", layout.Build());
    }
    for (const std::uint8_t version : {0x30, 0x31, 0x32, 0x83, 0xF5, 0x8B, 0x00, 0xFF}) {
        TTableLayout layout = People();
        layout.version = version;
        layout.tail = TBytes(263, 0);
        add("version byte " + std::to_string(version), layout.Build());
    }
    // Found by the fuzz target: a long character field, and a field whose name
    // is one blank byte, emptied by the first correction.
    add("fuzz finding: Clipper layout and a blank name",
        {0x03, 0x7c, 0x01, 0x0f, 0x01, 0x00, 0x00, 0x00, 0x61, 0x00, 0x19, 0x02, 0xab, 0xab, 0xab, 0xab, 0xab,
         0xab, 0xab, 0xab, 0xab, 0xab, 0xab, 0xab, 0x01, 0xab, 0xa9, 0xab, 0x65, 0xab, 0xab, 0xab, 0x4c, 0x4f,
         0x4e, 0x47, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x00, 0x00, 0x10, 0x02, 0x00,
         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x60, 0x80,
         0x00, 0x03, 0x7f, 0xa0, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x20, 0x08, 0x01, 0x00, 0x00, 0x76,
         0x76, 0x76, 0xfa, 0x76, 0x76, 0xab, 0xab, 0x76, 0x76, 0x76, 0x76, 0x76});
    add("all 0xFF", TBytes(400, 0xFF));
    add("all zero", TBytes(400, 0));
    add("all 13", TBytes(400, 13));
    add("all spaces", TBytes(400, ' '));
    return tables;
}

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
    return {{0, TFileFault::None, false}, {1, TFileFault::None, false}, {2, TFileFault::None, false},
            {-1, TFileFault::Fail, false}, {-1, TFileFault::Short, false}, {-1, TFileFault::None, true},
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
