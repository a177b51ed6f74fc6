// SPDX-License-Identifier: MIT
// The window's command line as untrusted input: any bytes, split at zero
// bytes into arguments, read as both systems read them. The rule must come
// back with a name or a mistake (or neither), never both, never a name that
// holds a zero byte, and a mistake's text must stay one bounded paragraph
// whatever the arguments hold.
#include "CommandLine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back() += static_cast<char>(data[i]);
        }
    }
    for (const TNameSystem system : {TNameSystem::Posix, TNameSystem::Windows}) {
        const TCommandLineTable table = TableFromCommandLine(arguments, system);
        if (!table.name.empty() && !table.error.empty()) std::abort();
        if (table.name.find('\0') != std::string::npos) std::abort();
        // Three names of at most 200 bytes each, escapes at four bytes a byte,
        // and the sentence around them.
        if (table.error.size() > 4 * 3 * 200 + 1024) std::abort();
        for (const char c : table.error) {
            if (static_cast<unsigned char>(c) < 0x20) std::abort();
        }
        // A name is never longer than what was given: escapes only shrink.
        std::size_t given = 0;
        for (const std::string& argument : arguments) given += argument.size();
        if (table.name.size() > given + 1) std::abort();
    }
    return 0;
}
