// SPDX-License-Identifier: MIT
// How the tables are named: folders walked with or without their links, and
// lists of names read from a file (--files-from), which are untrusted input.
#include "CliTestSupport.h"
#include "TablePaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

TEST(FileList, NamesByLinesOrByNulBytes)
{
    using TNames = std::vector<std::string>;
    struct TCase {
        const char* name;
        std::string input;
        bool nul;
        bool read;
        TNames names;
    };
    const TCase cases[] = {
        {"lines", "a.dbf\nb.dbf\n", false, true, {"a.dbf", "b.dbf"}},
        {"last line without its line feed", "a.dbf\nb.dbf", false, true, {"a.dbf", "b.dbf"}},
        {"CR LF lines", "a.dbf\r\nb.dbf\r\n", false, true, {"a.dbf", "b.dbf"}},
        {"empty lines passed over", "\n\na.dbf\n\n", false, true, {"a.dbf"}},
        {"blanks kept inside and around", " a b.dbf \n", false, true, {" a b.dbf "}},
        {"an empty list", "", false, true, {}},
        {"NUL-ended", std::string("a\nb.dbf\0c.dbf\0", 14), true, true, {"a\nb.dbf", "c.dbf"}},
        {"NUL-ended keeps a CR", std::string("a.dbf\r\0", 7), true, true, {"a.dbf\r"}},
        {"NUL-ended, last without its NUL", std::string("a.dbf\0b.dbf", 11), true, true, {"a.dbf", "b.dbf"}},
        {"a name past any system's longest", std::string(3 * 32767 + 1, 'x'), false, false, {}},
        {"the longest name still taken", std::string(3 * 32767, 'x'), true, true, {std::string(3 * 32767, 'x')}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.input);
        TNames names;
        std::string error;
        EXPECT_EQ(ReadFileList(in, c.nul, names, error), c.read);
        EXPECT_EQ(error.empty(), c.read) << error;
        if (c.read) {
            EXPECT_EQ(names, c.names);
        }
    }
}

// The commands take the list as they take names on the line, and say what is
// wrong with a list they cannot read.
TEST(FileList, CommandsTakeTheirTablesFromAList)
{
    const TScratchDir dir;
    const std::string wrong = dir.File("wrong one.dbf");
    const std::string right = dir.File("right.dbf");
    WriteAll(wrong, WrongTable().Build());
    WriteAll(right, RightTable().Build());
    const std::string lines = dir.File("lines.txt");
    // Not "nul.txt": on Windows that names the null device.
    const std::string nul = dir.File("nul-ended.txt");
    WriteText(lines, wrong + "\n" + right + "\n");
    WriteText(nul, wrong + std::string(1, '\0') + right + std::string(1, '\0'));

    struct TCase {
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> inOut;  // each must appear on stdout
        std::string inErr;
    };
    const TCase cases[] = {
        {{"check", "--files-from", lines}, esWouldChange, {wrong + ": ", right + ": "}, ""},
        {{"check", "--files-from", nul, "-0"}, esWouldChange, {wrong + ": ", right + ": "}, ""},
        {{"show", "--files-from", nul, "--null"}, esOk, {wrong, right}, ""},
        // Without -0 a NUL-separated list is one name that is no table.
        {{"check", "--files-from", nul}, esFailed, {}, ""},
        {{"check", "--files-from", dir.File("missing.txt")}, esUsage, {}, "не открывается"},
        {{"check", "--files-from", dir.Path().string()}, esUsage, {}, "это папка"},
        {{"check"}, esUsage, {}, "не названо ни одной таблицы"},
        {{"fix"}, esUsage, {}, "не названо ни одной таблицы"},
        {{"fix", "--files-from", lines}, esOk, {wrong + ": "}, ""},
        {{"check", "--files-from", lines}, esOk, {wrong + ": ", right + ": "}, ""},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.arguments) line += a + " ";
        SCOPED_TRACE(line);
        const TCliRun run = RunDbfFix(c.arguments);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        for (const auto& text : c.inOut) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
        EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    }
}

#ifndef _WIN32

// -r walks a link to a folder only when asked to: a link can lead anywhere on
// the machine, out of the folder the user named.
TEST(FolderWalk, LinksToFoldersFollowedOnlyWhenAsked)
{
    const TScratchDir dir;
    const fs::path root = dir.Path() / "tree";
    const fs::path elsewhere = dir.Path() / "elsewhere";
    fs::create_directories(root / "sub");
    fs::create_directories(elsewhere);
    WriteAll(root / "sub" / "inside.dbf", WrongTable().Build());
    WriteAll(elsewhere / "outside.dbf", WrongTable().Build());
    fs::create_directory_symlink(elsewhere, root / "link");
    fs::create_symlink(root / "sub" / "inside.dbf", root / "file-link.dbf");

    struct TCase {
        std::vector<std::string> arguments;
        bool outsideWalked;
    };
    const TCase cases[] = {
        {{"check", "-r", root.string()}, false},
        {{"check", "-r", "--follow", root.string()}, true},
        {{"show", "-r", root.string()}, false},
        {{"show", "--recursive", "--follow", root.string()}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1] + " " + c.arguments[2]);
        const TCliRun run = RunDbfFix(c.arguments);
        EXPECT_NE(run.out.find((root / "sub" / "inside.dbf").string()), std::string::npos) << run.out;
        // A link to a file is a table named in the folder; it is always read.
        EXPECT_NE(run.out.find((root / "file-link.dbf").string()), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("outside.dbf") != std::string::npos, c.outsideWalked) << run.out;
        EXPECT_EQ(run.err.find("link: ссылка на папку, пропущена") != std::string::npos, !c.outsideWalked) << run.err;
    }
    // Passing a link over is no failure: the tables walked decide the status.
    EXPECT_EQ(RunDbfFix({"fix", "-r", root.string()}).status, esOk);
    EXPECT_EQ(RunDbfFix({"check", "-r", "--follow", root.string()}).status, esWouldChange);
}

#endif
