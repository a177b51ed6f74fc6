// SPDX-License-Identifier: MIT
#include "TestSupport.h"
#include "TestSupportWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace {

// The folder of the test program, where HoldFile.exe stands too.
std::wstring ProgramFolder()
{
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (length == 0) return L".";
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        self.resize(self.size() * 2);
    }
    const auto slash = self.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : self.substr(0, slash);
}

// One argument quoted as the C runtime splits a command line: backslashes
// count only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& argument)
{
    line += L" \"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

// Runs HoldFile with the arguments, its standard output on a pipe whose
// reading end is returned. False when it cannot be started.
bool Launch(std::initializer_list<std::wstring> arguments, HANDLE& process, HANDLE& output)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&output, &writeEnd, &inheritable, 0)) return false;
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);

    const std::wstring folder = ProgramFolder();
    const std::wstring program = folder + L"\\HoldFile.exe";
    std::wstring line = L"\"" + program + L"\"";
    for (const auto& argument : arguments) AppendQuoted(line, argument);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    // It works in its own folder: a process's current folder cannot be
    // removed, and the test's may be a scratch folder.
    const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, folder.c_str(), &startup, &info);
    CloseHandle(writeEnd);  // the pipe ends when the other process lets go of it
    if (!started) {
        CloseHandle(output);
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    return true;
}

// Reads from the pipe until it ends, or until the first byte is 'y' (a
// holding process answers and keeps running).
std::string ReadAnswer(HANDLE output)
{
    std::string answer;
    char buffer[64];
    DWORD got = 0;
    while (ReadFile(output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        answer.append(buffer, got);
        if (answer == "y") break;
    }
    return answer;
}

}  // namespace

std::wstring Widen(const std::string& utf8)
{
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), length);
    return out;
}

std::string StartHolder(const std::string& path, const std::string& access, const std::string& share,
                        const std::string& how, void*& process)
{
    HANDLE started = nullptr;
    HANDLE output = nullptr;
    if (!Launch({L"hold", Widen(access), Widen(share), Widen(how), Widen(path)}, started, output)) {
        return "not started";
    }
    process = started;
    const std::string answer = ReadAnswer(output);
    CloseHandle(output);
    return answer;
}

void ReleaseHolder(void*& process)
{
    if (process == nullptr) return;
    if (HANDLE release = OpenEventW(EVENT_MODIFY_STATE, FALSE, ReleaseEventName(GetProcessId(process)).c_str())) {
        SetEvent(release);
        CloseHandle(release);
    }
    // Its handles are closed once it has ended.
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
    }
    CloseHandle(process);
    process = nullptr;
}

unsigned long OpenFromAnotherProcess(const std::string& path, const std::string& access, const std::string& share)
{
    HANDLE process = nullptr;
    HANDLE output = nullptr;
    if (!Launch({L"probe", Widen(access), Widen(share), Widen(path)}, process, output)) return ~0UL;
    const std::string answer = ReadAnswer(output);
    CloseHandle(output);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    char* end = nullptr;
    const unsigned long error = std::strtoul(answer.c_str(), &end, 10);
    return answer.empty() || *end != '\0' ? ~0UL : error;
}

TFileHolder::TFileHolder(const std::string& path, const std::string& access, const std::string& share,
                         const std::string& how)
    : FAnswer(StartHolder(path, access, share, how, FProcess))
{
}

TFileHolder::~TFileHolder()
{
    ReleaseHolder(FProcess);
}

// Windows has no flock or OFD locks; other xBase programs lock byte ranges
// with LockFileEx, on a handle opened with full sharing.
THoldingProcess::THoldingProcess(const std::string& path, THoldMode mode)
{
    const char* access = mode == THoldMode::Read ? "r" : "rw";
    const char* how = mode == THoldMode::Map ? "map" : mode == THoldMode::Flock || mode == THoldMode::OfdLock ? "lock"
                                                                                                             : "open";
    FHolding = StartHolder(path, access, "rwd", how, FProcess) == "y";
}

THoldingProcess::~THoldingProcess()
{
    ReleaseHolder(FProcess);
}

TDeepTable::TDeepTable(const std::filesystem::path& top, const TBytes& table)
{
    std::wstring folder = L"\\\\?\\" + top.wstring();
    for (wchar_t letter = L'a'; folder.size() < 300; ++letter) {
        folder += L"\\" + std::wstring(60, letter);
        if (!CreateDirectoryW(folder.c_str(), nullptr)) return;
        FFolders.push_back(folder);
    }
    FFile = folder + L"\\deep.dbf";
    FMade = Write(table);
}

TDeepTable::~TDeepTable()
{
    DeleteFileW(FFile.c_str());
    for (auto folder = FFolders.rbegin(); folder != FFolders.rend(); ++folder) RemoveDirectoryW(folder->c_str());
}

std::string TDeepTable::Name() const
{
    const std::u8string utf8 = std::filesystem::path(FFile.substr(4)).u8string();
    return std::string(utf8.begin(), utf8.end());
}

bool TDeepTable::Write(const TBytes& bytes) const
{
    HANDLE file = CreateFileW(FFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool written =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
    return CloseHandle(file) && written;
}

TBytes TDeepTable::Read() const
{
    TBytes bytes(4096);
    HANDLE file = CreateFileW(FFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}
