// SPDX-License-Identifier: MIT
#include "Backup.h"

#include "NotifyUser.h"
#include "ProcessFile.h"
#include "Russian.h"
#include "TableReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>

namespace {

const char* const kFormat = "dbffix header backup";
// 1: the table's name as typed, no identity; 2: its absolute path and identity.
const std::uint64_t kFormatVersion = 2;
// A header with all 255 descriptors dBase III allows.
constexpr std::size_t kLargestImage = sizeof(TDBFHeader) + 255 * sizeof(TDBFFieldDescriptor);

std::string ToHex(std::span<const TByte> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const TByte b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::optional<std::vector<TByte>> FromHex(const std::string& text)
{
    if (text.size() % 2 != 0) return std::nullopt;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::vector<TByte> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<TByte>(high * 16 + low));
    }
    return bytes;
}

std::span<const TByte> BytesOf(const std::string& text)
{
    return {reinterpret_cast<const TByte*>(text.data()), text.size()};
}

// The table's name without its folder, fit to begin a file name.
std::string BackupStem(const std::string& table)
{
    std::string stem = TExclusiveFile::BaseName(table);
    return stem.empty() ? "table" : stem;
}

// The header length and the record length an image states.
std::uint16_t HeaderLengthOf(std::span<const TByte> image)
{
    return static_cast<std::uint16_t>(image[8] | image[9] << 8);
}

std::uint16_t RecordLengthOf(std::span<const TByte> image)
{
    return static_cast<std::uint16_t>(image[10] | image[11] << 8);
}

// The fields read by checked types only: a wrong type or a number out of
// range is a reason, never an exception.
const nlohmann::json* Field(const nlohmann::json& j, const char* name)
{
    const auto it = j.find(name);
    return it == j.end() ? nullptr : &*it;
}

std::optional<std::uint64_t> Unsigned(const nlohmann::json& j, const char* name)
{
    const auto* f = Field(j, name);
    if (f == nullptr || !f->is_number_unsigned()) return std::nullopt;
    return f->get<std::uint64_t>();
}

std::optional<std::vector<TByte>> HexField(const nlohmann::json& j, const char* name)
{
    const auto* f = Field(j, name);
    if (f == nullptr || !f->is_string()) return std::nullopt;
    return FromHex(f->get_ref<const std::string&>());
}

std::optional<TBackup> Parse(const std::string& text, std::string& why)
{
    const auto j = nlohmann::json::parse(text, nullptr, false);
    const auto* format = j.is_object() ? Field(j, "format") : nullptr;
    if (format == nullptr || !format->is_string() || format->get_ref<const std::string&>() != kFormat) {
        why = "не резервная копия dbffix";
        return std::nullopt;
    }
    const auto version = Unsigned(j, "version");
    if (!version) {
        why = "версия формата не целое число";
        return std::nullopt;
    }
    if (*version < 1 || *version > kFormatVersion) {
        why = "версия формата " + std::to_string(*version) + " этой программе неизвестна";
        return std::nullopt;
    }
    TBackup backup;
    backup.Version = static_cast<int>(*version);
    const auto table = HexField(j, "table_hex");
    if (!table || table->empty() || std::find(table->begin(), table->end(), 0) != table->end()) {
        why = "имя таблицы (table_hex) пусто или не шестнадцатеричное";
        return std::nullopt;
    }
    backup.Table.assign(table->begin(), table->end());
    const auto size = Unsigned(j, "size");
    if (!size) {
        why = "длина таблицы (size) не целое неотрицательное число";
        return std::nullopt;
    }
    backup.Size = *size;
    const auto device = Unsigned(j, "device");
    const auto file = Unsigned(j, "file_id");
    if ((Field(j, "device") != nullptr || Field(j, "file_id") != nullptr) && (!device || !file)) {
        why = "номер тома или файла (device, file_id) не целое неотрицательное число";
        return std::nullopt;
    }
    if (device && file) backup.Id = TFileId{*device, *file};
    const auto before = HexField(j, "before");
    const auto after = HexField(j, "after");
    if (!before || !after) {
        why = "образ заголовка (before, after) не шестнадцатеричная строка";
        return std::nullopt;
    }
    // What a correction writes: the header and whole descriptors, within the
    // header length that both images state and the table's length. Anything
    // else would put back bytes of records.
    const std::size_t n = before->size();
    if (n != after->size() || n < sizeof(TDBFHeader) || n > kLargestImage || n % sizeof(TDBFFieldDescriptor) != 0) {
        why = "образы заголовка (" + std::to_string(before->size()) + " и " + std::to_string(after->size()) +
              " байт) не заголовок с целыми описаниями полей (32 + 32·k байт)";
        return std::nullopt;
    }
    if (n > HeaderLengthOf(*before) || n > HeaderLengthOf(*after) || n > backup.Size) {
        why = "образы заголовка (" + CountOf(n, kBytes) + ") длиннее заголовка, что они указывают";
        return std::nullopt;
    }
    if (HeaderLengthOf(*before) != HeaderLengthOf(*after) || RecordLengthOf(*before) != RecordLengthOf(*after)) {
        why = "образы «до» и «после» указывают разные длины заголовка или записи";
        return std::nullopt;
    }
    backup.Before = *before;
    backup.After = *after;
    return backup;
}

