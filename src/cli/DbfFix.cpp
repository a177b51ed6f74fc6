// SPDX-License-Identifier: MIT
#include "DbfFix.h"

#include "Backup.h"
#include "NotifyUser.h"
#include "Progress.h"
#include "Russian.h"
#include "System.h"
#include "TablePaths.h"
#include "TableReport.h"
#include "Version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <span>
#include <sstream>
#include <tuple>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int)
{
    gInterrupted = 1;
}

// Ctrl-C while it lives only asks the run to stop after the table in hand:
// a table is never left half corrected by the tool itself.
class TInterruptGuard {
public:
    TInterruptGuard() : FPrevious(std::signal(SIGINT, OnInterrupt)) { gInterrupted = 0; }
    ~TInterruptGuard() { std::signal(SIGINT, FPrevious == SIG_ERR ? SIG_DFL : FPrevious); }
    TInterruptGuard(const TInterruptGuard&) = delete;
    TInterruptGuard& operator=(const TInterruptGuard&) = delete;

private:
    void (*FPrevious)(int);
};

// The choices as the options spell them, with the window's defaults.
struct TChoiceOptions {
    std::string Offsets = "keep";
    std::string CodePage = "keep";
    std::string IndexFlag = "auto";
    bool KeepIndexFlag = false;  // the older spelling of --index-flag=keep
    std::string Date;
    std::string RecordCount = "keep";
};

TDetectionAsks AsksOf(const TChoiceOptions& o)
{
    return {o.CodePage == "auto", o.RecordCount == "from-length"};
}

struct TCommand {
    std::vector<std::string> Paths;
    bool Recursive = false;
    bool Follow = false;         // -r walks links to folders too
    std::string FilesFrom;       // a list of more paths, "-" for stdin
    bool NulSeparated = false;   // the list's names end with NUL bytes (find -print0)
    bool Json = false;
    bool Quiet = false;    // only the tables that need or got a change, or failed, and the count
    bool Verbose = false;  // the findings under each table's line
    std::string BackupFolder;
    std::string Table;  // restore: the table every backup goes into
    TChoiceOptions Choices;
    std::uint64_t Records = 0;   // show: the first records, field by field
    std::string RecordsCodePage; // show: the encoding they are read in, "auto" or a code page byte
};

std::optional<std::chrono::year_month_day> ParseDate(const std::string& text)
{
    using namespace std::chrono;
    if (text == "today") {
        const std::time_t now = std::time(nullptr);
        const std::tm local = *std::localtime(&now);
        return year_month_day{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                              day{static_cast<unsigned>(local.tm_mday)}};
    }
    int y = 0;
    unsigned m = 0;
    unsigned d = 0;
    char tail = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &tail) != 3) {
        return std::nullopt;
    }
    const year_month_day date{year{y}, month{m}, day{d}};
    if (!date.ok() || y < kFirstStorableYear || y > kLastStorableYear) return std::nullopt;
    return date;
}

TCorrectionChoices ToChoices(const TChoiceOptions& o)
{
    TCorrectionChoices c;
    c.OffsetMode = o.Offsets == "clear" ? omClear : o.Offsets == "set" ? omSet : omLeave;
    c.CodePageChoice = o.CodePage == "0" ? cpZero : o.CodePage == "38" ? cpDos866 : o.CodePage == "87" ? cpWin1251 : cpLeave;
    c.RemoveIndexFlag = o.IndexFlag != "keep" && !o.KeepIndexFlag;
    if (const auto date = ParseDate(o.Date); !o.Date.empty() && date) {
        c.InsertDate = true;
        c.Date = *date;
    }
    return c;
}

// --index-flag=auto: the flag is cleared only where no index file of the
// table's name stands beside it; where the folder cannot be listed, it is
// not known, and the flag stays.
bool AutoIndexFlag(const TChoiceOptions& o)
{
    return o.IndexFlag == "auto" && !o.KeepIndexFlag;
}

void SettleIndexFlag(const TChoiceOptions& o, const TIndexBeside& beside, TCorrectionChoices& choices)
{
    if (AutoIndexFlag(o)) choices.RemoveIndexFlag = beside.FolderRead && !beside.File;
}

// Why --index-flag=auto left a set flag, for the table's notes.
std::optional<std::string> IndexFlagNote(const TChoiceOptions& o, const TIndexBeside& beside, TByte flag)
{
    if (!AutoIndexFlag(o) || flag == 0) return std::nullopt;
    if (beside.File) return "признак индекса оставлен: рядом индексный файл " + *beside.File;
    if (!beside.FolderRead) return std::string("признак индекса оставлен: папка таблицы не читается, индекс не найти");
    return std::nullopt;
}

