// SPDX-License-Identifier: MIT
#include "ProcessFile.h"

#include "NotifyUser.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

const char* const kMsgVisualFoxPro = "ProcessFile: Таблицы Visual FoxPro не обрабатываются";
const char* const kMsgDBase7 = "ProcessFile: Таблицы dBase 7 не обрабатываются";
const char* const kMsgDBase2 = "ProcessFile: Таблицы dBase II не обрабатываются";

// The _NullFlags field of Visual FoxPro: some programs write Visual FoxPro
// tables, null flags in descriptor byte 18 and all, under a dBase III version
// byte.
bool HasNullFlagsField(std::span<const TDBFFieldDescriptor> fields)
{
    return std::any_of(fields.begin(), fields.end(), [](const TDBFFieldDescriptor& field) {
        return field.FieldType == '0';
    });
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

// The types dBase III tables keep their data in. Later xBase programs keep
// flags, autoincrement counters and steps of their own types (Harbour's '+'
// and 'I', for one) in the descriptor's reserved bytes, so those bytes are
// cleared only for these.
bool IsDBase3Type(TByte upperType)
{
    return upperType == 'C' || upperType == 'N' || upperType == 'F' || upperType == 'D' || upperType == 'L' ||
           upperType == 'M';
}

void CorrectFields(std::span<TDBFFieldDescriptor> chunks, std::size_t fieldCount, std::uint16_t recordLength,
                   int offsetMode)
{
    // The layout is judged by all the record's fields, in use or not (a name of
    // blanks, emptied by a first correction, still names bytes of the record),
    // so that a second correction judges it the same way.
    const bool longCharacterFields = HasLongCharacterFields(DescriptorsBeforeTerminator(chunks), recordLength);
    const auto fields = chunks.first(std::min(fieldCount, chunks.size()));
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
        if (IsDBase3Type(field.FieldType)) field.FieldReserved.fill(0);
    }
}

void CorrectHeader(TDBFHeader& header, int codePageChoice, bool removeIndexFlag, bool insertDate,
                   std::chrono::year_month_day date, std::optional<std::uint32_t> recordCount)
{
    if (recordCount) PutLE32(header.RecordCount, *recordCount);
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
    if (const auto codePage = CodePageOfChoice(codePageChoice)) header.LanguageDriver = *codePage;
    header.Reserved2.fill(0);
}

}  // namespace

bool IsCharacterType(TByte type)
{
    return type == 'C' || type == 'c';
}

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

std::optional<std::string> RefusalOf(const TDBFHeader& header, std::span<const TDBFFieldDescriptor> chunks)
{
    // By the version byte first: a dBase 7 header's chunks are not
    // descriptors, a dBase II table has none read, and Visual FoxPro keeps
    // field flags and autoincrement values in the bytes a dBase III header
    // reserves.
    switch (VersionFamily(header.Version)) {
    case TLayoutFamily::DBase2: return kMsgDBase2;
    case TLayoutFamily::VisualFoxPro: return kMsgVisualFoxPro;
    case TLayoutFamily::DBase7: return kMsgDBase7;
    case TLayoutFamily::DBase3: break;
    }
    if (HasNullFlagsField(DescriptorsBeforeTerminator(chunks))) return kMsgVisualFoxPro;
    return std::nullopt;
}

TRecordLayout LayoutOf(const TDBFHeader& header, std::span<const TDBFFieldDescriptor> chunks,
                       std::optional<TByte> byteAfterChunks)
{
    TRecordLayout layout;
    const auto fields = DescriptorsBeforeTerminator(chunks);
    std::uint32_t wide = 1;
    for (const auto& field : fields) {
        layout.RecordWidth += field.FieldLength;
        wide += field.FieldLength + (IsCharacterType(field.FieldType) ? 256U * field.DecimalCount : 0U);
    }
    const std::uint16_t recordLength = GetLE16(header.RecordLength);
    layout.WidthsAddUp = layout.RecordWidth == recordLength;
    layout.AddUpAsClipper = !layout.WidthsAddUp && wide == recordLength;

    const std::uint64_t headerLength = GetLE16(header.HeaderLength);
    const std::uint64_t at = sizeof(TDBFHeader) + sizeof(TDBFFieldDescriptor) * fields.size();
    // Past the header's length the byte is the first record's.
    if (at < headerLength && (fields.size() < chunks.size() || byteAfterChunks == kHeaderTerminator)) {
        layout.TerminatorAt = at;
        layout.BytesAfterTerminator = headerLength - at - 1;
    }
    return layout;
}

