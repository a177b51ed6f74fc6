// SPDX-License-Identifier: MIT
// Other processes and the table: holders of every kind keep the correction
// out, a second copy of the tool is kept out while one corrects, and a
// program that opens the table meanwhile gets in only afterwards and sees the
// corrected header.
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace hostile;

namespace {

TBytes SampleTable()
{
    TTableLayout layout;
    layout.fields = {{" name", 'c', 10, 2, 5, 0x33}, {"AGE", 'N', 3, 0, 5, 0x33}, {"OK", 'l', 1, 1, 5}};
    layout.recordCount = 4;
    return layout.Build();
}

std::string Hex(const TBytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Only a lease makes other programs' opens wait; some file systems grant
// none, and then the tool can only refuse, not hold others off.
bool GrantsLeases(const std::string& path)
{
    const int probe = open(path.c_str(), O_RDONLY);
    const bool leases = fcntl(probe, F_SETLEASE, F_RDLCK) == 0 || errno != EINVAL;
    close(probe);
    return leases;
}

}  // namespace

TEST(Concurrency, EveryKindOfHolderKeepsTheCorrectionOut)
{
    TScratchDir dir;
    const std::string path = dir.File("held.DBF");
    const TChoices choices{omSet, cpWin1251, true, true};
    const struct { THoldMode mode; const char* label; } holders[] = {
        {THoldMode::Read, "open for reading"}, {THoldMode::Write, "open for writing"}, {THoldMode::Map, "mapped"},
        {THoldMode::Flock, "flock"}, {THoldMode::OfdLock, "OFD write lock"}};
    for (const auto& holder : holders) {
        WriteAll(path, SampleTable());
        const TBytes before = ReadAll(path);
        TRun run;
        {
            THoldingProcess other(path, holder.mode);
            ASSERT_TRUE(other.Holding()) << holder.label;
            run = RunCorrection(path, choices);
        }
        const auto broken = Judge(before, ReadAll(path), run, Expect(before, path, choices, {}, TOpenOutcome::InUse));
        EXPECT_TRUE(broken.empty()) << holder.label << Lines(broken);
        // Once the holder is gone the table corrects as usual.
        const auto afterwards = CheckCorrection(path, choices);
        EXPECT_TRUE(afterwards.empty()) << holder.label << ", afterwards" << Lines(afterwards);
    }
}

TEST(Concurrency, AHolderOfAnotherNameOfTheSameFileKeepsItOut)
{
    TScratchDir dir;
    const std::string path = dir.File("linked.dbf");
    const std::string other = dir.File("other-name.dbf");
    WriteAll(path, SampleTable());
    std::filesystem::create_hard_link(path, other);
    const TBytes before = ReadAll(path);
    THoldingProcess holder(other, THoldMode::Read);
    ASSERT_TRUE(holder.Holding());
    const TChoices choices;
    const TRun run = RunCorrection(path, choices);
    const auto broken = Judge(before, ReadAll(path), run, Expect(before, path, choices, {}, TOpenOutcome::InUse));
    EXPECT_TRUE(broken.empty()) << Lines(broken);
}

// While one copy of the tool holds the table, a second copy is told the file
// is in use at once and writes nothing; the file ends up corrected once.
TEST(Concurrency, ASecondCopyOfTheToolIsKeptOutWhileOneCorrects)
{
    TScratchDir dir;
    const std::string path = dir.File("shared.dbf");
    WriteAll(path, SampleTable());
    const TBytes before = ReadAll(path);
    const TChoices ours{omSet, cpWin1251, true, false};
    const TChoices theirs{omClear, cpZero, false, true};

    TChild second([&](TChild& self) {
        self.WaitForGo();
        return RunCorrection(path, theirs);
    });
    bool secondFinished = false;
    const TRun run = RunCorrection(path, ours, {}, [&](TFileOp op, std::uint64_t, std::size_t) {
        if (op != TFileOp::Write) return;
        second.Go();
        secondFinished = second.FinishedWithin(10000);  // told at once, not kept waiting
    });
    EXPECT_TRUE(secondFinished);
    const auto refused = Judge({}, {}, second.Result(), Expect(before, path, theirs, {}, TOpenOutcome::InUse));
    EXPECT_TRUE(refused.empty()) << Lines(refused);
    const auto broken = Judge(before, ReadAll(path), run, Expect(before, path, ours));
    EXPECT_TRUE(broken.empty()) << Lines(broken);
}

// The other way round: the other copy holds the table (paused before its
// write), so ours is told the file is in use; the other copy then finishes
// and the file holds its correction alone.
TEST(Concurrency, TheToolIsKeptOutWhileAnotherCopyCorrects)
{
    TScratchDir dir;
    const std::string path = dir.File("theirs.dbf");
    WriteAll(path, SampleTable());
    const TBytes before = ReadAll(path);
    const TChoices theirs{omSet, cpDos866, true, true};
    const TChoices ours{omClear, cpZero, false, false};

    TChild other([&](TChild& self) {
        return RunCorrection(path, theirs, {}, [&](TFileOp op, std::uint64_t, std::size_t) {
            if (op != TFileOp::Write) return;
            self.Signal();
            self.WaitForGo();
        });
    });
    ASSERT_TRUE(other.WaitForSignal(10000));
    const TRun run = RunCorrection(path, ours);
    const auto refused = Judge({}, {}, run, Expect(before, path, ours, {}, TOpenOutcome::InUse));
    EXPECT_TRUE(refused.empty()) << Lines(refused);
    other.Go();
    const TRun theirRun = other.Result();
    const auto broken = Judge(before, ReadAll(path), theirRun, Expect(before, path, theirs));
    EXPECT_TRUE(broken.empty()) << Lines(broken);
}

// A program that opens the table while it is being corrected waits until the
// correction has closed it, and then reads the corrected header.
TEST(Concurrency, AReaderGetsInOnlyAfterTheCorrectionAndSeesItsResult)
{
    TScratchDir dir;
    const std::string path = dir.File("waiting.dbf");
    WriteAll(path, SampleTable());
    if (!GrantsLeases(path)) GTEST_SKIP() << "the file system of " << dir.Path() << " grants no leases";
    const TBytes before = ReadAll(path);
    const TChoices choices{omSet, cpWin1251, true, true};

    TChild reader([&](TChild& self) {
        TRun seen;
        if (!self.WaitForGo()) return seen;
        const int fd = open(path.c_str(), O_RDONLY);  // a plain, blocking open
        if (fd < 0) return seen;
        TBytes bytes(before.size());
        const ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
        close(fd);
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        seen.messages.push_back(Hex(bytes));  // the way back takes texts
        return seen;
    });
    bool keptOut = false;
    const TRun run = RunCorrection(path, choices, {}, [&](TFileOp op, std::uint64_t, std::size_t) {
        if (op != TFileOp::Write) return;
        reader.Go();
        keptOut = !reader.FinishedWithin(500);
    });
    EXPECT_TRUE(keptOut) << "the reader got in while the correction held the file";
    const TExpected expected = Expect(before, path, choices);
    EXPECT_TRUE(Judge(before, ReadAll(path), run, expected).empty());
    const TRun seen = reader.Result();
    ASSERT_EQ(seen.messages.size(), 1U) << "the reader could not open the table";
    EXPECT_EQ(seen.messages[0], Hex(expected.after))
        << "the reader did not see the corrected header";
}

// A box stays open for as long as the user likes. A program that opens the
// table meanwhile gets in when the tool lets go or the lease-break time has
// passed; either way nothing is written, its changes stay, and the user is
// told the table is in use.
TEST(Concurrency, AProgramThatGetsInWhileABoxIsOpenKeepsItsChanges)
{
    TScratchDir dir;
    const std::string path = dir.File("boxed.dbf");
    WriteAll(path, SampleTable());
    const char* const breakTime = "/proc/sys/fs/lease-break-time";
    std::string previous;
    std::ifstream(breakTime) >> previous;
    if (!GrantsLeases(path) || previous.empty() || !(std::ofstream(breakTime) << 2)) {
        GTEST_SKIP() << "no leases here, or their break time cannot be shortened";
    }
    // One record announced and none stored: the first-record box is shown
    // while the table is held. The other program stores two.
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 8}};
    layout.recordCount = 1;
    layout.actualRecords = 0;
    const TBytes original = layout.Build();
    layout.recordCount = layout.actualRecords = 2;
    const TBytes theirs = layout.Build();
    for (const bool pastBreakTime : {true, false}) {
        WriteAll(path, original);
        TChild other([&](TChild& self) {
            TRun done;
            const int fd = self.WaitForGo() ? open(path.c_str(), O_WRONLY) : -1;  // a plain, blocking open
            if (fd < 0 || pwrite(fd, theirs.data(), theirs.size(), 0) != std::ssize(theirs)) done.raised = "no write";
            if (fd >= 0) close(fd);
            return done;
        });
        bool keptOut = false;
        const TRun run = RunCorrection(path, {}, {}, {}, [&](const std::string& text) {
            if (text != kReadRecordMsg) return;
            other.Go();
            keptOut = !other.FinishedWithin(500);
            if (pastBreakTime) other.FinishedWithin(15000);
        });
        EXPECT_TRUE(keptOut && !other.Result().raised) << "past the break time: " << pastBreakTime;
        TExpected expected = Expect(original, path, {}, {}, TOpenOutcome::TakenMeanwhile);
        expected.after = theirs;
        const auto broken = Judge(theirs, ReadAll(path), run, expected);
        EXPECT_TRUE(broken.empty()) << "past the break time: " << pastBreakTime << Lines(broken);
    }
    std::ofstream(breakTime) << previous;
}
