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

constexpr TByte kEndMark = 0x1A;

// Records looked at on each side of a place where the records may end.
constexpr std::uint64_t kEdgeRecords = 4;

// Bytes looked at at each end of what follows the records.
constexpr std::uint64_t kTailWindow = 64 << 10;

bool IsDeletionFlag(TByte b)
{
    return b == ' ' || b == '*';
}

// One way of reading the file: so many records, ended by an end mark or
// not, and what follows them; not Explained when that is neither of the
// tails writers leave.
struct TReading {
    std::uint64_t Records;
    bool Mark;
    TRecordTail Tail;
    std::uint64_t TailBytes;
    bool Explained;
};

// The deletion flags of chosen records below a limit, read run by run in
// pieces of at most the sample's budget; keeps only the first record whose
// flag is wrong, which is all a reading needs to know.
class TFlagProbe {
public:
    TFlagProbe(const TReadAt& read, std::uint64_t headerLength, std::uint16_t recordLength, std::uint64_t limit)
        : FRead(read), FHeaderLength(headerLength), FRecordLength(recordLength), FLimit(limit)
    {
    }

    void Look(std::uint64_t first, std::uint64_t count)
    {
        const std::uint64_t end = std::min(FLimit, first + count);
        const std::uint64_t perPiece = std::max<std::uint64_t>(1, kSampleBudget / FRecordLength);
        for (std::uint64_t at = first; at < end && !FFailed; at += perPiece) {
            const std::uint64_t records = std::min(perPiece, end - at);
            // The last record of a piece is read only up to its flag.
            FBuffer.resize(static_cast<std::size_t>((records - 1) * FRecordLength + 1));
            if (!FRead(FHeaderLength + at * FRecordLength, FBuffer)) {
                FFailed = true;
                return;
            }
            for (std::uint64_t r = 0; r < records; ++r) {
                const TByte flag = FBuffer[static_cast<std::size_t>(r * FRecordLength)];
                if (IsDeletionFlag(flag) || (FFirstBad && *FFirstBad <= at + r)) continue;
                FFirstBad = at + r;
                FFirstBadByte = flag;
                break;
            }
        }
    }
    [[nodiscard]] bool Failed() const { return FFailed; }
    // Counted from 0.
    [[nodiscard]] std::optional<std::uint64_t> FirstBad() const { return FFirstBad; }
    [[nodiscard]] TByte FirstBadByte() const { return FFirstBadByte; }

private:
    const TReadAt& FRead;
    std::uint64_t FHeaderLength;
    std::uint16_t FRecordLength;
    std::uint64_t FLimit;
    std::vector<TByte> FBuffer;
    bool FFailed = false;
    std::optional<std::uint64_t> FFirstBad;
    TByte FFirstBadByte = 0;
};

bool AllZero(std::span<const TByte> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](TByte b) { return b == 0; });
}

// What follows the records from `at` (an end mark written in place there, or
// the first of the zero bytes) to the file's end: zero bytes (an end mark
// may close them), or, after a mark, the stale records a PACK left, whole,
// each beginning with a deletion flag (a final mark may follow them). Looks
// at the first and the last 64 KiB and, of stale records, at the flags of the
// first and last few. Nothing when it is neither, or cannot be read.
std::optional<TRecordTail> TailAfter(const TReadAt& read, std::uint64_t at, std::uint64_t fileLength,
                                     std::uint16_t recordLength, bool mark)
{
    const std::uint64_t from = at + (mark ? 1 : 0);
    if (from >= fileLength) return TRecordTail::None;
    std::vector<TByte> head(static_cast<std::size_t>(std::min(kTailWindow, fileLength - from)));
    std::vector<TByte> end(static_cast<std::size_t>(std::min(kTailWindow, fileLength - from)));
    if (!read(from, head) || !read(fileLength - end.size(), end)) return std::nullopt;
    const bool finalMark = end.back() == kEndMark;
    if (AllZero(head.size() == fileLength - from && finalMark ? std::span(head).first(head.size() - 1) : std::span(head)) &&
        AllZero(finalMark ? std::span(end).first(end.size() - 1) : std::span(end))) {
        return TRecordTail::Zeros;
    }
    if (!mark) return std::nullopt;
    // The mark stands over the first stale record's flag.
    const std::uint64_t stale = fileLength - (finalMark ? 1 : 0) - at;
    if (stale % recordLength != 0) return std::nullopt;
    const std::uint64_t records = stale / recordLength;
    const auto dataAt = [&](std::uint64_t r) { return at + r * recordLength; };
    TFlagProbe probe(read, dataAt(0), recordLength, records);
    probe.Look(1, kEdgeRecords);
    probe.Look(records > kEdgeRecords ? records - kEdgeRecords : 1, kEdgeRecords);
    if (probe.Failed() || probe.FirstBad()) return std::nullopt;
    return TRecordTail::Stale;
}

