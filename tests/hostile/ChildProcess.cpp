#include "ChildProcess.h"

#include <cstring>
#include <grp.h>
#include <pwd.h>
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

bool DropToNobody()
{
    if (geteuid() != 0) return true;  // already unprivileged
    return setgroups(0, nullptr) == 0 && setresgid(NobodyGid(), NobodyGid(), NobodyGid()) == 0 &&
           setresuid(NobodyUid(), NobodyUid(), NobodyUid()) == 0 && geteuid() == NobodyUid();
}

}  // namespace

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

TRun RunInChild(const std::function<TRun()>& body, bool unprivileged)
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
        if (unprivileged && !DropToNobody()) {
            run.raised = "the child could not become nobody";
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
