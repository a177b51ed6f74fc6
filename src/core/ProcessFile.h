// The header correction: the tool's one job.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

// Offset modes and code page choices, as the window's radio groups number them.
enum TOffsetMode : int { omClear = 0, omSet = 1, omLeave = 2 };
enum TCodePageChoice : int { cpZero = 0, cpDos866 = 1, cpWin1251 = 2, cpLeave = 3 };

// Raised when the corrected header could not be written back in full.
class EStreamWriteError : public std::runtime_error {
public:
    EStreamWriteError() : std::runtime_error("Stream write error") {}
};

// Opens the table exclusively, corrects its header and field descriptors by
// the fixed rules and the user's choices, writes them back in place and tells
// the user the old code page byte and what became of it. Every failure of the
// table is told through NotifyUser; a failed write raises EStreamWriteError.
// An offset mode or code page choice outside the numbers above leaves that
// part as it was.
void ProcessFile(const std::string& fileName, int offsetMode, int codePageChoice,
                 bool removeIndexFlag, bool insertDate, std::chrono::year_month_day date);
