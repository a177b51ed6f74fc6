// SPDX-License-Identifier: MIT
// What dbffix finds in a table beyond its header: whether the header's record
// count matches the records the file holds, and which encoding the texts of
// its character fields are in.
//
// Both are worked out from the header, the descriptors and a bounded sample of
// the records; nothing here writes. Each finding is a plain struct, from which
// both the JSON for scripts and the Russian line for people are made.
#pragma once

#include "CreateDBF3.h"


#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---- The record count ----

enum class TRecordCountVerdict {
    Agrees,         // the header's count is the number of records in the file
    CountLow,       // the header counts fewer records than the file holds
    CountHigh,      // the header counts more records than the file holds
    PartialRecord,  // the file ends inside a record: no count fits it
    Unexplained,    // a count would fit the length, but what lies there is not records
    Ambiguous,      // more than one count explains the file
    Unknowable,     // the header's lengths make no sense for this file
};

// What follows the records counted, when it is not the file's end or a final
// end mark.
enum class TRecordTail {
    None,
    Stale,  // after an end mark written in place: the old records a PACK left
    Zeros,  // zero bytes, as a crash or a preallocating writer leaves them
};

struct TRecordCountCheck {
    TRecordCountVerdict Verdict = TRecordCountVerdict::Unknowable;
    std::uint32_t HeaderCount = 0;
    std::uint16_t HeaderLength = 0;
    std::uint16_t RecordLength = 0;
    std::uint64_t FileLength = 0;
    bool EndOfFileMark = false;      // the records end at an end mark (0x1A), not counted as records
    std::uint64_t WholeRecords = 0;  // the records the file holds (where no count explains it, as many as fit)
    std::uint64_t PartialBytes = 0;  // bytes of a last record cut short
    bool ReadFailed = false;         // the records looked at could not be read
    TRecordTail Tail = TRecordTail::None;
    std::uint64_t TailBytes = 0;     // bytes after the records and their end mark
    // The first record looked at whose first byte is neither a blank nor '*'
    // (counted from 1), and that byte.
    std::optional<std::uint64_t> NotARecord;
    TByte NotARecordByte = 0;
    // The count that alone explains the file: what `--record-count=from-length`
    // may write.
    std::optional<std::uint32_t> CountFromLength;
    std::string Reason;  // why the count is left as it is; empty when it agrees or can be set
};

// Reads exactly into.size() bytes at the position, or says false.
using TReadAt = std::function<bool(std::uint64_t position, std::span<TByte> into)>;

// Works out how many records the file holds. A count is proposed only when
// exactly one reading explains the file: records, each beginning with a blank
// or '*' (the deletion flag), from the header up to the file's end, or up to
// an end mark (0x1A) after which there is nothing, the stale records a PACK
// left behind it, or zero bytes. A header count whose records end in zero
// bytes without an end mark (a crash) is such a reading too. The reads are
// bounded whatever the file's size: the flags of the records sampled by
// SampleRuns, of the records on each side of every place the records may end,
// and the first and last 64 KiB after them; records between those are not
// looked at.
TRecordCountCheck CheckRecordCount(const TDBFHeader& header, std::uint64_t fileLength, const TReadAt& read);

// ---- The encoding of the character fields' texts ----

enum class TEncodingVerdict {
    Named,         // found, and a code page byte the tool writes names it
    AlreadyNamed,  // found, and the header's own byte already names it: kept
    Unnamed,       // found, but no byte the tool writes names it
    Unsure,        // the evidence is too thin: too few letters, too close a second, or Latin words
    NoHighBytes,   // the sample holds no byte above 127: plain ASCII says nothing
    NoText,        // no records, or no character fields, to look at
    ReadFailed,    // the sample could not be read
};

// Whether the code page byte in the header names the encoding found.
enum class THeaderByteAgreement { Unknown, Agrees, Disagrees, NotStated };

struct TEncodingCheck {
    TEncodingVerdict Verdict = TEncodingVerdict::NoText;
    std::string Charset;                 // as iconv names it: "IBM866", "WINDOWS-1251", ...; empty when not found
    std::vector<std::string> ReadAlike;  // other encodings that read this sample letter for letter the same
    std::optional<TByte> CodePage;       // what `--codepage=auto` writes; nothing when the byte is left
    TByte HeaderByte = 0;
    THeaderByteAgreement Agreement = THeaderByteAgreement::Unknown;
    std::uint64_t SampledRecords = 0;
    std::uint64_t SampledBytes = 0;      // bytes of character fields looked at
    std::uint64_t DetectorBytes = 0;     // of them, the texts given to the detector
    // The detector's figures: the Cyrillic letters of the best reading, and
    // the cost in bits of the best and the second-best rival readings (the
    // lower, the more Russian the text reads).
    std::uint64_t Letters = 0;
    std::string Best;
    double BestBits = 0;
    std::string RunnerUp;
    double RunnerUpBits = 0;
    std::string Reason;                  // why the byte is left as it is; empty when CodePage is set
};

