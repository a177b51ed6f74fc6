// SPDX-License-Identifier: MIT
// dbffix's commands: exit statuses, tables left alone when nothing changes,
// header backups and their refusals, Ctrl-C, folder walks and names as bytes.
#include "Backup.h"
#include "CliTestSupport.h"
#include "ExclusiveFile.h"
#include "System.h"
#include "TableReport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The tables each case of a table-driven test starts from.
struct TTables {
    TScratchDir dir;
    std::string right = dir.File("right.dbf");
    std::string wrong = dir.File("wrong.dbf");
    std::string foxPro = dir.File("foxpro.dbf");
    std::string cut = dir.File("cut.dbf");
    std::string text = dir.File("notes.txt");

    TTables()
    {
        WriteAll(right, RightTable().Build());
        WriteAll(wrong, WrongTable().Build());
        WriteAll(foxPro, VisualFoxProUnderDBase3Table().Build());
        const TBytes wrongImage = WrongTable().Build();
        WriteAll(cut, TBytes(wrongImage.begin(), wrongImage.begin() + 20));
        WriteAll(text, {'h', 'i'});
    }
    [[nodiscard]] std::vector<TBytes> Contents() const
    {
        return {ReadAll(right), ReadAll(wrong), ReadAll(foxPro), ReadAll(cut), ReadAll(text)};
    }
};

// Runs the real program with the arguments through the system's shell.
int RunProgram(const std::string& arguments)
{
#ifdef _WIN32
    // cmd takes off the outermost quotes: the whole line is quoted once more.
    const std::string command = "\"\"" + std::string(DBFFIX_PROGRAM) + "\" " + arguments + " >NUL 2>NUL\"";
    return std::system(command.c_str());
#else
    const std::string command = "'" + std::string(DBFFIX_PROGRAM) + "' " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace

TEST(DbfFix, ExitStatuses)
{
    struct TCase {
        const char* label;
        std::vector<std::string> (*arguments)(const TTables&);
        int status;
        bool writes = false;
    };
    const TCase cases[] = {
        {"show a table", [](const TTables& t) { return std::vector<std::string>{"show", t.wrong, t.foxPro}; }, esOk},
        {"show a cut table", [](const TTables& t) { return std::vector<std::string>{"show", t.right, t.cut}; }, esFailed},
        {"check a right table", [](const TTables& t) { return std::vector<std::string>{"check", t.right}; }, esOk},
        {"check a wrong one", [](const TTables& t) { return std::vector<std::string>{"check", t.right, t.wrong}; }, esWouldChange},
        {"check with the index flag kept",
         [](const TTables& t) { return std::vector<std::string>{"check", "--keep-index-flag", t.right}; }, esOk},
        {"check with a code page to set",
         [](const TTables& t) { return std::vector<std::string>{"check", "--codepage=38", t.right}; }, esWouldChange},
        {"check with a date", [](const TTables& t) { return std::vector<std::string>{"check", "--date=today", t.right}; }, esWouldChange},
        {"check a cut table", [](const TTables& t) { return std::vector<std::string>{"check", t.wrong, t.cut}; }, esFailed},
        {"check a refused table", [](const TTables& t) { return std::vector<std::string>{"check", t.foxPro}; }, esFailed},
        {"check a name that is no table", [](const TTables& t) { return std::vector<std::string>{"check", t.text}; }, esFailed},
        {"fix a wrong table", [](const TTables& t) { return std::vector<std::string>{"fix", t.wrong, t.right}; }, esOk, true},
        {"fix a refused one among them",
         [](const TTables& t) { return std::vector<std::string>{"fix", t.wrong, t.foxPro}; }, esFailed, true},
        {"fix a missing table",
         [](const TTables& t) { return std::vector<std::string>{"fix", t.dir.File("none.dbf")}; }, esFailed},
        {"restore what is no backup", [](const TTables& t) { return std::vector<std::string>{"restore", t.text}; }, esFailed},
        {"help", [](const TTables&) { return std::vector<std::string>{"--help"}; }, esOk},
        {"the version", [](const TTables&) { return std::vector<std::string>{"--version"}; }, esOk},
        {"a command's help", [](const TTables& t) { return std::vector<std::string>{"fix", "--help", t.wrong}; }, esOk},
        {"no command", [](const TTables&) { return std::vector<std::string>{}; }, esUsage},
        {"an unknown command", [](const TTables& t) { return std::vector<std::string>{"mend", t.wrong}; }, esUsage},
        {"no table", [](const TTables&) { return std::vector<std::string>{"fix"}; }, esUsage},
        {"an unknown option", [](const TTables& t) { return std::vector<std::string>{"fix", "--dry-run", t.wrong}; }, esUsage},
        {"offsets unknown", [](const TTables& t) { return std::vector<std::string>{"fix", "--offsets=none", t.wrong}; }, esUsage},
        {"a code page not offered",
         [](const TTables& t) { return std::vector<std::string>{"fix", "--codepage=101", t.wrong}; }, esUsage},
        {"no such day", [](const TTables& t) { return std::vector<std::string>{"fix", "--date=2024-02-30", t.wrong}; }, esUsage},
        {"a year the header cannot store",
         [](const TTables& t) { return std::vector<std::string>{"fix", "--date=2156-01-01", t.wrong}; }, esUsage},
        {"a backup for check", [](const TTables& t) { return std::vector<std::string>{"check", "--backup", "b", t.wrong}; }, esUsage},
        {"show walks folders too", [](const TTables& t) { return std::vector<std::string>{"show", "-r", t.dir.Path().string()}; }, esFailed},
        {"--follow and -0 are no options of restore",
         [](const TTables& t) { return std::vector<std::string>{"restore", "--follow", "-0", t.text}; }, esUsage},
    };
    for (const auto& c : cases) {
        const TTables tables;
        const auto before = tables.Contents();
        const TCliRun run = RunDbfFix(c.arguments(tables));
        EXPECT_EQ(run.status, c.status) << c.label << "\n" << run.out << run.err;
        EXPECT_EQ(tables.Contents() != before, c.writes) << c.label;
        if (c.status == esUsage) {
            EXPECT_NE(run.err.find("dbffix --help"), std::string::npos) << c.label;
        }
    }
}

// The tables of TTables in an expected output, as the output names them:
// {R} right, {W} wrong, {F} FoxPro, {C} cut, {D} the folder, {N} a name
// that names nothing.
std::string Expected(std::string text, const TTables& t)
{
    const std::pair<std::string, std::string> names[] = {
        {"{R}", t.right}, {"{W}", t.wrong}, {"{F}", t.foxPro}, {"{C}", t.cut},
        {"{D}", t.dir.Path().string()}, {"{N}", t.dir.File("none.dbf")}};
    for (const auto& [mark, name] : names) {
        for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
            text.replace(at, mark.size(), ShownName(name));
            at += ShownName(name).size();
        }
    }
    return text;
}

