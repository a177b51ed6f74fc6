#include "ProcessFile.h"

#include "CreateDBF3.h"
#include "NotifyUser.h"

#include <algorithm>
#include <optional>

namespace {

// Visual FoxPro keeps field flags and autoincrement values in the descriptor
// bytes that a dBase III header reserves; clearing them would damage the table.
bool IsVisualFoxPro(TByte version)
{
    return version == 0x30 || version == 0x31 || version == 0x32;
}

bool IsCharacterType(TByte type)
{
    return type == 'C' || type == 'c';
}

// Clipper and some other xBase programs keep the high byte of a long character
// field's width in its decimal count. A table laid out that way is recognised
// by its record length: it adds up only when those high bytes are counted.
bool HasLongCharacterFields(std::span<const TDBFFieldDescriptor> fields, std::uint16_t recordLength)
{
    std::uint32_t plain = 1;
    std::uint32_t wide = 1;
    for (const auto& field : fields) {
        plain += field.FieldLength;
        wide += field.FieldLength + (IsCharacterType(field.FieldType) ? 256U * field.DecimalCount : 0U);
    }
    return plain != recordLength && wide == recordLength;
}

// Bytes of value 32 or below are stripped from both ends of the name; the rest
// of the 11 bytes is filled with 0.
void TrimFieldName(TDBFFieldDescriptor& field)
{
    auto& name = field.FieldName;
    const auto end = name.begin() + static_cast<std::ptrdiff_t>(FieldNameLength(field));
    const auto isBlank = [](TByte b) { return b <= 32; };
    const auto first = std::find_if_not(name.begin(), end, isBlank);
    auto last = end;
    while (last != first && isBlank(*(last - 1))) --last;
    const auto kept = std::copy(first, last, name.begin());
    std::fill(kept, name.end(), TByte{0});
}

TByte UpperAscii(TByte b)
{
    return b >= 'a' && b <= 'z' ? static_cast<TByte>(b - 'a' + 'A') : b;
}

std::optional<TByte> ChosenCodePage(int codePageChoice)
{
    switch (codePageChoice) {
    case cpZero: return TByte{0};
    case cpDos866: return TByte{38};
    case cpWin1251: return TByte{87};
    default: return std::nullopt;
    }
}

// The descriptors read before the header's terminator. Each takes its width in
// every record, whether or not it counts as in use: a name of blanks, emptied
// by the correction, still names bytes of the record.
std::span<const TDBFFieldDescriptor> DescriptorsBeforeTerminator(const TDBF& table)
{
    const auto read = table.Fields().first(std::min<std::size_t>(
        DescriptorCount(GetLE16(table.Header().HeaderLength)), kMaxFields));
    const auto end = std::find_if(read.begin(), read.end(), [](const TDBFFieldDescriptor& field) {
        return field.FieldName[0] == kHeaderTerminator;
    });
    return read.first(static_cast<std::size_t>(end - read.begin()));
}

void CorrectFields(TDBF& table, int offsetMode)
{
    const auto fields = table.Fields().first(table.FieldCount());
    // The layout is judged by all the record's fields, so that a second
    // correction, after blank names were emptied, judges it the same way.
    const bool longCharacterFields =
        HasLongCharacterFields(DescriptorsBeforeTerminator(table), GetLE16(table.Header().RecordLength));
    std::uint32_t displacement = 1;
    for (auto& field : fields) {
        TrimFieldName(field);
        if (offsetMode == omClear) PutLE32(field.Displacement, 0);
        if (offsetMode == omSet) PutLE32(field.Displacement, displacement);
        field.FieldType = UpperAscii(field.FieldType);
        const bool keepsWidthHighByte = longCharacterFields && field.FieldType == 'C';
        displacement += field.FieldLength + (keepsWidthHighByte ? 256U * field.DecimalCount : 0U);
        if (!keepsWidthHighByte && (field.FieldType == 'C' || field.FieldType == 'D' || field.FieldType == 'L')) {
            field.DecimalCount = 0;
        }
        field.FieldReserved.fill(0);
    }
}

void CorrectHeader(TDBFHeader& header, int codePageChoice, bool removeIndexFlag, bool insertDate,
                   std::chrono::year_month_day date)
{
    header.Reserved1.fill(0);
    header.IncompleteTransaction = 0;
    header.EncryptionFlag = 0;
    header.MultiUserReserved.fill(0);
    if (removeIndexFlag) header.MdxFlag = 0;
    if (insertDate) {
        header.LastUpdate = {StoredYear(static_cast<int>(date.year())),
                             static_cast<TByte>(static_cast<unsigned>(date.month())),
                             static_cast<TByte>(static_cast<unsigned>(date.day()))};
    }
    if (const auto codePage = ChosenCodePage(codePageChoice)) header.LanguageDriver = *codePage;
    header.Reserved2.fill(0);
}

std::string CodePageSummary(TByte oldCodePage, int codePageChoice)
{
    std::string summary = "Кодовая страница " + std::to_string(oldCodePage);
    if (const auto codePage = ChosenCodePage(codePageChoice)) {
        summary += *codePage == oldCodePage ? " - не изменилась" : " -> " + std::to_string(*codePage);
    }
    return summary;
}

}  // namespace

void ProcessFile(const std::string& fileName, int offsetMode, int codePageChoice, bool removeIndexFlag,
                 bool insertDate, std::chrono::year_month_day date)
{
    TDBF table;
    table.SetTableName(fileName);
    table.Open();
    if (!table.Active() || !table.HeaderRead()) return;  // the table has told the user why
    if (IsVisualFoxPro(table.Header().Version)) {
        NotifyUser("ProcessFile: Таблицы Visual FoxPro не обрабатываются");
        return;
    }

    const TByte oldCodePage = table.Header().LanguageDriver;
    CorrectHeader(table.Header(), codePageChoice, removeIndexFlag, insertDate, date);
    CorrectFields(table, offsetMode);

    // While a box was open another program may have taken the table, or moved
    // another file over its name: the header read is then out of date, or the
    // file no longer bears the name. Nothing is written.
    if (!table.Stream().HoldIntact()) {
        table.Stream().Close();
        NotifyUser(ExclusiveOpenMessage(table.TableName()));
        return;
    }

    // The header and the descriptors in use go back in one write; the
    // terminator, the records and the file's length stay as they are.
    if (!table.Stream().WriteAt(0, table.HeaderImage()) || !table.Stream().Flush()) {
        throw EStreamWriteError();
    }
    table.Stream().Close();

    NotifyUser("Готово! " + CodePageSummary(oldCodePage, codePageChoice));
}
