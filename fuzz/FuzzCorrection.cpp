// SPDX-License-Identifier: MIT
// libFuzzer target: any bytes as a table file, corrected with choices and file
// faults taken from the input's first four bytes, then judged by the same
// invariants as the hostile-table tests. A broken invariant aborts the run.
//
// Input layout:
//   byte 0  offset mode: 0 clear, 1 set, 2 leave, 3 a value outside them
//   byte 1  code page choice: 0, 1, 2, 3 leave, 4 a value outside them
//   byte 2  bit 0 remove the index flag; bit 1 insert the date;
//           bits 2-3 write fault (1 fail, 2 short); bit 4 flush fault;
//           bits 5-7 which read fails (1 header, 2 the next, 3 the third,
//           4 the fourth: at most the header read again before the write)
//   byte 3  the date: year 1850 + b, month 1 + b mod 12, day 1 + b mod 28
//   rest    the table file
#include "Invariants.h"

#include "FuzzTableFile.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitTablePath();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return -1;
    hostile::TChoices choices;
    choices.offsetMode = data[0] % 4 == 3 ? -1 : data[0] % 4;
    choices.codePageChoice = data[1] % 5 == 4 ? 9 : data[1] % 5;
    choices.removeIndexFlag = (data[2] & 1U) != 0;
    choices.insertDate = (data[2] & 2U) != 0;
    choices.date = std::chrono::year_month_day{std::chrono::year{1850 + data[3]},
                                               std::chrono::month{1U + data[3] % 12U},
                                               std::chrono::day{1U + data[3] % 28U}};
    hostile::TFaultPlan faults;
    const unsigned writeFault = (data[2] >> 2) & 3U;
    faults.write = writeFault == 1 ? TFileFault::Fail : writeFault == 2 ? TFileFault::Short : TFileFault::None;
    faults.failFlush = (data[2] & 0x10U) != 0;
    const unsigned failRead = data[2] >> 5;
    faults.failRead = failRead >= 1 && failRead <= 4 ? static_cast<int>(failRead) - 1 : -1;

    WriteTable(data + 4, size - 4);
    const auto broken = hostile::CheckCorrection(TablePath(), choices, faults);
    if (!broken.empty()) {
        std::fprintf(stderr, "Broken invariants (%s; %s):\n", hostile::Describe(choices).c_str(),
                     hostile::Describe(faults).c_str());
        for (const auto& line : broken) std::fprintf(stderr, "  %s\n", line.c_str());
        std::abort();
    }
    return 0;
}
