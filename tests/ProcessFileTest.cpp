// SPDX-License-Identifier: MIT
// The header correction from end to end, on real table files.
#include "ExclusiveFile.h"
#include "ProcessFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>

using namespace std::chrono;

namespace {

const std::string kDone = "Готово! Кодовая страница ";

struct TChoices {
    int offsetMode = omLeave;
    int codePage = cpLeave;
    bool removeIndex = false;
    bool insertDate = false;
    year_month_day date{year{2024}, month{3}, day{5}};
};

// The descriptor at index i of a file image.
const std::uint8_t* Descriptor(const TBytes& file, std::size_t i)
{
    return file.data() + 32 + 32 * i;
}

std::uint32_t Displacement(const TBytes& file, std::size_t i)
{
    const auto* d = Descriptor(file, i);
    return d[12] | (d[13] << 8) | (d[14] << 16) | (static_cast<std::uint32_t>(d[15]) << 24);
}

class ProcessFileTest : public ::testing::Test {
protected:
    std::string Make(const TBytes& bytes, const std::string& name = "t.dbf")
    {
        const auto path = dir.File(name);
        WriteAll(path, bytes);
        return path;
    }
    std::vector<std::string> Correct(const std::string& path, const TChoices& c = {})
    {
        recorder.messages.clear();
        ProcessFile(path, c.offsetMode, c.codePage, c.removeIndex, c.insertDate, c.date);
        return recorder.messages;
    }
    // Corrects a table built from layout and returns the file afterwards.
    TBytes CorrectTable(const TTableLayout& layout, const TChoices& c = {})
    {
        const auto path = Make(layout.Build());
        Correct(path, c);
        return ReadAll(path);
    }
    // Expects the file's bytes from `from` on to be as they were.
    static void ExpectUnchangedFrom(const TBytes& before, const TBytes& after, std::size_t from)
    {
        ASSERT_EQ(before.size(), after.size());
        EXPECT_TRUE(std::equal(before.begin() + static_cast<std::ptrdiff_t>(from), before.end(),
                               after.begin() + static_cast<std::ptrdiff_t>(from)));
    }
    TScratchDir dir;
    TMessageRecorder recorder;
};

TTableLayout Messy()
{
    TTableLayout layout;
    layout.fields = {{" name", 'c', 10, 2, 77, 0xEE}, {"BORN  ", 'd', 8, 1, 88, 0xEE}, {"ok", 'l', 1, 3, 99, 0xEE}};
    layout.recordCount = 4;
    return layout;
}

}  // namespace

TEST_F(ProcessFileTest, CorrectsEveryHeaderByteAndNothingElse)
{
    const auto layout = Messy();
    const auto before = layout.Build();
    const auto path = Make(before);
    TChoices c;
    c.offsetMode = omSet;
    c.codePage = cpDos866;
    c.removeIndex = true;
    c.insertDate = true;
    EXPECT_EQ(Correct(path, c), std::vector<std::string>{kDone + "101 -> 38"});
    const auto after = ReadAll(path);

    TBytes header(before.begin(), before.begin() + 32);
    header[1] = 124;
    header[2] = 3;
    header[3] = 5;
    std::fill(header.begin() + 12, header.begin() + 28, 0);
    header[28] = 0;
    header[29] = 38;
    header[30] = header[31] = 0;
    EXPECT_EQ(TBytes(after.begin(), after.begin() + 32), header);

    const struct { const char* name; char type; std::uint8_t decimals; std::uint32_t displacement; } fields[] = {
        {"name", 'C', 0, 1}, {"BORN", 'D', 0, 11}, {"ok", 'L', 0, 19}};
    for (std::size_t i = 0; i < 3; ++i) {
        TBytes expected(32, 0);
        std::copy_n(fields[i].name, std::char_traits<char>::length(fields[i].name), expected.begin());
        expected[11] = static_cast<std::uint8_t>(fields[i].type);
        for (int b = 0; b < 4; ++b) expected[12 + b] = static_cast<std::uint8_t>(fields[i].displacement >> (8 * b));
        expected[16] = layout.fields[i].length;
        expected[17] = fields[i].decimals;
        EXPECT_EQ(TBytes(Descriptor(after, i), Descriptor(after, i) + 32), expected) << "field " << i;
    }
    // The terminator, the records and the end-of-file mark stay as they were.
    ExpectUnchangedFrom(before, after, 32 + 3 * 32);
}

