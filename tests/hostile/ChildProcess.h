// Runs a piece of a test in another process: a second copy of the tool, or
// the tool as an unprivileged user, and brings back what it was told.
#pragma once

#include "Invariants.h"

#include <functional>

namespace hostile {

// Runs body in a forked child and returns its run. With unprivileged set and
// this process running as root, the child first becomes the user "nobody"
// (all ids, no supplementary groups), so that file permissions apply to it.
// A child that dies or cannot drop its privileges comes back with raised set.
TRun RunInChild(const std::function<TRun()>& body, bool unprivileged = false);

// The user and group ids of "nobody".
unsigned NobodyUid();
unsigned NobodyGid();

}  // namespace hostile
