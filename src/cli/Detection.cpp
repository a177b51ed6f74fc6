// SPDX-License-Identifier: MIT
#include "Detection.h"

#include "ProcessFile.h"

#include <nlohmann/json.hpp>

#if DBF_HAVE_UCHARDET
#include <uchardet/uchardet.h>
#endif

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

const char* const kLeftAsItIs = ": байт оставлен как есть";

// The code page bytes of the usual language driver table whose encodings the
// detector can name, for telling whether the header's byte agrees. 87 is
// Windows-1251 as BDE-era programs read it, the way this tool writes it.
struct TNamedByte {
    TByte Byte;
    std::string_view Charset;  // cppcheck-suppress unusedStructMember ; read through find_if below
};
constexpr std::array<TNamedByte, 14> kNamedBytes{{
    {0x01, "IBM437"},       {0x02, "IBM850"},       {0x03, "WINDOWS-1252"}, {0x26, "IBM866"},
    {0x57, "WINDOWS-1251"}, {0x64, "IBM852"},       {0x65, "IBM866"},       {0x66, "IBM865"},
    {0x6B, "IBM857"},       {0x96, "MAC-CYRILLIC"}, {0xC8, "WINDOWS-1250"}, {0xC9, "WINDOWS-1251"},
    {0xCA, "WINDOWS-1254"}, {0xCB, "WINDOWS-1253"},
}};

std::optional<std::string_view> CharsetOfByte(TByte byte)
{
    const auto named = std::find_if(kNamedBytes.begin(), kNamedBytes.end(),
                                    [byte](const TNamedByte& entry) { return entry.Byte == byte; });
    return named == kNamedBytes.end() ? std::nullopt : std::optional(named->Charset);
}

std::string ByteText(TByte byte)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u (0x%02X)", static_cast<unsigned>(byte), static_cast<unsigned>(byte));
    return text;
}

THeaderByteAgreement AgreementOf(const std::string& charset, TByte headerByte)
{
    if (headerByte == 0) return THeaderByteAgreement::NotStated;
    const auto named = CharsetOfByte(headerByte);
    return named && *named == charset ? THeaderByteAgreement::Agrees : THeaderByteAgreement::Disagrees;
}

// Eight bytes at a time: most of a sample's texts are plain ASCII or blank,
// and every one of their bytes is looked at.
bool HasHighByte(std::span<const TByte> texts)
{
    std::uint64_t any = 0;
    std::size_t at = 0;
    for (; at + 8 <= texts.size(); at += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, texts.data() + at, 8);
        any |= eight;
    }
    for (; at < texts.size(); ++at) any |= texts[at];
    return (any & 0x8080808080808080ULL) != 0;
}

// The detector's name for the texts, or "" when it is not sure enough to
// name one. It is fed in pieces: once a prober is sure, the rest is skipped.
std::string Detect(std::span<const TByte> texts)
{
#if DBF_HAVE_UCHARDET
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(uchardet_new(),
                                                                                                  &uchardet_delete);
    if (!detector) return {};
    constexpr std::size_t kPiece = 4096;
    for (std::size_t at = 0; at < texts.size(); at += kPiece) {
        const auto piece = texts.subspan(at, std::min(kPiece, texts.size() - at));
        if (uchardet_handle_data(detector.get(), reinterpret_cast<const char*>(piece.data()), piece.size()) != 0) {
            return {};
        }
    }
    uchardet_data_end(detector.get());
    return uchardet_get_charset(detector.get());
#else
    (void)texts;
    return {};
#endif
}

const char* VerdictName(TRecordCountVerdict verdict)
{
    switch (verdict) {
    case TRecordCountVerdict::Agrees: return "agrees";
    case TRecordCountVerdict::CountLow: return "count-low";
    case TRecordCountVerdict::CountHigh: return "count-high";
    case TRecordCountVerdict::PartialRecord: return "partial-record";
    case TRecordCountVerdict::Unknowable: break;
    }
    return "unknowable";
}

const char* VerdictName(TEncodingVerdict verdict)
{
    switch (verdict) {
    case TEncodingVerdict::Named: return "named";
    case TEncodingVerdict::Unnamed: return "unnamed";
    case TEncodingVerdict::Unsure: return "unsure";
    case TEncodingVerdict::NoHighBytes: return "no-high-bytes";
    case TEncodingVerdict::NoText: return "no-text";
    case TEncodingVerdict::ReadFailed: return "read-failed";
    case TEncodingVerdict::Unavailable: break;
    }
    return "unavailable";
}