// What each argument line prints where, and its exit status: a table a line,
// the failures on stderr alone, the count grouped by reason.
TEST(DbfFix, ArgumentLinesAndTheirStreams)
{
    const std::string wrongChanges =
        "байты 12–27 (резерв): 16 ненулевых → 0; признак индекса 1 → 0; байты 30–31 (резерв): 2 ненулевых → 0; "
        "поле 1 « NAME » → «NAME»; поле 2 «AGE»: тип n → N";
    const std::string cutFailed = "заголовок не прочитан: файл короче заголовка или не читается";
    const struct {
        const char* label;
        std::vector<std::string> arguments;  // {R} and the others as in Expected
        std::string out;
        std::string err;
        int status;
    } cases[] = {
        {"a right table is one line", {"check", "{R}"}, "{R}: в порядке\nБудут исправлены: 0, в порядке: 1, не прочитаны или отказ: 0\n", "", esOk},
        {"a wrong table's changes on its line", {"check", "{R}", "{W}"},
         "{R}: в порядке\n{W}: будет исправлена: " + wrongChanges +
             "\nБудут исправлены: 1, в порядке: 1, не прочитаны или отказ: 0\n",
         "", esWouldChange},
        {"quiet leaves out the right ones", {"check", "-q", "{R}", "{W}"},
         "{W}: будет исправлена: " + wrongChanges + "\nБудут исправлены: 1, в порядке: 1, не прочитаны или отказ: 0\n",
         "", esWouldChange},
        {"quiet with all right: the count alone", {"fix", "--quiet", "{R}"}, "Исправлено: 0, уже в порядке: 1, отказ: 0\n", "", esOk},
        {"a refusal outweighs a change", {"check", "{F}", "{W}"},
         "{W}: будет исправлена: " + wrongChanges +
             "\nБудут исправлены: 1, в порядке: 0, не прочитаны или отказ: 1\n  1 × Таблицы Visual FoxPro не обрабатываются\n",
         "{F}: отказ: Таблицы Visual FoxPro не обрабатываются\n", esFailed},
        {"the same reason twice is one count line", {"check", "{C}", "{C}"},
         "Будут исправлены: 0, в порядке: 0, не прочитаны или отказ: 2\n  2 × " + cutFailed + "\n",
         "{C}: не прочитана: " + cutFailed + "\n{C}: не прочитана: " + cutFailed + "\n", esFailed},
        {"fix tells what it changed", {"fix", "--codepage=38", "{W}", "{F}"},
         "{W}: исправлена: байты 12–27 (резерв): 16 ненулевых → 0; признак индекса 1 → 0; кодовая страница 101 → 38; "
         "байты 30–31 (резерв): 2 ненулевых → 0; поле 1 « NAME » → «NAME»; поле 2 «AGE»: тип n → N\n"
         "Исправлено: 1, уже в порядке: 0, отказ: 1\n  1 × Таблицы Visual FoxPro не обрабатываются\n",
         "{F}: отказ: Таблицы Visual FoxPro не обрабатываются\n", esFailed},
        {"a folder without --recursive", {"check", "{D}"},
         "Будут исправлены: 0, в порядке: 0, не прочитаны или отказ: 1\n  1 × это папка: добавьте --recursive\n",
         "{D}: не прочитана: это папка: добавьте --recursive\n", esFailed},
        {"a missing path", {"fix", "{N}"}, "Исправлено: 0, уже в порядке: 0, отказ: 1\n  1 × нет такого файла или папки\n",
         "{N}: отказ: нет такого файла или папки\n", esFailed},
        {"standard input is no table", {"show", "-"}, "",
         "-: не прочитана: стандартный ввод: таблицы читаются только из файлов\n", esFailed},
        {"a misspelt command", {"chek", "{W}"}, "",
         "dbffix: неизвестная команда «chek» — может быть, check?\nКоманды: show, check, fix, restore\n"
         "Справка: dbffix --help\n",
         esUsage},
        {"a word that is no command", {"table.dbf"}, "",
         "dbffix: неизвестная команда «table.dbf»\nКоманды: show, check, fix, restore\nСправка: dbffix --help\n", esUsage},
        {"no records", {"show", "--records", "0", "{R}"}, "",
         "dbffix: --records: ожидается число записей от 1 до 1000\nСправка: dbffix --help\n", esUsage},
        {"more records than are shown", {"show", "--records=1001", "{R}"}, "",
         "dbffix: --records: ожидается число записей от 1 до 1000\nСправка: dbffix --help\n", esUsage},
        {"a code page past a byte", {"show", "--records=1", "--codepage=256", "{R}"}, "",
         "dbffix: --codepage: ожидается auto или байт кодовой страницы от 0 до 255\nСправка: dbffix --help\n", esUsage},
        {"a code page for no records", {"show", "--codepage=38", "{R}"}, "",
         "dbffix: --codepage указывается только вместе с --records\nСправка: dbffix --help\n", esUsage},
    };
    for (const auto& c : cases) {
        const TTables tables;
        std::vector<std::string> arguments;
        for (const auto& a : c.arguments) arguments.push_back(Expected(a, tables));
        const TCliRun run = RunDbfFix(arguments);
        EXPECT_EQ(run.status, c.status) << c.label;
        EXPECT_EQ(run.out, Expected(c.out, tables)) << c.label;
        EXPECT_EQ(run.err, Expected(c.err, tables)) << c.label;
    }
    const TTables tables;
    EXPECT_EQ(RunDbfFix({"check", "-q", "-v", tables.right}).err,
              "dbffix: --quiet не указывается вместе с --verbose\nСправка: dbffix --help\n");
}

