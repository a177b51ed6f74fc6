// SPDX-License-Identifier: MIT
// Windows helpers for the tests: other processes, started from HoldFile.exe
// beside the test program, that hold a table or try once to open it.
#pragma once

#include <string>

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
