// SPDX-License-Identifier: MIT
// Two rules both windows follow: the application's title, and the text of a
// failure as the error box shows it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// The title from an executable's name: the name without its directory (either
// separator), cut before its first dot, every character after the first put
// in lower case by toLower (DIZEVU.EXE gives Dizevu). Lower case is the
// toolkit's: it knows every script.
std::u16string ApplicationTitleFromPath(std::u16string_view executablePath,
                                        const std::function<std::u16string(std::u16string_view)>& toLower);

// A full stop is added when the text (UTF-8) is not empty and its last
// character's code comes after the full stop's (46). The last byte decides:
// every byte of a character beyond ASCII is above 46 too.
std::string FailureText(std::string_view what);

// The text of a failure that is not a std::exception.
inline constexpr char kUnknownFailureText[] = "Unknown error";
