// SPDX-License-Identifier: MIT
// dbffix restore against backups people copy, edit and mix up: malformed and
// hostile backup files, tables moved or replaced since, several generations
// of one table, names that would rewrite the terminal; and fix --backup's
// batches.
#include "Backup.h"
#include "CliTestSupport.h"
#include "System.h"
#include "TableReport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

// A wrong table, its original bytes, and the backup of one fix of it.
struct TFixedTable {
    TScratchDir dir;
    std::string table = dir.File("wrong.dbf");
    std::string folder = dir.File("backups");
    TBytes original;

    explicit TFixedTable(const std::vector<std::string>& fixes = {{}})
    {
        WriteAll(table, WrongTable().Build());
        original = ReadAll(table);
        for (const auto& choice : fixes) {
            std::vector<std::string> arguments{"fix", "--backup", folder};
            if (!choice.empty()) arguments.push_back(choice);
            arguments.push_back(table);
            const TCliRun run = RunDbfFix(arguments);
            EXPECT_EQ(run.status, esOk) << run.out << run.err;
        }
    }
    [[nodiscard]] std::vector<std::string> Backups() const { return BackupsIn(folder); }
    [[nodiscard]] nlohmann::json Json(std::size_t generation = 0) const
    {
        return nlohmann::json::parse(TextOf(Backups().at(generation)));
    }
    // Another file beside the table.
    [[nodiscard]] std::string Other(const std::string& name) const { return dir.File(name); }
};

}  // namespace

// Every malformed backup is refused with a message naming it, and the valid
// backup named after it on the same command line is still put back.
TEST(Backup, MalformedBackupsAreRefusedAndTheOthersStillRestored)
{
    using TMake = std::string (*)(nlohmann::json valid, const TBytes& table);
    struct TCase {
        const char* label;
        TMake make;
    };
    const TCase cases[] = {
        {"the version a string", [](nlohmann::json j, const TBytes&) { j["version"] = "1"; return j.dump(); }},
        {"the version unknown", [](nlohmann::json j, const TBytes&) { j["version"] = 3; return j.dump(); }},
        {"the version negative", [](nlohmann::json j, const TBytes&) { j["version"] = -2; return j.dump(); }},
        {"the size 1e300", [](nlohmann::json j, const TBytes&) { j["size"] = 1e300; return j.dump(); }},
        {"the size negative", [](nlohmann::json j, const TBytes&) { j["size"] = -1; return j.dump(); }},
        {"the size a string", [](nlohmann::json j, const TBytes&) { j["size"] = "225"; return j.dump(); }},
        {"the identity a string", [](nlohmann::json j, const TBytes&) { j["file_id"] = "7"; return j.dump(); }},
        {"the images an array", [](nlohmann::json j, const TBytes&) { j["before"] = {1, 2}; return j.dump(); }},
        {"the images not hex", [](nlohmann::json j, const TBytes&) {
             std::string before = j["before"];
             before[3] = 'g';
             j["before"] = before;
             return j.dump();
         }},
        {"the table's name empty", [](nlohmann::json j, const TBytes&) { j["table_hex"] = ""; return j.dump(); }},
        {"the table's name missing", [](nlohmann::json j, const TBytes&) { j.erase("table_hex"); return j.dump(); }},
        {"the format another", [](nlohmann::json j, const TBytes&) { j["format"] = "header"; return j.dump(); }},
        {"images over the whole file, a record changed",
         [](nlohmann::json j, const TBytes& table) {
             TBytes evil = table;
             std::copy_n("EVIL", 4, evil.end() - 8);
             j["before"] = HexText(evil);
             j["after"] = HexText(table);
             return j.dump();
         }},
        {"images of the header and a byte more",
         [](nlohmann::json j, const TBytes& table) {
             j["before"] = HexText(TBytes(table.begin(), table.begin() + 97));
             j["after"] = HexText(TBytes(table.begin(), table.begin() + 97));
             return j.dump();
         }},
        {"images longer than the header length they state",
         [](nlohmann::json j, const TBytes&) {
             for (const char* key : {"before", "after"}) {
                 std::string image = j[key];
                 image.replace(16, 4, "4000");  // 64 bytes, short of the 96 given
                 j[key] = image;
             }
             return j.dump();
         }},
        {"another record length before",
         [](nlohmann::json j, const TBytes&) {
             std::string image = j["before"];
             image.replace(20, 4, "0f00");
             j["before"] = image;
             return j.dump();
         }},
        {"images of different lengths",
         [](nlohmann::json j, const TBytes&) {
             const std::string before = j["before"];
             j["before"] = before.substr(0, 64 * 2);
             return j.dump();
         }},
        {"not JSON", [](nlohmann::json, const TBytes&) { return std::string("dbffix header backup"); }},
        {"JSON, not an object", [](nlohmann::json, const TBytes&) { return std::string("[1, 2, 3]"); }},
        {"nested deep", [](nlohmann::json, const TBytes&) { return std::string(200000, '['); }},
        {"empty", [](nlohmann::json, const TBytes&) { return std::string(); }},
        {"larger than 1 MiB", [](nlohmann::json j, const TBytes&) { return j.dump() + std::string(1024 * 1024, ' '); }},
    };
    for (const auto& c : cases) {
        const TFixedTable fixed;
        const auto backups = fixed.Backups();
        ASSERT_EQ(backups.size(), 1U);
        const std::string bad = fixed.Other("bad.dbfbak");
        WriteText(bad, c.make(fixed.Json(), ReadAll(fixed.table)));
        const TCliRun run = RunDbfFix({"restore", bad, backups[0]});
        EXPECT_EQ(run.status, esFailed) << c.label << "\n" << run.out;
        EXPECT_NE(run.err.find(bad + ": отказ"), std::string::npos) << c.label << "\n" << run.err;
        EXPECT_NE(run.out.find(backups[0] + ": заголовок восстановлен"), std::string::npos) << c.label << "\n" << run.out;
        EXPECT_EQ(ReadAll(fixed.table), fixed.original) << c.label;
    }
}