// What fix writes is what check foresaw, told in the same words, and fix
// --json holds check's record, the bytes written and the backup.
TEST(DbfFix, FixTellsWhatCheckForesaw)
{
    TTableLayout countLow = RightTable();
    countLow.recordCount = 1;
    countLow.actualRecords = 3;
    const struct {
        const char* label;
        TTableLayout layout;
        std::vector<std::string> choices;
    } cases[] = {
        {"the defaults", WrongTable(), {}},
        {"a code page", WrongTable(), {"--codepage=87", "--offsets=set"}},
        {"the record count", countLow, {"--record-count=from-length"}},
        {"a date", RightTable(), {"--date=2001-02-03", "--index-flag=keep"}},
        {"nothing to change", RightTable(), {}},
        {"refused", VisualFoxProUnderDBase3Table(), {"--codepage=38"}},
    };
    for (const auto& c : cases) {
        TScratchDir dir;
        const std::string table = dir.File("t.dbf");
        const std::string backups = dir.File("backups");
        WriteAll(table, c.layout.Build());
        std::vector<std::string> check{"check", "--json"};
        check.insert(check.end(), c.choices.begin(), c.choices.end());
        check.push_back(table);
        const auto foreseen = JsonLines(RunDbfFix(check).out).at(0);
        std::vector<std::string> fix = check;
        fix[0] = "fix";
        fix.insert(fix.begin() + 2, {"--backup", backups});
        const TCliRun run = RunDbfFix(fix);
        const bool refused = !foreseen.contains("would_change");
        ASSERT_EQ(run.status, refused ? esFailed : esOk) << c.label << "\n" << run.err;
        const auto lines = JsonLines(run.out);
        ASSERT_EQ(lines.size(), 2U) << c.label;
        const auto& fixed = lines[0];
        // A key one record lacks must be missing from the other too.
        const auto part = [](const nlohmann::json& record, const char* key) {
            return record.contains(key) ? record.at(key) : nlohmann::json("(missing)");
        };
        for (const char* key : {"changes", "would_change", "header", "read", "record_count_check", "encoding"}) {
            EXPECT_EQ(part(fixed, key), part(foreseen, key)) << c.label << ": " << key;
        }
        if (refused) {
            EXPECT_EQ(fixed["fix"], "refused") << c.label;
            EXPECT_EQ(fixed["refusal"], foreseen["refusal"]) << c.label;
            EXPECT_EQ(lines[1]["summary"]["failed"], 1) << c.label;
            EXPECT_EQ(ReadAll(table), c.layout.Build()) << c.label << ": written";
            continue;
        }
        const bool changes = foreseen["would_change"].get<bool>();
        EXPECT_EQ(fixed["fix"], changes ? "written" : "unchanged") << c.label;
        EXPECT_EQ(lines[1]["summary"]["written"], changes ? 1 : 0) << c.label;
        if (!changes) {
            EXPECT_TRUE(fixed["backup"].is_null()) << c.label;
            continue;
        }
        // The bytes said written are those the table starts with now.
        const TBytes now = ReadAll(table);
        const auto written = static_cast<std::ptrdiff_t>(fixed["written"]["length"].get<std::size_t>());
        EXPECT_EQ(fixed["written"]["bytes_hex"], HexText(TBytes(now.begin(), now.begin() + written))) << c.label;
        const auto backup = ParseBackup(TextOf(fixed["backup"].get<std::string>()));
        ASSERT_TRUE(backup) << c.label;
        const TBytes original = c.layout.Build();
        EXPECT_EQ(backup->Before,
                  TBytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(backup->Before.size())))
            << c.label;
        // The people's line names the same changes.
        WriteAll(table, c.layout.Build());
        fix.erase(fix.begin() + 1);
        const TCliRun people = RunDbfFix(fix);
        std::string joined;
        for (const auto& change : foreseen["changes"]) joined += (joined.empty() ? "" : "; ") + change.get<std::string>();
        EXPECT_NE(people.out.find(ShownName(table) + ": исправлена: " + joined + "; копия: "), std::string::npos)
            << c.label << "\n" << people.out;
        // --verbose tells under the line what check -v tells of the table as found.
        const auto under = [](const std::string& text) {
            std::string lines;
            std::istringstream in(text);
            for (std::string line; std::getline(in, line);) {
                if (line.starts_with("  ") && !line.starts_with("  1 ×")) lines += line + "\n";
            }
            return lines;
        };
        WriteAll(table, c.layout.Build());
        std::vector<std::string> verboseCheck{"check", "-v"};
        verboseCheck.insert(verboseCheck.end(), c.choices.begin(), c.choices.end());
        verboseCheck.push_back(table);
        const std::string foreseenLines = under(RunDbfFix(verboseCheck).out);
        verboseCheck[0] = "fix";
        EXPECT_EQ(under(RunDbfFix(verboseCheck).out), foreseenLines) << c.label;
        EXPECT_NE(foreseenLines.find("Число записей:"), std::string::npos) << c.label << "\n" << foreseenLines;
    }
}