// A whole number from low to high in decimal digits, no sign, no spaces.
bool IsNumberIn(const std::string& value, std::uint64_t low, std::uint64_t high)
{
    if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::uint64_t number = std::stoull(value);
    return number >= low && number <= high;
}

CLI::Validator OneOf(std::vector<std::string> values, const std::string& expected)
{
    return CLI::Validator(
        [values = std::move(values), expected](std::string& value) {
            return std::find(values.begin(), values.end(), value) != values.end() ? std::string()
                                                                                   : "ожидается " + expected;
        },
        "");
}

void AddChoiceOptions(CLI::App& command, TChoiceOptions& o)
{
    command.add_option("--offsets", o.Offsets, "смещения полей: очистить, поставить по ширинам или оставить (keep)")
        ->type_name("clear|set|keep")
        ->check(OneOf({"clear", "set", "keep"}, "clear, set или keep"));
    command.add_option("--codepage", o.CodePage,
                       "кодовая страница: 0, 38 (DOS 866), 87 (Windows-1251), по текстам записей (auto) "
                       "или оставить (keep)")
        ->type_name("0|38|87|auto|keep")
        ->check(OneOf({"0", "38", "87", "auto", "keep"}, "0, 38, 87, auto или keep"));
    command.add_option("--record-count", o.RecordCount,
                       "число записей: по длине файла, когда записи заполняют его целиком (from-length), "
                       "или оставить (keep)")
        ->type_name("from-length|keep")
        ->check(OneOf({"from-length", "keep"}, "from-length или keep"));
    auto* indexFlag =
        command.add_option("--index-flag", o.IndexFlag,
                           "признак индекса: убрать, только если рядом нет индексного файла таблицы "
                           "(.mdx, .cdx; auto, по умолчанию), убирать всегда (clear) или оставить (keep)")
            ->type_name("auto|clear|keep")
            ->check(OneOf({"auto", "clear", "keep"}, "auto, clear или keep"));
    command.add_flag("--keep-index-flag", o.KeepIndexFlag, "то же, что --index-flag=keep")->excludes(indexFlag);
    command.add_option("--date", o.Date, "вставить дату последнего изменения")
        ->type_name("today|ГГГГ-ММ-ДД")
        ->check(CLI::Validator(
            // cppcheck-suppress constParameter ; CLI11 hands validators a value they may change
            [](std::string& value) {
                return ParseDate(value) ? std::string()
                                        : "ожидается today или дата ГГГГ-ММ-ДД между 1900 и 2155 годом";
            },
            ""));
}

// A table's report line or block goes out with the counter out of its way;
// the counter comes back at its next redraw, not after every line.
template <typename Print>
void Emit(TProgress& progress, Print print)
{
    progress.Hide();
    print();
}

// The tables of a run, told what was passed over as the walk finds it; the
// counter knows the total only where no folder is walked.
struct TRunTables {
    TProgress Progress;
    TTableWalk Walk;

    TRunTables(const TCommand& command, std::ostream& err, bool progressAsked)
        : Progress(err, progressAsked, command.Recursive ? std::nullopt : std::optional(command.Paths.size())),
          Walk(command.Paths, command.Recursive, command.Follow,
               [this, &err](const std::string& line) { Emit(Progress, [&] { err << ShownName(line) << "\n"; }); })
    {
    }
};

int Interrupted(std::ostream& err)
{
    err << "Прервано\n";
    return esInterrupted;
}

// The closing count: the tables by how they came out, those that failed
// grouped by reason, so that a thousand tables refused for one reason are
// one line.
struct TTally {
    std::size_t Right = 0;
    std::size_t Changes = 0;
    std::size_t Failed = 0;
    std::map<std::string, std::size_t> Reasons;

    void Add(TTableOutcome outcome, const TTableReport& report)
    {
        switch (outcome) {
        case TTableOutcome::Right: ++Right; break;
        case TTableOutcome::Changes: ++Changes; break;
        case TTableOutcome::Failed:
            ++Failed;
            ++Reasons[PlainReason(report)];
            break;
        }
    }
    [[nodiscard]] std::size_t Done() const { return Right + Changes + Failed; }
    void PrintReasons(std::ostream& out) const
    {
        for (const auto& [reason, count] : Reasons) out << "  " << count << " × " << reason << "\n";
    }
    void PutReasons(TJsonWriter& json) const
    {
        json.Key("failures").Array();
        for (const auto& [reason, count] : Reasons) json.Object().Put("reason", reason).Put("tables", count).End();
        json.End();
    }
};

