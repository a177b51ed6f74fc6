// SPDX-License-Identifier: MIT
#include "TableReport.h"

#include "DbfFormat.h"
#include "Russian.h"
#include "System.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>

namespace {

template <typename T>
std::span<const TByte> ImageOf(const T& value)
{
    return {reinterpret_cast<const TByte*>(&value), sizeof(T)};
}

std::uint32_t LE32At(std::span<const TByte> b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::size_t NonZero(std::span<const TByte> bytes)
{
    return static_cast<std::size_t>(std::count_if(bytes.begin(), bytes.end(), [](TByte b) { return b != 0; }));
}

std::string Hex(TByte b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

std::string Date(const std::array<TByte, 3>& d)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", 1900 + d[0], static_cast<unsigned>(d[1]),
                  static_cast<unsigned>(d[2]));
    return text;
}

// "1 ненулевой", "2 ненулевых": of the bytes counted.
constexpr TNounForms kNonZero{"ненулевой", "ненулевых", "ненулевых"};

// A run of reserved bytes that are cleared: "байты 12–27 (резерв): 5 ненулевых → 0".
void DescribeReserved(const std::string& what, std::span<const TByte> before, std::span<const TByte> after,
                      std::vector<std::string>& changes)
{
    if (std::equal(before.begin(), before.end(), after.begin(), after.end())) return;
    if (NonZero(after) == 0) {
        changes.push_back(what + ": " + CountOf(NonZero(before), kNonZero) + " → 0");
    } else {
        changes.push_back(what + ": " + Escaped(before) + " → " + Escaped(after));
    }
}

THeaderReport DescribeHeader(TDBF& table)
{
    THeaderReport h;
    const TDBFHeader& header = table.Header();
    h.Version = header.Version;
    h.Writer = VersionWriters(header.Version);
    h.LastUpdate = header.LastUpdate;
    h.RecordCount = GetLE32(header.RecordCount);
    h.HeaderLength = GetLE16(header.HeaderLength);
    h.RecordLength = GetLE16(header.RecordLength);
    h.IndexFlag = header.MdxFlag;
    h.CodePage = header.LanguageDriver;
    h.CodePageName = CodePageName(header.LanguageDriver);
    h.InUse = table.FieldCount();

    const auto chunks = table.ChunksRead();
    const auto fields = DescriptorsBeforeTerminator(chunks);
    const TRecordLayout layout = LayoutOf(table);
    h.TerminatorAt = layout.TerminatorAt;
    h.BytesAfterTerminator = layout.BytesAfterTerminator;
    h.RecordWidth = layout.RecordWidth;
    h.WidthsAddUp = layout.WidthsAddUp;
    h.AddUpAsClipper = layout.AddUpAsClipper;
    h.LayoutFault = LayoutFault(layout, h.RecordLength);
    // The header's tail after the terminator holds no descriptors.
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TDBFFieldDescriptor& d = fields[i];
        TFieldReport f;
        f.Number = i + 1;
        const auto name = std::span(d.FieldName).first(FieldNameLength(d));
        f.Name = Escaped(name);
        f.RawName.assign(name.begin(), name.end());
        f.Type = Escaped(std::span(&d.FieldType, 1));
        f.Displacement = GetLE32(d.Displacement);
        f.Width = d.FieldLength;
        f.Decimals = d.DecimalCount;
        f.ReservedClear = NonZero(d.FieldReserved) == 0;
        f.Empty = IsEmptyDescriptor(d);
        f.InUse = i < table.FieldCount();
        h.Fields.push_back(std::move(f));
    }
    return h;
}

const char* const kReadWithoutHold =
    "Прочитана без монопольного захвата (файл только для чтения, чужой или открыт другой программой): "
    "fix её не исправит, пока её нельзя захватить";

// Text of the tool's own, or the rest of a core message around the table's
// name: a line feed the window breaks its box with becomes a blank.
std::string OneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return ShownName(text);
}

std::string Joined(const std::vector<std::string>& parts, const char* separator = "; ")
{
    std::string line;
    for (const auto& p : parts) line += (line.empty() ? "" : separator) + p;
    return line;
}