const char* AgreementName(THeaderByteAgreement agreement)
{
    switch (agreement) {
    case THeaderByteAgreement::Agrees: return "agrees";
    case THeaderByteAgreement::Disagrees: return "disagrees";
    case THeaderByteAgreement::NotStated: return "not-stated";
    case THeaderByteAgreement::Unknown: break;
    }
    return "unknown";
}

TEncodingCheck LeftAsItIs(TEncodingVerdict verdict, TByte headerByte, const std::string& why)
{
    TEncodingCheck check;
    check.Verdict = verdict;
    check.HeaderByte = headerByte;
    check.Reason = why + kLeftAsItIs;
    return check;
}

}  // namespace

TRecordCountCheck CheckRecordCount(const TDBFHeader& header, std::uint64_t fileLength,
                                   std::optional<TByte> lastByte)
{
    TRecordCountCheck check;
    check.HeaderCount = GetLE32(header.RecordCount);
    check.HeaderLength = GetLE16(header.HeaderLength);
    check.RecordLength = GetLE16(header.RecordLength);
    check.FileLength = fileLength;
    const auto countLeft = [&check](const std::string& why) {
        check.Reason = why + ": число записей оставлено как есть";
        return check;
    };
    if (check.RecordLength == 0) return countLeft("длина записи в заголовке 0");
    if (check.HeaderLength < sizeof(TDBFHeader)) {
        return countLeft("длина заголовка " + std::to_string(check.HeaderLength) + " меньше 32 байт");
    }
    if (check.HeaderLength > fileLength) {
        return countLeft("заголовок (" + std::to_string(check.HeaderLength) + " байт) длиннее файла (" +
                         std::to_string(fileLength) + " байт)");
    }
    std::uint64_t recordBytes = fileLength - check.HeaderLength;
    check.EndOfFileMark = recordBytes > 0 && lastByte == TByte{0x1A};
    if (check.EndOfFileMark) --recordBytes;
    check.WholeRecords = recordBytes / check.RecordLength;
    check.PartialBytes = recordBytes % check.RecordLength;
    if (check.PartialBytes != 0) {
        check.Verdict = TRecordCountVerdict::PartialRecord;
        return countLeft("последняя запись неполная (" + std::to_string(check.PartialBytes) + " байт из " +
                         std::to_string(check.RecordLength) + ")");
    }
    check.Verdict = check.WholeRecords == check.HeaderCount ? TRecordCountVerdict::Agrees
                    : check.WholeRecords > check.HeaderCount ? TRecordCountVerdict::CountLow
                                                             : TRecordCountVerdict::CountHigh;
    // The header keeps the count in 32 bits; a file of more records than that
    // cannot be described by it.
    if (check.WholeRecords > UINT32_MAX) return countLeft("записей в файле больше, чем вмещает заголовок");
    check.CountFromLength = static_cast<std::uint32_t>(check.WholeRecords);
    return check;
}

std::vector<TTextField> TextFields(std::span<const TDBFFieldDescriptor> chunks, std::uint16_t recordLength)
{
    const auto fields = DescriptorsBeforeTerminator(chunks);
    const bool longCharacterFields = HasLongCharacterFields(fields, recordLength);
    std::vector<TTextField> texts;
    std::size_t offset = 1;  // after the deletion flag
    for (const auto& field : fields) {
        const bool character = IsCharacterType(field.FieldType);
        const std::size_t width =
            field.FieldLength + (character && longCharacterFields ? 256U * field.DecimalCount : 0U);
        if (offset >= recordLength) break;
        if (character && !IsEmptyDescriptor(field)) {
            texts.push_back({offset, std::min<std::size_t>(width, recordLength - offset)});
        }
        offset += width;
    }
    return texts;
}

std::vector<TRecordRun> SampleRuns(std::uint64_t records, std::uint16_t recordLength)
{
    if (records == 0 || recordLength == 0) return {};
    const std::uint64_t fit = kSampleBudget / recordLength;  // at least 4: lengths are 16-bit
    if (records <= fit) return {{0, records}};
    // A quarter of the budget for the first records, the rest in runs spread
    // through the others, the last of them ending with the table.
    const std::uint64_t first = std::max<std::uint64_t>(1, fit / 4);
    const std::uint64_t spreadRuns = std::min<std::uint64_t>(12, fit - first);
    const std::uint64_t runLength = (fit - first) / spreadRuns;
    std::vector<TRecordRun> runs{{0, first}};
    for (std::uint64_t i = 1; i <= spreadRuns; ++i) {
        const std::uint64_t start =
            std::max(first + (records - first - runLength) * i / spreadRuns, runs.back().First + runs.back().Count);
        if (start >= records) break;
        runs.push_back({start, std::min(runLength, records - start)});
    }
    return runs;
}

