// SPDX-License-Identifier: MIT
// Another program for the Windows tests: holds a table the way other programs
// do, or tries once to open it.
//
//   HoldFile hold ACCESS SHARE HOW PATH
//       Opens PATH (ACCESS r, w or rw; SHARE any of the letters r, w, d, or -
//       for none), then with HOW open keeps the handle, with map maps the file
//       and closes the handle (the mapping alone keeps it), with lock also
//       locks the whole file. Writes "y" to standard output once it holds the
//       file, or "n" and the error code when it cannot, then waits until the
//       event named by ReleaseEventName(own process id) is set.
//
//   HoldFile probe ACCESS SHARE PATH
//       Tries CreateFileA once, writes the error code (0 when it opened), and
//       closes what it opened.
#include "TestSupportWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

DWORD Access(const std::wstring& letters)
{
    DWORD access = 0;
    if (letters.find(L'r') != std::wstring::npos) access |= GENERIC_READ;
    if (letters.find(L'w') != std::wstring::npos) access |= GENERIC_WRITE;
    return access;
}

DWORD Share(const std::wstring& letters)
{
    DWORD share = 0;
    if (letters.find(L'r') != std::wstring::npos) share |= FILE_SHARE_READ;
    if (letters.find(L'w') != std::wstring::npos) share |= FILE_SHARE_WRITE;
    if (letters.find(L'd') != std::wstring::npos) share |= FILE_SHARE_DELETE;
    return share;
}

std::string ToAnsi(const std::wstring& text)
{
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

void Answer(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// Holds the file as asked; 0 or the error code of the step that failed.
DWORD Hold(const std::wstring& access, const std::wstring& share, const std::wstring& how, const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), Access(access), Share(share), nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    if (how == L"map") {
        const bool writable = (Access(access) & GENERIC_WRITE) != 0;
        HANDLE mapping = CreateFileMappingW(file, nullptr, writable ? PAGE_READWRITE : PAGE_READONLY, 0, 0, nullptr);
        if (mapping == nullptr) return GetLastError();
        void* view = MapViewOfFile(mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0);
        if (view == nullptr) return GetLastError();
        CloseHandle(mapping);
        CloseHandle(file);
        return 0;
    }
    if (how == L"lock") {
        OVERLAPPED whole{};
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
            return GetLastError();
        }
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"probe" && argc == 5) {
        HANDLE file = CreateFileA(ToAnsi(argv[4]).c_str(), Access(argv[2]), Share(argv[3]), nullptr, OPEN_EXISTING,
                                  0, nullptr);
        const DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        std::printf("%lu", static_cast<unsigned long>(error));
        std::fflush(stdout);
        return 0;
    }
    if (verb == L"hold" && argc == 6) {
        // The event exists before the answer, so a release can never be missed.
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, ReleaseEventName(GetCurrentProcessId()).c_str());
        const DWORD error = release == nullptr ? GetLastError() : Hold(argv[2], argv[3], argv[4], argv[5]);
        if (error != 0) {
            std::printf("n %lu", static_cast<unsigned long>(error));
            std::fflush(stdout);
            return 1;
        }
        Answer("y");
        WaitForSingleObject(release, INFINITE);
        return 0;
    }
    std::fputs("usage: HoldFile hold ACCESS SHARE HOW PATH | HoldFile probe ACCESS SHARE PATH\n", stderr);
    return 2;
}
