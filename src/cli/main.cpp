// SPDX-License-Identifier: MIT
// dbffix: the command-line companion of the window, on the same core.
#include "DbfFix.h"
#include "System.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    int status = 0;
    {
        const TConsoleStreams console(std::cout, std::cerr);
        status = DbfFixMain(CommandLineArguments(argc, argv), std::cout, std::cerr, StandardErrorIsTerminal());
    }
    std::cout.flush();
    return status;
}
