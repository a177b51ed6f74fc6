// SPDX-License-Identifier: MIT
// The application: its title, the window's font, UTF-8 and UTF-16, and the
// last line of defence against a failure that escapes a handler.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

std::wstring Utf16(std::string_view utf8);
std::string Utf8(std::wstring_view utf16);

// The program's arguments from the wide command line, without its name, as
// the system splits them (quotes, backslashes): a name outside the ANSI code
// page arrives whole.
std::vector<std::wstring> ProgramArguments();

// A window's text, as WM_GETTEXT gives it.
std::wstring WindowText(HWND window);

// The title from an executable's name (DIZEVU.EXE gives Dizevu), put in lower
// case by the system, which knows every script.
std::wstring ApplicationTitleOf(std::wstring_view executablePath);
// The title of the running program.
std::wstring ApplicationTitle();

// "MS Sans Serif", character height 13 pixels, with the Cyrillic character
// set asked for: every text of the window is Russian, and a face without
// Cyrillic letters must not be chosen for it in any system locale.
HFONT WindowFont();

// Runs a handler of the window. A failure that escapes it is shown in the
// error box, titled with the application's title, with the full-stop rule;
// it never travels on into the system's code that called the window.
void RunHandler(HWND owner, const std::function<void()>& handler);