// Where a table's word goes: a failure to stderr alone, so that stdout
// holds the tables dealt with and a script or a pager sees them unmixed;
// with --json the table's object goes to stdout as well, as every table's
// does. Tables that are right are left out under --quiet.
class TTableOutput {
public:
    TTableOutput(const TCommand& command, std::ostream& out, std::ostream& err, TProgress& progress)
        : FCommand(command), FOut(out), FErr(err), FProgress(progress)
    {
    }

    template <typename PeoplesForm>
    void Tell(const TTableReport& report, TTableOutcome outcome, PeoplesForm peoples)
    {
        Emit(FProgress, [&] {
            if (outcome == TTableOutcome::Failed) {
                Finish();  // in the order they happened, where both streams meet
                std::ostringstream line;
                peoples(line);
                FErr << line.str() << std::flush;
            }
            if (FCommand.Json) {
                // One object a line, out within a tenth of a second: a pipe
                // sees the tables as they are done, without a write for each.
                TJsonWriter json(FLines);
                ToJson(report, json);
                FLines += '\n';
                if (FLines.size() >= kLinesHeld || std::chrono::steady_clock::now() - FFlushed >= kLinesDelay) Finish();
            } else if (outcome != TTableOutcome::Failed && !(FCommand.Quiet && outcome == TTableOutcome::Right)) {
                peoples(FOut);
            }
        });
    }

    // check's and fix's form: the table's line, with --verbose what the
    // records show under it.
    void TellLine(const TTableReport& report, TTableOutcome outcome, const std::string& line)
    {
        Tell(report, outcome, [&](std::ostream& stream) {
            stream << line << "\n";
            if (FCommand.Verbose) PrintFindings(report, stream);
        });
    }

    // Writes out the lines held; before the closing count.
    void Finish()
    {
        FOut << FLines << std::flush;
        FLines.clear();
        FFlushed = std::chrono::steady_clock::now();
    }

private:
    const TCommand& FCommand;
    std::ostream& FOut;
    std::ostream& FErr;
    TProgress& FProgress;
    static constexpr std::size_t kLinesHeld = std::size_t{64} * 1024;
    static constexpr auto kLinesDelay = std::chrono::milliseconds(100);
    std::string FLines;  // JSON lines not yet written
    std::chrono::steady_clock::time_point FFlushed{};
};

// The last line of a --json run: the count, as the people's output closes.
void PrintSummaryJson(std::ostream& out, std::initializer_list<std::pair<const char*, std::size_t>> counts,
                      const TTally& tally, int status)
{
    std::string line;
    TJsonWriter json(line);
    json.Object().Key("summary").Object();
    for (const auto& [key, count] : counts) json.Put(key, count);
    json.Put("failed", tally.Failed);
    tally.PutReasons(json);
    json.Put("tables", tally.Done()).Put("exit_status", status).Put("interrupted", gInterrupted != 0).End().End();
    out << line << "\n";
}

int Show(const TCommand& command, std::ostream& out, std::ostream& err, bool progressAsked)
{
    TRecordsAsk records;
    records.Count = command.Records;
    records.AutoCodePage = command.RecordsCodePage == "auto";
    if (!command.RecordsCodePage.empty() && !records.AutoCodePage) {
        records.CodePage = static_cast<TByte>(std::stoul(command.RecordsCodePage));
    }
    TRunTables run(command, err, progressAsked);
    TProgress& progress = run.Progress;
    TTableOutput output(command, out, err, progress);
    TTally tally;
    TIndexFiles indexFiles;
    for (std::string path; !gInterrupted && run.Walk.Next(path);) {
        TTableReport report = ReadTable(path, std::nullopt, {}, records);
        report.Index = indexFiles.Beside(path);
        const TTableOutcome outcome = report.Read ? TTableOutcome::Right : TTableOutcome::Failed;
        tally.Add(outcome, report);
        output.Tell(report, outcome, [&](std::ostream& stream) { PrintShow(report, stream); });
        progress.Done(tally.Done());
    }
    progress.Hide();
    output.Finish();
    const int status = tally.Failed > 0 || run.Walk.FolderUnreadable() ? esFailed : esOk;
    if (command.Json) PrintSummaryJson(out, {{"read", tally.Right}}, tally, gInterrupted ? esInterrupted : status);
    return gInterrupted ? Interrupted(err) : status;
}