// What is named as a backup but is no small regular file is refused without
// waiting on it or reading it whole; a folder stands for its backups.
TEST(Backup, NamesThatAreNoBackupFileAreRefusedOrTakenAsFolders)
{
    struct TCase {
        const char* label;
        std::string (*name)(const TFixedTable& t);
        bool restores;  // the table's backup is found through the name
    };
    const TCase cases[] = {
        {"missing", [](const TFixedTable& t) { return t.Other("none.dbfbak"); }, false},
        {"a folder without backups", [](const TFixedTable& t) { return t.dir.Path().string(); }, false},
        {"the backups' folder", [](const TFixedTable& t) { return t.folder; }, true},
#ifndef _WIN32
        {"a pipe nobody writes to",
         [](const TFixedTable& t) {
             const std::string name = t.Other("pipe.dbfbak");
             EXPECT_EQ(mkfifo(name.c_str(), 0644), 0);
             return name;
         },
         false},
        {"endless zeros", [](const TFixedTable&) { return std::string("/dev/zero"); }, false},
#endif
    };
    for (const auto& c : cases) {
        const TFixedTable fixed;
        const std::string name = c.name(fixed);
        const TCliRun run = RunDbfFix({"restore", name});
        EXPECT_EQ(run.status, c.restores ? esOk : esFailed) << c.label << "\n" << run.out;
        EXPECT_EQ(ReadAll(fixed.table) == fixed.original, c.restores) << c.label << "\n" << run.out;
        if (!c.restores) {
            EXPECT_NE(run.err.find(name + ": отказ"), std::string::npos) << c.label << "\n" << run.err;
        }
    }
}

