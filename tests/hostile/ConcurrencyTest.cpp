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
#include <thread>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
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

// Only a lease makes other programs' opens wait; some file systems grant
// none, and then the tool can only refuse, not hold others off.
bool GrantsLeases(const std::string& path)
{
    const int probe = open(path.c_str(), O_RDONLY);
    const bool leases = fcntl(probe, F_SETLEASE, F_RDLCK) == 0 || errno != EINVAL;
    close(probe);
    return leases;
}

// One record announced and none stored, so that the first-record box is
// shown while the table is held; and the same table as another program
// leaves it, two records stored and counted.
struct TAppendedTable {
    TBytes original;
    TBytes theirs;
};
TAppendedTable AppendedTable()
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 8}};
    layout.recordCount = 1;
    layout.actualRecords = 0;
    TAppendedTable table;
    table.original = layout.Build();
    layout.recordCount = layout.actualRecords = 2;
    table.theirs = layout.Build();
    return table;
}

// A program that takes no lock: when told to go, it opens the table, writes
// its bytes from the start, and closes it again.
TRun WriteWithoutLocking(TChild& self, const std::string& path, const TBytes& bytes)
{
    TRun done;
    const int fd = self.WaitForGo() ? open(path.c_str(), O_WRONLY) : -1;  // a plain, blocking open
    if (fd < 0 || pwrite(fd, bytes.data(), bytes.size(), 0) != std::ssize(bytes)) done.raised = "no write";
    if (fd >= 0) close(fd);
    return done;
}

// Judges a correction while the other program wrote: nothing written over
// what it left, the user told the table is in use, no summary; and its own
// write went through.
std::vector<std::string> KeptTheirs(const TAppendedTable& table, const std::string& name, const TBytes& now,
                                    const TRun& run, const TRun& written)
{
    TExpected expected = Expect(table.original, name, {}, {}, TOpenOutcome::TakenMeanwhile);
    expected.after = table.theirs;
    auto broken = Judge(table.theirs, now, run, expected);
    if (written.raised) broken.push_back("the other program: " + *written.raised);
    return broken;
}

// A folder mounted at another through FUSE by Debian's bindfs, as another
// machine's share is: what is written through the folder itself reaches the
// mount only through the FUSE daemon. Unmounted when the object goes, however
// the test ends.
class TBindMount {
public:
    TBindMount(const std::filesystem::path& folder, const std::filesystem::path& at) : FAt(at)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            // The daemon that stays must not hold the test's output open.
            const int null = open("/dev/null", O_RDWR);
            for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
            close_range(3, ~0U, 0);
            // The mount keeps what it learnt of names and attributes for a
            // while, as network clients do (NFS for 3 to 60 seconds).
            execlp("bindfs", "bindfs", "-o", "attr_timeout=30,entry_timeout=30", folder.c_str(), at.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            FError = WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "bindfs is not installed"
                                                                      : "bindfs failed (status " +
                                                                            std::to_string(status) + ")";
            return;
        }
        struct statfs mounted {};
        FMounted = statfs(at.c_str(), &mounted) == 0 && static_cast<std::uint64_t>(mounted.f_type) == 0x65735546U;
        if (!FMounted) FError = "nothing FUSE is mounted at " + at.string();
    }
    ~TBindMount()
    {
        // A daemon still busy is detached: no mount is left behind either way.
        if (umount2(FAt.c_str(), 0) != 0) umount2(FAt.c_str(), MNT_DETACH);
    }
    TBindMount(const TBindMount&) = delete;
    TBindMount& operator=(const TBindMount&) = delete;
    [[nodiscard]] bool Mounted() const { return FMounted; }
    [[nodiscard]] const std::string& Error() const { return FError; }

private:
    std::filesystem::path FAt;
    bool FMounted = false;
    std::string FError;
};

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
        seen.messages.push_back(HexText(bytes));  // the way back takes texts
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
    EXPECT_EQ(seen.messages[0], HexText(expected.after))
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
    // The first-record box is shown while the table is held; the other
    // program stores two records.
    const TAppendedTable table = AppendedTable();
    for (const bool pastBreakTime : {true, false}) {
        WriteAll(path, table.original);
        TChild other([&](TChild& self) { return WriteWithoutLocking(self, path, table.theirs); });
        bool keptOut = false;
        const TRun run = RunCorrection(path, {}, {}, {}, [&](const std::string& text) {
            if (text != kReadRecordMsg) return;
            other.Go();
            keptOut = !other.FinishedWithin(500);
            if (pastBreakTime) other.FinishedWithin(15000);
        });
        EXPECT_TRUE(keptOut) << "past the break time: " << pastBreakTime;
        const auto broken = KeptTheirs(table, path, ReadAll(path), run, other.Result());
        EXPECT_TRUE(broken.empty()) << "past the break time: " << pastBreakTime << Lines(broken);
    }
    std::ofstream(breakTime) << previous;
}

