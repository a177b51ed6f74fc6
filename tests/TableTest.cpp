// SPDX-License-Identifier: MIT
// The table object: naming, opening, reading the header, the descriptors and
// the first record, and the messages each failure gives.
#include "CreateDBF3.h"
#include "ExclusiveFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TTableLayout ThreeFields(std::uint32_t records = 5)
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
    layout.recordCount = records;
    return layout;
}

// Counts the reads the table issues.
class TReadCounter {
public:
    TReadCounter()
        : FPrevious(SetFileFaultHook([this](TFileOp op, std::uint64_t, std::size_t) {
              reads += op == TFileOp::Read ? 1 : 0;
              return TFileFault::None;
          }))
    {
    }
    ~TReadCounter() { SetFileFaultHook(std::move(FPrevious)); }
    int reads = 0;

private:
    TFileFaultHook FPrevious;
};

class TableTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const TBytes& bytes)
    {
        const auto path = dir.File(name);
        WriteAll(path, bytes);
        return path;
    }
    TScratchDir dir;
    TMessageRecorder recorder;
};

}  // namespace

TEST_F(TableTest, TableNameAcceptsOnlyTheDbfExtensionInAnyCase)
{
    for (const std::string name : {"C:\\data\\clients.dbf", "clients.DbF", "a.b\\c.dbf", "/tmp/x.DBF", ".dbf"}) {
        TDBF table;
        table.SetTableName(name);
        EXPECT_EQ(table.TableName(), name);
    }
    for (const std::string name :
         {"clients.db", "clients.dbf.bak", "C:\\x.dbf\\clients", "clients", "clients.dbfx", "dbf", ""}) {
        TDBF table;
        table.SetTableName("kept.dbf");
        recorder.messages.clear();
        table.SetTableName(name);
        EXPECT_EQ(table.TableName(), "kept.dbf") << name;
        EXPECT_EQ(recorder.messages, std::vector<std::string>{kBadTypeMsg}) << name;
    }
}

TEST_F(TableTest, TableNameCannotChangeWhileOpen)
{
    const auto path = Make("t.dbf", ThreeFields().Build());
    TDBF table;
    table.SetTableName(path);
    table.Open();
    ASSERT_TRUE(table.Active());
    table.SetTableName(dir.File("other.dbf"));
    EXPECT_EQ(table.TableName(), path);
    EXPECT_EQ(recorder.messages,
              std::vector<std::string>{"TableName: Это свойство нельзя изменять, если файл открыт"});
}

TEST_F(TableTest, OpenReadsHeaderDescriptorsAndFirstRecord)
{
    const auto layout = ThreeFields(5);
    const auto bytes = layout.Build();
    ASSERT_EQ(layout.ComputedHeaderLength(), 129);
    const auto path = Make("t.dbf", bytes);
    TDBF table;
    table.SetTableName(path);
    table.Open();
    EXPECT_TRUE(table.Active());
    EXPECT_TRUE(table.HeaderRead());
    EXPECT_EQ(table.FieldCount(), 3);
    EXPECT_EQ(table.RecordCount(), 5);
    EXPECT_EQ(table.RecNo(), 1);
    const std::size_t recordLength = layout.ComputedRecordLength();
    EXPECT_TRUE(std::equal(bytes.begin() + 129, bytes.begin() + 129 + static_cast<std::ptrdiff_t>(recordLength),
                           table.RecordBuffer().begin()));
    // The images are the file's bytes: header and descriptors as one run.
    const auto image = table.HeaderImage();
    ASSERT_EQ(image.size(), 32U + 3 * 32);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), bytes.begin()));
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(TableTest, NoRecordsMeansNoRecordRead)
{
    const auto path = Make("t.dbf", ThreeFields(0).Build());
    TReadCounter counter;
    TDBF table;
    table.SetTableName(path);
    table.Open();
    EXPECT_TRUE(table.HeaderRead());
    EXPECT_EQ(table.RecNo(), 0);
    EXPECT_EQ(counter.reads, 2);  // the header and the descriptors
    EXPECT_TRUE(recorder.messages.empty());
}