// restore finds the table by the absolute path the backup holds, from any
// folder, and refuses another file put at that path unless told which table.
TEST(Backup, RestoreGoesIntoTheTableTheBackupCameFrom)
{
    struct TCase {
        const char* label;
        // Changes what lies where; returns the table to name with --table, if any.
        std::string (*change)(const TFixedTable& t);
        bool restores;
    };
    const TCase cases[] = {
        {"the table where it was", [](const TFixedTable&) { return std::string(); }, true},
        {"another file with the same bytes put in its place",
         [](const TFixedTable& t) {
             const TBytes bytes = ReadAll(t.table);
             fs::rename(t.table, t.Other("moved.dbf"));
             WriteAll(t.table, bytes);
             return std::string();
         },
         false},
        {"the same, the table named",
         [](const TFixedTable& t) {
             const TBytes bytes = ReadAll(t.table);
             fs::rename(t.table, t.Other("moved.dbf"));
             WriteAll(t.table, bytes);
             return t.table;
         },
         true},
        {"the table renamed",
         [](const TFixedTable& t) {
             fs::rename(t.table, t.Other("renamed.dbf"));
             return std::string();
         },
         false},
        {"the table renamed and named",
         [](const TFixedTable& t) {
             fs::rename(t.table, t.Other("renamed.dbf"));
             return t.Other("renamed.dbf");
         },
         true},
    };
    for (const auto& c : cases) {
        const TFixedTable fixed;
        // The copy in another folder has the same corrected header: it must
        // not be taken for the table, whatever the current folder.
        const TScratchDir elsewhere;
        const std::string decoy = elsewhere.File("wrong.dbf");
        WriteAll(decoy, ReadAll(fixed.table));
        const TBytes decoyBytes = ReadAll(decoy);
        const std::string named = c.change(fixed);
        const std::string target = named.empty() ? fixed.table : named;
        const TBytes before = fs::exists(target) ? ReadAll(target) : TBytes{};
        std::vector<std::string> arguments{"restore", fixed.Backups().at(0)};
        if (!named.empty()) arguments = {"restore", "--table", named, fixed.Backups().at(0)};
        TCliRun run;
        {
            const TCurrentFolder current(elsewhere.Path());
            run = RunDbfFix(arguments);
        }
        EXPECT_EQ(run.status, c.restores ? esOk : esFailed) << c.label << "\n" << run.out;
        EXPECT_EQ(ReadAll(decoy), decoyBytes) << c.label << ": restored into the table of the current folder";
        if (c.restores) {
            EXPECT_EQ(ReadAll(target), fixed.original) << c.label;
            EXPECT_NE(run.out.find(IdentifyFile(target)->Path), std::string::npos)
                << c.label << ": the absolute path is not told\n" << run.out;
        } else if (fs::exists(target)) {
            EXPECT_EQ(ReadAll(target), before) << c.label;
        }
    }
}

// Backups made before the table's path and identity were kept hold the name
// as it was typed: a relative one names no table for certain.
TEST(Backup, OldBackupsWithARelativeNameNeedTheTableNamed)
{
    struct TCase {
        const char* label;
        bool absolute;
        bool named;
        bool restores;
    };
    const TCase cases[] = {
        {"relative", false, false, false},
        {"relative, the table named", false, true, true},
        {"absolute", true, false, true},
    };
    for (const auto& c : cases) {
        const TFixedTable fixed;
        nlohmann::json j = fixed.Json();
        j["version"] = 1;
        j.erase("device");
        j.erase("file_id");
        const std::string name = c.absolute ? fixed.table : std::string("wrong.dbf");
        j["table"] = name;
        j["table_hex"] = HexText(TBytes(name.begin(), name.end()));
        const std::string backup = fixed.Other("old.dbfbak");
        WriteText(backup, j.dump());
        const TCurrentFolder current(fixed.dir.Path());
        const TCliRun run = c.named ? RunDbfFix({"restore", "--table", fixed.table, backup})
                                    : RunDbfFix({"restore", backup});
        EXPECT_EQ(run.status, c.restores ? esOk : esFailed) << c.label << "\n" << run.out;
        EXPECT_EQ(ReadAll(fixed.table) == fixed.original, c.restores) << c.label;
    }
}