TTextSample::TTextSample(std::vector<TTextField> fields, std::uint16_t recordLength)
    : FFields(std::move(fields)), FRecordLength(recordLength)
{
}

void TTextSample::Add(std::span<const TByte> records)
{
    for (std::size_t at = 0; FRecordLength > 0 && at + FRecordLength <= records.size(); at += FRecordLength) {
        for (const auto& field : FFields) {
            auto text = records.subspan(at + field.Offset, field.Width);
            FLookedAt += text.size();
            if (!HasHighByte(text)) continue;
            const auto last = std::find_if(text.rbegin(), text.rend(), [](TByte b) { return b != ' ' && b != 0; });
            text = text.first(static_cast<std::size_t>(text.rend() - last));
            FTexts.insert(FTexts.end(), text.begin(), text.end());
            FTexts.push_back(' ');
            FTextEnds.push_back(FTexts.size());
        }
    }
}

std::vector<TByte> TTextSample::DetectorInput() const
{
    if (FTexts.size() <= kDetectorBudget) return FTexts;
    // Every so many-th text, so that the first records and the spread ones
    // all have their say.
    const std::size_t count = FTextEnds.size();
    const std::size_t taken = std::max<std::size_t>(1, count * kDetectorBudget / FTexts.size());
    std::vector<TByte> input;
    for (std::size_t k = 0; k < taken; ++k) {
        const std::size_t i = k * count / taken;
        const std::size_t begin = i == 0 ? 0 : FTextEnds[i - 1];
        const std::size_t size = std::min(FTextEnds[i] - begin, kDetectorBudget - input.size());
        input.insert(input.end(), FTexts.begin() + static_cast<std::ptrdiff_t>(begin),
                     FTexts.begin() + static_cast<std::ptrdiff_t>(begin + size));
        if (input.size() == kDetectorBudget) break;
    }
    return input;
}

std::optional<TByte> CodePageOf(const std::string& charset)
{
    if (charset == "IBM866") return TByte{38};
    if (charset == "WINDOWS-1251") return TByte{87};
    return std::nullopt;
}

TEncodingCheck DetectEncoding(std::span<const TByte> texts, TByte headerByte)
{
    TEncodingCheck check;
    if (!HasHighByte(texts)) {
        check = LeftAsItIs(TEncodingVerdict::NoHighBytes, headerByte,
                           "в текстах выборки нет байтов больше 127, по ASCII кодировку не узнать");
    } else if (!DBF_HAVE_UCHARDET) {
        check = LeftAsItIs(TEncodingVerdict::Unavailable, headerByte, "в этой сборке кодировка не определяется");
    } else {
        check.HeaderByte = headerByte;
        check.Charset = Detect(texts);
        check.CodePage = CodePageOf(check.Charset);
        if (check.Charset.empty()) {
            check.Verdict = TEncodingVerdict::Unsure;
            check.Reason = std::string("детектор не уверен в кодировке") + kLeftAsItIs;
        } else {
            check.Agreement = AgreementOf(check.Charset, headerByte);
            check.Verdict = check.CodePage ? TEncodingVerdict::Named : TEncodingVerdict::Unnamed;
            if (!check.CodePage) {
                check.Reason = "ни один байт, который пишет программа, не называет " + check.Charset + kLeftAsItIs;
            }
        }
    }
    check.DetectorBytes = texts.size();
    return check;
}

TTableFindings InspectTable(TDBF& table)
{
    TTableFindings findings;
    const TDBFHeader& header = table.Header();
    auto& file = table.Stream();
    const auto length = table.HeaderRead() ? file.Size() : std::nullopt;
    if (!length) {
        const std::string why = table.HeaderRead() ? "длина файла не узнана" : "заголовок не прочитан";
        findings.RecordCount.Reason = why + ": число записей оставлено как есть";
        findings.Encoding = LeftAsItIs(TEncodingVerdict::ReadFailed, header.LanguageDriver, why);
        return findings;
    }
    std::array<TByte, 1> last{};
    const bool lastRead = *length > 0 && file.ReadAt(*length - 1, last);
    findings.RecordCount = CheckRecordCount(header, *length, lastRead ? std::optional(last[0]) : std::nullopt);

    const auto& count = findings.RecordCount;
    const auto fields = TextFields(table.ChunksRead(), count.RecordLength);
    if (count.Verdict == TRecordCountVerdict::Unknowable || count.WholeRecords == 0) {
        findings.Encoding = LeftAsItIs(TEncodingVerdict::NoText, header.LanguageDriver, "в файле нет записей");
        return findings;
    }
    if (fields.empty()) {
        findings.Encoding = LeftAsItIs(TEncodingVerdict::NoText, header.LanguageDriver, "в таблице нет символьных полей");
        return findings;
    }
    TTextSample sample(fields, count.RecordLength);
    std::vector<TByte> records;
    std::uint64_t sampled = 0;
    for (const auto& run : SampleRuns(count.WholeRecords, count.RecordLength)) {
        records.resize(run.Count * count.RecordLength);
        if (!file.ReadAt(count.HeaderLength + run.First * count.RecordLength, records)) {
            findings.Encoding = LeftAsItIs(TEncodingVerdict::ReadFailed, header.LanguageDriver, "записи не прочитаны");
            return findings;
        }
        sample.Add(records);
        sampled += run.Count;
    }
    findings.Encoding = DetectEncoding(sample.DetectorInput(), header.LanguageDriver);
    findings.Encoding.SampledRecords = sampled;
    findings.Encoding.SampledBytes = sample.BytesLookedAt();
    return findings;
}

