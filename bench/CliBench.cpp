// SPDX-License-Identifier: MIT
// dbffix over many small tables: one run for all of them against the
// correction called in this process for each, and against one run of the
// program per table; check over the same tables; and fix --backup against
// fix, side by side.
//
//   cli_bench [folder] [tables] [single runs]
//   cli_bench --output [folder] [tables]...
//
// Every table needs correcting, so that every fix writes (and flushes). The
// one-run-per-table figure is taken over the first [single runs] tables
// (default 2000) and given per table. fix and fix --backup run by turns,
// five times each, and each is given by its median: the backups' price
// is only meaningful on a disk, not on tmpfs.
//
// --output weighs the people's output against --json for show, check and
// fix over each number of tables given (default 20,000 and 200,000): the
// time of one run for all and the run's peak memory (its maximum resident
// set), which stays flat in the number of tables when each table's record
// is written as it is done and each table read as the walk finds it. Each
// figure is the fastest of three runs taken by turns, and the highest peak.
#include "CreateDBF3.h"
#include "NotifyUser.h"
#include "ProcessFile.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

// A table of three fields with junk in its reserved bytes, a stale index
// flag and a lower-case type: 225 bytes with its two records.
std::vector<TByte> WrongTable()
{
    std::vector<TByte> t(32 + 3 * 32 + 1, 0);
    const std::uint16_t headerLength = static_cast<std::uint16_t>(t.size());
    const TByte recordLength = 1 + 10 + 8 + 1;
    t[0] = 0x03;
    t[1] = 124;
    t[2] = 1;
    t[3] = 15;
    t[4] = 2;
    t[8] = static_cast<TByte>(headerLength);
    t[10] = recordLength;
    for (int i = 12; i < 28; ++i) t[static_cast<std::size_t>(i)] = 0xAB;
    t[28] = 1;
    t[29] = 101;
    const char* names[] = {"NAME", "BORN", "OK"};
    const char types[] = {'c', 'D', 'L'};
    const TByte widths[] = {10, 8, 1};
    for (std::size_t i = 0; i < 3; ++i) {
        TByte* d = &t[32 + 32 * i];
        for (std::size_t k = 0; names[i][k] != 0; ++k) d[k] = static_cast<TByte>(names[i][k]);
        d[11] = static_cast<TByte>(types[i]);
        d[16] = widths[i];
    }
    t.back() = kHeaderTerminator;
    t.resize(t.size() + 2 * recordLength, ' ');
    return t;
}

void WriteTables(const std::vector<std::string>& paths)
{
    const auto image = WrongTable();
    for (const auto& path : paths) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    // On the disk before any run is timed: else the first flush of a run
    // pays for the tables' writing too, and a run that flushes the whole file
    // system at once looks cheaper than it is.
    sync();
}

struct TRunCost {
    int status = -1;
    double seconds = 0;
    long peakKiB = 0;  // the child's maximum resident set
};

// Runs the program with its output on /dev/null (its stdout to out, if
// given): its exit status, its time and the peak memory the kernel gives it.
TRunCost SpawnAndWait(const std::vector<std::string>& arguments, const char* out = "/dev/null")
{
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    TRunCost cost;
    const auto start = TClock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return cost;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    cost.seconds = std::chrono::duration<double>(TClock::now() - start).count();
    cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cost.peakKiB = usage.ru_maxrss;
    return cost;
}

// The program's time and its own peak memory. The kernel's peak for a child
// starts from its parent's (exec keeps the high-water mark of the memory it
// replaces, and a spawned child's memory is its parent's), and this bench
// holds thousands of names: the program is started from a fresh, small run of
// this bench (--peak), which writes the program's status and peak to a file.
TRunCost Measure(const std::vector<std::string>& arguments, const fs::path& scratch)
{
    std::vector<std::string> hop{"/proc/self/exe", "--peak"};
    hop.insert(hop.end(), arguments.begin(), arguments.end());
    const std::string told = (scratch / "peak.txt").string();
    TRunCost cost = SpawnAndWait(hop, told.c_str());
    std::ifstream in(told);
    if (!(in >> cost.status >> cost.peakKiB)) cost.status = -1;
    return cost;
}

// Runs the program with its output on /dev/null; returns its exit status.
int Run(const std::vector<std::string>& arguments)
{
    return SpawnAndWait(arguments).status;
}

double MicrosecondsSince(TClock::time_point start, std::size_t count)
{
    return std::chrono::duration<double, std::micro>(TClock::now() - start).count() / static_cast<double>(count);
}

