// SPDX-License-Identifier: MIT
// The exclusive table file: what counts as a table file, and that holding it
// really keeps every other program out.
#include "ExclusiveFile.h"
#include "ProcessFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

class ExclusiveFileTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const TBytes& bytes = TBytes(64, 'x'))
    {
        const auto path = dir.File(name);
        WriteAll(path, bytes);
        return path;
    }
    TScratchDir dir;
};

#ifndef _WIN32
// Runs body in a child process and returns its exit status (or -1).
template <typename Body>
int InChild(Body body)
{
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Hold settings set by a test for as long as it runs.
struct THoldSettingsScope {
    explicit THoldSettingsScope(const THoldSettings& settings) : previous(SetHoldSettings(settings)) {}
    ~THoldSettingsScope() { SetHoldSettings(previous); }
    THoldSettingsScope(const THoldSettingsScope&) = delete;
    THoldSettingsScope& operator=(const THoldSettingsScope&) = delete;
    THoldSettings previous;
};
#endif

}  // namespace

TEST_F(ExclusiveFileTest, OnlyRegularFilesExist)
{
    const auto file = Make("t.dbf");
    std::filesystem::create_directory(dir.Path() / "folder.dbf");
    EXPECT_TRUE(TExclusiveFile::Exists(file));
    EXPECT_FALSE(TExclusiveFile::Exists(dir.File("folder.dbf")));
    EXPECT_FALSE(TExclusiveFile::Exists(dir.File("missing.dbf")));
    EXPECT_FALSE(TExclusiveFile::Exists(""));
    // A 0 byte would cut the name short, down to the table in front of it.
    const std::string cut = file + std::string("\0x.dbf", 6);
    EXPECT_FALSE(TExclusiveFile::Exists(cut));
    EXPECT_FALSE(TExclusiveFile().Open(cut));
#ifndef _WIN32
    std::filesystem::create_symlink(file, dir.Path() / "link.dbf");
    std::filesystem::create_symlink(dir.Path() / "gone.dbf", dir.Path() / "dangling.dbf");
    ASSERT_EQ(mkfifo(dir.File("pipe.dbf").c_str(), 0600), 0);
    EXPECT_TRUE(TExclusiveFile::Exists(dir.File("link.dbf")));
    EXPECT_FALSE(TExclusiveFile::Exists(dir.File("dangling.dbf")));
    EXPECT_FALSE(TExclusiveFile::Exists(dir.File("pipe.dbf")));
    EXPECT_FALSE(TExclusiveFile::Exists("/dev/null"));
#endif
}

#ifndef _WIN32
TEST_F(ExclusiveFileTest, BaseNameIsTheTextAfterTheLastSlash)
{
    const struct { const char* name; const char* base; } cases[] = {
        {"/data/clients.dbf", "clients.dbf"}, {"clients.dbf", "clients.dbf"}, {"a/b/c.dbf", "c.dbf"},
        {"/x.dbf", "x.dbf"}, {"dir/", ""}, {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(TExclusiveFile::BaseName(c.name), c.base) << c.name;
}
#endif

TEST_F(ExclusiveFileTest, ReadsAndWritesAreExact)
{
    const auto path = Make("t.dbf", TBytes{1, 2, 3, 4, 5, 6, 7, 8});
    TExclusiveFile file;
    ASSERT_TRUE(file.Open(path));
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_TRUE(file.ReadAt(2, buffer));
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{3, 4, 5, 6}));
    EXPECT_FALSE(file.ReadAt(6, buffer));  // only two bytes are there
    EXPECT_FALSE(file.ReadAt(100, buffer));
    const std::array<std::uint8_t, 2> data{9, 9};
    EXPECT_TRUE(file.WriteAt(0, data));
    EXPECT_TRUE(file.Flush());
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.ReadAt(0, buffer));
    EXPECT_EQ(ReadAll(path), (TBytes{9, 9, 3, 4, 5, 6, 7, 8}));
}