int Check(const TCommand& command, std::ostream& out, std::ostream& err, bool progressAsked)
{
    const TCorrectionChoices choices = ToChoices(command.Choices);
    TRunTables run(command, err, progressAsked);
    TProgress& progress = run.Progress;
    TTableOutput output(command, out, err, progress);
    TTally tally;
    TIndexFiles indexFiles;
    for (std::string path; !gInterrupted && run.Walk.Next(path);) {
        const TIndexBeside beside = indexFiles.Beside(path);
        TCorrectionChoices tableChoices = choices;
        SettleIndexFlag(command.Choices, beside, tableChoices);
        TTableReport report = ReadTable(path, tableChoices, AsksOf(command.Choices));
        report.Index = beside;
        if (report.Header) {
            if (const auto note = IndexFlagNote(command.Choices, beside, report.Header->IndexFlag)) {
                report.Notes.push_back(*note);
            }
        }
        const TTableOutcome outcome = CheckOutcome(report);
        tally.Add(outcome, report);
        output.TellLine(report, outcome, CheckLine(report));
        progress.Done(tally.Done());
    }
    progress.Hide();
    output.Finish();
    // A table that could not be checked outweighs one that would change: the
    // run did not see all it was asked to, and 1 would let a script take the
    // answer for complete.
    const int status =
        tally.Failed > 0 || run.Walk.FolderUnreadable() ? esFailed : tally.Changes > 0 ? esWouldChange : esOk;
    if (command.Json) {
        PrintSummaryJson(out, {{"would_change", tally.Changes}, {"right", tally.Right}}, tally,
                         gInterrupted ? esInterrupted : status);
    } else {
        out << "Будут исправлены: " << tally.Changes << ", в порядке: " << tally.Right
            << ", не прочитаны или отказ: " << tally.Failed << "\n";
        tally.PrintReasons(out);
    }
    return gInterrupted ? Interrupted(err) : status;
}

// How a table's write stands to its backup. Backups are saved for a batch of
// tables first, with the writes called off; then one flush puts them all on
// the disk; then each table is corrected again and written only when the
// bytes about to be overwritten are those its backup holds.
enum class TBackupPass { None, Save, Write };

// What fix is asked to do besides the choices.
struct TFixAsks {
    std::string BackupFolder;
    bool Findings = false;  // the header as found and what the records show, for --json and --verbose
};

TTableReport FixTable(const std::string& path, const TCorrectionChoices& choices, const TChoiceOptions& asked,
                      const TIndexBeside& beside, const TFixAsks& fixAsks, TBackupPass pass,
                      const TTableReport* saved = nullptr)
{
    TTableReport report;
    report.Path = path;
    report.Index = beside;
    if (auto problem = PathProblem(path)) {
        report.Messages.push_back(std::move(*problem));
        report.Fix = TFixState::NotCorrected;
        return report;
    }
    TMessageCollector collector(report.Messages);
    TCorrectionOptions options;
    options.SkipUnchanged = true;
    options.RefuseUntrustedLayout = true;
    TCorrectionChoices tableChoices = choices;
    SettleIndexFlag(asked, beside, tableChoices);
    const TDetectionAsks asks = AsksOf(asked);
    // Settled as check settles them, on the table as it is held.
    options.AdjustChoices = [&](TDBF& table, TCorrectionChoices& adjusted) {
        report.Read = true;
        // The people's line needs neither the header described nor the records looked at.
        if (fixAsks.Findings) DescribeTable(table, report);
        if (asks.CodePage || asks.RecordCount || fixAsks.Findings) report.Findings = InspectTable(table);
        if (asks.CodePage || asks.RecordCount) report.Notes = SettleChoices(*report.Findings, asks, adjusted);
        if (const auto note = IndexFlagNote(asked, beside, table.Header().MdxFlag)) report.Notes.push_back(*note);
    };
    options.BeforeWrite = [&](std::span<const TByte> before, std::span<const TByte> after) {
        report.Before.assign(before.begin(), before.end());
        report.After.assign(after.begin(), after.end());
        if (pass == TBackupPass::None) return true;
        if (pass == TBackupPass::Write) {
            if (report.Before == saved->Before && report.After == saved->After) {
                report.BackupFile = saved->BackupFile;
                return true;
            }
            NotifyUser("Таблица изменилась, пока сохранялись резервные копии; не исправлена");
            return false;
        }
        const auto identity = IdentifyFile(path);
        if (!identity) {
            NotifyUser("Таблица не находится по имени: резервная копия не записана, таблица не изменена");
            return false;
        }
        const auto name = SaveBackup(fixAsks.BackupFolder, {2, identity->Path, identity->Id, identity->Size, report.Before,
                                                    report.After});
        if (name) report.BackupFile = *name;
        return false;  // the write comes once the batch's backups are on the disk
    };
    try {
        const TCorrectionOutcome outcome = CorrectTable(path, tableChoices, options);
        switch (outcome.Result) {
        case TCorrectionResult::Written:
            report.Fix = TFixState::Written;
            break;
        case TCorrectionResult::Unchanged: report.Fix = TFixState::Unchanged; break;
        case TCorrectionResult::NotCorrected:
            report.Fix = TFixState::NotCorrected;
            if (!report.Messages.empty()) report.Refusal = report.Messages.front();
            break;
        }
    } catch (const EStreamWriteError& error) {
        report.Messages.push_back(error.what());
        report.Fix = TFixState::WriteFailed;
    }
    report.Changes = DescribeChanges(report.Before, report.After);
    if (fixAsks.Findings && report.Fix == TFixState::NotCorrected && !report.Read) {
        // Refused before the correction looked at the header: for --json the
        // header is read as check reads it, so that both tell the same record.
        TTableReport looked = ReadTable(path, std::nullopt);
        report.Read = looked.Read;
        report.Held = looked.Held;
        report.Header = std::move(looked.Header);
        report.Findings = std::move(looked.Findings);
    }
    return report;
}