// The table belongs to one user (mode 0666) and the tool runs as another, so
// the kernel gives no lease: the table is held by the locks and a look for
// other holders. A program that takes no lock opens it while a box is open,
// appends two records, sets the count to 2 and closes it before the box is
// answered. Nothing is written over its header: the user is told the table
// is in use, no summary follows, and both records stay counted.
TEST(Concurrency, AWriterThatTakesNoLockWhileABoxIsOpenKeepsItsRecords)
{
    if (geteuid() != 0) GTEST_SKIP() << "two users are needed, the table's owner and the tool's: run as root";
    TScratchDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string path = dir.File("shared.dbf");
    const TAppendedTable table = AppendedTable();
    WriteAll(path, table.original);
    ASSERT_EQ(chown(path.c_str(), Nobody().uid, Nobody().gid), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    // What the test is about: the tool's user gets no lease on the table.
    const TRun probe = RunInChild(
        [&] {
            TRun leased;
            const int fd = open(path.c_str(), O_RDONLY);
            if (fd < 0) leased.raised = "the tool's user cannot open the table";
            else if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0 || errno != EACCES) leased.raised = "a lease was granted";
            if (fd >= 0) close(fd);
            return leased;
        },
        Stranger());
    ASSERT_FALSE(probe.raised) << *probe.raised;

    TChild owner([&](TChild& self) { return WriteWithoutLocking(self, path, table.theirs); }, Nobody());
    const TRun run = RunInChild(
        [&] {
            return RunCorrection(path, {}, {}, {}, [&](const std::string& text) {
                if (text != kReadRecordMsg) return;
                owner.Go();
                owner.FinishedWithin(15000);  // the box is answered once the other program is done
            });
        },
        Stranger());
    const auto broken = KeptTheirs(table, path, ReadAll(path), run, owner.Result());
    EXPECT_TRUE(broken.empty()) << Lines(broken);
    EXPECT_EQ(ReadAll(path)[4], 2) << "the header no longer counts the other program's records";
}

// The same through a FUSE mount, as another machine writes a shared table:
// the table is held and corrected through the mount while another program
// writes it through the folder behind the mount. The mount's client caches
// the file's pages and attributes; the re-check must reach past both.
TEST(Concurrency, AWriterBehindAFuseMountIsSeenBeforeTheWrite)
{
    if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
        GTEST_SKIP() << "mounting through FUSE needs root and /dev/fuse";
    }
    TScratchDir dir;
    const auto folder = dir.Path() / "behind";
    const auto mountPoint = dir.Path() / "mounted";
    std::filesystem::create_directory(folder);
    std::filesystem::create_directory(mountPoint);
    const TBindMount mount(folder, mountPoint);
    ASSERT_TRUE(mount.Mounted()) << mount.Error();
    const std::string behind = (folder / "remote.dbf").string();
    const std::string through = (mountPoint / "remote.dbf").string();
    const TAppendedTable table = AppendedTable();

    // The correction, a box open while the other program writes.
    WriteAll(behind, table.original);
    TChild writer([&](TChild& self) { return WriteWithoutLocking(self, behind, table.theirs); });
    const TRun run = RunCorrection(through, {}, {}, {}, [&](const std::string& text) {
        if (text != kReadRecordMsg) return;
        writer.Go();
        writer.FinishedWithin(15000);
    });
    const auto broken = KeptTheirs(table, through, ReadAll(behind), run, writer.Result());
    EXPECT_TRUE(broken.empty()) << Lines(broken);

    // Each half of the re-check on its own, the length kept: a fresh read
    // sees the bytes the mount's cache still holds the old way, and the
    // length and times are asked of the folder behind, not the cache.
    // A table of its own, so that the mount knows nothing of it before.
    const std::string otherBehind = (folder / "other.dbf").string();
    WriteAll(otherBehind, table.original);
    TExclusiveFile held;
    ASSERT_TRUE(held.Open((mountPoint / "other.dbf").string()));
    std::array<std::uint8_t, 32> header{};
    ASSERT_TRUE(held.ReadAt(0, header));  // now in the mount's cache
    EXPECT_TRUE(held.HoldIntact());       // and so are the length and times
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    TBytes changed = table.original;
    changed[4] = 7;
    const TRun rewritten = RunInChild([&] {
        TRun done;
        const int fd = open(otherBehind.c_str(), O_WRONLY);
        if (fd < 0 || pwrite(fd, changed.data(), 32, 0) != 32) done.raised = "no write";
        if (fd >= 0) close(fd);
        return done;
    });
    ASSERT_FALSE(rewritten.raised) << *rewritten.raised;
    // The times first: a read through the mount may refresh them by the way.
    EXPECT_FALSE(held.HoldIntact()) << "the times were taken from the mount's cache";
    ASSERT_TRUE(held.ReadFreshAt(0, header));
    EXPECT_EQ(header[4], 7) << "the fresh read was answered from the mount's cache";
}