TRecordLayout LayoutOf(TDBF& table)
{
    const auto chunks = table.ChunksRead();
    std::array<TByte, 1> after{};
    const bool read = table.Stream().ReadAt(sizeof(TDBFHeader) + sizeof(TDBFFieldDescriptor) * chunks.size(), after);
    return LayoutOf(table.Header(), chunks, read ? std::optional(after[0]) : std::nullopt);
}

std::optional<std::string> LayoutFault(const TRecordLayout& layout, std::uint16_t recordLength)
{
    if (!layout.TerminatorAt) {
        return std::string("ProcessFile: Описатели не исправляются: там, где они кончаются, нет терминатора "
                           "заголовка (0x0D)");
    }
    if (!layout.WidthsAddUp && !layout.AddUpAsClipper) {
        return "ProcessFile: Описатели не исправляются: ширины полей с признаком удаления (" +
               std::to_string(layout.RecordWidth) + ") не сходятся с длиной записи (" + std::to_string(recordLength) +
               ")";
    }
    return std::nullopt;
}

void CorrectImages(TDBFHeader& header, std::span<TDBFFieldDescriptor> chunks, std::size_t fieldCount,
                   const TCorrectionChoices& choices)
{
    CorrectHeader(header, choices.CodePageChoice, choices.RemoveIndexFlag, choices.InsertDate, choices.Date,
                  choices.RecordCount);
    CorrectFields(chunks, fieldCount, GetLE16(header.RecordLength), choices.OffsetMode);
}

std::string CodePageSummary(TByte oldCodePage, int codePageChoice)
{
    std::string summary = "Кодовая страница " + std::to_string(oldCodePage);
    if (const auto codePage = CodePageOfChoice(codePageChoice)) {
        summary += *codePage == oldCodePage ? " - не изменилась" : " -> " + std::to_string(*codePage);
    }
    return summary;
}

TCorrectionOutcome CorrectTable(const std::string& fileName, const TCorrectionChoices& choices,
                                const TCorrectionOptions& options)
{
    TDBF table;
    table.SetTableName(fileName);
    table.Open();
    TCorrectionOutcome outcome;
    if (!table.Active() || !table.HeaderRead()) return outcome;  // the table has told the user why
    if (const auto refusal = RefusalOf(table.Header(), table.ChunksRead())) {
        NotifyUser(*refusal);
        return outcome;
    }

    if (options.RefuseUntrustedLayout) {
        if (const auto fault = LayoutFault(LayoutOf(table), GetLE16(table.Header().RecordLength))) {
            NotifyUser(*fault);
            return outcome;
        }
    }

    TCorrectionChoices settled = choices;
    if (options.AdjustChoices) options.AdjustChoices(table, settled);
    outcome.OldCodePage = table.Header().LanguageDriver;
    const std::vector<TByte> before(table.HeaderImage().begin(), table.HeaderImage().end());
    CorrectImages(table.Header(), table.Fields().first(table.ChunksRead().size()), table.FieldCount(), settled);
    const auto after = table.HeaderImage();
    if (options.SkipUnchanged && std::equal(before.begin(), before.end(), after.begin(), after.end())) {
        outcome.Result = TCorrectionResult::Unchanged;
        return outcome;
    }
    if (options.BeforeWrite && !options.BeforeWrite(before, after)) return outcome;

    // While a box was open another program may have taken the table, written
    // it without taking it (where no lease keeps such programs out), or moved
    // another file over its name: the header read is then out of date, or the
    // file no longer bears the name. Nothing is written.
    if (!table.StillAsRead()) {
        table.Stream().Close();
        NotifyUser(ExclusiveOpenMessage(table.TableName()));
        return outcome;
    }

    // The header and the descriptors in use go back in one write; the
    // terminator, the records and the file's length stay as they are.
    if (!table.Stream().WriteAt(0, after) || !table.Stream().Flush()) throw EStreamWriteError();
    table.Stream().Close();
    outcome.Result = TCorrectionResult::Written;
    return outcome;
}

void ProcessFile(const std::string& fileName, int offsetMode, int codePageChoice, bool removeIndexFlag,
                 bool insertDate, std::chrono::year_month_day date)
{
    const TCorrectionChoices choices{offsetMode, codePageChoice, removeIndexFlag, insertDate, date};
    const auto outcome = CorrectTable(fileName, choices);
    if (outcome.Result == TCorrectionResult::Written) {
        NotifyUser("Готово! " + CodePageSummary(outcome.OldCodePage, codePageChoice));
    }
}