// StillAsRead reads again exactly what ReadHeader read in full (the header,
// and every chunk the header length names, tail and all) and finds it the
// same while nothing changed, whatever the header was; each byte of that run
// counts, and nothing else is read.
TEST_F(TableTest, StillAsReadReadsAgainWhatTheHeaderReadRead)
{
    TTableLayout tail = ThreeFields();
    tail.tail = TBytes(64, 'X');  // two chunks of tail after the terminator
    const TBytes full = ThreeFields().Build();
    const struct { const char* what; TBytes bytes; std::size_t reread; } cases[] = {
        {"three fields", ThreeFields().Build(), 32 + 3 * 32},
        {"a tail after the terminator", tail.Build(), 32 + 5 * 32},
        {"ends inside the descriptors", TBytes(full.begin(), full.begin() + 90), 32},
        {"ends inside the header", TBytes(full.begin(), full.begin() + 20), 0},
    };
    for (const auto& c : cases) {
        const auto path = Make("t.dbf", c.bytes);
        {
            TDBF table;
            table.SetTableName(path);
            table.Open();
            ASSERT_TRUE(table.Active()) << c.what;
            std::vector<std::pair<std::uint64_t, std::size_t>> reads;
            auto previous = SetFileFaultHook([&](TFileOp op, std::uint64_t position, std::size_t size) {
                if (op == TFileOp::Read) reads.emplace_back(position, size);
                return TFileFault::None;
            });
            EXPECT_TRUE(table.StillAsRead()) << c.what;
            SetFileFaultHook(std::move(previous));
            const auto expected = c.reread == 0 ? decltype(reads){} : decltype(reads){{0, c.reread}};
            EXPECT_EQ(reads, expected) << c.what;
            table.Stream().Close();
            EXPECT_FALSE(table.StillAsRead()) << c.what << ", closed";
        }
        // A byte of what was read, changed through the held file.
        for (std::size_t at = 0; at < c.reread; at += 37) {
            WriteAll(path, c.bytes);
            TDBF table;
            table.SetTableName(path);
            table.Open();
            const std::array<TByte, 1> other{static_cast<TByte>(c.bytes[at] ^ 0x40)};
            ASSERT_TRUE(table.Stream().WriteAt(at, other));
            EXPECT_FALSE(table.StillAsRead()) << c.what << ", byte " << at;
        }
    }
}

TEST_F(TableTest, EmptyDescriptorsAreCountedOffButNotMoved)
{
    struct Case {
        const char* what;
        TTableLayout layout;
        int expected;
    };
    TTableLayout secondEmpty;
    secondEmpty.fields = {{"A", 'C', 1}, {"", 'C', 5}, {"C", 'C', 1}, {"D", 'C', 1}};
    TTableLayout zeroWidth;
    zeroWidth.fields = {{"A", 'C', 0}, {"B", 'C', 2}};
    TTableLayout zeroTail = ThreeFields();
    zeroTail.tail = TBytes(263, 0);  // 392-byte header: 11 chunks, 8 of them tail
    TTableLayout textTail = ThreeFields();
    textTail.tail = TBytes(263, 'X');  // the tail reads like descriptors in use
    const Case cases[] = {
        {"second of four empty", secondEmpty, 3},
        {"zero width", zeroWidth, 1},
        {"zero tail after terminator", zeroTail, 3},
        {"text tail after terminator", textTail, 3},
    };
    for (const auto& c : cases) {
        const auto path = Make("t.dbf", c.layout.Build());
        TDBF table;
        table.SetTableName(path);
        table.Open();
        EXPECT_TRUE(table.HeaderRead()) << c.what;
        EXPECT_EQ(table.FieldCount(), c.expected) << c.what;
        // The first descriptors keep their places, the empty one among them.
        for (std::size_t i = 0; i < c.layout.fields.size(); ++i) {
            EXPECT_EQ(table.Fields()[i].FieldLength, c.layout.fields[i].length) << c.what << " field " << i;
        }
    }
    EXPECT_EQ(DescriptorCount(392), 11);
}

TEST_F(TableTest, EveryDescriptorCountTheHeaderCanNameIsRead)
{
    // dBase IV and FoxPro allow 255 fields; shapefiles with 102 to 145 are common.
    for (const int fields : {101, 102, 145, 255}) {
        TTableLayout wide;
        for (int i = 0; i < fields; ++i) wide.fields.push_back({"F" + std::to_string(i), 'C', 1});
        TDBF table;
        table.SetTableName(Make("wide.dbf", wide.Build()));
        table.Open();
        EXPECT_TRUE(table.HeaderRead()) << fields;
        EXPECT_EQ(table.FieldCount(), fields);
        EXPECT_EQ(table.HeaderImage().size(), 32U + 32U * fields);
        EXPECT_TRUE(recorder.messages.empty()) << fields;
    }
}