TEST(DbfFix, FixedTablesCheckRightAfterwards)
{
    const TTables tables;
    ASSERT_EQ(RunDbfFix({"check", "--offsets=set", tables.wrong}).status, esWouldChange);
    const TCliRun fix = RunDbfFix({"fix", "--offsets=set", tables.wrong, tables.right, tables.foxPro});
    EXPECT_EQ(fix.status, esFailed);
    EXPECT_NE(fix.out.find("Исправлено: 2, уже в порядке: 0, отказ: 1"), std::string::npos) << fix.out;
    EXPECT_NE(fix.out.find("1 × Таблицы Visual FoxPro не обрабатываются"), std::string::npos) << fix.out;
    EXPECT_EQ(RunDbfFix({"check", "--offsets=set", tables.wrong, tables.right}).status, esOk);
}

// A table already right is not written: its modification time stays.
TEST(DbfFix, TablesAlreadyRightAreNotWritten)
{
    const TTables tables;
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    for (const auto& path : {tables.right, tables.wrong}) fs::last_write_time(path, longAgo);
    const auto old = fs::last_write_time(tables.right);  // as the file system keeps it
    ASSERT_EQ(fs::last_write_time(tables.wrong), old);
    ASSERT_EQ(RunDbfFix({"fix", tables.right, tables.wrong}).status, esOk);
    EXPECT_EQ(fs::last_write_time(tables.right), old);
    EXPECT_NE(fs::last_write_time(tables.wrong), old);
}

// The backup is on the disk, complete, before the first byte of the table is
// written.
TEST(DbfFix, BackupIsSavedBeforeTheTableIsTouched)
{
    const TTables tables;
    const std::string folder = tables.dir.File("backups");
    const TBytes original = ReadAll(tables.wrong);
    int writes = 0;
    std::optional<TBackup> seen;
    auto previous = SetFileFaultHook([&](TFileOp op, std::uint64_t, std::size_t) {
        if (op == TFileOp::Write && writes++ == 0) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                const TBytes text = ReadAll(entry.path());
                seen = ParseBackup(std::string(text.begin(), text.end()));
            }
        }
        return TFileFault::None;
    });
    const TCliRun run = RunDbfFix({"fix", "--backup", folder, tables.wrong});
    SetFileFaultHook(previous);
    ASSERT_EQ(run.status, esOk) << run.out << run.err;
    ASSERT_TRUE(seen.has_value()) << "no backup on the disk when the table was written";
    EXPECT_EQ(seen->Table, IdentifyFile(tables.wrong)->Path);
    EXPECT_EQ(seen->Size, original.size());
    EXPECT_EQ(seen->Before, TBytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(seen->Before.size())));
    const TBytes after = ReadAll(tables.wrong);
    EXPECT_EQ(seen->After, TBytes(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(seen->After.size())));
    EXPECT_EQ(seen->Before.size(), 32U + 32U * 2);
}

// restore puts the header back only over the table exactly as fix left it.
TEST(DbfFix, RestoreRefusesATableChangedSince)
{
    struct TCase {
        const char* label;
        void (*change)(const std::string& path, const std::string& backup);
        bool restores;
    };
    const TCase cases[] = {
        {"unchanged", [](const std::string&, const std::string&) {}, true},
        {"corrected again with another code page",
         [](const std::string& path, const std::string&) { RunDbfFix({"fix", "--codepage=0", path}); }, false},
        {"a byte of the header changed",
         [](const std::string& path, const std::string&) {
             TBytes b = ReadAll(path);
             b[33] ^= 1;
             WriteAll(path, b);
         },
         false},
        {"a record appended",
         [](const std::string& path, const std::string&) {
             TBytes b = ReadAll(path);
             b.insert(b.end(), 14, ' ');
             WriteAll(path, b);
         },
         false},
        {"restored already",
         [](const std::string&, const std::string& backup) { RunDbfFix({"restore", backup}); }, false},
        {"gone", [](const std::string& path, const std::string&) { fs::remove(path); }, false},
    };
    for (const auto& c : cases) {
        const TTables tables;
        const std::string folder = tables.dir.File("backups");
        const TBytes original = ReadAll(tables.wrong);
        ASSERT_EQ(RunDbfFix({"fix", "--offsets=set", "--backup", folder, tables.wrong}).status, esOk);
        std::string backup;
        for (const auto& entry : fs::directory_iterator(folder)) backup = entry.path().string();
        ASSERT_FALSE(backup.empty()) << c.label;
        c.change(tables.wrong, backup);
        const bool exists = fs::exists(tables.wrong);
        const TBytes changed = exists ? ReadAll(tables.wrong) : TBytes{};
        const TCliRun restore = RunDbfFix({"restore", backup});
        EXPECT_EQ(restore.status, c.restores ? esOk : esFailed) << c.label << "\n" << restore.out;
        if (c.restores) {
            EXPECT_EQ(ReadAll(tables.wrong), original) << c.label;
        } else if (exists) {
            EXPECT_EQ(ReadAll(tables.wrong), changed) << c.label << ": restore wrote over a changed table";
        }
    }
}