// A backup file's name and what was read of it.
struct TLoaded {
    std::size_t Report = 0;  // its report's index
    TBackup Backup;
};

// A backup named on the command line or found in a folder named there.
void ReadBackupFile(const std::string& name, std::vector<TRestoreReport>& reports, std::vector<TLoaded>& loaded)
{
    reports.push_back({});
    auto& report = reports.back();
    report.BackupFile = name;
    const TSmallFile file = ReadSmallFile(name, kBackupFileLimit);
    std::string why;
    switch (file.Status) {
    case TSmallFileStatus::Read: break;
    case TSmallFileStatus::Missing: why = "нет такого файла"; break;
    case TSmallFileStatus::Folder: why = "папка, а не файл"; break;
    case TSmallFileStatus::NotRegular: why = "не обычный файл (канал, устройство или сокет)"; break;
    case TSmallFileStatus::TooLarge: why = "больше 1 МиБ: не резервная копия dbffix"; break;
    case TSmallFileStatus::Unreadable: why = "не читается"; break;
    }
    if (why.empty()) {
        if (auto backup = Parse(file.Data, why)) {
            loaded.push_back({reports.size() - 1, std::move(*backup)});
            return;
        }
    }
    report.Messages.push_back(why);
}

// The names as given, a folder standing for the backups directly in it.
void ReadBackups(const std::vector<std::string>& names, std::vector<TRestoreReport>& reports,
                 std::vector<TLoaded>& loaded)
{
    for (const auto& name : names) {
        std::error_code error;
        if (!std::filesystem::is_directory(NativePath(name), error)) {
            ReadBackupFile(name, reports, loaded);
            continue;
        }
        std::vector<std::string> found;
        for (std::filesystem::directory_iterator it(NativePath(name), error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().extension() == ".dbfbak") found.push_back(NameOf(it->path()));
        }
        if (error || found.empty()) {
            reports.push_back({name, {}, false, 0, 0, {error ? "папка не читается" : "в папке нет резервных копий (*.dbfbak)"}});
            continue;
        }
        std::sort(found.begin(), found.end());
        for (const auto& file : found) ReadBackupFile(file, reports, loaded);
    }
}

void Refuse(TRestoreReport& report, const std::string& why)
{
    report.Messages.push_back(why);
}

