// SPDX-License-Identifier: MIT
#include "ChildProcess.h"

#include <cstring>
#include <poll.h>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hostile {

namespace {

// What the child did, as texts each ended by a 0 byte: the raised text (empty
// when none), the leak count, then the messages.
std::string Serialise(const TRun& run)
{
    std::string out;
    const auto add = [&](const std::string& text) { out += text + '\0'; };
    add(run.raised ? "R" + *run.raised : std::string("-"));
    add(run.raisedWriteError ? "W" : "-");
    add(std::to_string(run.descriptorsLeaked));
    for (const auto& message : run.messages) add(message);
    return out;
}

TRun Deserialise(const std::string& data)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end = data.find('\0'); end != std::string::npos; end = data.find('\0', start)) {
        parts.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    TRun run;
    if (parts.size() < 3) {
        run.raised = "the child process ended without telling what it did";
        return run;
    }
    if (parts[0] != "-") run.raised = parts[0].substr(1);
    run.raisedWriteError = parts[1] == "W";
    run.descriptorsLeaked = std::stoi(parts[2]);
    run.messages.assign(parts.begin() + 3, parts.end());
    return run;
}

bool DropTo(const std::optional<TAccount>& as)
{
    if (!as || geteuid() != 0) return true;  // nothing asked, or already unprivileged
    const bool dropped = setgroups(0, nullptr) == 0 && setresgid(as->gid, as->gid, as->gid) == 0 &&
                         setresuid(as->uid, as->uid, as->uid) == 0 && geteuid() == as->uid;
    // Changing ids makes a process undumpable, which hides its /proc entries
    // from its own user; a process the user started normally is dumpable.
    return dropped && prctl(PR_SET_DUMPABLE, 1) == 0;
}

bool Readable(int fd, int milliseconds)
{
    pollfd wanted{fd, POLLIN, 0};
    return poll(&wanted, 1, milliseconds) == 1;
}

void WriteAllOf(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = write(fd, data.data() + done, data.size() - done);
        if (put <= 0) return;
        done += static_cast<std::size_t>(put);
    }
}

std::string ReadToEnd(int fd)
{
    std::string data;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) data.append(buffer, static_cast<std::size_t>(got));
    return data;
}

}  // namespace

TChild::TChild(const std::function<TRun(TChild&)>& body, bool unprivileged)
    : TChild(body, unprivileged ? std::optional(Nobody()) : std::nullopt)
{
}

TChild::TChild(const std::function<TRun(TChild&)>& body, std::optional<TAccount> as)
{
    if (pipe(FToChild) != 0 || pipe(FToParent) != 0 || pipe(FResult) != 0) return;
    FPid = fork();
    if (FPid == 0) {
        close(FToChild[1]);
        close(FToParent[0]);
        close(FResult[0]);
        TRun run;
        if (!DropTo(as)) {
            run.raised = "the child could not become user " + std::to_string(as->uid);
        } else {
            run = body(*this);
        }
        WriteAllOf(FResult[1], Serialise(run));
        _exit(0);
    }
    close(FToChild[0]);
    close(FToParent[1]);
    close(FResult[1]);
    FToChild[0] = FToParent[1] = FResult[1] = -1;
}

TChild::~TChild()
{
    if (FPid > 0 && !FCollected) {
        // A child left waiting is not left behind.
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    for (int fd : {FToChild[1], FToParent[0], FResult[0]}) {
        if (fd >= 0) close(fd);
    }
}

bool TChild::WaitForSignal(int milliseconds)
{
    char byte = 0;
    return FPid > 0 && Readable(FToParent[0], milliseconds) && read(FToParent[0], &byte, 1) == 1;
}

void TChild::Go()
{
    const char byte = 'g';
    (void)!write(FToChild[1], &byte, 1);
}

bool TChild::FinishedWithin(int milliseconds)
{
    return FPid > 0 && Readable(FResult[0], milliseconds);
}

TRun TChild::Result()
{
    TRun run;
    if (FPid <= 0) {
        run.raised = "no child process";
        return run;
    }
    if (!FinishedWithin(30000)) {
        run.raised = "the child process did not finish";
        return run;
    }
    run = Deserialise(ReadToEnd(FResult[0]));
    int status = 0;
    waitpid(FPid, &status, 0);
    FCollected = true;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        run.raised = "the child process failed (status " + std::to_string(status) + ")";
    }
    return run;
}

void TChild::Signal()
{
    const char byte = 's';
    (void)!write(FToParent[1], &byte, 1);
}

bool TChild::WaitForGo(int milliseconds)
{
    char byte = 0;
    return Readable(FToChild[0], milliseconds) && read(FToChild[0], &byte, 1) == 1;
}

unsigned NobodyUid()
{
    const passwd* nobody = getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534U;
}

unsigned NobodyGid()
{
    const passwd* nobody = getpwnam("nobody");
    return nobody ? nobody->pw_gid : 65534U;
}

TAccount Nobody()
{
    return {NobodyUid(), NobodyGid()};
}

TAccount Stranger()
{
    return {NobodyUid() - 1, NobodyGid() - 1};
}

TRun RunInChild(const std::function<TRun()>& body, bool unprivileged)
{
    return RunInChild(body, unprivileged ? std::optional(Nobody()) : std::nullopt);
}

TRun RunInChild(const std::function<TRun()>& body, std::optional<TAccount> as)
{
    int channel[2];
    if (pipe(channel) != 0) {
        TRun failed;
        failed.raised = "no pipe to the child";
        return failed;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        TRun run;
        if (!DropTo(as)) {
            run.raised = "the child could not become user " + std::to_string(as->uid);
        } else {
            run = body();
        }
        const std::string data = Serialise(run);
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t put = write(channel[1], data.data() + done, data.size() - done);
            if (put <= 0) break;
            done += static_cast<std::size_t>(put);
        }
        _exit(0);
    }
    close(channel[1]);
    std::string data;
    char buffer[4096];
    for (ssize_t got; pid > 0 && (got = read(channel[0], buffer, sizeof buffer)) > 0;) {
        data.append(buffer, static_cast<std::size_t>(got));
    }
    close(channel[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    TRun run = Deserialise(data);
    if (pid <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        run.raised = "the child process failed (status " + std::to_string(status) + ")";
    }
    return run;
}

}  // namespace hostile