// Where a character field's text stands in a record.
struct TTextField {
    std::size_t Offset = 0;
    std::size_t Width = 0;
};

// The character fields of the record, placed by the widths of every field
// before the header's terminator (the positions stored in the descriptors are
// what a correction may rewrite, so they are not trusted), clipped to the
// record length. Long character fields whose width's high byte is kept in the
// decimal count are placed by their full width.
std::vector<TTextField> TextFields(std::span<const TDBFFieldDescriptor> chunks, std::uint16_t recordLength);

// A run of consecutive records, counted from 0.
struct TRecordRun {
    std::uint64_t First = 0;
    std::uint64_t Count = 0;
};

// The most of the records the sample reads, whatever the table's size: far
// more than the detector is given, so that texts holding letters above 127
// are found in tables whose texts are mostly ASCII.
inline constexpr std::uint64_t kSampleBudget = 256 << 10;

// Which records the sample reads: the first ones and runs spread evenly
// through the rest, all within kSampleBudget bytes; every record when they
// all fit.
std::vector<TRecordRun> SampleRuns(std::uint64_t records, std::uint16_t recordLength);

// The most text the detector is given: a thousand letters tell the Cyrillic
// encodings apart plainly, so the texts holding letters above 127 are taken
// evenly from the whole sample up to this many bytes, and the detector's time
// is bounded whatever the table.
inline constexpr std::size_t kDetectorBudget = 2 << 10;

// The texts of the character fields in the records, without their trailing
// blanks, that hold a byte above 127 (ASCII says nothing of the encoding),
// taken evenly from all of them up to kDetectorBudget bytes, each followed by
// a blank. records holds whole records of recordLength bytes.
class TTextSample {
public:
    TTextSample(std::vector<TTextField> fields, std::uint16_t recordLength);
    void Add(std::span<const TByte> records);
    [[nodiscard]] std::uint64_t BytesLookedAt() const { return FLookedAt; }
    [[nodiscard]] std::vector<TByte> DetectorInput() const;

private:
    std::vector<TTextField> FFields;
    std::uint16_t FRecordLength;
    std::uint64_t FLookedAt = 0;
    std::vector<TByte> FTexts;                // every text that holds a byte above 127, blank after each
    std::vector<std::size_t> FTextEnds;       // where each of them ends in FTexts
};

// The least evidence the detector decides on: Cyrillic letters in the best
// reading, and how many bits cheaper it is than the best rival reading.
inline constexpr std::uint64_t kMinLetters = 12;
inline constexpr double kMinMarginBits = 12;

// The code page byte the tool writes for an encoding as the detector names
// it: 38 for IBM866, 87 for WINDOWS-1251; nothing for any other.
std::optional<TByte> CodePageOf(std::string_view charset);

// The detector's verdict on texts of the character fields (DetectorInput):
// which of the Cyrillic encodings (IBM866, WINDOWS-1251, KOI8-R, ISO-8859-5,
// MAC-CYRILLIC, UTF-8) they read as Russian in, only on enough evidence.
// headerByte is the header's code page byte: where it already names the
// encoding found, it is kept.
TEncodingCheck DetectEncoding(std::span<const TByte> texts, TByte headerByte);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond Unicode), and how many Cyrillic letters they hold.
struct TUtf8Scan {
    bool Valid = true;
    std::uint64_t Cyrillic = 0;
};
TUtf8Scan ScanUtf8(std::span<const TByte> bytes);

// The length of the well-formed UTF-8 character that starts at bytes[at]
// (1 to 4), with its code point if asked; 0 where none starts there.
std::size_t Utf8SequenceAt(std::span<const TByte> bytes, std::size_t at, std::uint32_t* codePoint = nullptr);

// ---- Both, for an open table ----

// Records of at most this many bytes are read in one go.
inline constexpr std::uint64_t kWholeRecordsRead = std::uint64_t{64} * 1024;

struct TTableFindings {
    TRecordCountCheck RecordCount;
    TEncodingCheck Encoding;
};

// Looks at a table opened with its header read in full (TDBF::HeaderRead):
// its length, its last byte and a sample of its records, through the table's
// own exclusive file.
TTableFindings InspectTable(TDBF& table);

// The findings for --json, and as one Russian line each for people.
// The members of the object being written.
class TJsonWriter;
void ToJson(const TRecordCountCheck& check, TJsonWriter& out);
void ToJson(const TEncodingCheck& check, TJsonWriter& out);
std::string Describe(const TRecordCountCheck& check);
std::string Describe(const TEncodingCheck& check);
