// SPDX-License-Identifier: MIT
// The exclusive-file layer on the Win32 calls themselves: share modes between
// processes, names as Windows spells them, directories, and names that the
// ANSI code page cannot spell.
#include "ExclusiveFile.h"
#include "ProcessFile.h"
#include "TestSupport.h"
#include "TestSupportWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

const std::chrono::year_month_day kDate{std::chrono::year{2024}, std::chrono::month{3}, std::chrono::day{5}};

TTableLayout SampleTable()
{
    TTableLayout layout;
    layout.fields = {{" name", 'c', 10, 2}, {"born", 'd', 8, 1}, {"ok  ", 'l', 1, 0}};
    layout.recordCount = 5;
    return layout;
}

void Correct(const std::string& name)
{
    ProcessFile(name, omSet, cpWin1251, true, true, kDate);
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A UTF-8 name as a path, whatever the narrow encoding of std::filesystem.
fs::path Utf8Path(const std::string& utf8)
{
    return fs::path(Widen(utf8));
}

// Puts back the fault hook a test installed.
class TFaultHookGuard {
public:
    explicit TFaultHookGuard(TFileFaultHook hook) : FPrevious(SetFileFaultHook(std::move(hook))) {}
    ~TFaultHookGuard() { SetFileFaultHook(std::move(FPrevious)); }
    TFaultHookGuard(const TFaultHookGuard&) = delete;
    TFaultHookGuard& operator=(const TFaultHookGuard&) = delete;

private:
    TFileFaultHook FPrevious;
};

}  // namespace

