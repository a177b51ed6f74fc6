// SPDX-License-Identifier: MIT
// What dbffix show adds to a table's header: the record count against the
// file's length and the encoding of the records' texts from a bounded
// sample. Times it on a 4 KiB and a 4 GiB table and prints the median per
// table, the bytes read and the ratio largest/smallest.
//
// The sample is bounded, so the time must not grow with the table. The large
// table is sparse: its first records hold Russian texts in Windows-1251, as
// many as a sample reads, and the rest cost no disk space.
//
//   DetectBench [folder] [repetitions]
#include "Detection.h"
#include "NotifyUser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kHeaderLength = 32 + 3 * 32 + 1;
constexpr std::uint16_t kRecordLength = 1 + 40 + 8 + 30;

// "Иванов Иван Петрович", "Москва" in Windows-1251.
const char kName[] = "\xC8\xE2\xE0\xED\xEE\xE2 \xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2\xE8\xF7";
const char kCity[] = "\xCC\xEE\xF1\xEA\xE2\xE0";

void MakeTable(const std::string& path, std::uint64_t fileSize)
{
    const auto records = static_cast<std::uint32_t>((fileSize - kHeaderLength - 1) / kRecordLength);
    std::vector<TByte> image(kHeaderLength, 0);
    image[0] = 0x03;
    PutLE32(*reinterpret_cast<std::array<TByte, 4>*>(&image[4]), records);
    PutLE16(*reinterpret_cast<std::array<TByte, 2>*>(&image[8]), kHeaderLength);
    PutLE16(*reinterpret_cast<std::array<TByte, 2>*>(&image[10]), kRecordLength);
    image[29] = 0x57;
    const char* names[] = {"NAME", "BORN", "CITY"};
    const char types[] = {'C', 'D', 'C'};
    const TByte widths[] = {40, 8, 30};
    for (int i = 0; i < 3; ++i) {
        TByte* d = &image[32 + 32 * i];
        std::copy_n(names[i], std::char_traits<char>::length(names[i]), d);
        d[11] = static_cast<TByte>(types[i]);
        d[16] = widths[i];
    }
    image[kHeaderLength - 1] = kHeaderTerminator;
    const std::uint64_t written = std::min<std::uint64_t>(records, (1 << 20) / kRecordLength);
    for (std::uint64_t r = 0; r < written; ++r) {
        std::string record(kRecordLength, ' ');
        record.replace(1, sizeof kName - 1, kName);
        record.replace(41, 8, "19800229");
        record.replace(49, sizeof kCity - 1, kCity);
        image.insert(image.end(), record.begin(), record.end());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    std::filesystem::resize_file(path, kHeaderLength + std::uint64_t{records} * kRecordLength);
    // The records the detection looks at (the sampled runs and the last few
    // before the end mark) are real ones; the rest of the sparse file is holes.
    std::fstream patch(path, std::ios::binary | std::ios::in | std::ios::out);
    const auto writeRecords = [&](std::uint64_t first, std::uint64_t count) {
        patch.seekp(static_cast<std::streamoff>(kHeaderLength + first * kRecordLength));
        for (std::uint64_t r = 0; r < count; ++r) {
            patch.write(reinterpret_cast<const char*>(image.data()) + kHeaderLength, kRecordLength);
        }
    };
    for (const auto& run : SampleRuns(records, kRecordLength)) {
        if (run.First >= written) writeRecords(run.First, run.Count);
    }
    writeRecords(records - std::min<std::uint64_t>(records, 8), std::min<std::uint64_t>(records, 8));
    patch.seekp(0, std::ios::end);
    patch.put('\x1A');
}

double Median(std::vector<double> times)
{
    std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    SetNotifyUserHandler([](const std::string&) {});
    std::uint64_t bytesRead = 0;
    SetFileFaultHook([&](TFileOp op, std::uint64_t, std::size_t size) {
        if (op == TFileOp::Read) bytesRead += size;
        return TFileFault::None;
    });

    struct TTable {
        const char* Label;
        std::uint64_t Bytes;
        std::string Path;
        std::vector<double> Inspect;
        std::vector<double> WithOpen;
        std::uint64_t BytesRead = 0;
        TTableFindings Findings;
    };
    TTable tables[] = {{"4 KiB", 4ULL << 10, {}, {}, {}, 0, {}}, {"4 GiB", 4ULL << 30, {}, {}, {}, 0, {}}};
    for (auto& table : tables) {
        table.Path = (folder / ("detect-bench-" + std::to_string(table.Bytes) + ".dbf")).string();
        MakeTable(table.Path, table.Bytes);
    }
    // The tables take turns, so that whatever else the machine does weighs on both alike.
    for (int i = 0; i < repetitions; ++i) {
        for (auto& table : tables) {
            bytesRead = 0;
            const auto start = std::chrono::steady_clock::now();
            TDBF dbf;
            dbf.SetTableName(table.Path);
            dbf.Open();
            const auto opened = std::chrono::steady_clock::now();
            table.Findings = InspectTable(dbf);
            const auto done = std::chrono::steady_clock::now();
            dbf.Stream().Close();
            table.Inspect.push_back(std::chrono::duration<double, std::micro>(done - opened).count());
            table.WithOpen.push_back(std::chrono::duration<double, std::micro>(done - start).count());
            table.BytesRead = bytesRead;
        }
    }
    for (auto& table : tables) {
        std::filesystem::remove(table.Path);
        std::printf("%-6s detection median %8.1f us (with the open %8.1f us) over %d runs; %llu bytes read\n  %s\n  %s\n",
                    table.Label, Median(table.Inspect), Median(table.WithOpen), repetitions,
                    static_cast<unsigned long long>(table.BytesRead), Describe(table.Findings.RecordCount).c_str(),
                    Describe(table.Findings.Encoding).c_str());
    }
    std::printf("ratio largest/smallest: detection %.3f, with the open %.3f\n",
                Median(tables[1].Inspect) / Median(tables[0].Inspect),
                Median(tables[1].WithOpen) / Median(tables[0].WithOpen));
    return 0;
}
