// SPDX-License-Identifier: MIT
#include "DbfFix.h"

#include "Backup.h"
#include "NotifyUser.h"
#include "Progress.h"
#include "System.h"
#include "TablePaths.h"
#include "TableReport.h"
#include "Version.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

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
    std::string BackupFolder;
    std::string Table;  // restore: the table every backup goes into
    TChoiceOptions Choices;
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

void TellSkipped(const TPathList& list, std::ostream& err)
{
    for (const auto& line : list.Skipped) err << line << "\n";
}

int Interrupted(std::ostream& err)
{
    err << "Прервано\n";
    return esInterrupted;
}

int Show(const TCommand& command, std::ostream& out, std::ostream& err, bool progressAsked)
{
    const TPathList list = CollectTables(command.Paths, command.Recursive, command.Follow);
    TellSkipped(list, err);
    TProgress progress(err, progressAsked, list.Tables.size());
    nlohmann::json tables = nlohmann::json::array();
    int status = esOk;
    std::size_t done = 0;
    TIndexFiles indexFiles;
    for (const auto& path : list.Tables) {
        if (gInterrupted) break;
        TTableReport report = ReadTable(path, std::nullopt);
        report.Index = indexFiles.Beside(path);
        if (!report.Read) status = esFailed;
        if (command.Json) {
            tables.push_back(ToJson(report));
        } else {
            Emit(progress, [&] { PrintShow(report, out); });
        }
        progress.Done(++done);
    }
    progress.Hide();
    if (command.Json) out << nlohmann::json{{"tables", tables}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return gInterrupted ? Interrupted(err) : status;
}

int Check(const TCommand& command, std::ostream& out, std::ostream& err, bool progressAsked)
{
    const TCorrectionChoices choices = ToChoices(command.Choices);
    const TPathList list = CollectTables(command.Paths, command.Recursive, command.Follow);
    TellSkipped(list, err);
    TProgress progress(err, progressAsked, list.Tables.size());
    nlohmann::json tables = nlohmann::json::array();
    int status = list.FolderUnreadable ? esFailed : esOk;
    std::size_t wouldChange = 0;
    std::size_t right = 0;
    std::size_t failed = 0;
    TIndexFiles indexFiles;
    for (const auto& path : list.Tables) {
        if (gInterrupted) break;
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
        if (!report.Correctable()) {
            ++failed;
            status = esFailed;
        } else if (report.WouldChange()) {
            ++wouldChange;
            status = std::max<int>(status, esWouldChange);
        } else {
            ++right;
        }
        if (command.Json) {
            tables.push_back(ToJson(report));
        } else {
            Emit(progress, [&] { PrintCheck(report, out); });
        }
        progress.Done(wouldChange + right + failed);
    }
    progress.Hide();
    if (command.Json) {
        out << nlohmann::json{{"tables", tables}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
        out << "Будут исправлены: " << wouldChange << ", в порядке: " << right << ", не прочитаны или отказ: " << failed
            << "\n";
    }
    return gInterrupted ? Interrupted(err) : status;
}

// How a table's write stands to its backup. Backups are saved for a batch of
// tables first, with the writes called off; then one flush puts them all on
// the disk; then each table is corrected again and written only when the
// bytes about to be overwritten are those its backup holds.
enum class TBackupPass { None, Save, Write };

TTableReport FixTable(const std::string& path, const TCorrectionChoices& choices, const TChoiceOptions& asked,
                      const TIndexBeside& beside, const std::string& backupFolder, TBackupPass pass,
                      const TTableReport* saved = nullptr)
{
    TTableReport report;
    report.Path = path;
    report.Index = beside;
    TMessageCollector collector(report.Messages);
    TCorrectionOptions options;
    options.SkipUnchanged = true;
    options.RefuseUntrustedLayout = true;
    TCorrectionChoices tableChoices = choices;
    SettleIndexFlag(asked, beside, tableChoices);
    TCorrectionChoices settled = tableChoices;
    const TDetectionAsks asks = AsksOf(asked);
    // Settled as check settles them, on the table as it is held.
    options.AdjustChoices = [&](TDBF& table, TCorrectionChoices& adjusted) {
        if (asks.CodePage || asks.RecordCount) {
            report.Findings = InspectTable(table);
            report.Notes = SettleChoices(*report.Findings, asks, adjusted);
        }
        if (const auto note = IndexFlagNote(asked, beside, table.Header().MdxFlag)) report.Notes.push_back(*note);
        settled = adjusted;
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
        const auto name = SaveBackup(backupFolder, {2, identity->Path, identity->Id, identity->Size, report.Before,
                                                    report.After});
        if (name) report.BackupFile = *name;
        return false;  // the write comes once the batch's backups are on the disk
    };
    try {
        const TCorrectionOutcome outcome = CorrectTable(path, tableChoices, options);
        switch (outcome.Result) {
        case TCorrectionResult::Written:
            report.Fix = TFixState::Written;
            report.CodePageSummary = CodePageSummary(outcome.OldCodePage, settled.CodePageChoice);
            break;
        case TCorrectionResult::Unchanged: report.Fix = TFixState::Unchanged; break;
        case TCorrectionResult::NotCorrected: report.Fix = TFixState::NotCorrected; break;
        }
    } catch (const EStreamWriteError& error) {
        report.Messages.push_back(error.what());
        report.Fix = TFixState::WriteFailed;
    }
    report.Changes = DescribeChanges(report.Before, report.After);
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
              TIndexFiles& indexFiles, const std::string& backupFolder,
              const std::function<void(const TTableReport&)>& onReport)
{
    if (backupFolder.empty()) {
        for (const auto& path : paths) {
            if (gInterrupted) break;
            onReport(FixTable(path, choices, asked, indexFiles.Beside(path), backupFolder, TBackupPass::None));
        }
        return;
    }
    std::vector<TTableReport> reports;
    std::vector<std::string> saved;
    for (const auto& path : paths) {
        if (gInterrupted) break;
        reports.push_back(
            FixTable(path, choices, asked, indexFiles.Beside(path), backupFolder, TBackupPass::Save));
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
            report = FixTable(report.Path, choices, asked, indexFiles.Beside(report.Path), backupFolder, TBackupPass::Write,
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
    const TPathList list = CollectTables(command.Paths, command.Recursive, command.Follow);
    TellSkipped(list, err);
    TProgress progress(err, progressAsked, list.Tables.size());
    std::size_t written = 0;
    std::size_t unchanged = 0;
    std::map<std::string, std::size_t> refusals;  // reason, tables
    std::size_t refused = 0;
    TIndexFiles indexFiles;
    const auto tell = [&](const TTableReport& report) {
        if (report.Fix == TFixState::Written) {
            ++written;
        } else if (report.Fix == TFixState::Unchanged) {
            ++unchanged;
        } else {
            ++refused;
            std::string reason;
            for (const auto& m : report.Messages) reason += (reason.empty() ? "" : "; ") + m;
            ++refusals[reason];
        }
        Emit(progress, [&] { PrintFix(report, out); });
        progress.Done(written + unchanged + refused);
    };
    const std::span<const std::string> tables(list.Tables);
    for (std::size_t start = 0; start < tables.size() && !gInterrupted; start += kBackupBatch) {
        FixBatch(tables.subspan(start, std::min(kBackupBatch, tables.size() - start)), choices, command.Choices,
                 indexFiles, command.BackupFolder, tell);
    }
    progress.Hide();
    out << "Исправлено: " << written << ", уже в порядке: " << unchanged << ", отказ: " << refused << "\n";
    for (const auto& [reason, count] : refusals) out << "  " << count << " × " << reason << "\n";
    if (gInterrupted) return Interrupted(err);
    return refused > 0 || list.FolderUnreadable ? esFailed : esOk;
}

int Restore(const TCommand& command, std::ostream& out, std::ostream& err)
{
    int status = esOk;
    for (const auto& report : RestoreBackups(command.Paths, command.Table, [] { return gInterrupted != 0; })) {
        out << ShownName(report.BackupFile) << ": ";
        if (report.Restored) {
            out << "заголовок восстановлен в " << ShownName(report.Table);
            if (report.Generations > 1) {
                out << " (копия " << report.Generation << " из " << report.Generations << ", от новой к старой)";
            }
            out << "\n";
        } else {
            status = esFailed;
            out << "отказ" << (report.Table.empty() ? "" : " (" + ShownName(report.Table) + ")") << ": ";
            for (std::size_t i = 0; i < report.Messages.size(); ++i) {
                out << (i ? "; " : "") << ShownName(report.Messages[i]);
            }
            out << "\n";
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
    if (name == "ArgumentMismatch") return "неверное число значений (" + what + ")";
    if (name == "OptionNotFound") return "нет такого параметра (" + what + ")";
    return "неверная командная строка (" + what + ")";
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
        return Line(make_option_name(option, positional) + make_option_opts(option), make_option_desc(option));
    }

    std::string make_subcommand(const CLI::App* sub) const override
    {
        return Line(sub->get_display_name(true), sub->get_description());
    }

private:
    static std::size_t Columns(const std::string& text)
    {
        return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
        }));
    }

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
    show.add_flag("--json", command.Json, "вывод в JSON для программ");
    addPathOptions(show);
    show.add_option("ПУТЬ", command.Paths, "таблицы или папки")->type_name("");

    auto& check = *app.add_subcommand("check", "сказать, что исправление изменило бы; ничего не записывает");
    AddChoiceOptions(check, command.Choices);
    addPathOptions(check);
    check.add_flag("--json", command.Json, "вывод в JSON для программ");
    check.add_option("ПУТЬ", command.Paths, "таблицы или папки")->type_name("");

    auto& fix = *app.add_subcommand("fix", "исправить заголовки таблиц");
    AddChoiceOptions(fix, command.Choices);
    addPathOptions(fix);
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
                    err << "dbffix: --files-from " << command.FilesFrom << ": это папка, а не список файлов\n";
                    return esUsage;
                }
                file.open(NativePath(command.FilesFrom), std::ios::binary);
                if (!file) {
                    err << "dbffix: --files-from " << command.FilesFrom << ": не открывается\n";
                    return esUsage;
                }
                list = &file;
            }
            std::string reason;
            if (!ReadFileList(*list, command.NulSeparated, command.Paths, reason)) {
                err << "dbffix: --files-from " << command.FilesFrom << ": " << reason << "\n";
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