TEST(ExclusiveFileWin32, BaseNameEndsAtTheLastBackslashColonOrSlash)
{
    const struct { const char* name; const char* base; } cases[] = {
        {"clients.dbf", "clients.dbf"},
        {"C:\\data\\clients.dbf", "clients.dbf"},
        {"C:clients.dbf", "clients.dbf"},
        {"a.b\\c.dbf", "c.dbf"},
        {"\\\\server\\share\\dir\\t.dbf", "t.dbf"},
        {"C:/data/t.dbf", "t.dbf"},
        {"dir\\sub/t.dbf", "t.dbf"},
        {"dir/sub\\t.dbf", "t.dbf"},
        {"D:dir\\t.dbf", "t.dbf"},
        {"C:\\data\\", ""},
        {"C:", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(TExclusiveFile::BaseName(c.name), c.base) << c.name;
}

TEST(ExclusiveFileWin32, TableHeldByAnotherProcessInAnyShareModeIsLeftAlone)
{
    // A mapping alone (its handle closed) keeps the file only when it is
    // writable: Windows forgets a read-only one's share access with the handle.
    const struct { const char* access; const char* share; const char* how; } holders[] = {
        {"r", "rwd", "open"}, {"r", "r", "open"},  {"r", "-", "open"},    {"w", "rwd", "open"},
        {"rw", "rw", "open"}, {"rw", "-", "open"}, {"rw", "rwd", "map"}, {"rw", "rwd", "lock"},
    };
    for (const auto& h : holders) {
        SCOPED_TRACE(std::string(h.access) + " shared " + h.share + " " + h.how);
        TScratchDir dir;
        const auto path = dir.File("held.dbf");
        const TBytes before = SampleTable().Build();
        WriteAll(path, before);
        {
            TFileHolder holder(path, h.access, h.share, h.how);
            ASSERT_TRUE(holder.Holding()) << holder.Answer();
            TMessageRecorder recorder;
            Correct(path);
            EXPECT_EQ(recorder.messages, std::vector<std::string>{InUseMessage("held.dbf")});
            TExclusiveFile file;
            EXPECT_FALSE(file.Open(path));
            EXPECT_FALSE(file.IsOpen());
        }
        EXPECT_EQ(ReadAll(path), before);  // once the holder, which may keep readers out, is gone
    }
}

// Every way the shared tests hold a table works here too: the mapping is
// writable, the locks are LockFileEx on a fully shared handle.
TEST(ExclusiveFileWin32, EveryHoldModeKeepsTheCorrectionOut)
{
    TScratchDir dir;
    const auto path = dir.File("held.dbf");
    const TBytes before = SampleTable().Build();
    WriteAll(path, before);
    for (const auto mode : {THoldMode::Read, THoldMode::Write, THoldMode::Map, THoldMode::Flock, THoldMode::OfdLock}) {
        {
            THoldingProcess other(path, mode);
            ASSERT_TRUE(other.Holding()) << static_cast<int>(mode);
            TMessageRecorder recorder;
            Correct(path);
            EXPECT_EQ(recorder.messages, std::vector<std::string>{InUseMessage("held.dbf")}) << static_cast<int>(mode);
        }
        // Let go with the holder: nothing else keeps the file.
        EXPECT_EQ(OpenFromAnotherProcess(path, "rw", "-"), 0UL) << static_cast<int>(mode);
    }
    EXPECT_EQ(ReadAll(path), before);
}

TEST(ExclusiveFileWin32, OthersAreKeptOutWhileTheCorrectionHoldsTheTable)
{
    TScratchDir dir;
    const auto path = dir.File("held.dbf");
    WriteAll(path, SampleTable().Build());
    const struct { const char* access; const char* share; } others[] = {
        {"r", "rwd"}, {"w", "rwd"}, {"rw", "rwd"}, {"rw", "-"}, {"r", "r"},
    };
    std::vector<unsigned long> errors;
    {
        // Paused just before the header is written back.
        TFaultHookGuard pause([&](TFileOp op, std::uint64_t, std::size_t) {
            if (op == TFileOp::Write) {
                for (const auto& other : others) errors.push_back(OpenFromAnotherProcess(path, other.access, other.share));
            }
            return TFileFault::None;
        });
        TMessageRecorder recorder;
        Correct(path);
        ASSERT_EQ(recorder.messages.size(), 1U);
        EXPECT_TRUE(StartsWith(recorder.messages[0], "Готово! ")) << recorder.messages[0];
    }
    EXPECT_EQ(errors, std::vector<unsigned long>(std::size(others), ERROR_SHARING_VIOLATION));
    // Closed once the correction is done.
    EXPECT_EQ(OpenFromAnotherProcess(path, "rw", "-"), 0UL);
    EXPECT_EQ(ReadAll(path)[29], 87);
}

TEST(ExclusiveFileWin32, DirectoryNamedLikeATableIsNotFound)
{
    TScratchDir dir;
    const auto path = dir.File("x.dbf");
    fs::create_directory(path);
    EXPECT_FALSE(TExclusiveFile::Exists(path));
    TMessageRecorder recorder;
    Correct(path);
    EXPECT_EQ(recorder.messages, std::vector<std::string>{kNotFoundMsg + path});
}

TEST(ExclusiveFileWin32, MessageNamesTheFileHoweverItsPathIsSpelt)
{
    TScratchDir dir;
    fs::create_directory(dir.Path() / "sub");
    const std::string folder = dir.Path().string();  // e.g. C:\users\...\Temp\dbftest-1
    ASSERT_GE(folder.size(), 3U);
    ASSERT_EQ(folder[1], ':') << folder;
    const std::string drive = folder.substr(0, 2);
    std::string forward = folder;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    const std::string names[] = {
        folder + "\\sub\\held.dbf",
        forward + "/sub/held.dbf",
        folder + "\\sub/held.dbf",
        folder.substr(2) + "\\sub\\held.dbf",  // from the root of the current drive
        drive + "sub\\held.dbf",               // relative to the drive's current folder
        "sub\\held.dbf",
        ".\\sub\\..\\sub\\held.dbf",
        "sub/held.dbf",
    };
    const auto path = folder + "\\sub\\held.dbf";
    const TBytes before = SampleTable().Build();
    WriteAll(path, before);
    TCurrentFolder here(dir.Path());
    {
        TFileHolder holder(path, "r", "rwd", "open");
        ASSERT_TRUE(holder.Holding()) << holder.Answer();
        for (const auto& name : names) {
            EXPECT_TRUE(TExclusiveFile::Exists(name)) << name;
            TMessageRecorder recorder;
            Correct(name);
            EXPECT_EQ(recorder.messages, std::vector<std::string>{InUseMessage("held.dbf")}) << name;
        }
    }
    EXPECT_EQ(ReadAll(path), before);
    TMessageRecorder recorder;
    Correct(drive + "sub\\held.dbf");
    ASSERT_EQ(recorder.messages.size(), 1U);
    EXPECT_TRUE(StartsWith(recorder.messages[0], "Готово! ")) << recorder.messages[0];
    EXPECT_NE(ReadAll(path), before);
}

TEST(ExclusiveFileWin32, NamesOutsideTheAnsiCodePageReachTheirFiles)
{
    // Cyrillic alone fits some ANSI code pages; Greek, Hebrew and Chinese
    // together, or a character outside the basic plane, fit none.
    const std::string names[] = {"таблица.dbf", "Ωμέγα-שלום-表.dbf", "smile-😀.DBF"};
    for (const auto& base : names) {
        SCOPED_TRACE(base);
        TScratchDir dir;
        const std::string name = dir.Path().string() + "\\" + base;
        const fs::path onDisk = dir.Path() / Utf8Path(base);
        TBytes before = SampleTable().Build();
        WriteAll(onDisk, before);
        EXPECT_TRUE(TExclusiveFile::Exists(name));
        {
            TFileHolder holder(name, "r", "rwd", "open");
            ASSERT_TRUE(holder.Holding()) << holder.Answer();
            TMessageRecorder recorder;
            Correct(name);
            EXPECT_EQ(recorder.messages, std::vector<std::string>{InUseMessage(base)});
        }
        TMessageRecorder recorder;
        Correct(name);
        ASSERT_EQ(recorder.messages.size(), 1U);
        EXPECT_EQ(recorder.messages[0], "Готово! Кодовая страница 101 -> 87");
        const TBytes after = ReadAll(onDisk);
        EXPECT_EQ(after.size(), before.size());
        EXPECT_EQ(after[29], 87);
        EXPECT_EQ(fs::directory_iterator(dir.Path())->path().filename(), Utf8Path(base));
    }
}

TEST(ExclusiveFileWin32, NameAlreadyInTheAnsiCodePageIsTakenAsItIs)
{
    if (GetACP() == CP_UTF8) GTEST_SKIP() << "the ANSI code page is UTF-8";
    // "é" in the ANSI code page: not UTF-8 on its own.
    const wchar_t wide[] = L"caf\u00e9.dbf";
    char ansi[32] = {};
    BOOL defaulted = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, sizeof ansi, nullptr, &defaulted) <= 0 ||
        defaulted || std::string(ansi) == "caf\xC3\xA9.dbf") {
        GTEST_SKIP() << "no single-byte \u00e9 in this ANSI code page";
    }
    TScratchDir dir;
    const fs::path onDisk = dir.Path() / wide;
    WriteAll(onDisk, SampleTable().Build());
    const std::string name = dir.Path().string() + "\\" + ansi;
    TMessageRecorder recorder;
    Correct(name);
    ASSERT_EQ(recorder.messages.size(), 1U);
    EXPECT_TRUE(StartsWith(recorder.messages[0], "Готово! ")) << recorder.messages[0];
    EXPECT_EQ(ReadAll(onDisk)[29], 87);
}