// Tables corrected together behind one flush of their backups: enough to
// spread its cost, few enough that a Ctrl-C is heeded soon.
constexpr std::size_t kBackupBatch = 256;

void RemoveBackup(const std::string& name)
{
    std::error_code error;
    std::filesystem::remove(NativePath(name), error);
}

// Corrects a batch of tables, handing over each table's report, in the
// batch's order, once it is final; with a backup folder, no table is written
// before its backup is on the disk. A backup whose table was not written
// after all is removed: it would fit no table's history. An interrupt leaves
// the tables not yet written untouched and unreported.
void FixBatch(std::span<const std::string> paths, const TCorrectionChoices& choices, const TChoiceOptions& asked,
              TIndexFiles& indexFiles, const TFixAsks& fixAsks,
              const std::function<void(const TTableReport&)>& onReport)
{
    const std::string& backupFolder = fixAsks.BackupFolder;
    if (backupFolder.empty()) {
        for (const auto& path : paths) {
            if (gInterrupted) break;
            onReport(FixTable(path, choices, asked, indexFiles.Beside(path), fixAsks, TBackupPass::None));
        }
        return;
    }
    std::vector<TTableReport> reports;
    std::vector<std::string> saved;
    for (const auto& path : paths) {
        if (gInterrupted) break;
        reports.push_back(
            FixTable(path, choices, asked, indexFiles.Beside(path), fixAsks, TBackupPass::Save));
        if (!reports.back().BackupFile.empty()) saved.push_back(reports.back().BackupFile);
    }
    const bool flushed = saved.empty() || gInterrupted || FlushFilesDurably(saved);
    for (auto& report : reports) {
        const std::string backup = report.BackupFile;
        if (!backup.empty() && gInterrupted) {
            // Saved, not yet written: left as it is.
            RemoveBackup(backup);
            continue;
        }
        if (!backup.empty() && !flushed) {
            RemoveBackup(backup);
            report.BackupFile.clear();
            report.Messages.push_back("Резервные копии не сброшены на диск в папке " + ShownName(backupFolder) +
                                      "; таблица не изменена");
        } else if (!backup.empty()) {
            report = FixTable(report.Path, choices, asked, indexFiles.Beside(report.Path), fixAsks, TBackupPass::Write,
                              &report);
            // A write that failed may have left part of the header: its
            // backup is what is left of the old one.
            if (report.Fix == TFixState::WriteFailed) report.BackupFile = backup;
            if (report.Fix != TFixState::Written && report.Fix != TFixState::WriteFailed) {
                RemoveBackup(backup);
                report.BackupFile.clear();
            }
        }
        onReport(report);
    }
}

