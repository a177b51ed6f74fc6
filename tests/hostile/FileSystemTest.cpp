// SPDX-License-Identifier: MIT
// What the file system can do to a table name: permissions seen by an
// unprivileged user, a file replaced or removed between its existence test
// and its open, links, pipes, folders, devices and names too long. Every case
// ends normally with the right message and loses nothing.
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace hostile;
namespace fs = std::filesystem;

namespace {

TBytes SampleTable(std::uint8_t codePage = 0x65)
{
    TTableLayout layout;
    layout.fields = {{"NAME ", 'c', 10, 2, 0, 0x44}, {"SUM", 'N', 8, 2, 0, 0x44}};
    layout.recordCount = 3;
    layout.languageDriver = codePage;
    return layout.Build();
}

// Every name in the folder with its kind and, for files, its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> seen;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const auto status = fs::symlink_status(entry.path());
        std::string what = std::to_string(static_cast<int>(status.type()));
        if (status.type() == fs::file_type::regular) {
            const TBytes bytes = ReadAll(entry.path());
            what += ":" + std::string(bytes.begin(), bytes.end());
        }
        seen[entry.path().filename().string()] = what;
    }
    return seen;
}

// The name names no table: only the not-found message, and nothing in the
// folder is created or changed.
void ExpectNotFound(const fs::path& folder, const std::string& name, const std::string& label)
{
    const auto before = Snapshot(folder);
    const TRun run = RunCorrection(name, {});
    const auto broken = Judge({}, {}, run, Expect({}, name, {}, {}, TOpenOutcome::NotFound));
    EXPECT_TRUE(broken.empty()) << label << Lines(broken);
    EXPECT_EQ(Snapshot(folder), before) << label;
}

bool RunningAsRoot()
{
    return geteuid() == 0;
}

// The file belongs to the unprivileged user the test runs the tool as.
void GiveToNobody(const std::string& path)
{
    if (RunningAsRoot()) {
        ASSERT_EQ(chown(path.c_str(), NobodyUid(), NobodyGid()), 0);
    }
}

// A run by the unprivileged user (as root: by nobody in a child process),
// judged against what that user must be told.
void ExpectUnprivilegedRun(const std::string& path, TOpenOutcome outcome, const std::string& label,
                           const std::function<TRun()>& body = {})
{
    const TChoices choices{omSet, cpWin1251, true, false};
    const TBytes before = ReadAll(path);
    const TRun run = RunInChild(
        [&] {
            if (RunningAsRoot()) {
                TRun refused;
                refused.raised = "still root";
                return refused;
            }
            return body ? body() : RunCorrection(path, choices);
        },
        true);
    const auto broken = Judge(before, ReadAll(path), run, Expect(before, path, choices, {}, outcome));
    EXPECT_TRUE(broken.empty()) << label << Lines(broken);
}

}  // namespace