TEST_F(ProcessFileTest, OffsetModes)
{
    TTableLayout layout;
    layout.fields = {{"A", 'C', 10, 0, 77}, {"B", 'D', 8, 0, 88}, {"C", 'L', 1, 0, 99}};
    const struct { int mode; std::uint32_t expected[3]; } cases[] = {
        {omSet, {1, 11, 19}}, {omClear, {0, 0, 0}}, {omLeave, {77, 88, 99}}, {7, {77, 88, 99}}, {-1, {77, 88, 99}},
    };
    for (const auto& c : cases) {
        TChoices choices;
        choices.offsetMode = c.mode;
        const auto after = CorrectTable(layout, choices);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(Displacement(after, i), c.expected[i]) << c.mode << " " << i;
    }
}

TEST_F(ProcessFileTest, TypesAreUpperCasedAndDecimalsClearedOnlyForCharacterDateLogical)
{
    const struct { char type; std::uint8_t decimals; char newType; std::uint8_t newDecimals; } cases[] = {
        {'c', 2, 'C', 0}, {'n', 2, 'N', 2}, {'l', 1, 'L', 0}, {'d', 4, 'D', 0}, {'C', 5, 'C', 0},
        {'f', 3, 'F', 3}, {'N', 2, 'N', 2}, {'m', 0, 'M', 0}, {'@', 1, '@', 1}, {'\xE3', 2, '\xE3', 2},
    };
    for (const auto& c : cases) {
        TTableLayout layout;
        layout.fields = {{"F", c.type, 10, c.decimals}};
        layout.recordLength = 11 + 256;  // not a long-character layout
        const auto after = CorrectTable(layout);
        EXPECT_EQ(Descriptor(after, 0)[11], static_cast<std::uint8_t>(c.newType)) << c.type;
        EXPECT_EQ(Descriptor(after, 0)[17], c.newDecimals) << c.type;
    }
}

