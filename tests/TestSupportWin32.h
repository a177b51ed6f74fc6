// SPDX-License-Identifier: MIT
// Windows helpers for the tests: other processes, started from HoldFile.exe
// beside the test program, that hold a table or try once to open it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A file's bytes, as TestSupport.h has them (HoldFile needs nothing else of it).
using TBytes = std::vector<std::uint8_t>;

// The event that lets a holding HoldFile process go; named by its process id.
inline std::wstring ReleaseEventName(unsigned long processId)
{
    return L"Local\\dbftest-release-" + std::to_wstring(processId);
}

// Another process that holds the file until this object is gone. ACCESS,
// SHARE and HOW as HoldFile takes them: "r", "w" or "rw"; letters of "rwd" or
// "-" for no sharing; "open", "map" or "lock".
class TFileHolder {
public:
    TFileHolder(const std::string& path, const std::string& access, const std::string& share, const std::string& how);
    ~TFileHolder();
    TFileHolder(const TFileHolder&) = delete;
    TFileHolder& operator=(const TFileHolder&) = delete;
    [[nodiscard]] bool Holding() const { return FAnswer == "y"; }
    // What the other process said: "y", or "n" and its error code.
    [[nodiscard]] const std::string& Answer() const { return FAnswer; }

private:
    void* FProcess = nullptr;
    std::string FAnswer;
};

// The error code of one CreateFileA of the file in another process (0 when
// the open succeeded), or ~0 when the other process could not be run.
unsigned long OpenFromAnotherProcess(const std::string& path, const std::string& access, const std::string& share);

// Starts HoldFile holding the file; its process handle goes to process, and
// the answer is returned. ReleaseHolder lets it go and waits for its end.
std::string StartHolder(const std::string& path, const std::string& access, const std::string& share,
                        const std::string& how, void*& process);
void ReleaseHolder(void*& process);

// A UTF-8 text in UTF-16.
std::wstring Widen(const std::string& utf8);

// Folders and a table below a folder, deeper than MAX_PATH allows the plain
// calls to reach (the table's full name is over 300 characters); made and
// removed with the \\?\ prefix.
class TDeepTable {
public:
    TDeepTable(const std::filesystem::path& top, const TBytes& table);
    ~TDeepTable();
    TDeepTable(const TDeepTable&) = delete;
    TDeepTable& operator=(const TDeepTable&) = delete;

    [[nodiscard]] bool Made() const { return FMade; }
    // The table's full name without the prefix, in UTF-8.
    [[nodiscard]] std::string Name() const;
    // The folder above the table's, without the prefix.
    [[nodiscard]] std::filesystem::path Parent() const { return FFolders[FFolders.size() - 2].substr(4); }
    [[nodiscard]] std::string LastFolder() const { return std::filesystem::path(FFolders.back()).filename().string(); }
    bool Write(const TBytes& bytes) const;
    [[nodiscard]] TBytes Read() const;

private:
    std::vector<std::wstring> FFolders;
    std::wstring FFile;
    bool FMade = false;
};
