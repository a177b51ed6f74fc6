// SPDX-License-Identifier: MIT
// libFuzzer target: any bytes as the list --files-from reads, split both by
// lines and by NUL bytes. Whatever the bytes, the reading ends, every name it
// keeps is a piece of the input free of its separator, and the names together
// are never longer than the input. A broken rule aborts the run.
#include "FuzzTableFile.h"
#include "TablePaths.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (const bool nul : {false, true}) {
        std::istringstream in(input);
        std::vector<std::string> names;
        std::string error;
        const bool read = ReadFileList(in, nul, names, error);
        Require(read == error.empty(), "a failed reading says why, a good one says nothing");
        std::size_t total = 0;
        for (const auto& name : names) {
            Require(!name.empty(), "no empty names");
            Require(name.find(nul ? '\0' : '\n') == std::string::npos, "no separator inside a name");
            Require(input.find(name) != std::string::npos, "a name is a piece of the input");
            total += name.size();
        }
        Require(total <= size, "the names are no longer than the input");
    }
    return 0;
}