// One restore over a table's generations brings back the oldest state the set
// holds, whatever order the names come in; what fits no chain is refused.
TEST(Backup, GenerationsAreAppliedNewestFirstByTheirImages)
{
    const std::vector<std::string> fixes = {"", "--codepage=38", "--offsets=set"};
    struct TCase {
        const char* label;
        std::vector<std::size_t> order;  // generations named, 0 the oldest; 9 the folder
        bool ok;
        std::size_t endsAt;  // the state left: 0 the original, 3 as after the last fix
    };
    const TCase cases[] = {
        {"oldest first", {0, 1, 2}, true, 0},
        {"newest first", {2, 1, 0}, true, 0},
        {"mixed", {1, 2, 0}, true, 0},
        {"the folder", {9}, true, 0},
        {"the newest twice", {2, 0, 2, 1}, true, 0},
        {"the two newest", {1, 2}, true, 1},
        {"a generation missing", {0, 2}, false, 2},
        {"only the oldest", {0}, false, 3},
    };
    for (const auto& c : cases) {
        const TFixedTable fixed(fixes);
        const auto backups = fixed.Backups();
        ASSERT_EQ(backups.size(), 3U) << c.label;
        std::vector<TBytes> states{fixed.original};
        for (const auto& b : backups) {
            const auto backup = ParseBackup(TextOf(b));
            ASSERT_TRUE(backup) << b;
            TBytes state = states.back();
            std::copy(backup->After.begin(), backup->After.end(), state.begin());
            states.push_back(state);
        }
        ASSERT_EQ(ReadAll(fixed.table), states.back()) << c.label;
        std::vector<std::string> arguments{"restore"};
        for (const std::size_t i : c.order) {
            if (i == 9) {
                arguments.push_back(fixed.folder);
            } else if (std::count(c.order.begin(), c.order.end(), i) > 1 &&
                       std::find(arguments.begin(), arguments.end(), backups[i]) != arguments.end()) {
                const std::string copy = fixed.Other("copy.dbfbak");
                fs::copy_file(backups[i], copy);
                arguments.push_back(copy);
            } else {
                arguments.push_back(backups[i]);
            }
        }
        const TCliRun run = RunDbfFix(arguments);
        EXPECT_EQ(run.status, c.ok ? esOk : esFailed) << c.label << "\n" << run.out;
        EXPECT_EQ(ReadAll(fixed.table), states[c.endsAt]) << c.label << "\n" << run.out;
    }
}

