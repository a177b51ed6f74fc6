// SPDX-License-Identifier: MIT
// The first records of a table, field by field, as a reader places them by
// the header: so that a wrong layout or a wrong code page shows at a glance
// before anything is corrected. Reads only the records shown; writes nothing.
#pragma once

#include "CreateDBF3.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// At most this many records are shown: enough to see a table by, and a
// bound on what is held (records may be 64 KiB long).
inline constexpr std::uint64_t kMaxRecordsShown = 1000;

// Which encoding the texts are read in: the one the header's byte names,
// the one another byte names (--codepage=N), or the one the records are
// found to be in (--codepage=auto).
struct TRecordsAsk {
    std::uint64_t Count = 0;  // none: no records are read
    std::optional<TByte> CodePage;
    bool AutoCodePage = false;
};

struct TShownField {
    std::string RawName;    // the name's bytes as they stand
    TByte Type = 0;
    std::uint32_t Offset = 0;  // in the record, as a reader counts it: the flag, then the widths before
    std::uint32_t Width = 0;   // with a long character field's high byte where the record length needs it
    bool Binary = false;       // numbers in machine form, memo pointers: given in hex
};

struct TShownRecord {
    std::uint64_t Number = 0;  // counted from 1
    TByte Flag = ' ';          // the deletion flag: ' ', '*', or whatever stands there
    bool BeyondCount = false;  // after the last record the header counts
    // Per field: its text read in the encoding (bytes that do not read as
    // \xNN), or its bytes in hex for a binary field.
    std::vector<std::string> Values;
};

struct TRecordsShown {
    std::string Charset;  // the texts' encoding as iconv names it; empty: not read in any
    std::string From;     // "header", "codepage" or "auto"
    std::string NotDecoded;  // why the texts are not read in an encoding
    std::string Stop;        // why fewer records than asked
    std::uint64_t Asked = 0;
    std::vector<TShownField> Fields;
    std::vector<TShownRecord> Records;
};

// The encoding the texts are read in; encodingFound is what the records were
// found to be in, empty when they were not found to be in any.
TRecordsShown ChooseEncoding(const TRecordsAsk& ask, TByte headerByte, const std::string& encodingFound);

// Reads up to shown.Asked records of an open table whose header was read as
// dBase III's, into shown. Stops at the file's end and at its end mark.
void ReadRecords(TDBF& table, TRecordsShown& shown);
