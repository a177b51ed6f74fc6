// SPDX-License-Identifier: MIT
// The window's command line: at most one table's name, as a file manager, a
// shell, Explorer's verb or a table dropped on the program's icon passes it.
// Neither toolkit here: both windows read their arguments through this rule.
#pragma once

#include <string>
#include <vector>

// How the system spells a file URL's path: /dir/table.dbf, or C:\dir\table.dbf
// and \\server\share\table.dbf.
enum class TNameSystem { Posix, Windows };

// What the command line asks of the window: a table's name to start with
// (bytes as given, or the path of a file URL), or a mistake told in the
// window's language. Both empty: start as usual, with an empty edit.
struct TCommandLineTable {
    std::string name;
    std::string error;
};

// arguments: the command line without the program's name, each argument's
// bytes as given (UTF-8 on Windows, from the wide command line). An argument
// beginning with "-" before "--" is an option, and the window knows none; an
// empty argument names nothing; "file:" URLs become their paths; more than
// one name is a mistake, so that no table is corrected that the user did not
// see named in the edit.
TCommandLineTable TableFromCommandLine(const std::vector<std::string>& arguments, TNameSystem system);
