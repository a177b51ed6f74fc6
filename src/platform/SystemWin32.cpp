// SPDX-License-Identifier: MIT
// The command line's system needs on Windows: the wide command line, UTF-8
// on the console, files flushed with FlushFileBuffers.
#include "System.h"

#include <windows.h>  // lean, without min and max: see src/cli/CMakeLists.txt
#include <shellapi.h>

#include <climits>
#include <cstdio>
#include <io.h>

namespace {

std::string Utf16ToUtf8(std::wstring_view text)
{
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int, char**)
{
    // The narrow argv holds the names in the ANSI code page, with "?" for
    // every letter it cannot spell: the wide command line holds them whole.
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf16ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::filesystem::path NativePath(const std::string& name)
{
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string NameOf(const std::filesystem::path& path)
{
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

void PrepareConsole()
{
    SetConsoleOutputCP(CP_UTF8);
}

bool StandardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

bool WriteNewFileDurably(const std::string& name, std::span<const std::uint8_t> data)
{
    const std::wstring wide = NativePath(name).wstring();
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = data.size() <= MAXDWORD;
    if (written && !data.empty()) {
        DWORD put = 0;
        written = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) != 0 &&
                  put == data.size();
    }
    written = written && FlushFileBuffers(file) != 0;
    const bool closed = CloseHandle(file) != 0;
    if (!written || !closed) {
        DeleteFileW(wide.c_str());
        return false;
    }
    return true;
}
