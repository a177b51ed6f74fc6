// SPDX-License-Identifier: MIT
// The invariants every correction keeps, whatever the table and the choices,
// and an independent model of what a correction must say and write.
//
// Used by the hostile-table tests, the fault and concurrency tests and the
// fuzz target alike, so that all of them judge a run by the same rules:
//  - the run ends normally (or with "Stream write error" after a failed
//    write) and leaves no descriptor open;
//  - the file's length never changes; no byte at or after 32 + 32 * m changes
//    (m the descriptors in use); when nothing is written, no byte changes;
//  - the messages are exactly the ones the rules give for that file, in
//    order, and the summary comes only after a successful write, last;
//  - the bytes written are exactly the corrected header and descriptors;
//  - a second correction with the same choices changes nothing more.
#pragma once

#include "ExclusiveFile.h"
#include "ProcessFile.h"
#include "TestSupport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hostile {

// The six inputs of one correction, apart from the file name.
struct TChoices {
    int offsetMode = omSet;
    int codePageChoice = cpLeave;
    bool removeIndexFlag = true;
    bool insertDate = false;
    std::chrono::year_month_day date{std::chrono::year{2024}, std::chrono::month{3}, std::chrono::day{5}};
};
std::string Describe(const TChoices& choices);

// Faults injected through the file layer's seam. Reads are counted in the
// order the table issues them (header, descriptors, first record, and the
// header and descriptors again just before the write); a read of no bytes is
// never issued.
struct TFaultPlan {
    int failRead = -1;                        // which read fails, counted from 0; -1 none
    TFileFault write = TFileFault::None;      // Fail: nothing written; Short: half of it
    bool failFlush = false;
};
std::string Describe(const TFaultPlan& faults);

// What the open of an existing, well-named file comes to. Only tests that
// make the open fail on purpose (another holder, permissions, a vanished
// file) ask for anything but Opens. TakenMeanwhile: the table opens and is
// read, but another program takes it (or the name), or writes it, before the
// write, so nothing is written and the user is told the file is in use.
enum class TOpenOutcome { Opens, NotFound, InUse, TakenMeanwhile };

// What a correction must do with a file of these bytes.
struct TExpected {
    std::vector<std::string> messages;
    bool attemptsWrite = false;     // reaches the header write
    bool raisesWriteError = false;  // ends with "Stream write error"
    std::size_t inUse = 0;          // descriptors in use (m)
    TBytes after;                   // the whole file afterwards
};

// The model: from the file's bytes (the file as it is when opened), its name
// and the choices, what must be told and written. Written from the rules of
// the format and the correction, not from the code that does the work.
TExpected Expect(const TBytes& file, const std::string& fileName, const TChoices& choices,
                 const TFaultPlan& faults = {}, TOpenOutcome open = TOpenOutcome::Opens);

// What dbffix's fix must do with a file of these bytes: as the window's
// correction (Expect), but a table whose fields a reader would misplace (the
// widths with the deletion flag fill the record length neither plainly nor as
// Clipper's long character fields, or no terminator stands where the
// descriptors end, within the header) is refused unchanged, with the reason.
TExpected ExpectCommandLine(const TBytes& file, const std::string& fileName, const TChoices& choices);

// What one run of ProcessFile did.
struct TRun {
    std::vector<std::string> messages;
    std::optional<std::string> raised;  // what() of anything that left ProcessFile
    bool raisedWriteError = false;      // it was EStreamWriteError
    int descriptorsLeaked = 0;
};

// Called before every file operation of the run, before any fault is applied:
// where a test pauses the correction or changes the world under it.
using TOperationHook = std::function<void(TFileOp op, std::uint64_t position, std::size_t size)>;

// Called with each text told, before the user "acknowledges" it: while it
// runs, the box is open and the table held.
using TMessageHook = std::function<void(const std::string& text)>;

// Runs ProcessFile once in this process with the faults injected, recording
// what the user is told.
TRun RunCorrection(const std::string& fileName, const TChoices& choices, const TFaultPlan& faults = {},
                   const TOperationHook& onOperation = {}, const TMessageHook& onMessage = {});

// Judges a run: the bytes before and after, against the model's expectation.
// Returns the broken invariants, each told in a line; empty when all hold.
std::vector<std::string> Judge(const TBytes& before, const TBytes& after, const TRun& run, const TExpected& expected);

// The whole check on a file on disk: runs the correction, judges it, and when
// it wrote without faults runs it again and requires that nothing changes.
// Returns the broken invariants; empty when all hold.
std::vector<std::string> CheckCorrection(const std::string& fileName, const TChoices& choices,
                                         const TFaultPlan& faults = {});

// A restore of a header backup, judged by the table's bytes before and after
// it: the length, the header length and the record length stay, and no byte
// at or after the header length changes, whatever the backup held. Returns
// the broken invariants; empty when all hold.
std::vector<std::string> JudgeRestore(const TBytes& before, const TBytes& after);

// The broken invariants, each on an indented line of its own, for a failure message.
std::string Lines(const std::vector<std::string>& broken);

// Open descriptors of this process.
int OpenDescriptorCount();

}  // namespace hostile