TEST_F(ProcessFileTest, FieldNamesAreTrimmedAndPaddedWithZeros)
{
    using Name = std::array<std::uint8_t, 11>;
    const struct { const char* what; Name stored; Name expected; } cases[] = {
        {"spaces before, junk after the end", {' ', ' ', 'A', 'B', 0, 'x', 'y', 'z', 1, 2, 3},
         {'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"eleven spaces", {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, {}},
        {"high first byte", {200, 'A', 0}, {200, 'A', 0}},
        {"plain", {'C', 'I', 'T', 'Y', 0}, {'C', 'I', 'T', 'Y', 0}},
        {"control bytes at both ends", {'\t', 'N', ' ', 'M', '\r', 31, 0}, {'N', ' ', 'M', 0}},
        {"eleven letters, no end", {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K'},
         {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K'}},
        {"trailing high byte kept", {' ', 'X', 255, ' ', 0}, {'X', 255, 0}},
    };
    for (const auto& c : cases) {
        TTableLayout layout;
        layout.fields = {{"F", 'C', 4}};
        auto bytes = layout.Build();
        std::copy(c.stored.begin(), c.stored.end(), bytes.begin() + 32);
        const auto path = Make(bytes);
        Correct(path);
        const auto after = ReadAll(path);
        EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), Descriptor(after, 0))) << c.what;
    }
}

TEST_F(ProcessFileTest, LastUpdateDate)
{
    const struct { year_month_day date; std::uint8_t bytes[3]; } cases[] = {
        {{year{2024}, month{3}, day{5}}, {124, 3, 5}},
        {{year{1999}, month{12}, day{31}}, {99, 12, 31}},
        {{year{2156}, month{1}, day{1}}, {0, 1, 1}},
    };
    for (const auto& c : cases) {
        TChoices choices;
        choices.insertDate = true;
        choices.date = c.date;
        const auto after = CorrectTable(Messy(), choices);
        EXPECT_EQ(TBytes(after.begin() + 1, after.begin() + 4), TBytes(c.bytes, c.bytes + 3));
    }
    TChoices keep;
    keep.date = {year{2030}, month{1}, day{1}};
    const auto layout = Messy();
    const auto after = CorrectTable(layout, keep);
    EXPECT_EQ(TBytes(after.begin() + 1, after.begin() + 4), TBytes(layout.lastUpdate, layout.lastUpdate + 3));
}

TEST_F(ProcessFileTest, IndexFlagClearedOnlyOnRequest)
{
    TTableLayout layout = Messy();
    layout.mdxFlag = 1;
    TChoices keep;
    EXPECT_EQ(CorrectTable(layout, keep)[28], 1);
    TChoices clear;
    clear.removeIndex = true;
    EXPECT_EQ(CorrectTable(layout, clear)[28], 0);
}

TEST_F(ProcessFileTest, CodePageAndSummaryForEveryChoice)
{
    const struct { int choice; std::uint8_t oldByte; std::uint8_t newByte; std::string summary; } cases[] = {
        {cpZero, 0, 0, kDone + "0 - не изменилась"},
        {cpZero, 87, 0, kDone + "87 -> 0"},
        {cpDos866, 38, 38, kDone + "38 - не изменилась"},
        {cpDos866, 101, 38, kDone + "101 -> 38"},
        {cpWin1251, 0, 87, kDone + "0 -> 87"},
        {cpWin1251, 87, 87, kDone + "87 - не изменилась"},
        {cpLeave, 101, 101, kDone + "101"},
        {-1, 255, 255, kDone + "255"},
        {42, 38, 38, kDone + "38"},
    };
    for (const auto& c : cases) {
        TTableLayout layout = Messy();
        layout.languageDriver = c.oldByte;
        const auto path = Make(layout.Build());
        TChoices choices;
        choices.codePage = c.choice;
        EXPECT_EQ(Correct(path, choices), std::vector<std::string>{c.summary});
        EXPECT_EQ(ReadAll(path)[29], c.newByte) << c.summary;
    }
}

TEST_F(ProcessFileTest, OnlyTheHeaderAndTheDescriptorsInUseAreWritten)
{
    TTableLayout noFields;
    noFields.tail = TBytes(40, 0x5A);
    TTableLayout zeroTail = Messy();
    zeroTail.tail = TBytes(263, 0);
    TTableLayout textTail = Messy();
    textTail.tail = TBytes(263, 'T');
    TTableLayout emptyInside = Messy();
    emptyInside.fields.push_back({"", 'C', 0});
    const struct { const char* what; TTableLayout layout; std::size_t written; } cases[] = {
        {"no fields", noFields, 32},
        {"zero tail", zeroTail, 32 + 3 * 32},
        {"text tail", textTail, 32 + 3 * 32},
        {"empty descriptor last", emptyInside, 32 + 3 * 32},
    };
    for (const auto& c : cases) {
        const auto before = c.layout.Build();
        const auto path = Make(before);
        TChoices all;
        all.offsetMode = omSet;
        all.codePage = cpZero;
        all.removeIndex = true;
        all.insertDate = true;
        ASSERT_EQ(Correct(path, all).size(), 1U) << c.what;
        const auto after = ReadAll(path);
        ExpectUnchangedFrom(before, after, c.written);
        EXPECT_NE(TBytes(before.begin(), before.begin() + 32), TBytes(after.begin(), after.begin() + 32)) << c.what;
    }
}

TEST_F(ProcessFileTest, RecordsAndLengthStayByteForByte)
{
    TTableLayout layout = Messy();
    layout.recordCount = 1000;
    const auto before = layout.Build();
    const auto path = Make(before);
    TChoices c;
    c.offsetMode = omClear;
    c.codePage = cpWin1251;
    Correct(path, c);
    const auto after = ReadAll(path);
    ExpectUnchangedFrom(before, after, 32 + 3 * 32);
    // A second correction with the same choices writes the same bytes.
    Correct(path, c);
    EXPECT_EQ(ReadAll(path), after);
}

TEST_F(ProcessFileTest, FailuresBeforeTheWriteLeaveTheFileAlone)
{
    const auto full = Messy().Build();
    std::filesystem::create_directory(dir.Path() / "folder.dbf");
    const struct { const char* what; std::string name; TBytes bytes; std::vector<std::string> messages; } cases[] = {
        {"wrong extension", "x.txt", full, {kBadTypeMsg, kNotFoundMsg}},
        {"20 bytes", "short.dbf", TBytes(full.begin(), full.begin() + 20), {kReadHeaderMsg}},
        {"ends inside the descriptors", "cut.dbf", TBytes(full.begin(), full.begin() + 90),
         {kReadHeaderMsg, kReadRecordMsg}},
    };
    for (const auto& c : cases) {
        const auto path = Make(c.bytes, c.name);
        EXPECT_EQ(Correct(path), c.messages) << c.what;
        EXPECT_EQ(ReadAll(path), c.bytes) << c.what;
    }
    EXPECT_EQ(Correct(" "), (std::vector<std::string>{kBadTypeMsg, kNotFoundMsg}));
    EXPECT_EQ(Correct(dir.File("folder.dbf")), std::vector<std::string>{kNotFoundMsg + dir.File("folder.dbf")});
    EXPECT_EQ(Correct(dir.File("none.dbf")), std::vector<std::string>{kNotFoundMsg + dir.File("none.dbf")});
}

TEST_F(ProcessFileTest, AMissingFirstRecordDoesNotStopTheCorrection)
{
    TTableLayout layout = Messy();
    layout.actualRecords = 0;
    const auto path = Make(layout.Build());
    TChoices c;
    c.codePage = cpZero;
    EXPECT_EQ(Correct(path, c), (std::vector<std::string>{kReadRecordMsg, kDone + "101 -> 0"}));
    EXPECT_EQ(ReadAll(path)[29], 0);
}

TEST_F(ProcessFileTest, AFileHeldByAnotherProgramIsLeftAlone)
{
    const auto before = Messy().Build();
    const auto path = Make(before, "held.dbf");
    const THoldMode modes[] = {THoldMode::Read, THoldMode::Write, THoldMode::Map, THoldMode::Flock,
                               THoldMode::OfdLock};
    for (const auto mode : modes) {
        THoldingProcess other(path, mode);
        ASSERT_TRUE(other.Holding()) << static_cast<int>(mode);
        EXPECT_EQ(Correct(path), std::vector<std::string>{InUseMessage("held.dbf")}) << static_cast<int>(mode);
    }
    EXPECT_EQ(ReadAll(path), before);
}

TEST_F(ProcessFileTest, LongCharacterFieldsKeepTheirHighWidthByte)
{
    // A 300-byte character field stored as width 44 with 1 in the decimal count.
    TTableLayout clipper;
    clipper.fields = {{"NOTE", 'c', 44, 1, 0}, {"BORN", 'D', 8, 0, 0}, {"QTY", 'N', 5, 2, 0}};
    clipper.recordLength = 1 + 300 + 8 + 5;
    clipper.recordCount = 2;
    TChoices set;
    set.offsetMode = omSet;
    auto after = CorrectTable(clipper, set);
    EXPECT_EQ(Descriptor(after, 0)[11], 'C');
    EXPECT_EQ(Descriptor(after, 0)[17], 1);
    EXPECT_EQ(Displacement(after, 0), 1U);
    EXPECT_EQ(Displacement(after, 1), 301U);
    EXPECT_EQ(Displacement(after, 2), 309U);
    EXPECT_EQ(Descriptor(after, 2)[17], 2);

    // When the record length fits neither layout, the decimals are cleared.
    clipper.recordLength = 1 + 300 + 8 + 5 + 1;
    after = CorrectTable(clipper, set);
    EXPECT_EQ(Descriptor(after, 0)[17], 0);
    EXPECT_EQ(Displacement(after, 1), 45U);
}

TEST_F(ProcessFileTest, VisualFoxProTablesAreRefused)
{
    for (const std::uint8_t version : {0x30, 0x31, 0x32}) {
        TTableLayout layout = Messy();
        layout.version = version;
        const auto before = layout.Build();
        const auto path = Make(before);
        EXPECT_EQ(Correct(path), std::vector<std::string>{kFoxProMsg});
        EXPECT_EQ(ReadAll(path), before);
    }
    TTableLayout foxBase = Messy();
    foxBase.version = 0x83;  // dBase III with memo: corrected as usual
    EXPECT_EQ(Correct(Make(foxBase.Build())).size(), 1U);
}

TEST_F(ProcessFileTest, TablesNotLaidOutAsDBase3AreRefusedUnchanged)
{
    const struct { std::string what; TBytes table; std::string message; } cases[] = {
        {"dBase 7, long names and field properties", DBase7Tables()[0], kDBase7Msg},
        {"dBase 7 with memo and autoincrement", DBase7Tables()[1], kDBase7Msg},
        {"Visual FoxPro under version 0x03", VisualFoxProUnderDBase3Table().Build(), kFoxProMsg},
        {"dBase II", BuildDBase2Table({{"NAME", 'C', 20}, {"SUM", 'N', 8, 2}}, 3), kDBase2Msg},
        // Its bytes 8..9 ("\x0D\x00") would read as a header length of 13.
        {"dBase II without fields", BuildDBase2Table({}, 0), kDBase2Msg},
        // A header length of 0x4141 announces 521 bytes of chunks the file holds.
        {"dBase II whose first name reads as a long header", BuildDBase2Table({{"AAAAAAAAAAA", 'C', 200}}, 40), kDBase2Msg},
    };
    for (const auto& c : cases) {
        const auto path = Make(c.table);
        TChoices every{omSet, cpWin1251, true, true};
        EXPECT_EQ(Correct(path, every), std::vector<std::string>{c.message}) << c.what;
        EXPECT_EQ(ReadAll(path), c.table) << c.what;
    }
}

TEST_F(ProcessFileTest, ReservedBytesOfLaterProgramsTypesAreKept)
{
    const TTableLayout harbour = HarbourAutoIncrementTable();
    const auto before = harbour.Build();
    TChoices set;
    set.offsetMode = omSet;
    const auto after = CorrectTable(harbour, set);
    for (std::size_t i = 0; i < harbour.fields.size(); ++i) {
        const bool kept = harbour.fields[i].type == '+' || harbour.fields[i].type == 'I';
        const auto* was = Descriptor(before, i);
        const auto* now = Descriptor(after, i);
        EXPECT_EQ(std::equal(was + 18, was + 32, now + 18), kept) << "field " << i;
        if (!kept) {
            EXPECT_TRUE(std::all_of(now + 18, now + 32, [](std::uint8_t b) { return b == 0; })) << i;
        }
        EXPECT_EQ(Displacement(after, i), harbour.fields[i].displacement) << i;
    }
    // The counter of the autoincrement field goes on from where it was.
    EXPECT_EQ(Descriptor(after, 0)[19] | (Descriptor(after, 0)[20] << 8), 298);
    // Everything else is corrected as usual.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Descriptor(after, 1)), 5), std::string("NAME\0", 5));
    EXPECT_EQ(Descriptor(after, 3)[11], 'N');
}

// Where no lease keeps them out, a program that takes no lock may write the
// table between the read and the write. Whatever it changed of what was read
// (a header byte, a descriptor chunk in use or not, the file's length), or a
// header that cannot be read again, calls the write off as for a lost hold:
// the other program's bytes stay, and no summary follows. Changed here
// through the held file itself, so that it happens alike on every platform.
TEST_F(ProcessFileTest, ATableChangedBeforeTheWriteIsLeftAsTheOtherProgramLeftIt)
{
    TTableLayout layout = Messy();
    layout.fields.push_back({"", 'C', 0});  // a chunk read, never written: not in use
    const TBytes original = layout.Build();
    const std::size_t end = original.size();
    const struct {
        const char* what;
        std::size_t at;
        TBytes bytes;
        bool failReread;
        bool written;
    } cases[] = {
        {"nothing changed", 0, {}, false, true},
        {"the record count", 4, {5, 0, 0, 0}, false, false},
        {"a descriptor in use", 32 + 11, {'N'}, false, false},
        {"a chunk read but not in use", 32 + 32 * 3, {'X'}, false, false},
        {"one more record", end, TBytes(Messy().ComputedRecordLength(), ' '), false, false},
        {"the header cannot be read again", 0, {}, true, false},
    };
    for (const auto& c : cases) {
        const auto path = Make(original, "changed.dbf");
        TDBF* held = nullptr;
        TCorrectionOptions options;
        options.AdjustChoices = [&](TDBF& table, TCorrectionChoices&) { held = &table; };
        options.BeforeWrite = [&](std::span<const TByte>, std::span<const TByte>) {
            return held != nullptr && held->Stream().WriteAt(c.at, c.bytes);
        };
        // Reads: the header, the descriptors, the first record, the header again.
        int reads = 0;
        auto previous = SetFileFaultHook([&](TFileOp op, std::uint64_t, std::size_t) {
            return op == TFileOp::Read && reads++ == 3 && c.failReread ? TFileFault::Fail : TFileFault::None;
        });
        recorder.messages.clear();
        const auto outcome = ::CorrectTable(path, {omSet, cpZero, true, false, {}}, options);
        SetFileFaultHook(std::move(previous));
        EXPECT_EQ(reads, 4) << c.what;

        TBytes expected = original;
        if (c.at + c.bytes.size() > expected.size()) expected.resize(c.at + c.bytes.size());
        std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(c.at));
        if (c.written) {
            EXPECT_EQ(outcome.Result, TCorrectionResult::Written) << c.what;
            EXPECT_TRUE(recorder.messages.empty()) << c.what;
            EXPECT_NE(ReadAll(path), expected) << c.what;
        } else {
            EXPECT_EQ(outcome.Result, TCorrectionResult::NotCorrected) << c.what;
            EXPECT_EQ(recorder.messages, std::vector<std::string>{InUseMessage("changed.dbf")}) << c.what;
            EXPECT_EQ(ReadAll(path), expected) << c.what;
        }
        // Closed either way: it can be had exclusively again.
        EXPECT_TRUE(TExclusiveFile().Open(path)) << c.what;
    }
}

TEST_F(ProcessFileTest, AFailedWriteRaisesAndShowsNoSummary)
{
    const struct { const char* what; TFileOp op; TFileFault fault; } cases[] = {
        {"write fails", TFileOp::Write, TFileFault::Fail},
        {"short write", TFileOp::Write, TFileFault::Short},
        {"flush fails", TFileOp::Flush, TFileFault::Fail},
    };
    for (const auto& c : cases) {
        const auto path = Make(Messy().Build());
        auto previous = SetFileFaultHook([&](TFileOp op, std::uint64_t, std::size_t) {
            return op == c.op ? c.fault : TFileFault::None;
        });
        recorder.messages.clear();
        try {
            ProcessFile(path, omSet, cpZero, true, false, {});
            ADD_FAILURE() << c.what << ": no failure raised";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Stream write error") << c.what;
        }
        SetFileFaultHook(std::move(previous));
        EXPECT_TRUE(recorder.messages.empty()) << c.what;
        // The file was closed: it can be had exclusively again.
        TExclusiveFile again;
        EXPECT_TRUE(again.Open(path)) << c.what;
    }
}
