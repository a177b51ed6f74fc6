// SPDX-License-Identifier: MIT
// dbffix: the header correction for many tables at once, from the command
// line. show, check, fix and restore, each a function of its own.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit statuses, the same in every command.
enum TExitStatus : int {
    esOk = 0,
    esWouldChange = 1,   // check: some table would be corrected
    esFailed = 2,        // a table could not be read, was refused, or a write failed
    esUsage = 64,        // the command line was wrong
    esInterrupted = 130, // Ctrl-C: stopped after the table in hand
};

// Runs one command line (the arguments after the program's name): people's
// output on out, diagnostics and progress on err, a progress counter only
// when progress is asked for. Returns the exit status.
int DbfFixMain(std::vector<std::string> arguments, std::ostream& out, std::ostream& err, bool progress);
