// SPDX-License-Identifier: MIT
// dbffix: the command-line companion of the window, on the same core.
#include "DbfFix.h"
#include "System.h"

#include <iostream>

int main(int argc, char** argv)
{
    PrepareConsole();
    std::ios::sync_with_stdio(false);
    const int status = DbfFixMain(CommandLineArguments(argc, argv), std::cout, std::cerr, StandardErrorIsTerminal());
    std::cout.flush();
    return status;
}
