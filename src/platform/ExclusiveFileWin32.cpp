// SPDX-License-Identifier: MIT
// The exclusive table file on Windows.
//
// Windows has share modes: a file opened with share mode 0 cannot be opened
// while anyone else has it open (with any access and any share mode), and no
// one else can open it while it is held. That is the whole exclusive open.
//
// Names arrive as UTF-8, as the user typed them. The ANSI calls are used for
// every name the ANSI code page can spell; a name it cannot spell (letters of
// another script) goes to the wide calls instead, so that every name a user
// can type reaches its file. A name that is not UTF-8 at all is taken to be in
// the ANSI code page already and handed to the ANSI calls unchanged. A name
// longer than MAX_PATH goes to the wide calls with the \\?\ prefix.
#include "ExclusiveFile.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <climits>
#include <optional>
#include <string_view>
#include <utility>

namespace {

// A name as the system calls take it: in the ANSI code page when it can be
// spelt there, else in UTF-16.
struct TSystemName {
    bool Wide = false;
    std::string Ansi;
    std::wstring Utf16;
};

bool IsAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// False when the text is not well-formed UTF-8.
bool Utf8ToUtf16(std::string_view text, std::wstring& out)
{
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return false;
    out.assign(static_cast<std::size_t>(length), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), length) == length;
}

// False when some character has no exact counterpart in the ANSI code page
// (no best-fit look-alikes: "ö" must not quietly become "o").
bool Utf16ToAnsi(std::wstring_view text, std::string& out)
{
    const int size = static_cast<int>(text.size());
    BOOL defaulted = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0, nullptr, &defaulted);
    if (length <= 0 || defaulted) return false;
    out.assign(static_cast<std::size_t>(length), '\0');
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, out.data(), length, nullptr,
                               &defaulted) == length &&
           !defaulted;
}

// A full name of MAX_PATH characters or more is beyond the ANSI calls and the
// plain wide ones; the \\?\ prefix lifts the limit from the wide calls. It
// also turns off the system's own tidying of the name, so the full name is
// made first (folders of relative names added, slashes turned, "." and ".."
// resolved).
bool LongName(const std::wstring& utf16, std::wstring& out)
{
    if (utf16.rfind(L"\\\\?\\", 0) == 0 || utf16.rfind(L"\\\\.\\", 0) == 0) {
        // Already a name the system takes as it stands.
        if (utf16.size() < MAX_PATH) return false;
        out = utf16;
        return true;
    }
    const DWORD needed = GetFullPathNameW(utf16.c_str(), 0, nullptr, nullptr);  // with the final 0
    if (needed <= MAX_PATH) return false;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(utf16.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return false;
    full.resize(length);
    out = full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
    return true;
}

TSystemName SystemName(const std::string& name)
{
    TSystemName result;
    std::wstring utf16;
    if (!Utf8ToUtf16(name, utf16)) {
        result.Ansi = name;  // not UTF-8: already in the ANSI code page
        return result;
    }
    if (LongName(utf16, result.Utf16)) {
        result.Wide = true;
        return result;
    }
    // ASCII is spelt the same in every ANSI code page; a process whose ANSI
    // code page is UTF-8 takes the name as it is.
    if (IsAscii(name) || GetACP() == CP_UTF8) {
        result.Ansi = name;
        return result;
    }
    if (Utf16ToAnsi(utf16, result.Ansi)) return result;
    result.Wide = true;
    result.Utf16 = std::move(utf16);
    return result;
}

// A 0 byte would cut the name short and name another file; * and ? would make
// the existence test match a pattern. No file of the name can exist. (The ?
// of a leading \\?\, which takes a name as it stands, is no pattern.)
bool CannotNameAFile(const std::string& name)
{
    if (name.empty() || name.find('\0') != std::string::npos) return true;
    const std::size_t start = name.rfind("\\\\?\\", 0) == 0 ? 4 : 0;
    return name.find_first_of("*?", start) != std::string::npos;
}

// The file's length and last-write time as the system has them now.
std::optional<TFileState> CurrentState(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info) == 0) return std::nullopt;
    TFileState state;
    state.Size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const FILETIME& written = info.ftLastWriteTime;
    state.ModifiedSeconds =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    return state;
}

