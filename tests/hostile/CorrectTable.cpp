// SPDX-License-Identifier: MIT
// A command-line driver of one correction, for tests written outside C++
// (the comparison with independent table readers):
//
//   dbf_correct FILE OFFSET-MODE CODE-PAGE-CHOICE REMOVE-INDEX INSERT-DATE [YEAR MONTH DAY]
//
// Prints every message on a line of its own. Exit status: 0 after the
// summary, 1 when the table refused, 2 after "Stream write error".
#include "NotifyUser.h"
#include "ProcessFile.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 6 && argc != 9) {
        std::fprintf(stderr, "usage: %s FILE OFFSET-MODE CODE-PAGE-CHOICE REMOVE-INDEX INSERT-DATE [YEAR MONTH DAY]\n",
                     argv[0]);
        return 64;
    }
    const auto number = [&](int i) { return std::atoi(argv[i]); };
    std::chrono::year_month_day date{std::chrono::year{2024}, std::chrono::month{3}, std::chrono::day{5}};
    if (argc == 9) {
        date = std::chrono::year_month_day{std::chrono::year{number(6)}, std::chrono::month{static_cast<unsigned>(number(7))},
                                           std::chrono::day{static_cast<unsigned>(number(8))}};
    }
    bool summary = false;
    SetNotifyUserHandler([&](const std::string& text) {
        std::printf("%s\n", text.c_str());
        summary = text.rfind("Готово! ", 0) == 0;
    });
    try {
        ProcessFile(argv[1], number(2), number(3), number(4) != 0, number(5) != 0, date);
    } catch (const EStreamWriteError& error) {
        std::printf("%s\n", error.what());
        return 2;
    }
    return summary ? 0 : 1;
}
