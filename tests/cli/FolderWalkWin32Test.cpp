// SPDX-License-Identifier: MIT
// The folder walk on Windows: tables in folders nested past MAX_PATH are
// reached whatever the root's spelling, and named as the user spelt the root.
#include "CliTestSupport.h"
#include "System.h"
#include "TablePaths.h"
#include "TestSupportWin32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct TRootCase {
    const char* Label;
    std::string Root;      // as the user types it
    std::string Expected;  // the table's name in the output
};

TEST(FolderWalkWin32, ReachesTablesDeeperThanMaxPath)
{
    TScratchDir dir;
    // As a Russian user names it: the root in Cyrillic.
    const fs::path root = dir.Path() / L"Таблицы";
    fs::create_directory(root);
    TDeepTable table(root, WrongTable().Build());
    ASSERT_TRUE(table.Made());
    const std::u8string utf8 = root.u8string();
    const std::string top(utf8.begin(), utf8.end());
    const std::string below = table.Name().substr(top.size());  // "\aaa…\…\deep.dbf"
    ASSERT_GT(table.Name().size(), std::size_t{260});  // MAX_PATH
    std::string forward = top;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    const std::string deepest = table.Name().substr(0, table.Name().size() - std::string("\\deep.dbf").size());

    const std::vector<TRootCase> cases = {
        {"a short root", top, table.Name()},
        {"a root with the \\\\?\\ prefix", "\\\\?\\" + top, "\\\\?\\" + table.Name()},
        {"a root with forward slashes", forward, forward + below},
        {"a root itself longer than MAX_PATH", deepest, table.Name()},
        {"the deepest folder with the prefix", "\\\\?\\" + deepest, "\\\\?\\" + table.Name()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        const TPathList list = CollectTables({c.Root}, true);
        EXPECT_EQ(list.Tables, std::vector<std::string>{c.Expected});
        EXPECT_EQ(list.Skipped, std::vector<std::string>{});
        EXPECT_FALSE(list.FolderUnreadable);
        const TCliRun check = RunDbfFix({"check", "--recursive", c.Root});
        EXPECT_EQ(check.status, esWouldChange) << check.out << check.err;
        EXPECT_EQ(check.out.rfind(c.Expected + ": будет исправлена", 0), 0U) << check.out;
    }
    const TCliRun fix = RunDbfFix({"fix", "--recursive", top});
    EXPECT_EQ(fix.status, esOk) << fix.out << fix.err;
    EXPECT_NE(table.Read(), WrongTable().Build());
    EXPECT_EQ(RunDbfFix({"check", "--recursive", "\\\\?\\" + top}).status, esOk);
}

// A missing root is passed on as a table name; an empty folder, even behind
// the prefix, is listed without error.
TEST(FolderWalkWin32, MissingRootsAndEmptyFolders)
{
    TScratchDir dir;
    fs::create_directory(dir.Path() / "empty");
    fs::create_directory(dir.Path() / "tables");
    WriteAll(dir.Path() / "tables" / "a.DBF", RightTable().Build());
    WriteAll(dir.Path() / "tables" / "notes.txt", {'x'});
    const std::string top = dir.Path().string();

    const TPathList list = CollectTables({top + "\\tables", top + "\\missing", "\\\\?\\" + top + "\\empty"}, true);
    // A name that is no folder is taken as a table, whose own checks tell
    // what is wrong with it.
    EXPECT_EQ(list.Tables, (std::vector<std::string>{top + "\\tables\\a.DBF", top + "\\missing"}));
    EXPECT_EQ(list.Skipped, std::vector<std::string>{});
    EXPECT_FALSE(list.FolderUnreadable);

    // The same folder by another spelling is the same folder: walked once.
    const std::string again = "\\\\?\\" + top + "\\TABLES";
    const TPathList twice = CollectTables({top + "\\tables", again}, true);
    EXPECT_EQ(twice.Tables, std::vector<std::string>{top + "\\tables\\a.DBF"});
    EXPECT_EQ(twice.Skipped, std::vector<std::string>{again + ": папка уже пройдена (ссылка), пропущена"});
}

// Names as the walk tells them: UTF-8 of the UTF-16 the system gives. NTFS
// keeps names with a lone surrogate half (wine's file system cannot make
// one, so the conversion is checked by itself): the half becomes U+FFFD, and
// such a table is told as one that cannot be opened instead of ending the
// run with an exception.
TEST(FolderWalkWin32, NamesAreToldInUtf8WhateverTheSystemGives)
{
    const std::vector<std::pair<std::wstring, std::string>> cases = {
        {L"C:\\t\\plain.dbf", "C:\\t\\plain.dbf"},
        {L"C:\\Таблицы\\клиенты.dbf", "C:\\Таблицы\\клиенты.dbf"},
        {L"\\\\?\\C:\\日本.dbf", "\\\\?\\C:\\日本.dbf"},
        {std::wstring(L"half") + wchar_t(0xD800) + L".dbf", "half\xEF\xBF\xBD.dbf"},
        {wchar_t(0xDC00) + std::wstring(L"lead.dbf"), "\xEF\xBF\xBDlead.dbf"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(NameOf(fs::path(name)), expected);
    }
}

}  // namespace
