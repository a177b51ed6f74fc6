// SPDX-License-Identifier: MIT
// What dbffix learns about one table, gathered once: the people's output and
// the --json output are both made from this record, so that the two never
// tell different stories.
#pragma once

#include "Detection.h"
#include "NotifyUser.h"
#include "ProcessFile.h"
#include "TablePaths.h"

#include "JsonWriter.h"
#include "Records.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// One field descriptor as the header holds it.
struct TFieldReport {
    std::size_t Number = 0;       // counted from 1
    std::string Name;             // the bytes before the first 0, invisible ones escaped
    std::string RawName;          // the same bytes as they are
    std::string Type;             // the type byte, escaped like the name
    std::uint32_t Displacement = 0;
    TByte Width = 0;
    TByte Decimals = 0;
    bool ReservedClear = true;    // bytes 18..31 all zero
    bool Empty = false;           // no name or no width
    bool InUse = false;           // among the descriptors a correction rewrites
};

// The header's numbers and the descriptors.
struct THeaderReport {
    TByte Version = 0;
    std::string Writer;           // which programs write that version byte
    std::array<TByte, 3> LastUpdate{};
    std::uint32_t RecordCount = 0;
    std::uint16_t HeaderLength = 0;
    std::uint16_t RecordLength = 0;
    TByte IndexFlag = 0;
    TByte CodePage = 0;
    std::string CodePageName;
    std::size_t InUse = 0;
    std::optional<std::uint64_t> TerminatorAt;  // offset in the file; none when not found
    std::uint32_t RecordWidth = 0;              // 1 (the deletion flag) + the fields' widths
    bool WidthsAddUp = false;
    bool AddUpAsClipper = false;  // only with the high bytes of long character widths
    std::uint64_t BytesAfterTerminator = 0;
    std::optional<std::string> LayoutFault;  // why a reader would misplace the fields; none when it would not
    std::vector<TFieldReport> Fields;
};

// What became of a table in fix.
enum class TFixState { NotRun, Written, Unchanged, NotCorrected, WriteFailed };

struct TTableReport {
    std::string Path;
    std::vector<std::string> Messages;  // the core's texts, in the order it told them
    bool Read = false;                  // opened, header and descriptors read in full
    // Held exclusively while read; false when it could not be held and was
    // read shared, for reading only (fix would be refused).
    bool Held = true;
    std::optional<std::string> Refusal;
    std::optional<THeaderReport> Header;
    // The header and the descriptors in use before and after the correction
    // with the chosen choices; the same when it would change nothing.
    std::vector<TByte> Before;
    std::vector<TByte> After;
    std::vector<std::string> Changes;   // the difference told in words
    TFixState Fix = TFixState::NotRun;
    std::string BackupFile;             // where the overwritten bytes were saved
    // What the records tell of the record count and the texts' encoding; none
    // for a table not read or refused.
    std::optional<TTableFindings> Findings;
    std::vector<std::string> Notes;     // why a choice settled by the records was left
    std::optional<TIndexBeside> Index;  // the index file beside the table, when it was looked for
    std::optional<TRecordsShown> Records;  // the first records, when show was asked for them

    [[nodiscard]] bool WouldChange() const { return Before != After; }
    // Fit for a correction: read in full and not refused.
    [[nodiscard]] bool Correctable() const { return Read && !Refusal; }
};

// Gathers what the table and the correction tell while it lives.
class TMessageCollector {
public:
    explicit TMessageCollector(std::vector<std::string>& messages);
    ~TMessageCollector();
    TMessageCollector(const TMessageCollector&) = delete;
    TMessageCollector& operator=(const TMessageCollector&) = delete;

private:
    NotifyUserHandler FPrevious;
};

// The choices left to what the records show: --codepage=auto and
// --record-count=from-length.
struct TDetectionAsks {
    bool CodePage = false;
    bool RecordCount = false;
};

// Settles the asked choices by the findings: the code page byte that names
// the encoding found, the record count the records fill the file with. Where
// the findings name none, the choice leaves the header as it is, and the
// returned lines say why. Never a guess.
std::vector<std::string> SettleChoices(const TTableFindings& findings, const TDetectionAsks& asks,
                                       TCorrectionChoices& choices);

// Opens the table as the correction does (the same exclusive hold, the same
// messages), describes its header and what its records show and, with
// choices, works out what a correction would change, by the correction's own
// rules. A table that cannot be held (read-only, another user's, open in
// another program) is read shared instead, and said to be. Writes nothing.
// With records asked, the first of them too.
TTableReport ReadTable(const std::string& path, const std::optional<TCorrectionChoices>& choices,
                       const TDetectionAsks& asks = {}, const TRecordsAsk& records = {});

// The difference between two images of the header and the same descriptors,
// one line per part that changes.
std::vector<std::string> DescribeChanges(std::span<const TByte> before, std::span<const TByte> after);

// Bytes shown so that every one can be read back: invisible and non-ASCII
// bytes as \xNN, the backslash doubled.
std::string Escaped(std::span<const TByte> bytes);
// Bytes as lower-case hex digits, two a byte.
std::string HexOf(std::span<const TByte> bytes);

// Reads the header and the descriptors of a table held for a correction
// into the report, as check describes them.
void DescribeTable(TDBF& table, TTableReport& report);

// What is wrong with a name given on the command line before any table is
// opened: a folder, nothing there, "-", something that is not a file. None
// when it names a file.
std::optional<std::string> PathProblem(const std::string& path);

// A message of the core in plain words for dbffix's lines: without the
// core's method names, on one line, the table's name and any control byte
// escaped. The window keeps the core's own texts.
std::string PlainMessage(const std::string& message, const std::string& path);
// A table's messages in plain words, joined on one line: what is told as the
// reason in the closing count too.
std::string PlainReason(const TTableReport& report);

// How a table came out, for the line, the stream it goes to and the count.
enum class TTableOutcome { Right, Changes, Failed };
TTableOutcome CheckOutcome(const TTableReport& report);
TTableOutcome FixOutcome(const TTableReport& report);

// The people's forms. check and fix tell a table in one line; show tells
// a table that was read in a block, one that was not in one line.
void PrintShow(const TTableReport& report, std::ostream& out);
std::string CheckLine(const TTableReport& report);
std::string FixLine(const TTableReport& report);
// The record count and encoding lines, the index file beside, and why a
// settled choice was left, indented under the table's line.
void PrintFindings(const TTableReport& report, std::ostream& out);
// The records, field by field, under show's block.
void PrintRecords(const TRecordsShown& shown, std::ostream& out);

// The scripts' form: one object per table. fix adds what was written and
// where the backup went.
void ToJson(const TTableReport& report, TJsonWriter& out);
void ToJson(const TRecordsShown& shown, TJsonWriter& out);
// A name under key, readable; beside it under key + "_hex" its bytes in hex
// when they are not UTF-8, so that the name can be given back to dbffix.
void PutName(TJsonWriter& json, std::string_view key, const std::string& name);

// A name as JSON text: as it is when it is UTF-8, escaped like a field name
// when it is not.
std::string JsonName(const std::string& name);
bool IsUtf8(std::string_view text);

// A name for people's eyes on a terminal: letters of any alphabet as they
// are, but control characters (carriage return, escape sequences, C1 codes)
// and bytes that are not UTF-8 as \xNN, so that no name can move the cursor
// or rewrite a line already printed.
std::string ShownName(const std::string& name);
