// SPDX-License-Identifier: MIT
// The one way the table and the correction tell the user something.
//
// The presenter is installed by whoever shows texts (the window's message box,
// a test's recorder); with none installed the text goes to standard error.
#pragma once

#include <functional>
#include <string>

using NotifyUserHandler = std::function<void(const std::string&)>;

// Shows the text (UTF-8) and returns when the user has acknowledged it.
void NotifyUser(const std::string& text);

// Installs the presenter and returns the previous one.
NotifyUserHandler SetNotifyUserHandler(NotifyUserHandler handler);
