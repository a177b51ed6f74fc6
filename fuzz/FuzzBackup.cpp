// SPDX-License-Identifier: MIT
// libFuzzer target: any bytes as header backup files, put back by restore
// into a table this target owns, named with --table so that no backup can
// send a write anywhere else. Whatever the backups hold, restore may change
// nothing but header bytes of that table, and tells every backup's fate;
// anything else aborts the run.
//
// Input layout: backup files separated by NUL bytes (a backup is JSON text,
// which never holds one), at most eight of them.
//
// With DBF_FUZZ_MAKE_SEEDS=DIR set, the target writes its seeds there and
// exits: the backups of three corrections of its table, one by one and all
// together.
#include "Backup.h"
#include "Invariants.h"
#include "NotifyUser.h"
#include "ProcessFile.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct TFuzzFiles {
    std::string folder;
    std::string table;
    TBytes current;  // the table as its last correction left it
};

TFuzzFiles& Files()
{
    static TFuzzFiles files;
    return files;
}

void Write(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(name.c_str());
        std::abort();
    }
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put <= 0) {
            std::perror(name.c_str());
            std::abort();
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    close(fd);
}

// A table with records, corrected three times with different choices; the
// backup of each correction kept as text.
std::vector<std::string> CorrectWithBackups()
{
    TTableLayout layout;
    layout.fields = {{" NAME ", 'c', 12}, {"BORN", 'D', 8}, {"SUM", 'n', 7, 2}};
    layout.recordCount = 2;
    layout.rows = {{"Иванов", "19700101", "  12.50"}, {"Petrov", "19851231", "   3.00"}};
    const TBytes image = layout.Build();
    Write(Files().table, image.data(), image.size());
    std::vector<std::string> texts;
    TCorrectionOptions options;
    options.BeforeWrite = [&](std::span<const TByte> before, std::span<const TByte> after) {
        const auto identity = IdentifyFile(Files().table);
        if (!identity) std::abort();
        texts.push_back(BackupText({2, identity->Path, identity->Id, identity->Size, {before.begin(), before.end()},
                                    {after.begin(), after.end()}}));
        return true;
    };
    TCorrectionChoices choices;
    for (const int codePage : {cpLeave, cpDos866, cpWin1251}) {
        choices.CodePageChoice = codePage;
        choices.OffsetMode = codePage == cpWin1251 ? omSet : omLeave;
        if (CorrectTable(Files().table, choices, options).Result != TCorrectionResult::Written) std::abort();
    }
    Files().current = ReadAll(Files().table);
    return texts;
}

void MakeSeeds(const std::string& folder, const std::vector<std::string>& texts)
{
    std::string all;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string name = folder + "/backup-" + std::to_string(i + 1);
        Write(name, reinterpret_cast<const std::uint8_t*>(texts[i].data()), texts[i].size());
        all += (i ? std::string(1, '\0') : std::string()) + texts[texts.size() - 1 - i];
    }
    Write(folder + "/generations", reinterpret_cast<const std::uint8_t*>(all.data()), all.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = std::getenv("DBF_FUZZ_DIR");
    if (base == nullptr) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    Files().folder = std::string(base) + "/dbf-fuzz-backup-" + std::to_string(getpid());
    std::filesystem::create_directories(Files().folder);
    Files().table = Files().folder + "/table.dbf";
    std::atexit([] { std::filesystem::remove_all(Files().folder); });
    SetNotifyUserHandler([](const std::string&) {});
    const auto texts = CorrectWithBackups();
    if (const char* seeds = std::getenv("DBF_FUZZ_MAKE_SEEDS")) {
        std::filesystem::create_directories(seeds);
        MakeSeeds(seeds, texts);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& files = Files();
    Write(files.table, files.current.data(), files.current.size());
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= size && names.size() < 8) {
        std::size_t end = start;
        while (end < size && data[end] != 0) ++end;
        names.push_back(files.folder + "/" + std::to_string(names.size()) + ".dbfbak");
        Write(names.back(), data + start, end - start);
        start = end + 1;
    }
    const auto reports = RestoreBackups(names, files.table);
    std::vector<std::string> broken = hostile::JudgeRestore(files.current, ReadAll(files.table));
    if (reports.size() != names.size()) broken.push_back("a backup got no report");
    for (const auto& r : reports) {
        if (!r.Restored && r.Messages.empty()) broken.push_back(r.BackupFile + " refused without a reason");
    }
    if (!broken.empty()) {
        std::fprintf(stderr, "Broken invariants of restore:%s\n", hostile::Lines(broken).c_str());
        std::abort();
    }
    return 0;
}