int Fix(const TCommand& command, std::ostream& out, std::ostream& err, bool progressAsked)
{
    const TCorrectionChoices choices = ToChoices(command.Choices);
    if (!command.BackupFolder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(NativePath(command.BackupFolder), error);
        if (!std::filesystem::is_directory(NativePath(command.BackupFolder), error)) {
            err << "Папка для резервных копий не создаётся: " << ShownName(command.BackupFolder) << "\n";
            return esFailed;
        }
    }
    TRunTables run(command, err, progressAsked);
    TProgress& progress = run.Progress;
    TTableOutput output(command, out, err, progress);
    TTally tally;
    TIndexFiles indexFiles;
    const auto tell = [&](const TTableReport& report) {
        const TTableOutcome outcome = FixOutcome(report);
        tally.Add(outcome, report);
        output.TellLine(report, outcome, FixLine(report));
        progress.Done(tally.Done());
    };
    const TFixAsks fixAsks{command.BackupFolder, command.Json || command.Verbose};
    std::vector<std::string> batch;
    for (bool more = true; more && !gInterrupted;) {
        batch.clear();
        std::string path;
        while (batch.size() < kBackupBatch && (more = run.Walk.Next(path))) batch.push_back(std::move(path));
        if (!batch.empty()) FixBatch(batch, choices, command.Choices, indexFiles, fixAsks, tell);
    }
    progress.Hide();
    output.Finish();
    const int status = tally.Failed > 0 || run.Walk.FolderUnreadable() ? esFailed : esOk;
    if (command.Json) {
        PrintSummaryJson(out, {{"written", tally.Changes}, {"unchanged", tally.Right}}, tally,
                         gInterrupted ? esInterrupted : status);
    } else {
        out << "Исправлено: " << tally.Changes << ", уже в порядке: " << tally.Right << ", отказ: " << tally.Failed
            << "\n";
        tally.PrintReasons(out);
    }
    return gInterrupted ? Interrupted(err) : status;
}

int Restore(const TCommand& command, std::ostream& out, std::ostream& err)
{
    int status = esOk;
    for (const auto& report : RestoreBackups(command.Paths, command.Table, [] { return gInterrupted != 0; })) {
        if (report.Restored) {
            out << ShownName(report.BackupFile) << ": заголовок восстановлен в " << ShownName(report.Table);
            if (report.Generations > 1) {
                out << " (копия " << report.Generation << " из " << report.Generations << ", от новой к старой)";
            }
            out << "\n";
        } else {
            // A refused backup is told on stderr alone, as a refused table is.
            status = esFailed;
            std::ostringstream line;
            line << ShownName(report.BackupFile) << ": отказ"
                 << (report.Table.empty() ? "" : " (" + ShownName(report.Table) + ")") << ": ";
            for (std::size_t i = 0; i < report.Messages.size(); ++i) {
                line << (i ? "; " : "") << ShownName(report.Messages[i]);
            }
            out.flush();
            err << line.str() << "\n" << std::flush;
        }
    }
    return gInterrupted ? Interrupted(err) : status;
}

// CLI11's own complaints, said in the program's language.
std::string UsageError(const CLI::ParseError& e)
{
    std::string what = e.what();
    const auto tail = [&] {
        const auto colon = what.find(": ");
        return colon == std::string::npos ? what : what.substr(colon + 2);
    };
    const std::string name = e.get_name();
    if (name == "ValidationError") return what;
    if (name == "ExtrasError") return "лишние аргументы: " + tail();
    if (name == "RequiredError" && what.find("subcommand") != std::string::npos) {
        return "не указана команда: show, check, fix или restore";
    }
    if (name == "RequiredError") return "не хватает обязательного аргумента или команды (" + what + ")";
    for (const auto& [error, word, told] : {std::tuple("RequiresError", " requires ", " указывается только вместе с "),
                                            std::tuple("ExcludesError", " excludes ", " не указывается вместе с ")}) {
        const auto at = what.find(word);
        if (name == error && at != std::string::npos) {
            return what.substr(0, at) + told + what.substr(at + std::string_view(word).size());
        }
    }
    if (name == "ArgumentMismatch") return "неверное число значений (" + what + ")";
    if (name == "OptionNotFound") return "нет такого параметра (" + what + ")";
    return "неверная командная строка (" + what + ")";
}

// How people are told about tables: check and fix take the same three.
void AddOutputOptions(CLI::App& command, TCommand& c)
{
    command.add_flag("--json", c.Json, "вывод для программ: по объекту JSON на строку для каждой таблицы, затем итог");
    auto* quiet = command.add_flag("-q,--quiet", c.Quiet,
                                   "называть только таблицы, которые исправлены, будут исправлены или не прочитаны");
    command.add_flag("-v,--verbose", c.Verbose, "под строкой таблицы: число записей, кодировка текстов, индекс рядом")
        ->excludes(quiet);
}

const std::vector<std::string> kCommands{"show", "check", "fix", "restore"};