// A second fix of the same table never overwrites the first backup, the one
// with the original header.
TEST(DbfFix, EachWriteGetsABackupOfItsOwn)
{
    const TTables tables;
    const std::string folder = tables.dir.File("backups");
    ASSERT_EQ(RunDbfFix({"fix", "--backup", folder, tables.wrong}).status, esOk);
    ASSERT_EQ(RunDbfFix({"fix", "--codepage=87", "--backup", folder, tables.wrong}).status, esOk);
    ASSERT_EQ(RunDbfFix({"fix", "--codepage=87", "--backup", folder, tables.wrong}).status, esOk);  // nothing to write
    std::vector<std::string> backups;
    for (const auto& entry : fs::directory_iterator(folder)) backups.push_back(entry.path().string());
    EXPECT_EQ(backups.size(), 2U);
}

// Ctrl-C during a run: the table in hand is finished, the rest left alone,
// the count so far printed.
TEST(DbfFix, InterruptFinishesTheTableInHand)
{
    TScratchDir dir;
    std::vector<std::string> paths;
    for (const char* name : {"1.dbf", "2.dbf", "3.dbf"}) {
        paths.push_back(dir.File(name));
        WriteAll(paths.back(), WrongTable().Build());
    }
    const TTableReport foretold = ReadTable(paths[0], TCorrectionChoices{});
    auto previous = SetFileFaultHook([](TFileOp op, std::uint64_t, std::size_t) {
        if (op == TFileOp::Write) std::raise(SIGINT);
        return TFileFault::None;
    });
    const TCliRun run = RunDbfFix({"fix", paths[0], paths[1], paths[2]});
    SetFileFaultHook(previous);
    EXPECT_EQ(run.status, esInterrupted);
    const TBytes first = ReadAll(paths[0]);
    EXPECT_TRUE(std::equal(foretold.After.begin(), foretold.After.end(), first.begin()));
    EXPECT_EQ(ReadAll(paths[1]), WrongTable().Build());
    EXPECT_EQ(ReadAll(paths[2]), WrongTable().Build());
    EXPECT_NE(run.out.find("Исправлено: 1, уже в порядке: 0, отказ: 0"), std::string::npos) << run.out;
}

TEST(DbfFix, JsonTellsWhatThePeoplesOutputTells)
{
    const TTables tables;
    const TCliRun check = RunDbfFix({"check", "--json", tables.right, tables.wrong, tables.cut});
    EXPECT_EQ(check.status, esFailed);
    const auto j = JsonLines(check.out);
    ASSERT_EQ(j.size(), 4U);
    EXPECT_FALSE(j[0]["would_change"].get<bool>());
    EXPECT_TRUE(j[1]["would_change"].get<bool>());
    const auto changes = j[1]["changes"].get<std::vector<std::string>>();
    EXPECT_EQ(changes, ReadTable(tables.wrong, TCorrectionChoices{}).Changes);
    EXPECT_NE(std::find(changes.begin(), changes.end(), "поле 1 « NAME » → «NAME»"), changes.end());
    EXPECT_NE(std::find(changes.begin(), changes.end(), "поле 2 «AGE»: тип n → N"), changes.end());
    EXPECT_NE(std::find(changes.begin(), changes.end(), "байты 12–27 (резерв): 16 ненулевых → 0"), changes.end());
    EXPECT_FALSE(j[2]["read"].get<bool>());
    EXPECT_EQ(j[2]["messages"][0], kReadHeaderMsg);
    // The summary closes the stream with the people's count.
    const auto& summary = j[3].at("summary");
    EXPECT_EQ(summary["would_change"], 1);
    EXPECT_EQ(summary["right"], 1);
    EXPECT_EQ(summary["failed"], 1);
    EXPECT_EQ(summary["exit_status"], esFailed);
    // The failure is told on stderr too; stdout stays JSON alone.
    EXPECT_NE(check.err.find(ShownName(tables.cut) + ": не прочитана: "), std::string::npos) << check.err;

    const TCliRun show = RunDbfFix({"show", "--json", tables.wrong});
    const auto header = JsonLines(show.out).at(0)["header"];
    EXPECT_EQ(header["index_flag"], 1);
    EXPECT_EQ(header["code_page"], 0x65);
    EXPECT_EQ(header["fields"][0]["name"], " NAME ");
    EXPECT_EQ(header["terminator_at"], 32 + 2 * 32);
    EXPECT_TRUE(header["widths_add_up"].get<bool>());
}

TEST(DbfFix, TheProgramTakesItsCommandLine)
{
    const TTables tables;
    EXPECT_EQ(RunProgram("check --offsets=nowhere x.dbf"), esUsage);
    EXPECT_EQ(RunProgram("check \"" + tables.wrong + "\""), esWouldChange);
    EXPECT_EQ(RunProgram("fix \"" + tables.wrong + "\""), esOk);
    EXPECT_EQ(RunProgram("check \"" + tables.wrong + "\""), esOk);
}

#ifdef _WIN32

// A name outside the ANSI code page reaches the table whole through the wide
// command line.
TEST(DbfFix, NamesOutsideTheAnsiCodePage)
{
    TScratchDir dir;
    const fs::path table = dir.Path() / L"\u0401\u043B\u043A\u0430 \u65E5\u672C.dbf";
    WriteAll(table, WrongTable().Build());
    const std::wstring command =
        L"\"\"" + fs::path(DBFFIX_PROGRAM).wstring() + L"\" fix \"" + table.wstring() + L"\" >NUL 2>NUL\"";
    EXPECT_EQ(_wsystem(command.c_str()), esOk);
    EXPECT_NE(ReadAll(table), WrongTable().Build());
}

#else

