// SPDX-License-Identifier: MIT
// Runs a piece of a test in another process: a second copy of the tool, or
// the tool as an unprivileged user, and brings back what it was told.
#pragma once

#include "Invariants.h"

#include <functional>
#include <optional>

namespace hostile {

// A user a child process becomes: its user and group ids.
struct TAccount {
    unsigned uid = 0;
    unsigned gid = 0;
};

// "nobody", and a user of no name and no home, neither root nor nobody: the
// third party when a table belongs to one user and the tool runs as another.
TAccount Nobody();
TAccount Stranger();

// Runs body in a forked child and returns its run. With an account given and
// this process running as root, the child first becomes that user (all ids,
// no supplementary groups), so that file permissions apply to it; unprivileged
// is the account of "nobody". A child that dies or cannot drop its privileges
// comes back with raised set.
TRun RunInChild(const std::function<TRun()>& body, std::optional<TAccount> as);
TRun RunInChild(const std::function<TRun()>& body, bool unprivileged = false);

// A second process started at once and run alongside the test: it can signal
// the test, wait for its word, and hands back a run when its body ends. Every
// wait is bounded, so that a process kept waiting fails the test, not CI.
class TChild {
public:
    TChild(const std::function<TRun(TChild&)>& body, std::optional<TAccount> as);
    explicit TChild(const std::function<TRun(TChild&)>& body, bool unprivileged = false);
    ~TChild();
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    // In the test.
    bool WaitForSignal(int milliseconds);
    void Go();
    bool FinishedWithin(int milliseconds);
    TRun Result();

    // In the child's body.
    void Signal();
    bool WaitForGo(int milliseconds = 30000);

private:
    int FToChild[2] = {-1, -1};
    int FToParent[2] = {-1, -1};
    int FResult[2] = {-1, -1};
    int FPid = -1;
    bool FCollected = false;
};

// The user and group ids of "nobody".
unsigned NobodyUid();
unsigned NobodyGid();

}  // namespace hostile