TEST(FileSystem, PermissionsAsAnUnprivilegedUser)
{
    TScratchDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const TRun probe = RunInChild(
        [&] {
            TRun run;
            if (access(dir.Path().c_str(), X_OK) != 0) run.raised = "closed";
            return run;
        },
        true);
    if (probe.raised) GTEST_SKIP() << "the folders above " << dir.Path() << " are closed to nobody";

    const std::string readOnly = dir.File("readonly.dbf");
    WriteAll(readOnly, SampleTable());
    GiveToNobody(readOnly);
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    ExpectUnprivilegedRun(readOnly, TOpenOutcome::InUse, "a read-only file of the user's own");

    const std::string closed = dir.File("closed.dbf");
    WriteAll(closed, SampleTable());
    // Root's own file, closed to others; run as that user, closed to the user
    // only while the tool runs.
    ASSERT_EQ(chmod(closed.c_str(), 0600), 0);
    ExpectUnprivilegedRun(closed, TOpenOutcome::InUse, "a file the user may neither read nor write", [&] {
        if (!RunningAsRoot()) chmod(closed.c_str(), 0);
        TRun run = RunCorrection(closed, {omSet, cpWin1251, true, false});
        if (!RunningAsRoot()) chmod(closed.c_str(), 0600);
        return run;
    });

    const fs::path hidden = dir.Path() / "hidden";
    fs::create_directory(hidden);
    const std::string inHidden = (hidden / "table.dbf").string();
    WriteAll(inHidden, SampleTable());
    // Root's own folder, closed to others. Run as that user, the folder is
    // closed only while the tool runs, so that the test can read the table.
    ASSERT_EQ(chmod(hidden.c_str(), 0700), 0);
    ExpectUnprivilegedRun(inHidden, TOpenOutcome::NotFound, "a file in a folder the user may not enter", [&] {
        if (!RunningAsRoot()) chmod(hidden.c_str(), 0);
        TRun run = RunCorrection(inHidden, {omSet, cpWin1251, true, false});
        if (!RunningAsRoot()) chmod(hidden.c_str(), 0700);
        return run;
    });

    // Writable but not the user's own: the kernel grants no lease, so the
    // table is taken by the locks and a look for other holders.
    const std::string shared = dir.File("shared.dbf");
    WriteAll(shared, SampleTable());
    ASSERT_EQ(chmod(shared.c_str(), 0666), 0);
    ExpectUnprivilegedRun(shared, TOpenOutcome::Opens, "a writable file of another user");
    WriteAll(shared, SampleTable());
    ExpectUnprivilegedRun(shared, TOpenOutcome::InUse, "the same, held by another program of the user", [&] {
        THoldingProcess other(shared, THoldMode::Read);
        if (!other.Holding()) {
            TRun failed;
            failed.raised = "the holder could not open the file";
            return failed;
        }
        return RunCorrection(shared, {omSet, cpWin1251, true, false});
    });
}

// The file changes under the name between the existence test and the open,
// or while it is held (after its open, before the write). Neither the
// original nor what took its place changes unless that was what was opened.
TEST(FileSystem, TheFileIsReplacedOrRemovedBeforeTheOpenOrWhileHeld)
{
    const TChoices choices{omSet, cpDos866, true, false};
    const auto replace = [](const fs::path& folder, const std::string& name) {
        fs::rename(folder / "replacement.dbf", name);
    };
    const auto remove = [](const fs::path&, const std::string& name) { fs::remove(name); };
    struct TCase {
        const char* label;
        TFileOp at;
        std::function<void(const fs::path& folder, const std::string& name)> change;
        TOpenOutcome outcome;
    };
    const TCase cases[] = {
        {"removed", TFileOp::Open, remove, TOpenOutcome::InUse},
        {"replaced by a folder", TFileOp::Open, [](const fs::path&, const std::string& name) {
             fs::remove(name);
             fs::create_directory(name);
         }, TOpenOutcome::InUse},
        {"replaced by a pipe", TFileOp::Open, [](const fs::path&, const std::string& name) {
             fs::remove(name);
             mkfifo(name.c_str(), 0644);
         }, TOpenOutcome::InUse},
        {"replaced by a link to /dev/null", TFileOp::Open, [](const fs::path&, const std::string& name) {
             fs::remove(name);
             fs::create_symlink("/dev/null", name);
         }, TOpenOutcome::InUse},
        {"replaced by another table", TFileOp::Open, replace, TOpenOutcome::Opens},
        {"removed while held", TFileOp::Read, remove, TOpenOutcome::TakenMeanwhile},
        {"another table moved over it while held", TFileOp::Read, replace, TOpenOutcome::TakenMeanwhile},
        {"moved to another name while held", TFileOp::Read, [](const fs::path& folder, const std::string& name) {
             fs::rename(name, folder / "moved.dbf");
         }, TOpenOutcome::TakenMeanwhile},
    };
    for (const auto& c : cases) {
        TScratchDir dir;
        const std::string name = dir.File("moving.dbf");
        const std::string keep = dir.File("keep.dbf");
        WriteAll(name, SampleTable());
        fs::create_hard_link(name, keep);  // the original lives on under another name
        WriteAll(dir.Path() / "replacement.dbf", SampleTable(0x57));
        fs::create_hard_link(dir.Path() / "replacement.dbf", dir.Path() / "spare.dbf");
        const TBytes original = ReadAll(name);
        const TBytes replacement = ReadAll(dir.Path() / "replacement.dbf");

        bool changed = false;
        const TRun run = RunCorrection(name, choices, {}, [&](TFileOp op, std::uint64_t, std::size_t) {
            if (op != c.at || changed) return;
            changed = true;
            c.change(dir.Path(), name);
        });
        const bool opensReplacement = c.outcome == TOpenOutcome::Opens;
        const auto broken = opensReplacement
                                ? Judge(replacement, ReadAll(name), run, Expect(replacement, name, choices))
                                : Judge(original, ReadAll(keep), run, Expect(original, name, choices, {}, c.outcome));
        EXPECT_TRUE(broken.empty()) << c.label << Lines(broken);
        EXPECT_EQ(ReadAll(keep), original) << c.label << ": the original table changed";
        if (!opensReplacement) {
            EXPECT_EQ(ReadAll(dir.File("spare.dbf")), replacement) << c.label << ": the other table changed";
        }
    }
}