const char* VerdictName(TRecordCountVerdict verdict)
{
    switch (verdict) {
    case TRecordCountVerdict::Agrees: return "agrees";
    case TRecordCountVerdict::CountLow: return "count-low";
    case TRecordCountVerdict::CountHigh: return "count-high";
    case TRecordCountVerdict::PartialRecord: return "partial-record";
    case TRecordCountVerdict::Unexplained: return "unexplained";
    case TRecordCountVerdict::Ambiguous: return "ambiguous";
    case TRecordCountVerdict::Unknowable: break;
    }
    return "unknowable";
}

const char* TailName(TRecordTail tail)
{
    switch (tail) {
    case TRecordTail::Stale: return "stale";
    case TRecordTail::Zeros: return "zeros";
    case TRecordTail::None: break;
    }
    return "none";
}

// What follows the records counted, told after the verdict.
std::string TailText(const TRecordCountCheck& check)
{
    const std::string bytes = std::to_string(check.TailBytes);
    switch (check.Tail) {
    case TRecordTail::Stale: return "; после метки конца (0x1A) " + bytes + " байт старых записей";
    case TRecordTail::Zeros:
        return check.EndOfFileMark ? "; после метки конца (0x1A) " + bytes + " нулевых байт"
                                   : "; после записей " + bytes + " нулевых байт без метки конца";
    case TRecordTail::None: break;
    }
    return "";
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

TRecordCountCheck CheckRecordCount(const TDBFHeader& header, std::uint64_t fileLength, const TReadAt& read)
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
    const std::uint64_t data = fileLength - check.HeaderLength;
    const std::uint16_t length = check.RecordLength;
    const auto byteAt = [&read](std::uint64_t at) -> std::optional<TByte> {
        std::array<TByte, 1> byte{};
        return read(at, byte) ? std::optional(byte[0]) : std::nullopt;
    };
    const bool finalMark = data > 0 && byteAt(fileLength - 1) == TByte{kEndMark};

    // The places the records may end: at the file's end, at a final end mark,
    // or where the header's count puts them, followed by an end mark written
    // in place or by zero bytes.
    std::vector<TReading> readings;
    if (data % length == 0) readings.push_back({data / length, false, TRecordTail::None, 0, true});
    if (finalMark && (data - 1) % length == 0) readings.push_back({(data - 1) / length, true, TRecordTail::None, 0, true});
    const std::uint64_t counted = std::uint64_t{check.HeaderCount} * length;
    if (counted < data && std::none_of(readings.begin(), readings.end(),
                                       [&](const TReading& r) { return r.Records == check.HeaderCount; })) {
        const std::uint64_t at = check.HeaderLength + counted;
        const auto first = byteAt(at);
        if (first && (*first == kEndMark || *first == 0)) {
            const bool mark = *first == kEndMark;
            const auto tail = TailAfter(read, at, fileLength, length, mark);
            readings.push_back({check.HeaderCount, mark, tail.value_or(TRecordTail::None),
                                fileLength - at - (mark ? 1 : 0), tail.has_value()});
        }
    }

    // Every record before the place a reading ends must begin with a
    // deletion flag; the flags looked at are those of the sampled runs and of
    // the records around each place and around the header's count.
    std::uint64_t furthest = 0;
    for (const auto& r : readings) furthest = std::max(furthest, r.Records);
    TFlagProbe probe(read, check.HeaderLength, length, furthest);
    for (const auto& run : SampleRuns(furthest, length)) probe.Look(run.First, run.Count);
    for (const auto& r : readings) probe.Look(r.Records > kEdgeRecords ? r.Records - kEdgeRecords : 0, kEdgeRecords);
    probe.Look(check.HeaderCount > kEdgeRecords ? check.HeaderCount - kEdgeRecords : 0, 2 * kEdgeRecords);
    if (probe.Failed()) {
        check.ReadFailed = true;
        return countLeft("записи не прочитаны");
    }
    if (probe.FirstBad()) {
        check.NotARecord = *probe.FirstBad() + 1;  // counted from 1 for people
        check.NotARecordByte = probe.FirstBadByte();
    }

    std::vector<TReading> explaining;
    for (const auto& r : readings) {
        const bool flagsHold = !probe.FirstBad() || *probe.FirstBad() >= r.Records;
        if (flagsHold && r.Explained) explaining.push_back(r);
    }
    // Where no one count explains the file, as many whole records as fit,
    // less a final end mark, are what the sample of texts looks at.
    const std::uint64_t recordBytes = finalMark ? data - 1 : data;
    check.WholeRecords = recordBytes / length;
    check.PartialBytes = recordBytes % length;
    check.EndOfFileMark = finalMark;
    if (explaining.size() > 1) {
        check.Verdict = TRecordCountVerdict::Ambiguous;
        std::string counts;
        for (const auto& r : explaining) counts += (counts.empty() ? "" : " и ") + std::to_string(r.Records);
        return countLeft("длину файла объясняют " + counts + " записей");
    }
    if (explaining.empty()) {
        if (check.NotARecord) {
            check.Verdict = TRecordCountVerdict::Unexplained;
            return countLeft("запись " + std::to_string(*check.NotARecord) + " начинается с байта " +
                             ByteText(check.NotARecordByte) + ", а не с пробела или «*»: это не запись");
        }
        if (!readings.empty()) {
            check.Verdict = TRecordCountVerdict::Unexplained;
            return countLeft("после записей по счёту заголовка не старые записи и не нулевые байты");
        }
        check.Verdict = TRecordCountVerdict::PartialRecord;
        return countLeft("последняя запись неполная (" + std::to_string(check.PartialBytes) + " байт из " +
                         std::to_string(length) + ")");
    }
    const TReading& only = explaining.front();
    check.WholeRecords = only.Records;
    check.PartialBytes = 0;
    check.EndOfFileMark = only.Mark;
    check.Tail = only.Tail;
    check.TailBytes = only.TailBytes;
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
    findings.RecordCount = CheckRecordCount(header, *length, [&file](std::uint64_t at, std::span<TByte> into) {
        return file.ReadAt(at, into);
    });

    const auto& count = findings.RecordCount;
    const auto fields = TextFields(table.ChunksRead(), count.RecordLength);
    if (count.ReadFailed) {
        findings.Encoding = LeftAsItIs(TEncodingVerdict::ReadFailed, header.LanguageDriver, "записи не прочитаны");
        return findings;
    }
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
    out["tail"] = TailName(check.Tail);
    out["tail_bytes"] = check.TailBytes;
    out["not_a_record"] = check.NotARecord ? nlohmann::json(*check.NotARecord) : nlohmann::json();
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
    case TRecordCountVerdict::Agrees: return line + ": совпадает" + TailText(check);
    case TRecordCountVerdict::CountLow:
    case TRecordCountVerdict::CountHigh: {
        const bool low = check.Verdict == TRecordCountVerdict::CountLow;
        const std::uint64_t by = low ? check.WholeRecords - check.HeaderCount : check.HeaderCount - check.WholeRecords;
        line += ": в заголовке на " + std::to_string(by) + (low ? " меньше" : " больше");
        return check.CountFromLength ? line + "; по длине файла " + std::to_string(*check.CountFromLength) + TailText(check)
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
