// SPDX-License-Identifier: MIT
// Writes a fixed set of sample tables into a folder and corrects each of them
// through ProcessFile with its own choices, leaving the corrected tables and
// everything the user was told (messages.txt) behind. Built for every
// platform, so that tables corrected under one platform's file layer can be
// compared byte for byte with those corrected under another's.
//
//   CorrectSamples FOLDER
#include "ProcessFile.h"
#include "TestSupport.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

namespace {

using namespace std::string_literals;

struct TSample {
    const char* name;
    TTableLayout layout;
    int offsetMode;
    int codePageChoice;
    bool removeIndexFlag;
    bool insertDate;
};

TTableLayout Layout(std::vector<TFieldLayout> fields, std::uint32_t records)
{
    TTableLayout layout;
    layout.fields = std::move(fields);
    layout.recordCount = records;
    return layout;
}

std::vector<TSample> Samples()
{
    const std::vector<TFieldLayout> mixed = {
        {"  AB\0xyz"s, 'c', 10, 2, 77, 0x5A}, {"born", 'd', 8, 3, 0, 0x11}, {"ok   ", 'l', 1, 1, 5, 0xFF},
        {"AMOUNT", 'n', 12, 2, 0, 0x01},     {"\xC8NAME", 'C', 20, 0, 0, 0}, {"           ", 'm', 10, 0, 0, 0},
    };
    std::vector<TSample> samples;
    for (int offsetMode = 0; offsetMode <= 3; ++offsetMode) {
        for (int codePage = 0; codePage <= 4; ++codePage) {
            TTableLayout layout = Layout(mixed, 7);
            const std::uint8_t oldCodePages[] = {0, 38, 87, 101, 200};
            layout.languageDriver = oldCodePages[(offsetMode + codePage) % 5];
            layout.junk = static_cast<std::uint8_t>(0x11 * (offsetMode + codePage));
            samples.push_back({"mixed", layout, offsetMode, codePage, codePage % 2 == 0, offsetMode % 2 == 1});
        }
    }
    TTableLayout tail = Layout({{"CITY", 'C', 20}}, 3);
    tail.tail = TBytes(263, 0);
    samples.push_back({"zero-tail", tail, omSet, cpDos866, true, true});
    TTableLayout textTail = Layout({{"CITY", 'c', 20}, {"ZIP", 'n', 5, 0}}, 2);
    textTail.tail = {'T', 'E', 'X', 'T', ' ', 'T', 'A', 'I', 'L', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                     16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
    samples.push_back({"text-tail", textTail, omSet, cpWin1251, false, false});
    // Clipper's long character field: the high byte of its width in DecimalCount.
    TTableLayout clipper = Layout({{"NOTE", 'C', 0x2C, 1}, {"N", 'n', 4, 1}}, 2);
    clipper.recordLength = static_cast<std::uint16_t>(1 + 0x12C + 4);
    samples.push_back({"clipper", clipper, omSet, cpZero, true, false});
    TTableLayout gaps = Layout({{"A", 'c', 5}, {"", 'c', 5}, {"B", 'n', 0}, {"C", 'd', 8, 4}}, 1);
    samples.push_back({"empty-descriptors", gaps, omSet, cpLeave, true, true});
    samples.push_back({"no-fields", Layout({}, 0), omSet, cpDos866, true, true});
    samples.push_back({"no-records", Layout({{"X", 'l', 1, 9}}, 0), omClear, cpWin1251, false, true});
    TTableLayout shortHeader = Layout({{"A", 'C', 10}, {"B", 'C', 10}, {"C", 'C', 10}}, 5);
    shortHeader.actualRecords = 0;
    samples.push_back({"short-records", shortHeader, omSet, cpWin1251, true, true});
    TTableLayout foxPro = Layout({{"ID", 'I', 4, 0, 1, 0x42}}, 1);
    foxPro.version = 0x30;
    samples.push_back({"foxpro", foxPro, omSet, cpWin1251, true, true});
    return samples;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: CorrectSamples FOLDER\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path folder = argv[1];
        std::filesystem::create_directories(folder);
        std::ofstream messages(folder / "messages.txt", std::ios::binary | std::ios::trunc);
        SetNotifyUserHandler([&](const std::string& text) { messages << text << '\n'; });
        const std::chrono::year_month_day date{std::chrono::year{2024}, std::chrono::month{3}, std::chrono::day{5}};
        int number = 0;
        for (const auto& sample : Samples()) {
            char name[64];
            std::snprintf(name, sizeof name, "%02d-%s.dbf", ++number, sample.name);
            const auto path = folder / name;
            WriteAll(path, sample.layout.Build());
            messages << name << ":\n";
            ProcessFile(path.string(), sample.offsetMode, sample.codePageChoice, sample.removeIndexFlag,
                        sample.insertDate, date);
        }
        // A 20-byte file and a missing one: only messages.
        WriteAll(folder / "98-tiny.dbf", TBytes(20, 0x03));
        messages << "98-tiny.dbf:\n";
        ProcessFile((folder / "98-tiny.dbf").string(), omSet, cpWin1251, true, true, date);
        messages << "99-missing.dbf:\n";
        ProcessFile("99-missing.dbf", omSet, cpWin1251, true, true, date);
        return messages ? 0 : 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "CorrectSamples: %s\n", failure.what());
        return 1;
    }
}