// Moves to the absolute position; false when it cannot be reached.
bool Seek(HANDLE file, std::uint64_t position)
{
    if (position > static_cast<std::uint64_t>(LLONG_MAX)) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

bool TExclusiveFile::Exists(const std::string& name)
{
    if (CannotNameAFile(name)) return false;
    const TSystemName systemName = SystemName(name);
    if (systemName.Wide) {
        WIN32_FIND_DATAW data;
        HANDLE found = FindFirstFileW(systemName.Utf16.c_str(), &data);
        if (found == INVALID_HANDLE_VALUE) return false;
        FindClose(found);
        return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    WIN32_FIND_DATAA data;
    HANDLE found = FindFirstFileA(systemName.Ansi.c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) return false;
    FindClose(found);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string TExclusiveFile::BaseName(const std::string& name)
{
    // A backslash or a colon (the drive in "C:table.dbf") ends the directory;
    // so does a forward slash, which Windows takes as a backslash.
    const auto separator = name.find_last_of("\\:/");
    return separator == std::string::npos ? name : name.substr(separator + 1);
}

bool TExclusiveFile::Open(const std::string& name)
{
    Close();
    if (CannotNameAFile(name)) return false;
    if (InjectedFault(TFileOp::Open, 0, 0) != TFileFault::None) return false;
    const TSystemName systemName = SystemName(name);
    // Share mode 0: fails with a sharing violation while anyone else has the
    // file open, and keeps everyone else out while it is held. The handle is
    // not inherited by programs this one starts.
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
    constexpr DWORD kNoSharing = 0;
    HANDLE file = systemName.Wide
        ? CreateFileW(systemName.Utf16.c_str(), kAccess, kNoSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr)
        : CreateFileA(systemName.Ansi.c_str(), kAccess, kNoSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // The name may have been replaced by something other than a table since
    // it was looked at (a device such as CON or NUL, a pipe).
    const auto seen = GetFileType(file) == FILE_TYPE_DISK ? CurrentState(file) : std::nullopt;
    if (!seen) {
        CloseHandle(file);
        return false;
    }
    FHandle = file;
    FName = name;
    FSeen = *seen;
    return true;
}

bool TExclusiveFile::OpenShared(const std::string& name)
{
    Close();
    if (CannotNameAFile(name)) return false;
    if (InjectedFault(TFileOp::Open, 0, 0) != TFileFault::None) return false;
    const TSystemName systemName = SystemName(name);
    // Reading only, sharing reading and writing: opens beside another
    // program that has the table open, as long as that program shares it.
    constexpr DWORD kAccess = GENERIC_READ;
    constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = systemName.Wide
        ? CreateFileW(systemName.Utf16.c_str(), kAccess, kSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
        : CreateFileA(systemName.Ansi.c_str(), kAccess, kSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return false;
    }
    FHandle = file;
    FShared = true;
    FName = name;
    return true;
}

bool TExclusiveFile::IsOpen() const
{
    return FHandle != nullptr;
}

bool TExclusiveFile::HoldIntact() const
{
    // Share mode 0 keeps every other program out, and the name from being
    // moved or replaced, for as long as the handle is open. The length and
    // the last-write time are compared all the same: they cost one call, and
    // a file server that does not keep share modes is not kept out by them.
    // A file opened to be read alone is not held at all.
    return FHandle != nullptr && !FShared && CurrentState(FHandle) == FSeen;
}

bool TExclusiveFile::ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer)
{
    if (FHandle == nullptr) return false;
    if (buffer.empty()) return true;
    if (InjectedFault(TFileOp::Read, position, buffer.size()) != TFileFault::None) return false;
    if (buffer.size() > MAXDWORD || !Seek(FHandle, position)) return false;
    const auto size = static_cast<DWORD>(buffer.size());
    DWORD got = 0;
    return ReadFile(FHandle, buffer.data(), size, &got, nullptr) != 0 && got == size;
}

bool TExclusiveFile::ReadFreshAt(std::uint64_t position, std::span<std::uint8_t> buffer)
{
    // While the handle keeps every other writer out, what the system caches
    // of the file is the file.
    return ReadAt(position, buffer);
}

bool TExclusiveFile::WriteAt(std::uint64_t position, std::span<const std::uint8_t> data)
{
    if (FHandle == nullptr || FShared) return false;
    if (data.empty()) return true;
    const auto injected = InjectedWriteSize(position, data.size());
    if (!injected) return false;
    const std::size_t size = *injected;
    if (size > MAXDWORD || !Seek(FHandle, position)) return false;
    DWORD put = 0;
    return WriteFile(FHandle, data.data(), static_cast<DWORD>(size), &put, nullptr) != 0 && put == data.size();
}

bool TExclusiveFile::Flush()
{
    if (FHandle == nullptr) return false;
    if (InjectedFault(TFileOp::Flush, 0, 0) != TFileFault::None) return false;
    return FlushFileBuffers(FHandle) != 0;
}

void TExclusiveFile::Close()
{
    if (FHandle == nullptr) return;
    // Closing the handle lets other programs in again.
    CloseHandle(FHandle);
    FHandle = nullptr;
    FShared = false;
    FName.clear();
    FSeen = {};
}

std::optional<std::uint64_t> TExclusiveFile::Size() const
{
    LARGE_INTEGER size;
    if (FHandle == nullptr || GetFileSizeEx(FHandle, &size) == 0 || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}
