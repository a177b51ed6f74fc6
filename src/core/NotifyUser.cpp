// SPDX-License-Identifier: MIT
#include "NotifyUser.h"

#include <cstdio>
#include <utility>

namespace {
NotifyUserHandler& Presenter()
{
    static NotifyUserHandler presenter;
    return presenter;
}
}  // namespace

void NotifyUser(const std::string& text)
{
    if (const auto& presenter = Presenter()) {
        presenter(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

NotifyUserHandler SetNotifyUserHandler(NotifyUserHandler handler)
{
    return std::exchange(Presenter(), std::move(handler));
}