// Names are bytes: a Windows-1251 name from an old archive works, in the
// people's output as given and in JSON escaped.
TEST(DbfFix, NamesThatAreNotUtf8)
{
    TScratchDir dir;
    const std::string name = dir.File("\xC8\xCC\xDF.dbf");
    WriteAll(name, WrongTable().Build());
    const TCliRun check = RunDbfFix({"check", "--json", name});
    EXPECT_EQ(check.status, esWouldChange);
    EXPECT_EQ(JsonLines(check.out).at(0)["path"], JsonName(name));
    EXPECT_NE(JsonName(name).find("\\xC8\\xCC\\xDF.dbf"), std::string::npos);
    EXPECT_EQ(RunProgram("fix '" + name + "'"), esOk);
    const TCliRun again = RunDbfFix({"fix", name});
    EXPECT_EQ(again.status, esOk);
    EXPECT_EQ(again.out, ShownName(name) + ": уже в порядке\nИсправлено: 0, уже в порядке: 1, отказ: 0\n");
}

// A name with control bytes cannot act on the terminal in the people's
// output; in --json a UTF-8 name is a plain string and any other carries its
// bytes in hex, which give the table back to dbffix.
TEST(DbfFix, NamesEscapedForPeopleAndWholeForScripts)
{
    const struct {
        const char* label;
        std::string name;
        const char* shown;  // in the people's line
    } cases[] = {
        {"Cyrillic", "Клиенты.dbf", "Клиенты.dbf"},
        {"a line feed", "two\nlines.dbf", "two\\x0Alines.dbf"},
        {"a carriage return", "over\rwritten.dbf", "over\\x0Dwritten.dbf"},
        {"an escape sequence", "\x1B[2Jclear.dbf", "\\x1B[2Jclear.dbf"},
        {"a C1 control", "csi\xC2\x9B" "2J.dbf", "csi\\xC2\\x9B2J.dbf"},
        {"Windows-1251", "\xCA\xEB\xE8\xE5\xED\xF2\xFB.dbf", "\\xCA\\xEB\\xE8\\xE5\\xED\\xF2\\xFB.dbf"},
    };
    for (const auto& c : cases) {
        TScratchDir dir;
        const std::string table = dir.File(c.name);
        WriteAll(table, WrongTable().Build());
        for (const char* command : {"check", "fix", "show"}) {
            const TCliRun run = RunDbfFix({command, table});
            const std::string all = run.out + run.err;
            EXPECT_NE(run.out.find(std::string(c.shown) + ":"), std::string::npos) << c.label << " " << command << "\n" << all;
            EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](char b) { return b != '\n' && (b == '\r' || b == '\x1B'); }))
                << c.label << " " << command;
            if (c.name != c.shown) {
                EXPECT_EQ(all.find(c.name), std::string::npos) << c.label << " " << command << ": printed raw";
            }
        }
        WriteAll(table, WrongTable().Build());
        const auto record = JsonLines(RunDbfFix({"check", "--json", table}).out).at(0);
        if (IsUtf8(table)) {
            EXPECT_EQ(record["path"], table) << c.label;
            EXPECT_FALSE(record.contains("path_hex")) << c.label;
            continue;
        }
        const std::string hex = record.at("path_hex").get<std::string>();
        std::string given;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) given += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        EXPECT_EQ(given, table) << c.label;
        EXPECT_EQ(RunDbfFix({"check", given}).status, esWouldChange) << c.label;
    }
}

// A walk finds each table once, whatever the case of its extension, through
// links that loop back, and tells what it skips.
TEST(DbfFix, FolderWalksSurviveLinkLoops)
{
    TScratchDir dir;
    const fs::path root = dir.Path() / "tree";
    fs::create_directories(root / "sub" / "deeper");
    WriteAll(root / "a.dbf", WrongTable().Build());
    WriteAll(root / "sub" / "B.DBF", WrongTable().Build());
    WriteAll(root / "sub" / "deeper" / "c.Dbf", RightTable().Build());
    WriteAll(root / "sub" / "notes.txt", {'x'});
    fs::create_directory_symlink("..", root / "sub" / "up");
    fs::create_directory_symlink(".", root / "sub" / "deeper" / "here");
    fs::create_symlink("nowhere.dbf", root / "dangling.dbf");
    ASSERT_EQ(mkfifo((root / "pipe.dbf").c_str(), 0600), 0);
    fs::create_directory(root / "folder.dbf");

    const TCliRun check = RunDbfFix({"check", "-r", "--follow", root.string()});
    EXPECT_EQ(check.status, esWouldChange) << check.out << check.err;
    for (const fs::path& table : {root / "a.dbf", root / "sub" / "B.DBF", root / "sub" / "deeper" / "c.Dbf"}) {
        const std::string line = table.string() + ": ";
        const auto at = check.out.find(line);
        EXPECT_NE(at, std::string::npos) << line << "\n" << check.out;
        EXPECT_EQ(check.out.find(line, at + 1), std::string::npos) << "walked twice: " << line;
    }
    EXPECT_NE(check.out.find("Будут исправлены: 2, в порядке: 1, не прочитаны или отказ: 0"), std::string::npos)
        << check.out;
    for (const char* skipped : {"dangling.dbf: не обычный файл", "pipe.dbf: не обычный файл", "up: папка уже пройдена"}) {
        EXPECT_NE(check.err.find(skipped), std::string::npos) << skipped << "\n" << check.err;
    }
    const TCliRun fix = RunDbfFix({"fix", "--recursive", "--follow", root.string()});
    EXPECT_EQ(fix.status, esOk) << fix.out << fix.err;
    EXPECT_EQ(RunDbfFix({"check", "-r", root.string()}).status, esOk);
}

#endif

