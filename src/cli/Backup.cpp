// SPDX-License-Identifier: MIT
#include "Backup.h"

#include "NotifyUser.h"
#include "ProcessFile.h"
#include "System.h"
#include "TableReport.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

const char* const kFormat = "dbffix header backup";
const int kFormatVersion = 1;

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

}  // namespace

std::string BackupText(const TBackup& backup)
{
    const nlohmann::json j = {{"format", kFormat},
                              {"version", kFormatVersion},
                              {"table", JsonName(backup.Table)},
                              {"table_hex", ToHex(BytesOf(backup.Table))},
                              {"size", backup.Size},
                              {"before", ToHex(backup.Before)},
                              {"after", ToHex(backup.After)}};
    return j.dump(2) + "\n";
}

std::optional<TBackup> ParseBackup(const std::string& text)
{
    const auto j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object() || j.value("format", "") != kFormat ||
        j.value("version", 0) != kFormatVersion) {
        return std::nullopt;
    }
    try {
        const auto table = FromHex(j.at("table_hex").get<std::string>());
        const auto before = FromHex(j.at("before").get<std::string>());
        const auto after = FromHex(j.at("after").get<std::string>());
        if (!table || !before || !after || before->size() != after->size() || before->size() < sizeof(TDBFHeader)) {
            return std::nullopt;
        }
        TBackup backup;
        backup.Table.assign(table->begin(), table->end());
        backup.Size = j.at("size").get<std::uint64_t>();
        backup.Before = *before;
        backup.After = *after;
        return backup;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
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
        if (WriteNewFileDurably(name, BytesOf(text))) return name;
        break;
    }
    NotifyUser("Резервная копия заголовка не записана в папку " + folder + "; таблица не изменена");
    return std::nullopt;
}

TRestoreReport RestoreBackup(const std::string& backupFile)
{
    TRestoreReport report;
    report.BackupFile = backupFile;
    std::ifstream in(NativePath(backupFile), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto backup = in ? ParseBackup(text) : std::nullopt;
    if (!backup) {
        report.Messages.push_back("не резервная копия dbffix или не читается");
        return report;
    }
    report.Table = backup->Table;

    TDBF table;
    {
        // What the table tells while it opens matters only when it does not.
        std::vector<std::string> told;
        TMessageCollector collector(told);
        table.SetTableName(backup->Table);
        table.Open();
        if (!table.Active()) {
            report.Messages = std::move(told);
            return report;
        }
    }
    auto& file = table.Stream();
    // The length, told by where reading stops, and the bytes the correction
    // wrote: anything else would mean the table changed since.
    std::array<TByte, 1> probe{};
    std::vector<TByte> current(backup->After.size());
    const bool sameSize = backup->Size > 0 && file.ReadAt(backup->Size - 1, probe) && !file.ReadAt(backup->Size, probe);
    if (!sameSize || !file.ReadAt(0, current) || current != backup->After) {
        report.Messages.push_back("таблица изменилась после исправления; не восстановлена");
        return report;
    }
    if (!file.WriteAt(0, backup->Before) || !file.Flush()) {
        report.Messages.push_back(EStreamWriteError().what());
        return report;
    }
    file.Close();
    report.Restored = true;
    return report;
}