// The people's output against --json, for each command, over count tables.
void OutputBench(const fs::path& base, std::size_t count)
{
    const std::string program = DBFFIX_PROGRAM;
    const fs::path folder = base / "dbffix-output-bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    // A thousand tables a folder, as shares hold them: the walk holds the
    // folders on its way down, so the memory a run needs follows the largest
    // folder, not the number of tables.
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < count; ++i) {
        const fs::path sub = folder / ("f" + std::to_string(i / 1000));
        if (i % 1000 == 0) fs::create_directories(sub);
        paths.push_back((sub / ("t" + std::to_string(i) + ".dbf")).string());
    }
    std::printf("%zu tables of %zu bytes in folders of 1,000 in %s\n", count, WrongTable().size(),
                base.string().c_str());
    std::printf("%-6s %12s %12s %12s %12s %8s %8s\n", "", "people s", "json s", "people MiB", "json MiB",
                "time x", "memory x");
    for (const char* command : {"show", "check", "fix"}) {
        // show takes tables, not folders: it is named the first 20,000,
        // as many as a command line holds.
        const bool show = std::string(command) == "show";
        std::vector<std::string> arguments{program, command};
        if (show) {
            arguments.insert(arguments.end(), paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(count, 20000)));
        } else {
            arguments.insert(arguments.end(), {"--recursive", folder.string()});
        }
        std::vector<std::string> json = arguments;
        json.insert(json.begin() + 2, "--json");
        // By turns, three times each, the fastest of each kept: the disk
        // and the machine's other work make single runs wander.
        TRunCost people;
        TRunCost scripts;
        const auto keep = [](TRunCost& best, const TRunCost& run) {
            if (best.seconds == 0 || run.seconds < best.seconds) best.seconds = run.seconds;
            best.peakKiB = std::max(best.peakKiB, run.peakKiB);
            best.status = run.status;
        };
        for (int round = 0; round < 3; ++round) {
            WriteTables(paths);
            keep(people, Measure(arguments, base));
            WriteTables(paths);
            keep(scripts, Measure(json, base));
        }
        std::printf("%-6s %12.2f %12.2f %12.1f %12.1f %8.2f %8.2f  (exit %d, %d)\n", command, people.seconds,
                    scripts.seconds, static_cast<double>(people.peakKiB) / 1024, static_cast<double>(scripts.peakKiB) / 1024,
                    scripts.seconds / people.seconds,
                    static_cast<double>(scripts.peakKiB) / static_cast<double>(people.peakKiB), people.status,
                    scripts.status);
    }
    fs::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "--peak") {
        const TRunCost cost = SpawnAndWait(std::vector<std::string>(argv + 2, argv + argc));
        std::printf("%d %ld\n", cost.status, cost.peakKiB);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--output") {
        const fs::path base = argc > 2 ? argv[2] : fs::temp_directory_path();
        std::vector<std::size_t> counts;
        for (int i = 3; i < argc; ++i) counts.push_back(std::strtoul(argv[i], nullptr, 10));
        if (counts.empty()) counts = {20000, 200000};
        for (const std::size_t count : counts) OutputBench(base, count);
        return 0;
    }

    const fs::path base = argc > 1 ? argv[1] : fs::temp_directory_path();
    const std::size_t count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    const std::size_t singles = std::min<std::size_t>(count, argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2000);
    const std::string program = DBFFIX_PROGRAM;
    const fs::path folder = base / "dbffix-bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < count; ++i) paths.push_back((folder / ("t" + std::to_string(i) + ".dbf")).string());
    SetNotifyUserHandler([](const std::string&) {});
    TCorrectionOptions skipUnchanged;
    skipUnchanged.SkipUnchanged = true;

    WriteTables(paths);
    auto start = TClock::now();
    std::size_t written = 0;
    for (const auto& path : paths) {
        written += CorrectTable(path, {}, skipUnchanged).Result == TCorrectionResult::Written ? 1 : 0;
    }
    const double inProcess = MicrosecondsSince(start, count);

    WriteTables(paths);
    start = TClock::now();
    const int checkStatus = Run({program, "check", "--recursive", folder.string()});
    const double check = MicrosecondsSince(start, count);

    // fix and fix --backup by turns, so that both meet the disk in the same
    // mood; the backups go to a folder beside the tables'.
    const fs::path backups = base / "dbffix-bench-backups";
    std::array<double, 5> fixTimes{};
    std::array<double, 5> backupTimes{};
    int fixStatus = 0;
    int backupStatus = 0;
    for (std::size_t round = 0; round < fixTimes.size(); ++round) {
        if (round > 0) WriteTables(paths);
        start = TClock::now();
        fixStatus |= Run({program, "fix", "--recursive", folder.string()});
        fixTimes[round] = MicrosecondsSince(start, count);
        WriteTables(paths);
        fs::remove_all(backups);
        start = TClock::now();
        backupStatus |= Run({program, "fix", "--recursive", "--backup", backups.string(), folder.string()});
        backupTimes[round] = MicrosecondsSince(start, count);
    }
    std::sort(fixTimes.begin(), fixTimes.end());
    std::sort(backupTimes.begin(), backupTimes.end());
    const double oneRun = fixTimes[fixTimes.size() / 2];
    const double withBackup = backupTimes[backupTimes.size() / 2];
    std::size_t backupFiles = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(backups)) ++backupFiles;
    fs::remove_all(backups);

    WriteTables(paths);
    start = TClock::now();
    int singleFailures = 0;
    for (std::size_t i = 0; i < singles; ++i) singleFailures += Run({program, "fix", paths[i]}) != 0 ? 1 : 0;
    const double perTable = MicrosecondsSince(start, singles);
    fs::remove_all(folder);

    std::printf("%zu tables of %zu bytes in %s\n", count, WrongTable().size(), base.string().c_str());
    std::printf("in-process correction (CorrectTable):  %8.1f us per table (%zu written)\n", inProcess, written);
    std::printf("dbffix check, one run for all:         %8.1f us per table (exit %d)\n", check, checkStatus);
    std::printf("dbffix fix, one run for all:           %8.1f us per table (exit %d); %.2f x in-process (at most 1.5)\n",
                oneRun, fixStatus, oneRun / inProcess);
    std::printf("dbffix fix --backup, one run for all:  %8.1f us per table (exit %d, %zu backups); %.2f x fix "
                "(at most 1.5)\n",
                withBackup, backupStatus, backupFiles, withBackup / oneRun);
    std::printf("dbffix fix, one run per table (%zu):  %8.1f us per table (%d failed); %.1f x one run for all "
                "(at least 10)\n",
                singles, perTable, singleFailures, perTable / oneRun);
    return 0;
}