// The length Open saw is asked again before a write: a file grown or cut
// since (here through the held file itself, the one way on every platform)
// is no longer held as it was taken. A fresh read reads what a plain one does.
TEST_F(ExclusiveFileTest, HoldIntactComparesTheLengthOpenSaw)
{
    const std::array<std::uint8_t, 1> byte{0x1A};
    const struct { const char* what; std::uint64_t at; bool keepsLength; } cases[] = {
        {"a byte written inside", 3, true}, {"a byte added at the end", 8, false}, {"a byte added far on", 100, false}};
    for (const auto& c : cases) {
        const auto path = Make("t.dbf", TBytes{1, 2, 3, 4, 5, 6, 7, 8});
        TExclusiveFile file;
        ASSERT_TRUE(file.Open(path)) << c.what;
        std::array<std::uint8_t, 4> fresh{};
        EXPECT_TRUE(file.ReadFreshAt(4, fresh)) << c.what;
        EXPECT_EQ(fresh, (std::array<std::uint8_t, 4>{5, 6, 7, 8})) << c.what;
        EXPECT_FALSE(file.ReadFreshAt(6, fresh)) << c.what;  // only two bytes are there
        EXPECT_FALSE(file.ReadFreshAt(UINT64_MAX - 1, fresh)) << c.what;
        EXPECT_TRUE(file.HoldIntact()) << c.what;
        ASSERT_TRUE(file.WriteAt(c.at, byte)) << c.what;
#ifdef _WIN32
        // The last-write time may wait for the handle to close on Windows:
        // only the length is sure to tell at once.
        if (c.keepsLength) continue;
#endif
        EXPECT_FALSE(file.HoldIntact()) << c.what;
    }
}

TEST_F(ExclusiveFileTest, OneHolderAtATime)
{
    const auto path = Make("t.dbf");
    TExclusiveFile first;
    ASSERT_TRUE(first.Open(path));
    EXPECT_TRUE(first.HoldIntact());
    TExclusiveFile second;
    EXPECT_FALSE(second.Open(path));
    first.Close();
    EXPECT_FALSE(first.HoldIntact());
    EXPECT_TRUE(second.Open(path));
    EXPECT_FALSE(TExclusiveFile().Open(dir.File("missing.dbf")));
}

// A shared open reads what cannot be held, writes nothing through it, never
// counts as a hold, and opens only regular files.
TEST_F(ExclusiveFileTest, SharedOpensReadWhatCannotBeHeld)
{
    const auto readOnly = Make("readonly.dbf", TBytes(64, 'r'));
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
#ifdef _WIN32
    // wine run as root lets writers into a read-only file, so it is held there.
    const bool readOnlyHeld = std::ofstream(readOnly, std::ios::app).is_open();
#else
    const bool readOnlyHeld = false;
#endif
    const auto heldOpen = Make("held.dbf", TBytes(64, 'h'));
    const THoldingProcess reader(heldOpen, THoldMode::Read);
    ASSERT_TRUE(reader.Holding());
    std::filesystem::create_directory(dir.Path() / "folder.dbf");
    const struct {
        const char* label;
        std::string path;
        bool exclusive;  // Open takes it
        bool shared;     // OpenShared takes it
    } cases[] = {
        {"a read-only file", readOnly, readOnlyHeld, true},
        {"a file another program has open", heldOpen, false, true},
        {"a file no one has", Make("free.dbf", TBytes(64, 'f')), true, true},
        {"a folder", dir.File("folder.dbf"), false, false},
        {"no file", dir.File("none.dbf"), false, false},
    };
    for (const auto& c : cases) {
        TExclusiveFile file;
        EXPECT_EQ(file.Open(c.path), c.exclusive) << c.label;
        file.Close();
        ASSERT_EQ(file.OpenShared(c.path), c.shared) << c.label;
        if (!c.shared) continue;
        EXPECT_TRUE(file.IsShared()) << c.label;
        EXPECT_FALSE(file.HoldIntact()) << c.label;
        TBytes bytes(64);
        EXPECT_TRUE(file.ReadAt(0, bytes)) << c.label;
        EXPECT_EQ(bytes, ReadAll(c.path)) << c.label;
        EXPECT_FALSE(file.WriteAt(0, TBytes{'!'})) << c.label;
        EXPECT_EQ(file.Size(), 64U) << c.label;
        file.Close();
        EXPECT_FALSE(file.IsShared()) << c.label;
        EXPECT_EQ(ReadAll(c.path), bytes) << c.label;
    }
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
}