// The backups meant for one table, put back as one chain.
void RestoreTable(const std::string& path, bool named, const std::vector<const TLoaded*>& backups,
                  std::vector<TRestoreReport>& reports)
{
    for (const auto* b : backups) reports[b->Report].Table = path;
    TDBF table;
    {
        // What the table tells while it opens matters only when it does not.
        std::vector<std::string> told;
        TMessageCollector collector(told);
        table.SetTableName(path);
        table.Open();
        if (!table.Active()) {
            if (told.empty()) told.push_back("таблица не открывается");
            for (const auto* b : backups) reports[b->Report].Messages = told;
            return;
        }
    }
    auto& file = table.Stream();
    const auto size = file.Size();
    const auto identity = IdentifyFile(path);
    std::size_t longest = 0;
    for (const auto* b : backups) longest = std::max(longest, b->Backup.Before.size());
    std::vector<TByte> state(size ? std::min<std::uint64_t>(longest, *size) : 0);
    if (!size || state.size() < sizeof(TDBFHeader) || !file.ReadAt(0, state)) {
        for (const auto* b : backups) Refuse(reports[b->Report], "заголовок таблицы не читается");
        return;
    }
    const std::vector<TByte> asRead = state;

    // Each backup on its own: the same file, the same length, the same layout.
    std::vector<const TLoaded*> candidates;
    for (const auto* b : backups) {
        auto& report = reports[b->Report];
        const TBackup& backup = b->Backup;
        if (!named && backup.Id && identity && identity->Id && *backup.Id != *identity->Id) {
            Refuse(report, "по этому пути теперь другой файл, не тот, с которого снята копия; "
                           "если это та же таблица, укажите её: --table ПУТЬ");
        } else if (backup.Size != *size) {
            Refuse(report, "длина таблицы изменилась после исправления (" + std::to_string(backup.Size) + " → " +
                               CountOf(*size, kBytes) + "); не восстановлена");
        } else if (HeaderLengthOf(backup.Before) != HeaderLengthOf(state) ||
                   RecordLengthOf(backup.Before) != RecordLengthOf(state)) {
            Refuse(report, "копия описывает другое устройство таблицы (длину заголовка или записи); не восстановлена");
        } else {
            candidates.push_back(b);
        }
    }

    // The chain, by proof: the backup whose "after" is the table as it is now
    // goes first, then the one whose "after" is what that one put back, and
    // so on. Names and times of the files prove nothing.
    std::vector<const TLoaded*> chain;
    std::vector<bool> used(candidates.size(), false);
    std::size_t written = 0;
    for (;;) {
        std::vector<std::size_t> fits;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const auto& after = candidates[i]->Backup.After;
            if (!used[i] && after.size() <= state.size() && std::equal(after.begin(), after.end(), state.begin())) {
                fits.push_back(i);
            }
        }
        if (fits.empty()) break;
        const auto& first = candidates[fits.front()]->Backup;
        const bool same = std::all_of(fits.begin(), fits.end(), [&](std::size_t i) {
            return candidates[i]->Backup.Before == first.Before && candidates[i]->Backup.After == first.After;
        });
        if (!same) {
            // Two pasts for one present: which one is the table's is not known.
            for (const std::size_t i : fits) {
                used[i] = true;
                Refuse(reports[candidates[i]->Report],
                       "несколько копий с разным прежним заголовком подходят к одному состоянию таблицы; "
                       "восстановите нужную из них отдельно");
            }
            break;
        }
        // Copies of one backup count as one generation.
        for (const std::size_t i : fits) {
            used[i] = true;
            chain.push_back(candidates[i]);
        }
        std::copy(first.Before.begin(), first.Before.end(), state.begin());
        written = std::max(written, first.Before.size());
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (used[i]) continue;
        Refuse(reports[candidates[i]->Report],
               chain.empty() ? "таблица изменилась после исправления; не восстановлена"
                             : "не продолжает цепочку копий этой таблицы: её заголовок «после» не совпадает ни с "
                               "нынешним, ни с восстановленным другими копиями; не восстановлена");
    }
    if (chain.empty()) return;

    // The oldest state, header bytes only, in one write, and only while the
    // table is still as it was read: held, its length and times unchanged, and
    // the bytes judged above the same when read again past any cache (a
    // program that takes no lock may have written meanwhile).
    std::string failure;
    std::vector<TByte> now(asRead.size());
    if (!table.StillAsRead() || !file.ReadFreshAt(0, now) || now != asRead) {
        failure = ExclusiveOpenMessage(path);
    } else if (!file.WriteAt(0, std::span(state).first(written)) || !file.Flush()) {
        failure = EStreamWriteError().what();
    }
    file.Close();
    std::size_t generation = 0;
    for (const auto* b : chain) {
        auto& report = reports[b->Report];
        if (!failure.empty()) {
            Refuse(report, failure);
            continue;
        }
        report.Restored = true;
        report.Generation = ++generation;
        report.Generations = chain.size();
    }
}

}  // namespace

