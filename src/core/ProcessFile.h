// SPDX-License-Identifier: MIT
// The header correction: the tool's one job.
//
// The rules live in one pure step, CorrectImages, from the header and
// descriptor images and the choices to the corrected images. ProcessFile (the
// window) and CorrectTable (every other front end) put the file around it, so
// that a dry run, a real run and the window can never disagree.
#pragma once

#include "CreateDBF3.h"
#include "DbfFormat.h"

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// Offset modes, as the window's radio group numbers them (the code page
// choices are the table format's: DbfFormat.h).
enum TOffsetMode : int { omClear = 0, omSet = 1, omLeave = 2 };

// Raised when the corrected header could not be written back in full.
class EStreamWriteError : public std::runtime_error {
public:
    EStreamWriteError() : std::runtime_error("Stream write error") {}
};

// The user's five choices, with the window's initial states. An offset mode
// or code page choice outside the numbers above leaves that part as it was.
struct TCorrectionChoices {
    int OffsetMode = omLeave;
    int CodePageChoice = cpLeave;
    bool RemoveIndexFlag = true;
    bool InsertDate = false;
    std::chrono::year_month_day Date{};
    // A record count to write, worked out from the file's length by a caller
    // that looked at the records; the window never sets one.
    std::optional<std::uint32_t> RecordCount = std::nullopt;
};

// Why a table whose header was read must not be corrected, as the user is
// told it; nothing when it may be. Tables whose descriptors are not laid out
// as dBase III's, or that keep their own data in the bytes dBase III reserves
// for whole fields, are refused rather than damaged.
std::optional<std::string> RefusalOf(const TDBFHeader& header, std::span<const TDBFFieldDescriptor> chunks);

// A character field, its type letter in either case.
bool IsCharacterType(TByte type);

// Clipper and some other xBase programs keep the high byte of a long character
// field's width in its decimal count. A table laid out that way is recognised
// by its record length: it adds up only when those high bytes are counted.
bool HasLongCharacterFields(std::span<const TDBFFieldDescriptor> fields, std::uint16_t recordLength);

// How the descriptors lay out the record and where the header's terminator
// stands: what a reader goes by when it places the fields.
struct TRecordLayout {
    std::uint32_t RecordWidth = 1;  // the deletion flag and the widths of the fields before the terminator
    bool WidthsAddUp = false;       // RecordWidth is the header's record length
    bool AddUpAsClipper = false;    // only with the high bytes of long character widths
    std::optional<std::uint64_t> TerminatorAt;  // offset in the file; none when it is not where the descriptors end
    std::uint64_t BytesAfterTerminator = 0;     // of the header, after the terminator
};

// The layout of the chunks read as descriptors; byteAfterChunks is the
// file's byte just after them, where the terminator stands when no chunk
// begins with it.
TRecordLayout LayoutOf(const TDBFHeader& header, std::span<const TDBFFieldDescriptor> chunks,
                       std::optional<TByte> byteAfterChunks);
// The same for a table whose header was read, reading that byte.
TRecordLayout LayoutOf(TDBF& table);

// Why descriptors laid out so cannot be trusted: fields whose widths do not
// fill the record (nor do as Clipper's long character fields), or no
// terminator where they end, so that a reader would misplace the fields.
// Bytes after the terminator are what some writers leave on purpose: no fault.
std::optional<std::string> LayoutFault(const TRecordLayout& layout, std::uint16_t recordLength);

// The pure step: corrects the header and the first fieldCount of the chunks
// read as descriptors, by the fixed rules and the choices. chunks holds every
// chunk read, so that the record's layout can be judged by all its fields.
void CorrectImages(TDBFHeader& header, std::span<TDBFFieldDescriptor> chunks, std::size_t fieldCount,
                   const TCorrectionChoices& choices);

// "Кодовая страница 101 -> 87": the old code page byte and what the choice
// made of it.
std::string CodePageSummary(TByte oldCodePage, int codePageChoice);

// What became of one correction.
enum class TCorrectionResult {
    NotCorrected,  // not opened, not read in full, refused, or the write was called off
    Unchanged,     // already right: nothing written, when asked to skip such tables
    Written,
};

struct TCorrectionOutcome {
    TCorrectionResult Result = TCorrectionResult::NotCorrected;
    TByte OldCodePage = 0;
};

// Called with the bytes about to be overwritten and the bytes that replace
// them, while the table is still held; returning false calls the write off.
using TBeforeWrite = std::function<bool(std::span<const TByte> before, std::span<const TByte> after)>;

// Called once the table is held and its header read and not refused, before
// anything is corrected: may settle the choices by what the table holds.
using TAdjustChoices = std::function<void(TDBF& table, TCorrectionChoices& choices)>;

struct TCorrectionOptions {
    bool SkipUnchanged = false;  // a header already right is not written
    // A table whose layout cannot be trusted (LayoutFault) is refused rather
    // than its descriptors rewritten; the window corrects it as it always has.
    bool RefuseUntrustedLayout = false;
    TAdjustChoices AdjustChoices;
    TBeforeWrite BeforeWrite;
};

// Opens the table exclusively, corrects its header and the descriptors in use
// and writes them back in place, in one write, flushed. Just before the write
// (after BeforeWrite) the table must still be as it was read
// (TDBF::StillAsRead); if not, nothing is written and the user is told the
// table is in use. Every failure of the table and every refusal is told
// through NotifyUser; a failed write raises EStreamWriteError. Says no
// summary: that is the caller's.
TCorrectionOutcome CorrectTable(const std::string& fileName, const TCorrectionChoices& choices,
                                const TCorrectionOptions& options = {});

// The window's correction: CorrectTable, then "Готово! " and the code page
// summary through NotifyUser.
void ProcessFile(const std::string& fileName, int offsetMode, int codePageChoice,
                 bool removeIndexFlag, bool insertDate, std::chrono::year_month_day date);
