// SPDX-License-Identifier: MIT
#include "Records.h"

#include "DbfFormat.h"
#include "ProcessFile.h"
#include "System.h"
#include "TableReport.h"

#include <algorithm>
#include <cctype>
#include <span>

namespace {

// Fields whose bytes are no text: Visual FoxPro's and dBase 7's numbers in
// machine form, and memo pointers four bytes wide.
bool IsBinaryField(TByte type, std::uint32_t width)
{
    switch (std::toupper(type)) {
    case 'I':
    case '+':
    case 'O':
    case '@':
    case 'Y':
    case 'T':
    case 'Q':
    case '0': return true;
    case 'B': return width == 8;
    case 'M':
    case 'G':
    case 'P':
    case 'W': return width == 4;
    default: return false;
    }
}

}  // namespace

TRecordsShown ChooseEncoding(const TRecordsAsk& ask, TByte headerByte, const std::string& encodingFound)
{
    TRecordsShown shown;
    shown.Asked = std::min(ask.Count, kMaxRecordsShown);
    if (ask.AutoCodePage) {
        shown.From = "auto";
        shown.Charset = encodingFound;
        if (shown.Charset.empty()) shown.NotDecoded = "по текстам записей кодировка не определена";
        return shown;
    }
    const TByte byte = ask.CodePage.value_or(headerByte);
    shown.From = ask.CodePage ? "codepage" : "header";
    shown.Charset = CodePageEncoding(byte);
    if (shown.Charset.empty()) {
        shown.NotDecoded = (ask.CodePage ? "байт " : "байт заголовка ") + std::to_string(byte) + " (" +
                           std::string(CodePageName(byte)) + ") не называет кодировку";
    } else if (!DecodeText(shown.Charset, {})) {
        // Mac Greek, for one, is a code page Windows has and glibc lacks.
        shown.NotDecoded = "кодировки " + shown.Charset + " (байт " + std::to_string(byte) + ") в системе нет";
        shown.Charset.clear();
    }
    return shown;
}

void ReadRecords(TDBF& table, TRecordsShown& shown)
{
    const TDBFHeader& header = table.Header();
    const std::uint64_t headerLength = GetLE16(header.HeaderLength);
    const std::uint32_t recordLength = GetLE16(header.RecordLength);
    const std::uint64_t counted = GetLE32(header.RecordCount);
    const auto fields = DescriptorsBeforeTerminator(table.ChunksRead());
    // A reader places the fields one after another, after the flag; long
    // character fields count their high byte only where the record needs it.
    const bool clipper = LayoutOf(table).AddUpAsClipper;
    std::uint32_t offset = 1;
    for (const auto& d : fields) {
        TShownField field;
        field.RawName.assign(d.FieldName.begin(), d.FieldName.begin() + static_cast<std::ptrdiff_t>(FieldNameLength(d)));
        field.Type = d.FieldType;
        field.Offset = offset;
        field.Width = d.FieldLength + (clipper && IsCharacterType(d.FieldType) ? 256U * d.DecimalCount : 0U);
        field.Binary = IsBinaryField(d.FieldType, field.Width);
        offset += field.Width;
        shown.Fields.push_back(std::move(field));
    }
    const std::uint64_t size = table.Stream().Size().value_or(0);
    if (recordLength == 0) {
        shown.Stop = "длина записи в заголовке 0: записей не прочесть";
        return;
    }
    std::vector<TByte> record(recordLength);
    for (std::uint64_t i = 0; i < shown.Asked; ++i) {
        const std::uint64_t at = headerLength + i * recordLength;
        if (at >= size) {
            shown.Stop = "в файле больше нет записей";
            return;
        }
        const std::span present = std::span(record).first(std::min<std::uint64_t>(recordLength, size - at));
        if (!table.Stream().ReadAt(at, present)) {
            shown.Stop = "запись " + std::to_string(i + 1) + " не прочитана";
            return;
        }
        if (record[0] == 0x1A) {
            shown.Stop = "дальше метка конца файла (0x1A)";
            return;
        }
        if (present.size() < recordLength) {
            shown.Stop = "запись " + std::to_string(i + 1) + " обрезана концом файла";
            return;
        }
        TShownRecord row;
        row.Number = i + 1;
        row.Flag = record[0];
        row.BeyondCount = i >= counted;
        for (const auto& field : shown.Fields) {
            // A field the record length cuts short shows what the record holds of it.
            const std::size_t from = std::min<std::size_t>(field.Offset, record.size());
            const std::size_t to = std::min<std::size_t>(static_cast<std::size_t>(field.Offset) + field.Width, record.size());
            const std::span bytes = std::span<const TByte>(record).subspan(from, to - from);
            if (field.Binary) {
                row.Values.push_back(HexOf(bytes));
            } else if (auto text = shown.Charset.empty() ? std::nullopt : DecodeText(shown.Charset, bytes)) {
                row.Values.push_back(std::move(*text));
            } else {
                row.Values.push_back(Escaped(bytes));
            }
        }
        shown.Records.push_back(std::move(row));
    }
}