TEST(ExclusiveFileWin32, NamesLongerThanMaxPathReachTheirFiles)
{
    TScratchDir dir;
    TDeepTable table(dir.Path(), SampleTable().Build());
    ASSERT_TRUE(table.Made());
    const TBytes before = table.Read();
    std::string forward = table.Name();
    std::replace(forward.begin(), forward.end(), '\\', '/');
    ASSERT_GT(table.Name().size(), static_cast<std::size_t>(MAX_PATH));
    {
        // Short enough on its own, long once the current folder is added.
        TCurrentFolder here(table.Parent());
        const std::string relative = table.LastFolder() + "\\.\\deep.dbf";
        EXPECT_TRUE(TExclusiveFile::Exists(relative));
        TMessageRecorder recorder;
        ProcessFile(relative, omLeave, cpLeave, false, false, kDate);
        EXPECT_EQ(recorder.messages, std::vector<std::string>{"Готово! Кодовая страница 101"});
    }
    for (const auto& name : {table.Name(), forward, "\\\\?\\" + table.Name()}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(table.Write(before));
        EXPECT_TRUE(TExclusiveFile::Exists(name));
        TMessageRecorder recorder;
        Correct(name);
        EXPECT_EQ(recorder.messages, std::vector<std::string>{"Готово! Кодовая страница 101 -> 87"});
    }
    const TBytes after = table.Read();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[29], 87);
    EXPECT_TRUE(std::equal(after.begin() + 32 + 3 * 32, after.end(), before.begin() + 32 + 3 * 32));
}

TEST(ExclusiveFileWin32, WildcardsAndZeroBytesNameNoFile)
{
    TScratchDir dir;
    const TBytes before = SampleTable().Build();
    WriteAll(dir.Path() / "a.dbf", before);
    TCurrentFolder here(dir.Path());
    const std::string names[] = {"*.dbf", "?.dbf", dir.Path().string() + "\\*.dbf", std::string("a.dbf\0.dbf", 10)};
    for (const auto& name : names) {
        EXPECT_FALSE(TExclusiveFile::Exists(name)) << name;
        TExclusiveFile file;
        EXPECT_FALSE(file.Open(name)) << name;
        TMessageRecorder recorder;
        Correct(name);
        EXPECT_EQ(recorder.messages, std::vector<std::string>{kNotFoundMsg + name});
    }
    EXPECT_EQ(ReadAll(dir.Path() / "a.dbf"), before);
}

TEST(ExclusiveFileWin32, ReadOnlyTableCannotBeOpenedForWriting)
{
    TScratchDir dir;
    const auto path = dir.File("ro.dbf");
    const TBytes before = SampleTable().Build();
    WriteAll(path, before);
    const std::wstring widePath = Widen(path);
    ASSERT_TRUE(SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_NORMAL);
        GTEST_SKIP() << "a read-only attribute does not keep writers out here (wine run as root)";
    }
    TMessageRecorder recorder;
    Correct(path);
    SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(recorder.messages, std::vector<std::string>{InUseMessage("ro.dbf")});
    EXPECT_EQ(ReadAll(path), before);
}