// A file no one may write is read-only on purpose: refused even to root.
TEST(FileSystem, AFileNoOneMayWriteIsRefusedEvenToRoot)
{
    if (!RunningAsRoot()) GTEST_SKIP() << "root's view of permissions is what is tested";
    TScratchDir dir;
    const std::string path = dir.File("readonly.dbf");
    const std::pair<mode_t, TOpenOutcome> modes[] = {{0444, TOpenOutcome::InUse}, {0, TOpenOutcome::InUse},
                                                     {0464, TOpenOutcome::Opens}, {0442, TOpenOutcome::Opens}};
    for (const auto& [mode, outcome] : modes) {
        WriteAll(path, SampleTable());
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        // The run first, then the bytes it left: as arguments of one call the
        // two would be evaluated in whichever order the compiler likes.
        const TRun run = RunCorrection(path, {});
        const auto broken = Judge(SampleTable(), ReadAll(path), run, Expect(SampleTable(), path, {}, {}, outcome));
        EXPECT_TRUE(broken.empty()) << std::oct << mode << Lines(broken);
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    }
}

// Replaced by a table that another program holds: refused like any held table.
TEST(FileSystem, TheFileIsReplacedByAHeldTable)
{
    TScratchDir dir;
    const std::string name = dir.File("moving.dbf");
    const std::string other = dir.File("held.dbf");
    WriteAll(name, SampleTable());
    WriteAll(other, SampleTable(0x26));
    const TBytes held = ReadAll(other);
    THoldingProcess holder(other, THoldMode::Write);
    ASSERT_TRUE(holder.Holding());
    const TRun run = RunCorrection(name, {}, {}, [&](TFileOp op, std::uint64_t, std::size_t) {
        if (op == TFileOp::Open) fs::rename(other, name);
    });
    const auto broken = Judge(held, ReadAll(name), run, Expect(held, name, {}, {}, TOpenOutcome::InUse));
    EXPECT_TRUE(broken.empty()) << Lines(broken);
}