std::span<const TByte> BytesOfText(const std::string& text)
{
    return {reinterpret_cast<const TByte*>(text.data()), text.size()};
}

// The text and blanks up to the width, counted in characters, not bytes;
// one blank at least.
std::string Padded(const std::string& text, std::size_t width)
{
    const std::size_t characters = Columns(text);
    return text + std::string(characters < width ? width - characters : 1, ' ');
}

const char* YesNo(bool b)
{
    return b ? "да" : "нет";
}

}  // namespace

std::string HexOf(std::span<const TByte> bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const TByte b : bytes) {
        hex += digits[b >> 4U];
        hex += digits[b & 0x0FU];
    }
    return hex;
}

TMessageCollector::TMessageCollector(std::vector<std::string>& messages)
    : FPrevious(SetNotifyUserHandler([&messages](const std::string& text) { messages.push_back(text); }))
{
}

TMessageCollector::~TMessageCollector()
{
    SetNotifyUserHandler(std::move(FPrevious));
}

std::string Escaped(std::span<const TByte> bytes)
{
    std::string out;
    for (const TByte b : bytes) {
        if (b == '\\') {
            out += "\\\\";
        } else if (b < 0x20 || b >= 0x7F) {
            char text[8];
            std::snprintf(text, sizeof text, "\\x%02X", b);
            out += text;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

bool IsUtf8(std::string_view text)
{
    return ScanUtf8(std::span(reinterpret_cast<const TByte*>(text.data()), text.size())).Valid;
}

std::string ShownName(const std::string& name)
{
    const std::span bytes(reinterpret_cast<const TByte*>(name.data()), name.size());
    if (!IsUtf8(name)) return Escaped(bytes);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const TByte b = bytes[i];
        // C1 controls are U+0080..U+009F: 0xC2 followed by 0x80..0x9F.
        const bool c1 = b == 0xC2 && i + 1 < bytes.size() && bytes[i + 1] < 0xA0;
        if (b < 0x20 || b == 0x7F || c1) {
            out += Escaped(bytes.subspan(i, c1 ? 2 : 1));
            if (c1) ++i;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string JsonName(const std::string& name)
{
    if (IsUtf8(name)) return name;
    return Escaped(std::span(reinterpret_cast<const TByte*>(name.data()), name.size()));
}

std::vector<std::string> DescribeChanges(std::span<const TByte> before, std::span<const TByte> after)
{
    std::vector<std::string> changes;
    if (before.size() != after.size() || before.size() < sizeof(TDBFHeader)) return changes;
    const auto part = [&](std::size_t from, std::size_t size) {
        return std::pair(before.subspan(from, size), after.subspan(from, size));
    };
    const auto differs = [&](std::size_t from, std::size_t size) {
        const auto [b, a] = part(from, size);
        return !std::equal(b.begin(), b.end(), a.begin(), a.end());
    };
    if (differs(0, 1)) changes.push_back("версия " + Hex(before[0]) + " → " + Hex(after[0]));
    if (differs(1, 3)) {
        changes.push_back("дата последнего изменения " + Date({before[1], before[2], before[3]}) + " → " +
                          Date({after[1], after[2], after[3]}));
    }
    if (differs(4, 4)) {
        changes.push_back("число записей " + std::to_string(LE32At(before, 4)) + " → " + std::to_string(LE32At(after, 4)));
    }
    if (differs(8, 4)) changes.push_back("байты 8–11: " + Escaped(before.subspan(8, 4)) + " → " + Escaped(after.subspan(8, 4)));
    DescribeReserved("байты 12–27 (резерв)", before.subspan(12, 16), after.subspan(12, 16), changes);
    if (differs(28, 1)) {
        changes.push_back("признак индекса " + std::to_string(before[28]) + " → " + std::to_string(after[28]));
    }
    if (differs(29, 1)) {
        changes.push_back("кодовая страница " + std::to_string(before[29]) + " → " + std::to_string(after[29]));
    }
    DescribeReserved("байты 30–31 (резерв)", before.subspan(30, 2), after.subspan(30, 2), changes);

    for (std::size_t at = sizeof(TDBFHeader); at + sizeof(TDBFFieldDescriptor) <= before.size();
         at += sizeof(TDBFFieldDescriptor)) {
        const std::string field = "поле " + std::to_string((at - sizeof(TDBFHeader)) / 32 + 1);
        const auto nameOf = [](std::span<const TByte> d) {
            const auto end = std::find(d.begin(), d.begin() + 11, TByte{0});
            return "«" + Escaped(std::span(d.begin(), end)) + "»";
        };
        const auto b = before.subspan(at, 32);
        const auto a = after.subspan(at, 32);
        const std::string named = field + " " + nameOf(a);
        if (differs(at, 11)) changes.push_back(field + " " + nameOf(b) + " → " + nameOf(a));
        if (differs(at + 11, 1)) changes.push_back(named + ": тип " + Escaped(b.subspan(11, 1)) + " → " + Escaped(a.subspan(11, 1)));
        if (differs(at + 12, 4)) {
            changes.push_back(named + ": смещение " + std::to_string(LE32At(b, 12)) + " → " +
                              std::to_string(LE32At(a, 12)));
        }
        if (differs(at + 16, 1)) {
            changes.push_back(named + ": ширина " + std::to_string(b[16]) + " → " + std::to_string(a[16]));
        }
        if (differs(at + 17, 1)) {
            changes.push_back(named + ": знаков после запятой " + std::to_string(b[17]) + " → " +
                              std::to_string(a[17]));
        }
        DescribeReserved(named + ": байты 18–31 (резерв)", b.subspan(18), a.subspan(18), changes);
    }
    return changes;
}

std::vector<std::string> SettleChoices(const TTableFindings& findings, const TDetectionAsks& asks,
                                       TCorrectionChoices& choices)
{
    std::vector<std::string> notes;
    if (asks.CodePage) {
        const auto& encoding = findings.Encoding;
        choices.CodePageChoice = encoding.CodePage ? ChoiceOfCodePage(*encoding.CodePage) : cpLeave;
        if (choices.CodePageChoice == cpLeave) notes.push_back("кодовая страница оставлена: " + encoding.Reason);
    }
    if (asks.RecordCount) {
        const auto& count = findings.RecordCount;
        if (count.CountFromLength) {
            choices.RecordCount = *count.CountFromLength;
        } else if (count.Verdict != TRecordCountVerdict::Agrees) {
            notes.push_back("число записей оставлено: " + count.Reason);
        }
    }
    return notes;
}

TTableReport ReadTable(const std::string& path, const std::optional<TCorrectionChoices>& choices,
                       const TDetectionAsks& asks, const TRecordsAsk& records)
{
    TTableReport report;
    report.Path = path;
    if (auto problem = PathProblem(path)) {
        report.Messages.push_back(std::move(*problem));
        return report;
    }
    TMessageCollector collector(report.Messages);
    TDBF table;
    table.SetTableName(path);
    table.Open();
    // Looking writes nothing: a table that cannot be held is read shared.
    if (!table.Active() && report.Messages == std::vector{ExclusiveOpenMessage(path)}) {
        report.Messages.clear();
        table.OpenForReading();
        report.Held = !table.Active();
    }
    if (!table.Active() || !table.HeaderRead()) return report;  // the table has told why
    report.Read = true;
    report.Refusal = RefusalOf(table.Header(), table.ChunksRead());
    if (IsDBase2(table.Header().Version)) {
        // Nothing past its version byte reads as a dBase III header.
        report.Messages.push_back(*report.Refusal);
        return report;
    }
    report.Header = DescribeHeader(table);
    // A layout a reader would misread is refused as fix refuses it.
    if (!report.Refusal) report.Refusal = report.Header->LayoutFault;
    if (report.Refusal) {
        // Told as the correction tells it, so that check and fix say the same.
        report.Messages.push_back(*report.Refusal);
    }
    const auto image = table.HeaderImage();
    report.Before.assign(image.begin(), image.end());
    report.After = report.Before;
    if (!report.Refusal) report.Findings = InspectTable(table);
    if (records.Count > 0) {
        const TEncodingCheck* found = report.Findings ? &report.Findings->Encoding : nullptr;
        report.Records = ChooseEncoding(records, table.Header().LanguageDriver, found ? found->Charset : "");
        // dBase 7's descriptors are 48 bytes: read as dBase III's they place no field right.
        if (VersionFamily(table.Header().Version) == TLayoutFamily::DBase7) {
            report.Records->Stop = "записи таблицы dBase 7 не показываются: её описатели устроены иначе";
        } else {
            ReadRecords(table, *report.Records);
        }
    }
    if (choices && !report.Refusal) {
        TCorrectionChoices settled = *choices;
        report.Notes = SettleChoices(*report.Findings, asks, settled);
        // The correction's own step, on copies: nothing of the table changes.
        TDBFHeader header = table.Header();
        std::vector<TDBFFieldDescriptor> chunks(table.ChunksRead().begin(), table.ChunksRead().end());
        CorrectImages(header, chunks, table.FieldCount(), settled);
        report.After.assign(ImageOf(header).begin(), ImageOf(header).end());
        for (std::size_t i = 0; i < table.FieldCount(); ++i) {
            const auto descriptor = ImageOf(chunks[i]);
            report.After.insert(report.After.end(), descriptor.begin(), descriptor.end());
        }
        report.Changes = DescribeChanges(report.Before, report.After);
    }
    table.Stream().Close();
    return report;
}

void DescribeTable(TDBF& table, TTableReport& report)
{
    report.Read = true;
    report.Header = DescribeHeader(table);
}

std::optional<std::string> PathProblem(const std::string& path)
{
    if (path == "-") return std::string("стандартный ввод: таблицы читаются только из файлов");
    std::error_code error;
    const auto status = std::filesystem::status(NativePath(path), error);
    if (status.type() == std::filesystem::file_type::not_found) return std::string("нет такого файла или папки");
    if (error) return std::nullopt;  // the table's own opening tells why
    if (status.type() == std::filesystem::file_type::directory) return std::string("это папка: добавьте --recursive");
    if (status.type() != std::filesystem::file_type::regular) {
        return std::string("не обычный файл (канал, устройство или сокет): не читается");
    }
    return std::nullopt;
}

std::string PlainMessage(const std::string& message, const std::string& path)
{
    // Said of the table by its name: the line already names it.
    if (message == ExclusiveOpenMessage(path)) {
        return "невозможно открыть в монопольном режиме: таблица открыта другой программой или закрыта для записи";
    }
    if (message == ReadOpenMessage(path)) return "невозможно открыть для чтения: нет прав или файл занят";
    std::string text = message;
    for (const char* method : {"ProcessFile: ", "ReadHeader: ", "Open: ", "TableName: "}) {
        if (text.starts_with(method)) {
            text.erase(0, std::string_view(method).size());
            break;
        }
    }
    if (text == "Недопустимый тип файла") return "имя не оканчивается на .dbf: не таблица";
    if (text.starts_with("Не найден файл ")) return "нет такого файла или папки";
    if (text == "Ошибка чтения заголовка файла") return "заголовок не прочитан: файл короче заголовка или не читается";
    return OneLine(text);
}

std::string PlainReason(const TTableReport& r)
{
    std::vector<std::string> plain(r.Messages.size());
    std::transform(r.Messages.begin(), r.Messages.end(), plain.begin(),
                   [&](const std::string& m) { return PlainMessage(m, r.Path); });
    return plain.empty() ? std::string("причина не названа") : Joined(plain);
}

TTableOutcome CheckOutcome(const TTableReport& r)
{
    if (!r.Correctable()) return TTableOutcome::Failed;
    return r.WouldChange() ? TTableOutcome::Changes : TTableOutcome::Right;
}

TTableOutcome FixOutcome(const TTableReport& r)
{
    switch (r.Fix) {
    case TFixState::Written: return TTableOutcome::Changes;
    case TFixState::Unchanged: return TTableOutcome::Right;
    case TFixState::NotRun:
    case TFixState::NotCorrected:
    case TFixState::WriteFailed: break;
    }
    return TTableOutcome::Failed;
}

void PrintShow(const TTableReport& r, std::ostream& out)
{
    out << ShownName(r.Path) << ":";
    if (!r.Header) {
        out << (r.Refusal ? " отказ: " : " не прочитана: ") << PlainReason(r) << "\n";
        return;
    }
    const THeaderReport& h = *r.Header;
    out << "\n";
    if (!r.Messages.empty()) out << "  Сообщения: " << PlainReason(r) << "\n";
    out << "  Версия: " << Hex(h.Version) << " (" << h.Writer << ")\n"
        << "  Последнее изменение: " << Date(h.LastUpdate) << "\n"
        << "  Записей: " << h.RecordCount << "\n"
        << "  Длина заголовка: " << h.HeaderLength << ", длина записи: " << h.RecordLength << "\n"
        << "  Признак индекса: " << static_cast<unsigned>(h.IndexFlag) << "\n"
        << "  Кодовая страница: " << static_cast<unsigned>(h.CodePage) << " (" << h.CodePageName << ")\n"
        << "  Описатели: " << h.Fields.size() << ", используются: " << h.InUse << "\n";
    out << "  " << Padded("№", 4) << Padded("имя", 20) << Padded("тип", 6) << Padded("смещение", 10)
        << Padded("ширина", 8) << Padded("дробн.", 8) << Padded("резерв", 8) << "используется\n";
    for (const auto& f : h.Fields) {
        out << "  " << Padded(std::to_string(f.Number), 4) << Padded("«" + ShownName(f.RawName) + "»", 20)
            << Padded(f.Type, 6) << Padded(std::to_string(f.Displacement), 10) << Padded(std::to_string(f.Width), 8)
            << Padded(std::to_string(f.Decimals), 8) << Padded(f.ReservedClear ? "чист" : "занят", 8)
            << YesNo(f.InUse) << (f.Empty ? " (пустой)" : "") << "\n";
    }
    out << "  Терминатор: ";
    if (h.TerminatorAt) {
        out << "байт " << *h.TerminatorAt;
        if (h.BytesAfterTerminator > 0) {
            out << "; после него в заголовке ещё " << CountOf(h.BytesAfterTerminator, kBytes)
                << " (так их оставляют некоторые программы; не мешает)";
        }
        out << "\n";
    } else {
        out << "нет там, где кончаются описатели\n";
    }
    out << "  Ширины полей с признаком удаления: " << h.RecordWidth
        << (h.WidthsAddUp ? " = длине записи" : " ≠ длине записи")
        << (h.AddUpAsClipper ? " (сходятся по правилу Clipper для длинных символьных полей)" : "") << "\n";
    if (h.LayoutFault) out << "  Читающие программы разместят поля не там, где они лежат: таблица не в порядке\n";
    PrintFindings(r, out);
    if (r.Records) PrintRecords(*r.Records, out);
}

void PrintRecords(const TRecordsShown& shown, std::ostream& out)
{
    static const std::map<std::string, const char*> kFrom{
        {"header", "по байту заголовка"}, {"codepage", "по --codepage"}, {"auto", "найдена по записям"}};
    out << "  Записи";
    if (!shown.Charset.empty()) {
        out << ", тексты в " << shown.Charset << " (" << kFrom.at(shown.From) << "):\n";
    } else {
        out << ", тексты не перекодированы, байты старше 0x7F как \\xNN (" << shown.NotDecoded << "):\n";
    }
    std::size_t nameWidth = 0;
    std::vector<std::string> names;
    for (const auto& field : shown.Fields) {
        names.push_back(ShownName(field.RawName));
        nameWidth = std::max(nameWidth, Columns(names.back()) + 2);
    }
    for (const auto& record : shown.Records) {
        out << "    № " << record.Number;
        if (record.Flag == '*') {
            out << " (удалена)";
        } else if (record.Flag != ' ') {
            out << " (признак удаления " << Escaped(std::span(&record.Flag, 1)) << ": ни пробел, ни *)";
        }
        if (record.BeyondCount) out << " (за последней записью, которую считает заголовок)";
        out << "\n";
        for (std::size_t i = 0; i < shown.Fields.size(); ++i) {
            std::string value = record.Values[i];
            if (shown.Fields[i].Binary) {
                value.insert(0, "0x");
            } else {
                // Trailing blanks are the width's filling; leading ones show where the field begins.
                value = "«" + ShownName(value.substr(0, value.find_last_not_of(' ') + 1)) + "»";
            }
            out << "      " << Padded(names[i], nameWidth) << value << "\n";
        }
    }
    if (!shown.Stop.empty()) out << "    " << shown.Stop << "\n";
}

void PrintFindings(const TTableReport& r, std::ostream& out)
{
    if (r.Read && !r.Held) out << "  " << kReadWithoutHold << "\n";
    if (r.Index && r.Read) {
        if (r.Index->File) {
            out << "  Индексный файл рядом: " << ShownName(*r.Index->File) << "\n";
        } else if (r.Index->FolderRead) {
            out << "  Индексного файла таблицы (.mdx, .cdx) рядом нет\n";
        } else {
            out << "  Индексный файл не найти: папка таблицы не читается\n";
        }
    }
    if (r.Findings) {
        out << "  " << Describe(r.Findings->RecordCount) << "\n"
            << "  " << Describe(r.Findings->Encoding) << "\n";
    }
    for (const auto& note : r.Notes) out << "  " << OneLine(note) << "\n";
}

namespace {

// Why a choice settled by the records was left, and a table read without
// its hold, after the table's verdict.
std::string Remarks(const TTableReport& r)
{
    std::string line;
    // A count that disagrees with the file is worth a word even where the
    // choices leave it: readers lose records by it, or read past the last.
    const bool countTold = std::any_of(r.Notes.begin(), r.Notes.end(),
                                       [](const std::string& note) { return note.starts_with("число записей"); });
    if (r.Findings && r.Findings->RecordCount.Verdict != TRecordCountVerdict::Agrees && !countTold &&
        std::none_of(r.Changes.begin(), r.Changes.end(),
                     [](const std::string& change) { return change.starts_with("число записей"); })) {
        line += "; " + OneLine(Describe(r.Findings->RecordCount));
    }
    for (const auto& note : r.Notes) line += "; " + OneLine(note);
    if (r.Read && !r.Held) line += "; прочитана без монопольного захвата: fix её не исправит, пока её нельзя захватить";
    return line;
}

}  // namespace

std::string CheckLine(const TTableReport& r)
{
    std::string line = ShownName(r.Path) + ": ";
    switch (CheckOutcome(r)) {
    case TTableOutcome::Failed: line += (r.Read ? "отказ: " : "не прочитана: ") + PlainReason(r); break;
    case TTableOutcome::Right: line += "в порядке"; break;
    case TTableOutcome::Changes: line += "будет исправлена: " + Joined(r.Changes); break;
    }
    return line + Remarks(r);
}

std::string FixLine(const TTableReport& r)
{
    std::string line = ShownName(r.Path) + ": ";
    switch (r.Fix) {
    case TFixState::Written:
        line += "исправлена: " + Joined(r.Changes);
        if (!r.BackupFile.empty()) line += "; копия: " + ShownName(r.BackupFile);
        break;
    case TFixState::Unchanged: line += "уже в порядке"; break;
    case TFixState::WriteFailed:
        line += "ошибка записи: " + PlainReason(r);
        if (!r.BackupFile.empty()) line += "; прежний заголовок в копии: " + ShownName(r.BackupFile);
        break;
    case TFixState::NotCorrected:
    case TFixState::NotRun: line += "отказ: " + PlainReason(r); break;
    }
    return line + Remarks(r);
}

void PutName(TJsonWriter& json, std::string_view key, const std::string& name)
{
    if (IsUtf8(name)) {
        json.Put(key, name);
        return;
    }
    const auto bytes = BytesOfText(name);
    json.Put(key, Escaped(bytes)).Put(std::string(key) + "_hex", HexOf(bytes));
}

void ToJson(const TRecordsShown& shown, TJsonWriter& j)
{
    j.Object();
    if (shown.Charset.empty()) {
        j.PutNull("charset").Put("not_decoded", shown.NotDecoded);
    } else {
        j.Put("charset", shown.Charset).PutNull("not_decoded");
    }
    j.Put("charset_from", shown.From).Put("asked", shown.Asked);
    j.Key("fields").Array();
    for (const auto& field : shown.Fields) {
        j.Object();
        PutName(j, "name", field.RawName);
        j.Put("type", Escaped(std::span(&field.Type, 1)))
            .Put("offset", field.Offset)
            .Put("width", field.Width)
            .Put("binary", field.Binary)
            .End();
    }
    j.End().Key("rows").Array();
    for (const auto& record : shown.Records) {
        j.Object()
            .Put("number", record.Number)
            .Put("flag", Escaped(std::span(&record.Flag, 1)))
            .Put("deleted", record.Flag == '*')
            .Put("beyond_count", record.BeyondCount)
            .Put("values", record.Values)
            .End();
    }
    j.End();
    if (shown.Stop.empty()) {
        j.PutNull("stop");
    } else {
        j.Put("stop", shown.Stop);
    }
    j.End();
}

void ToJson(const TTableReport& r, TJsonWriter& j)
{
    j.Object();
    PutName(j, "path", r.Path);
    j.Put("read", r.Read).Put("held", r.Read && r.Held).Put("messages", r.Messages).Put("refusal", r.Refusal);
    if (r.Header) {
        const THeaderReport& h = *r.Header;
        j.Key("header").Object()
            .Put("version", h.Version)
            .Put("writer", h.Writer)
            .Put("last_update", Date(h.LastUpdate))
            .Put("record_count", h.RecordCount)
            .Put("header_length", h.HeaderLength)
            .Put("record_length", h.RecordLength)
            .Put("index_flag", h.IndexFlag)
            .Put("code_page", h.CodePage)
            .Put("code_page_name", h.CodePageName)
            .Put("descriptors_in_use", h.InUse)
            .Put("terminator_at", h.TerminatorAt)
            .Put("record_width", h.RecordWidth)
            .Put("widths_add_up", h.WidthsAddUp)
            .Put("add_up_as_clipper", h.AddUpAsClipper)
            .Put("bytes_after_terminator", h.BytesAfterTerminator)
            .Put("layout_fault", h.LayoutFault);
        j.Key("fields").Array();
        for (const auto& f : h.Fields) {
            j.Object().Put("number", f.Number);
            PutName(j, "name", f.RawName);
            j.Put("type", f.Type)
                .Put("displacement", f.Displacement)
                .Put("width", f.Width)
                .Put("decimals", f.Decimals)
                .Put("reserved_clear", f.ReservedClear)
                .Put("empty", f.Empty)
                .Put("in_use", f.InUse)
                .End();
        }
        j.End().End();
    }
    if (r.Correctable()) j.Put("would_change", r.WouldChange()).Put("changes", r.Changes);
    if (r.Findings) {
        ToJson(r.Findings->RecordCount, j.Key("record_count_check").Object());
        j.End();
        ToJson(r.Findings->Encoding, j.Key("encoding").Object());
        j.End();
    }
    j.Put("notes", r.Notes);
    if (r.Index) {
        if (r.Index->File) {
            PutName(j, "index_file", *r.Index->File);
        } else {
            j.PutNull("index_file");
        }
        j.Put("index_folder_read", r.Index->FolderRead);
    }
    if (r.Records) ToJson(*r.Records, j.Key("records"));
    if (r.Fix != TFixState::NotRun) {
        static const std::map<TFixState, const char*> kStates{{TFixState::Written, "written"},
                                                              {TFixState::Unchanged, "unchanged"},
                                                              {TFixState::NotCorrected, "refused"},
                                                              {TFixState::WriteFailed, "write_failed"}};
        j.Put("fix", kStates.at(r.Fix));
        if (r.Fix == TFixState::Written) {
            // What now stands at the start of the file, so that a script can
            // tell exactly which bytes were written.
            j.Key("written").Object().Put("offset", 0).Put("length", r.After.size()).Put("bytes_hex", HexOf(r.After)).End();
        }
        if (r.BackupFile.empty()) {
            j.PutNull("backup");
        } else {
            PutName(j, "backup", r.BackupFile);
        }
    }
    j.End();
}