// The command a misspelt one was meant to be: the one a letter or two away.
std::optional<std::string> NearestCommand(const std::string& word)
{
    for (const auto& command : kCommands) {
        // Levenshtein distance, small words only.
        std::vector<std::size_t> row(command.size() + 1);
        for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
        for (std::size_t i = 1; i <= word.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= command.size(); ++j) {
                const std::size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (word[i - 1] == command[j - 1] ? 0U : 1U)});
                diagonal = above;
            }
        }
        if (row.back() <= 2 && word.size() <= command.size() + 2) return command;
    }
    return std::nullopt;
}

// A first word that is no command is told as such, with the commands, not
// as an argument CLI11 did not expect.
std::optional<std::string> UnknownCommand(const std::vector<std::string>& arguments)
{
    const auto first = std::find_if(arguments.begin(), arguments.end(),
                                    [](const std::string& a) { return a.empty() || a[0] != '-'; });
    if (first == arguments.end() || std::find(kCommands.begin(), kCommands.end(), *first) != kCommands.end()) {
        return std::nullopt;
    }
    std::string text = "неизвестная команда «" + ShownName(*first) + "»";
    if (const auto nearest = NearestCommand(*first)) text += " — может быть, " + *nearest + "?";
    return text + "\nКоманды: show, check, fix, restore";
}

// CLI11's help with its English words in Russian and its columns lined up by
// the characters a terminal shows: CLI11 pads by bytes, and a Cyrillic letter
// is two of them.
class TRussianFormatter : public CLI::Formatter {
public:
    TRussianFormatter()
    {
        label("Usage", "Использование");
        label("OPTIONS", "ПАРАМЕТРЫ");
        label("SUBCOMMAND", "КОМАНДА");
        label("SUBCOMMANDS", "КОМАНДЫ");
        label("Positionals", "Аргументы");
        label("REQUIRED", "(обязательно)");
        label("Needs", "требует");
        label("Excludes", "несовместим с");
        label("Env", "переменная окружения");
        label("TEXT", "ТЕКСТ");
        column_width(36);
    }

    std::string make_option(const CLI::Option* option, bool positional) const override
    {
        // What an option needs or excludes goes with its text, in brackets,
        // not into the names' column.
        std::string opts = make_option_opts(option);
        std::string description = make_option_desc(option);
        const auto at = std::min(opts.find(" " + get_label("Needs") + ":"), opts.find(" " + get_label("Excludes") + ":"));
        if (at != std::string::npos) {
            description += " (" + opts.substr(at + 1) + ")";
            opts.erase(at);
        }
        return Line(make_option_name(option, positional) + opts, description);
    }

    std::string make_subcommand(const CLI::App* sub) const override
    {
        return Line(sub->get_display_name(true), sub->get_description());
    }

private:
    // The name in its column, the description beside it, or under it when
    // the name fills the column.
    std::string Line(const std::string& name, const std::string& description) const
    {
        const std::string indent(column_width_, ' ');
        std::string line = "  " + name;
        const std::size_t columns = Columns(line);
        if (!description.empty()) {
            line += columns >= column_width_ ? "\n" + indent : std::string(column_width_ - columns, ' ');
            for (const char c : description) {
                line += c;
                if (c == '\n') line += indent;
            }
        }
        return line + "\n";
    }
};

const char* const kExitCodes =
    "\nКоды завершения: 0 — всё в порядке (check: ничего не изменится); 1 — check: что-то будет исправлено;\n"
    "2 — таблица не прочитана, отказ или ошибка записи; 64 — ошибка в командной строке;\n"
    "130 — прервано (Ctrl-C) после таблицы, что была в работе.\n";

}  // namespace