#ifndef _WIN32
// A pipe in a table's place opens at once and is refused, as a table held
// by another program is not waited for.
TEST_F(ExclusiveFileTest, SharedOpensRefusePipesWithoutWaiting)
{
    const auto pipe = dir.File("pipe.dbf");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    TExclusiveFile file;
    EXPECT_FALSE(file.OpenShared(pipe));
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(ExclusiveFileTest, OthersAreKeptOutWhileHeld)
{
    const auto path = Make("t.dbf");
    TExclusiveFile held;
    ASSERT_TRUE(held.Open(path));
    // A program that will not wait is refused at once; one that locks the
    // way xBase programs do finds the lock taken.
    EXPECT_EQ(InChild([&] {
                  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
                  return fd < 0 && errno == EWOULDBLOCK ? 0 : 1;
              }),
              0);
    held.Close();
    EXPECT_EQ(InChild([&] {
                  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
                  return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
              }),
              0);
}

TEST_F(ExclusiveFileTest, LocksAloneKeepCooperatingProgramsOut)
{
    // Another process that holds only a lock (no lease check can see it once
    // its descriptor is the only one): the flock is honoured.
    const auto path = Make("t.dbf");
    TExclusiveFile held;
    ASSERT_TRUE(held.Open(path));
    EXPECT_EQ(InChild([&] {
                  TExclusiveFile other;
                  return other.Open(path) ? 1 : 0;
              }),
              0);
}

TEST_F(ExclusiveFileTest, WithoutALeaseOtherDescriptorsAreFoundThroughProc)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a user who does not own the file";
    // The file belongs to root; an ordinary user may write it but gets no
    // lease, and sees the descriptors of the user's own programs.
    const auto path = Make("t.dbf");
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    // 0: the file opens, and a program that opens it afterwards (nothing
    // keeps it out) is found before a write; 1: the file is refused.
    const auto asNobody = [&](std::optional<THoldMode> holder) {
        return InChild([&] {
            if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) return 2;
            // As an ordinary user's programs are: their /proc entries readable by that user.
            prctl(PR_SET_DUMPABLE, 1);
            std::optional<THoldingProcess> other;
            if (holder) {
                other.emplace(path, *holder);
                if (!other->Holding()) return 3;
            }
            TExclusiveFile file;
            if (!file.Open(path)) return 1;
            if (!file.HoldIntact()) return 4;
            const THoldingProcess late(path, THoldMode::Read);
            return late.Holding() && !file.HoldIntact() ? 0 : 5;
        });
    };
    EXPECT_EQ(asNobody(std::nullopt), 0);
    EXPECT_EQ(asNobody(THoldMode::Read), 1);
    EXPECT_EQ(asNobody(THoldMode::Map), 1);  // a mapping alone, its descriptor closed
    EXPECT_EQ(asNobody(std::nullopt), 0);
}

// On a network share (the file system type is set by the test: no share can
// be mounted here) no lease is taken; the locks and the look for other
// holders on this machine hold the table.
TEST_F(ExclusiveFileTest, OnANetworkShareTheLocksAndTheLookHoldTheTable)
{
    for (const std::uint64_t type : {0x6969ULL, 0x517BULL, 0xFE534D42ULL, 0xFF534D42ULL, 0x65735546ULL}) {
        EXPECT_TRUE(IsNetworkFileSystem(type)) << std::hex << type;
    }
    EXPECT_FALSE(IsNetworkFileSystem(0xEF53) || IsNetworkFileSystem(0x01021994));  // ext4, tmpfs
    const auto path = Make("share.dbf");
    const THoldSettingsScope nfs(THoldSettings{0x6969});
    {
        TExclusiveFile held;
        ASSERT_TRUE(held.Open(path));
        EXPECT_TRUE(held.HoldIntact());
        // No lease holds another program off, but the look before a write finds it.
        EXPECT_EQ(InChild([&] { return open(path.c_str(), O_RDONLY | O_NONBLOCK) >= 0 ? 0 : 1; }), 0);
        const THoldingProcess reader(path, THoldMode::Read);
        ASSERT_TRUE(reader.Holding());
        EXPECT_FALSE(held.HoldIntact());
    }
    for (const THoldMode mode : {THoldMode::Read, THoldMode::Map, THoldMode::Flock, THoldMode::OfdLock}) {
        const THoldingProcess other(path, mode);
        ASSERT_TRUE(other.Holding());
        EXPECT_FALSE(TExclusiveFile().Open(path)) << static_cast<int>(mode);
    }
    EXPECT_TRUE(TExclusiveFile().Open(path));
    // A look that cannot finish in time counts as finding a holder.
    const THoldSettingsScope hurried(THoldSettings{0x6969, std::chrono::milliseconds(0)});
    EXPECT_FALSE(TExclusiveFile().Open(path));
}