// The index flag: by default cleared only where no index file of the table's
// name stands beside it, so that a table is not cut off from its index.
TEST(DbfFix, IndexFlagClearedOnlyWhereNoIndexStandsBeside)
{
    struct TCase {
        const char* label;
        const char* beside;  // a file put beside the table; "" none; ending in '/' a folder
        std::vector<std::string> options;
        bool cleared;
        const char* told;  // by check
    };
    const TCase cases[] = {
        {"no index", "", {}, true, "Индексного файла таблицы (.mdx, .cdx) рядом нет"},
        {"a FoxPro index", "people.cdx", {}, false, "Индексный файл рядом: "},
        {"a dBase IV index in upper case", "PEOPLE.MDX", {}, false, "PEOPLE.MDX"},
        {"an index of mixed case", "People.cDx", {}, false, "признак индекса оставлен: рядом индексный файл"},
        {"another table's index", "others.cdx", {}, true, "рядом нет"},
        {"an index of another kind", "people.ntx", {}, true, "рядом нет"},
        {"a folder of the index's name", "people.cdx/", {}, true, "рядом нет"},
        {"always cleared", "people.cdx", {"--index-flag=clear"}, true, "Индексный файл рядом: "},
        {"always kept", "", {"--index-flag=keep"}, false, "рядом нет"},
        {"kept, the older spelling", "", {"--keep-index-flag"}, false, "рядом нет"},
    };
    for (const auto& c : cases) {
        TScratchDir dir;
        TTableLayout layout = RightTable();
        layout.mdxFlag = 1;
        const std::string table = dir.File("people.dbf");
        WriteAll(table, layout.Build());
        const std::string beside = c.beside;
        if (!beside.empty() && beside.back() == '/') {
            fs::create_directory(dir.Path() / beside.substr(0, beside.size() - 1));
        } else if (!beside.empty()) {
            WriteAll(dir.File(beside), {0});
        }
        std::vector<std::string> check{"check"};
        check.insert(check.end(), c.options.begin(), c.options.end());
        check.push_back(table);
        check.insert(check.begin() + 1, "--verbose");
        const TCliRun checked = RunDbfFix(check);
        EXPECT_EQ(checked.status, c.cleared ? esWouldChange : esOk) << c.label << "\n" << checked.out;
        EXPECT_NE(checked.out.find(c.told), std::string::npos) << c.label << "\n" << checked.out;
        std::vector<std::string> fix = check;
        fix[0] = "fix";
        fix.erase(fix.begin() + 1);
        EXPECT_EQ(RunDbfFix(fix).status, esOk) << c.label;
        EXPECT_EQ(ReadAll(table)[28], c.cleared ? 0 : 1) << c.label;
        const auto shown = JsonLines(RunDbfFix({"show", "--json", table}).out);
        EXPECT_EQ(shown.at(0)["index_file"].is_string(), std::string(c.told).find("рядом нет") == std::string::npos)
            << c.label;
    }
    TScratchDir dir;
    WriteAll(dir.File("t.dbf"), RightTable().Build());
    EXPECT_EQ(RunDbfFix({"check", "--keep-index-flag", "--index-flag=clear", dir.File("t.dbf")}).status, esUsage);
}

// check calls a table in order only where readers place its fields right,
// and fix leaves such a table alone; what writers leave on purpose passes.
TEST(DbfFix, InOrderOnlyWhereReadersPlaceTheFieldsRight)
{
    TTableLayout widths = RightTable();
    widths.recordLength = 308;  // the fields fill 14 bytes of it
    TBytes noTerminator = RightTable().Build();
    noTerminator[32 + 2 * 32] = ' ';
    TTableLayout shortHeader = RightTable();
    shortHeader.headerLength = 32 + 2 * 32;  // the terminator would be the first record's flag
    TTableLayout tail = RightTable();
    tail.tail = TBytes(263, 0);
    TTableLayout clipper = RightTable();
    clipper.fields[0] = {"LONG", 'C', 300 & 0xFF, 300 >> 8};
    clipper.recordLength = 1 + 300 + 3;
    const struct {
        const char* label;
        TBytes image;
        bool passes;
        const char* told;  // by check when refused, by show when it passes
    } cases[] = {
        {"widths short of the record length", widths.Build(), false,
         "ширины полей с признаком удаления (14) не сходятся с длиной записи (308)"},
        {"no terminator after the descriptors", noTerminator, false, "нет терминатора заголовка (0x0D)"},
        {"a header that ends with the descriptors", shortHeader.Build(), false, "нет терминатора заголовка (0x0D)"},
        {"263 bytes after the terminator", tail.Build(), true, "после него в заголовке ещё 263 байт"},
        {"a Clipper long character field", clipper.Build(), true, "по правилу Clipper"},
        {"a sound table", RightTable().Build(), true, "14 = длине записи"},
    };
    for (const auto& c : cases) {
        TScratchDir dir;
        const std::string table = dir.File("t.dbf");
        WriteAll(table, c.image);
        const TCliRun shown = RunDbfFix({"show", table});
        const TCliRun checked = RunDbfFix({"check", table});
        const TCliRun fixed = RunDbfFix({"fix", "--offsets=set", table});
        if (c.passes) {
            EXPECT_NE(shown.out.find(c.told), std::string::npos) << c.label << "\n" << shown.out;
            EXPECT_EQ(checked.status, esOk) << c.label << "\n" << checked.out;
            EXPECT_NE(checked.out.find(": в порядке"), std::string::npos) << c.label;
            EXPECT_EQ(fixed.status, esOk) << c.label << "\n" << fixed.out;
        } else {
            EXPECT_NE(shown.out.find("таблица не в порядке"), std::string::npos) << c.label << "\n" << shown.out;
            EXPECT_EQ(checked.status, esFailed) << c.label << "\n" << checked.out;
            EXPECT_EQ(checked.out.find(": в порядке"), std::string::npos) << c.label;
            EXPECT_NE(checked.err.find(c.told), std::string::npos) << c.label << "\n" << checked.err;
            EXPECT_EQ(fixed.status, esFailed) << c.label;
            EXPECT_NE(fixed.err.find(c.told), std::string::npos) << c.label << "\n" << fixed.err;
            EXPECT_EQ(ReadAll(table), c.image) << c.label << ": fix wrote";
        }
    }
}