void ToJson(const TRecordCountCheck& check, nlohmann::json& out)
{
    out["verdict"] = VerdictName(check.Verdict);
    out["header_count"] = check.HeaderCount;
    out["header_length"] = check.HeaderLength;
    out["record_length"] = check.RecordLength;
    out["file_length"] = check.FileLength;
    out["end_of_file_mark"] = check.EndOfFileMark;
    out["records_in_file"] = check.WholeRecords;
    out["partial_record_bytes"] = check.PartialBytes;
    out["count_from_length"] = check.CountFromLength ? nlohmann::json(*check.CountFromLength) : nlohmann::json();
    out["reason"] = check.Reason;
}

void ToJson(const TEncodingCheck& check, nlohmann::json& out)
{
    out["verdict"] = VerdictName(check.Verdict);
    out["charset"] = check.Charset;
    out["codepage"] = check.CodePage ? nlohmann::json(*check.CodePage) : nlohmann::json();
    out["header_byte"] = check.HeaderByte;
    out["header_byte_agrees"] = AgreementName(check.Agreement);
    out["sampled_records"] = check.SampledRecords;
    out["sampled_bytes"] = check.SampledBytes;
    out["detector_bytes"] = check.DetectorBytes;
    out["reason"] = check.Reason;
}

std::string Describe(const TRecordCountCheck& check)
{
    std::string line = "Число записей: ";
    if (check.Verdict == TRecordCountVerdict::Unknowable) return line + check.Reason;
    line += "в заголовке " + std::to_string(check.HeaderCount) + ", в файле " + std::to_string(check.WholeRecords);
    switch (check.Verdict) {
    case TRecordCountVerdict::Agrees: return line + ": совпадает";
    case TRecordCountVerdict::CountLow:
    case TRecordCountVerdict::CountHigh: {
        const bool low = check.Verdict == TRecordCountVerdict::CountLow;
        const std::uint64_t by = low ? check.WholeRecords - check.HeaderCount : check.HeaderCount - check.WholeRecords;
        line += ": в заголовке на " + std::to_string(by) + (low ? " меньше" : " больше");
        return check.CountFromLength ? line + "; по длине файла " + std::to_string(*check.CountFromLength)
                                     : line + "; " + check.Reason;
    }
    default: return line + " целых; " + check.Reason;
    }
}

std::string Describe(const TEncodingCheck& check)
{
    std::string line = "Кодировка текстов: ";
    if (check.Charset.empty()) return line + check.Reason;
    line += check.Charset + " (выборка: " + std::to_string(check.SampledRecords) + " записей, " +
            std::to_string(check.SampledBytes) + " байт текста, из них детектору " +
            std::to_string(check.DetectorBytes) + ")";
    if (check.CodePage) {
        line += " → байт " + ByteText(*check.CodePage);
        if (*check.CodePage == 87) {
            line += ", как его читают программы эпохи BDE (поздние программы xBase ждут для Windows-1251 201, 0xC9)";
        }
    }
    line += "; в заголовке " + ByteText(check.HeaderByte);
    switch (check.Agreement) {
    case THeaderByteAgreement::Agrees: line += ": совпадает"; break;
    case THeaderByteAgreement::NotStated: line += ": кодировка не указана"; break;
    case THeaderByteAgreement::Disagrees: {
        const auto named = CharsetOfByte(check.HeaderByte);
        line += named ? ", это " + std::string(*named) + ": не совпадает" : ": не совпадает";
        break;
    }
    case THeaderByteAgreement::Unknown: break;
    }
    return check.Reason.empty() ? line : line + "; " + check.Reason;
}
