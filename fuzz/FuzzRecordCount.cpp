// SPDX-License-Identifier: MIT
// libFuzzer target: any bytes as a table file, its record count worked out
// by the reads dbffix makes, then judged by what a count may only mean. A
// broken rule aborts the run.
//
// Input layout:
//   byte 0  the file's length is the input's, or (bit 0) the input's plus
//           bytes 1..4 as a little-endian count of records more, of blanks,
//           so that huge tables are read as sparse ones are
//   rest    the table file
#include "Detection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Broken(const char* what, const TRecordCountCheck& check)
{
    std::fprintf(stderr, "Broken: %s (%s)\n", what, Describe(check).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5) return -1;
    const bool grown = (data[0] & 1U) != 0;
    std::uint32_t more = 0;
    std::memcpy(&more, data + 1, 4);  // only ever compared and multiplied in 64 bits
    const std::span<const TByte> file(data + 5, size - 5);
    TDBFHeader header{};
    std::memcpy(&header, file.data(), std::min(file.size(), sizeof header));
    const std::uint64_t recordLength = GetLE16(header.RecordLength);
    const std::uint64_t length = file.size() + (grown ? std::uint64_t{more} * recordLength : 0);

    std::uint64_t bytesRead = 0;
    const TReadAt read = [&](std::uint64_t at, std::span<TByte> into) {
        if (at > length || into.size() > length - at) return false;
        bytesRead += into.size();
        for (std::size_t i = 0; i < into.size(); ++i) into[i] = at + i < file.size() ? file[at + i] : TByte{' '};
        return true;
    };
    const TRecordCountCheck check = CheckRecordCount(header, length, read);

    // Bounded whatever the file's length: the sample, the places the records
    // may end, and the windows after them.
    if (bytesRead > 2 * kSampleBudget + 4 * (64 << 10) + 64 * 65536ULL) Broken("read more than its bound", check);
    if (check.CountFromLength) {
        const std::uint64_t n = *check.CountFromLength;
        const std::uint64_t end = check.HeaderLength + n * check.RecordLength;
        if (!check.Reason.empty()) Broken("a count proposed with a reason to leave it", check);
        if (end > length) Broken("the records counted run past the file's end", check);
        // What follows them is nothing, an end mark, or a tail said to be there.
        if (end < length) {
            const TByte next = end < file.size() ? file[end] : TByte{' '};
            if (next != 0x1A && !(next == 0 && check.Tail == TRecordTail::Zeros)) {
                Broken("the records counted are followed by neither an end mark nor zeros", check);
            }
        }
        // In a small file every record is looked at: each begins with a flag.
        if (length <= kSampleBudget) {
            for (std::uint64_t r = 0; r < n; ++r) {
                const std::uint64_t at = check.HeaderLength + r * check.RecordLength;
                const TByte flag = at < file.size() ? file[at] : TByte{' '};
                if (flag != ' ' && flag != '*') Broken("a record counted does not begin with a deletion flag", check);
            }
        }
    } else if (check.Reason.empty()) {
        Broken("no count, and no reason told", check);
    }
    (void)Describe(check);
    return 0;
}