int DbfFixMain(std::vector<std::string> arguments, std::ostream& out, std::ostream& err, bool progress)
{
    CLI::App app{"dbffix — исправление заголовков таблиц dBase III (.dbf) на месте: записи и длина файла не меняются.",
                 "dbffix"};
    app.formatter(std::make_shared<TRussianFormatter>());
    app.option_defaults()->group("Параметры");
    app.set_help_flag("-h,--help", "показать эту справку и выйти");
    app.set_version_flag("--version", std::string("dbffix ") + DBFHEADERFIX_VERSION, "показать версию и выйти");
    app.footer(kExitCodes);
    app.require_subcommand(1);

    TCommand command;
    // How the tables are named, the same in show, check and fix.
    const auto addPathOptions = [&command](CLI::App& sub) {
        sub.add_flag("-r,--recursive", command.Recursive, "обойти папки, искать файлы *.dbf");
        sub.add_flag("--follow", command.Follow, "с -r идти и по ссылкам на папки");
        sub.add_option("--files-from", command.FilesFrom, "взять ещё имена из файла, по одному в строке (- : stdin)")
            ->type_name("ФАЙЛ");
        sub.add_flag("-0,--null", command.NulSeparated, "имена в --files-from разделены байтом NUL (find -print0)");
    };
    auto& show = *app.add_subcommand("show", "показать заголовок и описатели полей таблиц");
    auto* records = show.add_option("--records", command.Records, "показать первые N записей поле за полем (N до 1000)")
                        ->type_name("N")
                        ->check(CLI::Validator(
                            [](const std::string& value) {
                                return IsNumberIn(value, 1, kMaxRecordsShown)
                                           ? std::string()
                                           : "ожидается число записей от 1 до " + std::to_string(kMaxRecordsShown);
                            },
                            ""));
    show.add_option("--codepage", command.RecordsCodePage,
                    "тексты записей читать по байту кодовой страницы N (0–255) или по самим текстам (auto); "
                    "без него — по байту заголовка")
        ->type_name("N|auto")
        ->needs(records)
        ->check(CLI::Validator(
            [](const std::string& value) {
                return value == "auto" || IsNumberIn(value, 0, 255)
                           ? std::string()
                           : "ожидается auto или байт кодовой страницы от 0 до 255";
            },
            ""));
    show.add_flag("--json", command.Json, "вывод для программ: по объекту JSON на строку для каждой таблицы, затем итог");
    addPathOptions(show);
    show.add_option("ПУТЬ", command.Paths, "таблицы или папки")->type_name("");

    auto& check = *app.add_subcommand("check", "сказать, что исправление изменило бы; ничего не записывает");
    AddChoiceOptions(check, command.Choices);
    addPathOptions(check);
    AddOutputOptions(check, command);
    check.add_option("ПУТЬ", command.Paths, "таблицы или папки")->type_name("");

    auto& fix = *app.add_subcommand("fix", "исправить заголовки таблиц");
    AddChoiceOptions(fix, command.Choices);
    addPathOptions(fix);
    AddOutputOptions(fix, command);
    fix.add_option("--backup", command.BackupFolder, "сохранять прежние заголовки в этой папке перед записью")
        ->type_name("ПАПКА");
    fix.add_option("ПУТЬ", command.Paths, "таблицы или папки")->type_name("");

    auto& restore = *app.add_subcommand("restore", "вернуть заголовки из резервных копий");
    restore.add_option("--table", command.Table,
                       "восстановить в эту таблицу, какую бы ни называли копии (она переименована, "
                       "перенесена или восстановлена из архива)")
        ->type_name("ТАБЛИЦА");
    restore.add_option("КОПИЯ", command.Paths, "файлы резервных копий (*.dbfbak) или папки с ними")
        ->required()
        ->type_name("");

    for (auto* sub : {&show, &check, &fix, &restore}) {
        sub->group("Команды");
        sub->set_help_flag("-h,--help", "показать эту справку и выйти");
    }

    if (const auto unknown = UnknownCommand(arguments)) {
        err << "dbffix: " << *unknown << "\nСправка: dbffix --help\n";
        return esUsage;
    }
    try {
        std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
        app.parse(arguments);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        err << "dbffix: " << UsageError(e) << "\nСправка: dbffix --help\n";
        return esUsage;
    }

    if (!restore.parsed()) {
        if (!command.FilesFrom.empty()) {
            std::ifstream file;
            std::istream* list = &std::cin;
            std::error_code error;
            if (command.FilesFrom != "-") {
                if (std::filesystem::is_directory(NativePath(command.FilesFrom), error)) {
                    err << "dbffix: --files-from " << ShownName(command.FilesFrom) << ": это папка, а не список файлов\n";
                    return esUsage;
                }
                file.open(NativePath(command.FilesFrom), std::ios::binary);
                if (!file) {
                    err << "dbffix: --files-from " << ShownName(command.FilesFrom) << ": не открывается\n";
                    return esUsage;
                }
                list = &file;
            }
            std::string reason;
            if (!ReadFileList(*list, command.NulSeparated, command.Paths, reason)) {
                err << "dbffix: --files-from " << ShownName(command.FilesFrom) << ": " << reason << "\n";
                return esUsage;
            }
        } else if (command.Paths.empty()) {
            err << "dbffix: не названо ни одной таблицы\nСправка: dbffix --help\n";
            return esUsage;
        }
    }

    TInterruptGuard interrupts;
    if (show.parsed()) return Show(command, out, err, progress);
    if (check.parsed()) return Check(command, out, err, progress);
    if (fix.parsed()) return Fix(command, out, err, progress);
    return Restore(command, out, err);
}