TEST_F(TableTest, ARefusedHeaderDescribesNoDescriptorItDidNotRead)
{
    // Below 32 the count wraps to 255: the records would begin inside the
    // header. 65535 announces 254 descriptors the file does not hold.
    for (const std::uint16_t headerLength : {31, 0, 65535}) {
        auto bytes = ThreeFields(0).Build();
        bytes[8] = static_cast<std::uint8_t>(headerLength);
        bytes[9] = static_cast<std::uint8_t>(headerLength >> 8);
        bytes.resize(headerLength < 32 ? 9000 : 4000, 0);  // long enough for the count but for the rule
        recorder.messages.clear();
        TDBF table;
        table.SetTableName(Make("many.dbf", bytes));
        table.Open();
        EXPECT_TRUE(table.Active()) << headerLength;
        EXPECT_FALSE(table.HeaderRead()) << headerLength;
        EXPECT_EQ(table.HeaderImage().size(), 32U) << headerLength;
        EXPECT_EQ(recorder.messages, std::vector<std::string>{kReadHeaderMsg}) << headerLength;
    }
}

TEST_F(TableTest, ShortFilesGiveTheirMessagesInOrder)
{
    struct Case {
        const char* what;
        TBytes bytes;
        std::vector<std::string> messages;
        bool headerRead;
    };
    const auto full = ThreeFields(5).Build();
    TTableLayout noRecords = ThreeFields(5);
    noRecords.actualRecords = 0;
    TTableLayout longRecord;
    longRecord.fields = {{"MEMO", 'C', 200}};
    longRecord.recordLength = 5000;  // more than the record buffer holds
    longRecord.recordCount = 1;
    longRecord.actualRecords = 0;
    TBytes longRecordFits = longRecord.Build();
    longRecordFits.resize(longRecordFits.size() + 4000, 'x');
    const Case cases[] = {
        {"20-byte file", TBytes(full.begin(), full.begin() + 20), {kReadHeaderMsg}, false},
        {"ends inside the descriptors", TBytes(full.begin(), full.begin() + 70), {kReadHeaderMsg, kReadRecordMsg}, false},
        {"records missing", noRecords.Build(), {kReadRecordMsg}, true},
        {"record longer than the buffer, file short", longRecord.Build(), {kReadRecordMsg}, true},
        {"record longer than the buffer, first 4000 bytes there", longRecordFits, {}, true},
        {"empty file", {}, {kReadHeaderMsg}, false},
    };
    for (const auto& c : cases) {
        recorder.messages.clear();
        TDBF table;
        table.SetTableName(Make("t.dbf", c.bytes));
        table.Open();
        EXPECT_TRUE(table.Active()) << c.what;
        EXPECT_EQ(table.HeaderRead(), c.headerRead) << c.what;
        EXPECT_EQ(recorder.messages, c.messages) << c.what;
    }
}

TEST_F(TableTest, MissingFilesAndFoldersAreNotFound)
{
    std::filesystem::create_directory(dir.Path() / "folder.dbf");
    for (const auto& path : {dir.File("missing.dbf"), dir.File("folder.dbf")}) {
        recorder.messages.clear();
        TDBF table;
        table.SetTableName(path);
        table.Open();
        EXPECT_FALSE(table.Active());
        EXPECT_EQ(recorder.messages, std::vector<std::string>{kNotFoundMsg + path});
    }
    TDBF unnamed;
    unnamed.Open();
    EXPECT_EQ(recorder.messages.back(), kNotFoundMsg);
}

TEST_F(TableTest, AFileHeldElsewhereIsNotOpened)
{
    const auto path = Make("held.dbf", ThreeFields().Build());
    THoldingProcess other(path, THoldMode::Read);
    ASSERT_TRUE(other.Holding());
    TDBF table;
    table.SetTableName(path);
    table.Open();
    EXPECT_FALSE(table.Active());
    EXPECT_FALSE(table.Stream().IsOpen());
    EXPECT_EQ(recorder.messages, std::vector<std::string>{InUseMessage("held.dbf")});
}

TEST_F(TableTest, OpenTwiceDoesNothingMore)
{
    const auto path = Make("t.dbf", ThreeFields().Build());
    TReadCounter counter;
    TDBF table;
    table.SetTableName(path);
    table.Open();
    const int reads = counter.reads;
    table.Open();
    EXPECT_EQ(counter.reads, reads);
    EXPECT_TRUE(recorder.messages.empty());
}
