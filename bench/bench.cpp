// SPDX-License-Identifier: MIT
// Corrects tables of 4 KiB, 64 MiB and 4 GiB many times each through
// ProcessFile and prints the median time per correction for each size, the
// ratio largest/smallest, and the file operations one correction issues.
//
// A correction touches only the header, so its time must not grow with the
// table. The large tables are sparse: their records cost no disk space.
//
//   bench [folder] [repetitions]
#include "CreateDBF3.h"
#include "NotifyUser.h"
#include "ProcessFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

// A table of three fields whose records fill the file up to fileSize.
void MakeTable(const std::string& path, std::uint64_t fileSize)
{
    const std::uint16_t headerLength = 32 + 3 * 32 + 1;
    const std::uint16_t recordLength = 1 + 10 + 8 + 1;
    const auto records = static_cast<std::uint32_t>((fileSize - headerLength - 1) / recordLength);
    std::vector<TByte> header(headerLength, 0);
    header[0] = 0x03;
    PutLE32(*reinterpret_cast<std::array<TByte, 4>*>(&header[4]), records);
    header[8] = headerLength & 0xFF;
    header[9] = headerLength >> 8;
    header[10] = recordLength;
    const char* names[] = {"NAME", "BORN", "OK"};
    const char types[] = {'C', 'D', 'L'};
    const TByte widths[] = {10, 8, 1};
    for (int i = 0; i < 3; ++i) {
        TByte* d = &header[32 + 32 * i];
        std::copy_n(names[i], std::char_traits<char>::length(names[i]), d);
        d[11] = static_cast<TByte>(types[i]);
        d[16] = widths[i];
    }
    header[headerLength - 1] = kHeaderTerminator;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header.data()), headerLength);
    out.close();
    std::filesystem::resize_file(path, fileSize);
}

double MedianMicroseconds(const std::string& path, int repetitions)
{
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ProcessFile(path, i % 2 == 0 ? omSet : omClear, i % 3, true, true,
                    std::chrono::year_month_day{std::chrono::year{2024}, std::chrono::month{3}, std::chrono::day{5}});
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    SetNotifyUserHandler([](const std::string&) {});

    std::map<TFileOp, int> operations;
    SetFileFaultHook([&](TFileOp op, std::uint64_t, std::size_t) {
        ++operations[op];
        return TFileFault::None;
    });

    struct Size { const char* label; std::uint64_t bytes; };
    const Size sizes[] = {{"4 KiB", 4ULL << 10}, {"64 MiB", 64ULL << 20}, {"4 GiB", 4ULL << 30}};
    double smallest = 0;
    double largest = 0;
    for (const auto& size : sizes) {
        const auto path = (folder / ("bench-" + std::to_string(size.bytes) + ".dbf")).string();
        MakeTable(path, size.bytes);
        const auto before = std::filesystem::file_size(path);
        operations.clear();
        ProcessFile(path, omSet, cpWin1251, true, false, {});
        const auto once = operations;
        const double median = MedianMicroseconds(path, repetitions);
        const bool sameLength = std::filesystem::file_size(path) == before;
        std::filesystem::remove(path);
        std::printf("%-7s median %9.1f us per correction over %d runs; one correction: %d reads, %d write, %d flush;"
                    " length %s\n",
                    size.label, median, repetitions, once.count(TFileOp::Read) ? once.at(TFileOp::Read) : 0,
                    once.count(TFileOp::Write) ? once.at(TFileOp::Write) : 0,
                    once.count(TFileOp::Flush) ? once.at(TFileOp::Flush) : 0, sameLength ? "unchanged" : "CHANGED");
        if (smallest == 0) smallest = median;
        largest = median;
    }
    std::printf("ratio largest/smallest: %.3f\n", largest / smallest);
    return 0;
}