TEST(FileSystem, ALinkToATableCorrectsTheTableAndKeepsTheLink)
{
    TScratchDir dir;
    const std::string table = dir.File("real.dat");
    const std::string link = dir.File("link.dbf");
    WriteAll(table, SampleTable());
    fs::create_symlink(table, link);
    const auto broken = CheckCorrection(link, {omSet, cpWin1251, true, true});
    EXPECT_TRUE(broken.empty()) << Lines(broken);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(ReadAll(table), SampleTable()) << "the table behind the link was not corrected";

    // A relative link, through a linked folder.
    fs::create_directory(dir.Path() / "data");
    WriteAll(dir.Path() / "data" / "t.dbf", SampleTable());
    fs::create_directory_symlink("data", dir.Path() / "alias");
    fs::create_symlink("t.dbf", dir.Path() / "data" / "rel.dbf");
    const auto throughFolder = CheckCorrection((dir.Path() / "alias" / "rel.dbf").string(), {});
    EXPECT_TRUE(throughFolder.empty()) << Lines(throughFolder);
}

TEST(FileSystem, NamesThatNameNoTable)
{
    TScratchDir dir;
    const fs::path folder = dir.Path();
    fs::create_symlink(folder / "missing.dbf", folder / "dangling.dbf");
    fs::create_symlink(folder / "loop.dbf", folder / "loop.dbf");
    ASSERT_EQ(mkfifo((folder / "pipe.dbf").c_str(), 0644), 0);
    fs::create_directory(folder / "folder.dbf");
    fs::create_symlink("/dev/null", folder / "null.dbf");
    fs::create_symlink(folder / "folder.dbf", folder / "tofolder.dbf");

    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketName = (folder / "sock.dbf").string();
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    std::copy(socketName.begin(), socketName.end(), address.sun_path);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    ExpectNotFound(folder, (folder / "dangling.dbf").string(), "a dangling link");
    ExpectNotFound(folder, (folder / "loop.dbf").string(), "a link to itself");
    ExpectNotFound(folder, (folder / "pipe.dbf").string(), "a FIFO");
    ExpectNotFound(folder, (folder / "folder.dbf").string(), "a folder");
    ExpectNotFound(folder, (folder / "folder.dbf").string() + "/", "a folder named with a slash");
    ExpectNotFound(folder, (folder / "null.dbf").string(), "a link to /dev/null");
    ExpectNotFound(folder, (folder / "tofolder.dbf").string(), "a link to a folder");
    ExpectNotFound(folder, socketName, "a socket");
    ExpectNotFound(folder, (folder / "missing.dbf").string(), "a missing file");
    WriteAll(folder / "cut", SampleTable());
    ExpectNotFound(folder, (folder / "cut").string() + std::string(1, '\0') + ".dbf", "a name with a 0 byte inside");
    close(sock);

    // Longer than a file name may be, and longer than a path may be.
    ExpectNotFound(folder, (folder / (std::string(NAME_MAX + 10, 'n') + ".dbf")).string(), "a name too long");
    std::string deep = folder.string();
    while (deep.size() <= PATH_MAX + 16) deep += "/./.";
    ExpectNotFound(folder, deep + "/x.dbf", "a path too long");
}

// After a failed write the table is closed: nothing is held, and the next
// correction goes through.
TEST(FileSystem, AFailedWriteLeavesTheTableClosed)
{
    TScratchDir dir;
    const std::string path = dir.File("failing.dbf");
    const TChoices choices{omSet, cpWin1251, true, false};
    for (const TFaultPlan faults : {TFaultPlan{-1, TFileFault::Fail, false}, TFaultPlan{-1, TFileFault::Short, false},
                                    TFaultPlan{-1, TFileFault::None, true}}) {
        WriteAll(path, SampleTable());
        const auto failed = CheckCorrection(path, choices, faults);
        EXPECT_TRUE(failed.empty()) << Describe(faults) << Lines(failed);
        {
            THoldingProcess flocker(path, THoldMode::Flock);
            EXPECT_TRUE(flocker.Holding()) << Describe(faults) << ": the table is still locked";
        }
        const auto next = CheckCorrection(path, choices);
        EXPECT_TRUE(next.empty()) << Describe(faults) << ", the next correction" << Lines(next);
    }
}