// Two backups that would put different headers back over the same state: no
// guess is made between them.
TEST(Backup, TwoPastsForOnePresentAreBothRefused)
{
    const TFixedTable fixed;
    const std::string backup = fixed.Backups().at(0);
    nlohmann::json forged = fixed.Json();
    std::string before = forged["before"];
    before[2] = before[2] == '0' ? '1' : '0';  // the version byte
    forged["before"] = before;
    const std::string other = fixed.Other("forged.dbfbak");
    WriteText(other, forged.dump());
    const TBytes corrected = ReadAll(fixed.table);
    const TCliRun run = RunDbfFix({"restore", backup, other});
    EXPECT_EQ(run.status, esFailed) << run.out;
    EXPECT_EQ(ReadAll(fixed.table), corrected) << run.out;
    EXPECT_NE(run.err.find(backup + ": отказ"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(other + ": отказ"), std::string::npos) << run.err;
}

// Names from a backup or the command line cannot move the cursor or fake a
// line: control characters are shown as \xNN, letters as they are.
TEST(Backup, NamesAreShownEscaped)
{
    struct TCase {
        std::string name;
        std::string shown;
    };
    const TCase cases[] = {
        {"t.dbf", "t.dbf"},
        {"таблица.dbf", "таблица.dbf"},
        {"t\r.dbf", "t\\x0D.dbf"},
        {"\x1b[2K\x1b[1Aok", "\\x1B[2K\\x1B[1Aok"},
        {"a\x7f" "b", "a\\x7Fb"},
        {"c1\xc2\x9b" "2K", "c1\\xC2\\x9B2K"},
        {"\xff" "t", "\\xFFt"},
    };
    for (const auto& c : cases) EXPECT_EQ(ShownName(c.name), c.shown) << c.shown;

    const TFixedTable fixed;
    nlohmann::json j = fixed.Json();
    const std::string name = fixed.Other("t\r\x1b[2K: заголовок восстановлен.dbf");
    j["table_hex"] = HexText(TBytes(name.begin(), name.end()));
    const std::string backup = fixed.Other("named.dbfbak");
    WriteText(backup, j.dump());
    const TCliRun run = RunDbfFix({"restore", backup});
    EXPECT_EQ(run.status, esFailed);
    EXPECT_EQ((run.out + run.err).find_first_of("\r\x1b"), std::string::npos) << run.out << run.err;
    EXPECT_NE(run.err.find("\\x0D\\x1B[2K"), std::string::npos) << run.err;  // refused: on stderr
}

// With backups, a batch of tables is written only once all its backups are
// saved; a table changed between its backup and its write is not written, and
// its backup, which fits no state it ever had, is removed.
TEST(Backup, ABatchIsWrittenOnlyAfterItsBackups)
{
    TScratchDir dir;
    const std::string folder = dir.File("backups");
    std::vector<std::string> tables;
    for (const char* name : {"1.dbf", "2.dbf", "3.dbf"}) {
        tables.push_back(dir.File(name));
        WriteAll(tables.back(), WrongTable().Build());
    }
    std::size_t backupsAtFirstWrite = 0;
    int opens = 0;
    bool firstWrite = true;
    auto previous = SetFileFaultHook([&](TFileOp op, std::uint64_t, std::size_t) {
        if (op == TFileOp::Open && ++opens == 4) {
            // Another program edits the second table before its write.
            TBytes bytes = ReadAll(tables[1]);
            bytes[32] = 'X';
            WriteAll(tables[1], bytes);
        }
        if (op == TFileOp::Write && firstWrite) {
            firstWrite = false;
            for (const auto& b : BackupsIn(folder)) backupsAtFirstWrite += ParseBackup(TextOf(b)) ? 1 : 0;
        }
        return TFileFault::None;
    });
    const TCliRun run = RunDbfFix({"fix", "--backup", folder, tables[0], tables[1], tables[2]});
    SetFileFaultHook(previous);
    EXPECT_EQ(run.status, esFailed) << run.out;
    EXPECT_EQ(backupsAtFirstWrite, 3U) << "a table written before the batch's backups were saved";
    const auto backups = BackupsIn(folder);
    ASSERT_EQ(backups.size(), 2U) << run.out;
    TBytes changed = WrongTable().Build();
    changed[32] = 'X';
    EXPECT_EQ(ReadAll(tables[1]), changed) << run.out;
    for (const auto& b : backups) {
        const auto backup = ParseBackup(TextOf(b));
        ASSERT_TRUE(backup);
        EXPECT_NE(backup->Table, IdentifyFile(tables[1])->Path);
        const TBytes now = ReadAll(backup->Table);
        EXPECT_TRUE(std::equal(backup->After.begin(), backup->After.end(), now.begin())) << b;
    }
    EXPECT_EQ(RunDbfFix({"restore", folder}).status, esOk);
    EXPECT_EQ(ReadAll(tables[0]), WrongTable().Build());
    EXPECT_EQ(ReadAll(tables[2]), WrongTable().Build());
}

// Ctrl-C during a restore: the table in hand gets its header back, the tables
// not reached are left as they are and said to be.
TEST(Backup, InterruptedRestoreFinishesTheTableInHand)
{
    TScratchDir dir;
    const std::string folder = dir.File("backups");
    const std::vector<std::string> tables{dir.File("1.dbf"), dir.File("2.dbf")};
    for (const auto& table : tables) WriteAll(table, WrongTable().Build());
    ASSERT_EQ(RunDbfFix({"fix", "--backup", folder, tables[0], tables[1]}).status, esOk);
    const TBytes corrected = ReadAll(tables[1]);
    auto previous = SetFileFaultHook([](TFileOp op, std::uint64_t, std::size_t) {
        if (op == TFileOp::Write) std::raise(SIGINT);
        return TFileFault::None;
    });
    const TCliRun run = RunDbfFix({"restore", folder});
    SetFileFaultHook(previous);
    EXPECT_EQ(run.status, esInterrupted) << run.out;
    EXPECT_EQ(ReadAll(tables[0]), WrongTable().Build()) << run.out;
    EXPECT_EQ(ReadAll(tables[1]), corrected) << run.out;
    EXPECT_NE(run.err.find("прервано"), std::string::npos) << run.err;
}

// A write that fails may leave part of the header: the backup of the table is
// then what is left of its old header, kept and named. A table not written
// at all keeps no backup.
TEST(Backup, AFailedWriteKeepsItsBackup)
{
    struct TCase {
        const char* label;
        TTableLayout layout;
        TFileFault fault;
        int status;
        bool kept;
    };
    const TCase cases[] = {
        {"a short write", WrongTable(), TFileFault::Short, esFailed, true},
        {"a failed write", WrongTable(), TFileFault::Fail, esFailed, true},
        {"written", WrongTable(), TFileFault::None, esOk, true},
        {"right already", RightTable(), TFileFault::None, esOk, false},
    };
    for (const auto& c : cases) {
        TScratchDir dir;
        const std::string folder = dir.File("backups");
        const std::string table = dir.File("t.dbf");
        const TBytes original = c.layout.Build();
        WriteAll(table, original);
        auto previous = SetFileFaultHook([&](TFileOp op, std::uint64_t, std::size_t) {
            return op == TFileOp::Write ? c.fault : TFileFault::None;
        });
        const TCliRun run = RunDbfFix({"fix", "--backup", folder, table});
        SetFileFaultHook(previous);
        EXPECT_EQ(run.status, c.status) << c.label << "\n" << run.out;
        const auto backups = BackupsIn(folder);
        ASSERT_EQ(backups.size(), c.kept ? 1U : 0U) << c.label << "\n" << run.out;
        if (!c.kept) continue;
        // A failed write is told on stderr, a written table on stdout.
        EXPECT_NE((c.status == esOk ? run.out : run.err).find(backups[0]), std::string::npos)
            << c.label << ": the backup is not named\n" << run.out << run.err;
        const auto backup = ParseBackup(TextOf(backups[0]));
        ASSERT_TRUE(backup) << c.label;
        EXPECT_TRUE(std::equal(backup->Before.begin(), backup->Before.end(), original.begin())) << c.label;
    }
}

// Ctrl-C during fix --backup: the table being written is finished with its
// backup; the tables of the batch not yet written stay as they were, and keep
// no backup, which would fit no state they ever had.
TEST(Backup, InterruptedFixKeepsOnlyTheBackupsOfTablesWritten)
{
    TScratchDir dir;
    const std::string folder = dir.File("backups");
    const std::vector<std::string> tables{dir.File("1.dbf"), dir.File("2.dbf"), dir.File("3.dbf")};
    for (const auto& table : tables) WriteAll(table, WrongTable().Build());
    auto previous = SetFileFaultHook([](TFileOp op, std::uint64_t, std::size_t) {
        if (op == TFileOp::Write) std::raise(SIGINT);
        return TFileFault::None;
    });
    const TCliRun run = RunDbfFix({"fix", "--backup", folder, tables[0], tables[1], tables[2]});
    SetFileFaultHook(previous);
    EXPECT_EQ(run.status, esInterrupted) << run.out;
    EXPECT_NE(ReadAll(tables[0]), WrongTable().Build()) << run.out;
    EXPECT_EQ(ReadAll(tables[1]), WrongTable().Build()) << run.out;
    EXPECT_EQ(ReadAll(tables[2]), WrongTable().Build()) << run.out;
    const auto backups = BackupsIn(folder);
    ASSERT_EQ(backups.size(), 1U) << run.out;
    EXPECT_EQ(ParseBackup(TextOf(backups[0]))->Table, IdentifyFile(tables[0])->Path);
}