std::string BackupText(const TBackup& backup)
{
    nlohmann::json j = {{"format", kFormat},
                        {"version", backup.Version},
                        {"table", JsonName(backup.Table)},
                        {"table_hex", ToHex(BytesOf(backup.Table))},
                        {"size", backup.Size},
                        {"before", ToHex(backup.Before)},
                        {"after", ToHex(backup.After)}};
    if (backup.Id) {
        j["device"] = backup.Id->Device;
        j["file_id"] = backup.Id->File;
    }
    return j.dump(2) + "\n";
}

std::optional<TBackup> ParseBackup(const std::string& text, std::string* why)
{
    std::string reason;
    auto backup = Parse(text, reason);
    if (why != nullptr) *why = reason;
    return backup;
}

std::optional<std::string> SaveBackup(const std::string& folder, const TBackup& backup)
{
    const std::string text = BackupText(backup);
    const std::string stem = NameOf(NativePath(folder) / NativePath(BackupStem(backup.Table)));
    // A new file every time: an earlier backup of the same table (its first,
    // truly original header) is never overwritten.
    for (int n = 1; n < 100000; ++n) {
        const std::string name = stem + "." + std::to_string(n) + ".dbfbak";
        std::error_code error;
        if (std::filesystem::exists(NativePath(name), error) || error) {
            if (error) break;
            continue;
        }
        if (WriteNewFile(name, BytesOf(text))) return name;
        break;
    }
    NotifyUser("Резервная копия заголовка не записана в папку " + ShownName(folder) + "; таблица не изменена");
    return std::nullopt;
}

std::vector<TRestoreReport> RestoreBackups(const std::vector<std::string>& names, const std::string& table,
                                           const std::function<bool()>& interrupted)
{
    std::vector<TRestoreReport> reports;
    std::vector<TLoaded> loaded;
    ReadBackups(names, reports, loaded);

    // Each backup's table, found by its absolute path whatever the current
    // folder, and grouped by the file it is now.
    std::map<std::string, std::vector<const TLoaded*>> tables;
    std::vector<std::string> order;
    for (const auto& b : loaded) {
        auto& report = reports[b.Report];
        std::string target = table;
        if (target.empty()) {
            report.Table = b.Backup.Table;
            if (b.Backup.Version == 1 && !NativePath(b.Backup.Table).is_absolute()) {
                // Made relative to a folder nobody remembers: the table of that
                // name in the current folder may be another one.
                Refuse(report, "копия старого формата хранит имя таблицы без папки; укажите таблицу: --table ПУТЬ");
                continue;
            }
            target = b.Backup.Table;
        }
        const auto identity = IdentifyFile(target);
        if (!identity) {
            report.Table = target;
            Refuse(report, "таблица не найдена");
            continue;
        }
        if (tables.find(identity->Path) == tables.end()) order.push_back(identity->Path);
        tables[identity->Path].push_back(&b);
    }
    for (const auto& path : order) {
        if (interrupted && interrupted()) {
            for (const auto* b : tables[path]) Refuse(reports[b->Report], "прервано: не обработана");
            continue;
        }
        RestoreTable(path, !table.empty(), tables[path], reports);
    }
    return reports;
}