// Where no lease keeps them out (here a network share, by the test's
// setting), a program that takes no lock can open the table, write and close
// it again between two looks for other holders. The length and times, asked
// again, tell: a program that puts the modification time back cannot put
// back the change time.
TEST_F(ExclusiveFileTest, AWriterThatTakesNoLockAndLeavesAgainIsNoticed)
{
    const THoldSettingsScope nfs(THoldSettings{0x6969});
    const auto write = [](int fd, std::uint64_t at) {
        const std::uint8_t byte = 0x7F;
        return pwrite(fd, &byte, 1, static_cast<off_t>(at)) == 1;
    };
    const struct { const char* what; std::function<bool(int fd)> change; } cases[] = {
        {"a byte added at the end", [&](int fd) { return write(fd, 64); }},
        {"a byte written inside", [&](int fd) { return write(fd, 4); }},
        {"a byte written inside, the modification time put back",
         [&](int fd) {
             struct stat before {};
             if (fstat(fd, &before) != 0 || !write(fd, 4)) return false;
             const timespec times[2] = {before.st_atim, before.st_mtim};
             return futimens(fd, times) == 0;
         }},
        {"the length cut and restored", [&](int fd) { return ftruncate(fd, 10) == 0 && ftruncate(fd, 64) == 0; }},
    };
    for (const auto& c : cases) {
        const auto path = Make("shared.dbf");
        TExclusiveFile held;
        ASSERT_TRUE(held.Open(path)) << c.what;
        // The other program comes while a box is open, not in the same tick
        // of the file system's clock as the open.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(InChild([&] {
                      const int fd = open(path.c_str(), O_WRONLY);
                      const bool changed = fd >= 0 && c.change(fd);
                      if (fd >= 0) close(fd);
                      return changed ? 0 : 1;
                  }),
                  0)
            << c.what;
        EXPECT_FALSE(held.HoldIntact()) << c.what;
    }
    // Reading, and opening and closing without a write, change nothing it asks.
    const auto path = Make("read.dbf");
    TExclusiveFile held;
    ASSERT_TRUE(held.Open(path));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(InChild([&] {
                  std::array<char, 8> buffer{};
                  const int fd = open(path.c_str(), O_RDWR);
                  const bool read = fd >= 0 && pread(fd, buffer.data(), buffer.size(), 0) == 8;
                  if (fd >= 0) close(fd);
                  return read ? 0 : 1;
              }),
              0);
    EXPECT_TRUE(held.HoldIntact());
}

TEST_F(ExclusiveFileTest, NamesThatAreNotTablesAreNotOpened)
{
    const auto table = Make("t.dbf");
    ASSERT_EQ(mkfifo(dir.File("pipe.dbf").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/null", dir.Path() / "null.dbf");
    TExclusiveFile file;
    EXPECT_FALSE(file.Open(dir.File("pipe.dbf")));
    EXPECT_FALSE(file.Open(dir.File("null.dbf")));
    EXPECT_FALSE(file.Open(dir.Path().string()));

    TMessageRecorder recorder;
    for (const char* name : {"pipe.dbf", "null.dbf"}) {
        recorder.messages.clear();
        ProcessFile(dir.File(name), omSet, cpZero, true, false, {});
        EXPECT_EQ(recorder.messages, std::vector<std::string>{kNotFoundMsg + dir.File(name)}) << name;
    }
    // A link to a table is corrected through the link.
    std::filesystem::create_symlink(table, dir.Path() / "link.dbf");
    TTableLayout layout;
    layout.fields = {{"A", 'c', 1}};
    WriteAll(table, layout.Build());
    recorder.messages.clear();
    ProcessFile(dir.File("link.dbf"), omSet, cpZero, true, false, {});
    EXPECT_EQ(recorder.messages.size(), 1U);
    EXPECT_EQ(ReadAll(table)[32 + 11], 'C');
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() / "link.dbf"));
}
#endif