// show and check read what they may only read, and say the table was not
// held; fix keeps its hold and refuses, writing nothing.
TEST(DbfFix, ShowAndCheckReadTablesTheyCannotHold)
{
    enum class TWay { ReadOnly, OpenElsewhere, LockedElsewhere, OpenHere };
    const struct {
        const char* label;
        TWay way;
    } cases[] = {
        {"a read-only file", TWay::ReadOnly},
#ifdef _WIN32
        {"a table open for reading, shared for reading only", TWay::OpenHere},
#else
        {"a table another program has open for reading", TWay::OpenElsewhere},
        {"a table another program has locked", TWay::LockedElsewhere},
#endif
    };
    const std::string notHeld = "рочитана без монопольного захвата";
    // One table at a time: a second holding process would keep the first's
    // release pipe open.
    const struct {
        TTableLayout layout;
        int checkStatus;
    } tables[] = {{RightTable(), esOk}, {WrongTable(), esWouldChange}};
    for (const auto& c : cases) {
        for (const auto& t : tables) {
            TScratchDir dir;
            const std::string table = dir.File("t.dbf");
            WriteAll(table, t.layout.Build());
            const TBytes before = ReadAll(table);
            std::optional<THoldingProcess> other;
#ifdef _WIN32
            // As another program opens it: reading, letting others read.
            const HANDLE here = c.way == TWay::OpenHere
                ? CreateFileW(NativePath(table).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)
                : INVALID_HANDLE_VALUE;
            ASSERT_TRUE(c.way != TWay::OpenHere || here != INVALID_HANDLE_VALUE) << c.label;
#endif
            if (c.way == TWay::ReadOnly) {
                fs::permissions(NativePath(table), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#ifdef _WIN32
                if (std::ofstream(NativePath(table), std::ios::app).is_open()) {
                    // wine run as root lets writers into a read-only file: nothing to see here.
                    fs::permissions(NativePath(table), fs::perms::owner_write, fs::perm_options::add);
                    continue;
                }
#endif
            } else if (c.way != TWay::OpenHere) {
                other.emplace(table, c.way == TWay::OpenElsewhere ? THoldMode::Read : THoldMode::Flock);
                ASSERT_TRUE(other->Holding()) << c.label;
            }
            const TCliRun shown = RunDbfFix({"show", table});
            EXPECT_EQ(shown.status, esOk) << c.label << "\n" << shown.out;
            EXPECT_NE(shown.out.find(notHeld), std::string::npos) << c.label << "\n" << shown.out;
            EXPECT_NE(shown.out.find("Записей: 3"), std::string::npos) << c.label;
            const TCliRun checked = RunDbfFix({"check", table});
            EXPECT_EQ(checked.status, t.checkStatus) << c.label << "\n" << checked.out;
            EXPECT_NE(checked.out.find(notHeld), std::string::npos) << c.label;
            const auto json = JsonLines(RunDbfFix({"check", "--json", table}).out).at(0);
            EXPECT_EQ(json["held"], false) << c.label;
            EXPECT_EQ(json["would_change"], t.checkStatus == esWouldChange) << c.label;
            const TCliRun fixed = RunDbfFix({"fix", table});
            EXPECT_EQ(fixed.status, esFailed) << c.label;
            EXPECT_NE(fixed.err.find("невозможно открыть в монопольном"), std::string::npos) << c.label << "\n" << fixed.err;
            EXPECT_EQ(ReadAll(table), before) << c.label << ": written";
            other.reset();
#ifdef _WIN32
            if (here != INVALID_HANDLE_VALUE) CloseHandle(here);
#endif
            fs::permissions(NativePath(table), fs::perms::owner_write, fs::perm_options::add);
        }
    }
#ifndef _WIN32
    // What cannot even be read is told so, and show fails on it.
    if (geteuid() != 0) {
        TScratchDir dir;
        const std::string hidden = dir.File("hidden.dbf");
        WriteAll(hidden, RightTable().Build());
        fs::permissions(hidden, fs::perms::owner_write);
        const TCliRun shown = RunDbfFix({"show", hidden});
        EXPECT_EQ(shown.status, esFailed);
        EXPECT_NE(shown.err.find("невозможно открыть для чтения"), std::string::npos) << shown.err;
    }
#endif
}

// A dBase II table is refused by name by every command, before anything
// reads its 16-byte descriptors as dBase III's; nothing is written.
TEST(DbfFix, DBase2TablesAreRefusedByName)
{
    TScratchDir dir;
    const std::string table = dir.File("old.dbf");
    const TBytes image = BuildDBase2Table({{"NAME", 'C', 20}, {"SUM", 'N', 8, 2}}, 3);
    WriteAll(table, image);
    const struct {
        std::vector<std::string> arguments;
        int status;
    } cases[] = {
        {{"show", table}, esOk},
        {{"check", table}, esFailed},
        {{"check", "--record-count=from-length", "--codepage=auto", table}, esFailed},
        {{"fix", "--offsets=set", "--codepage=87", table}, esFailed},
    };
    for (const auto& c : cases) {
        const TCliRun run = RunDbfFix(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments[0] << "\n" << run.out;
        const std::string& told = c.status == esOk ? run.out : run.err;  // failures go to stderr
        EXPECT_NE(told.find("отказ: Таблицы dBase II не обрабатываются"), std::string::npos)
            << c.arguments[0] << "\n" << told;
        EXPECT_EQ((run.out + run.err).find("ReadHeader"), std::string::npos) << c.arguments[0] << "\n" << told;
        EXPECT_EQ(ReadAll(table), image) << c.arguments[0];
    }
}
