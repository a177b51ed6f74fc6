// SPDX-License-Identifier: MIT
// The installer as a user runs it: a silent install into a folder of the
// user's choice, what it puts in place (both programs, the guide, the
// Start-menu entry, the Explorer verb for .dbf tables without taking the
// association), dbffix.exe from the installed folder on a DOS 866 table and on
// a folder tree deeper than MAX_PATH, and the silent uninstall taking all of
// it back.
#include "CliTestSupport.h"
#include "TestSupportWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Runs the command line and waits for its end; its exit code, or nothing
// when it could not be started or did not end in time.
std::optional<DWORD> RunAndWait(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return std::nullopt;
    }
    CloseHandle(process.hThread);
    std::optional<DWORD> code;
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (GetExitCodeProcess(process.hProcess, &exitCode)) code = exitCode;
    }
    CloseHandle(process.hProcess);
    return code;
}

// The value as the registry holds it in either hive, or nothing when the key
// or the value is absent from both.
std::optional<std::wstring> RegistryText(const std::wstring& key, const std::wstring& name)
{
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        wchar_t data[1024];
        DWORD size = sizeof data;
        if (RegGetValueW(hive, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ, nullptr, data,
                         &size) == ERROR_SUCCESS) {
            return std::wstring(data);
        }
    }
    return std::nullopt;
}

bool RegistryKeyExists(const std::wstring& key)
{
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS) {
            RegCloseKey(opened);
            return true;
        }
    }
    return false;
}

fs::path KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH];
    return SHGetFolderPathW(nullptr, csidl, nullptr, 0, path) == S_OK ? fs::path(path) : fs::path();
}

// A Start-menu entry, for all users or for this one.
bool StartMenuEntryExists(const wchar_t* name)
{
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        std::error_code error;
        if (fs::exists(KnownFolder(csidl) / L"DbfHeaderFix" / name, error)) return true;
    }
    return false;
}

// A name for the test's messages, whatever letters it has.
std::string Shown(const fs::path& path)
{
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

// The window's and the guide's.
const std::vector<const wchar_t*> kStartMenuEntries = {L"DbfHeaderFix.lnk", L"Прочти меня.lnk"};

// Russian text stored in DOS code page 866 (А..я, Ё, ё; the rest as it is).
std::string Dos866(std::wstring_view text)
{
    std::string out;
    for (const wchar_t c : text) {
        if (c == L'Ё' || c == L'ё') {
            out.push_back(static_cast<char>(c == L'Ё' ? 0xF0 : 0xF1));
        } else if (c >= L'А' && c <= L'п') {
            out.push_back(static_cast<char>(0x80 + (c - L'А')));
        } else if (c >= L'р' && c <= L'я') {
            out.push_back(static_cast<char>(0xE0 + (c - L'р')));
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

// A table of people kept in DOS 866 whose header names no code page.
TTableLayout Dos866Table()
{
    TTableLayout layout;
    layout.fields = {{"NAME", 'C', 40}, {"CITY", 'C', 30}};
    layout.languageDriver = 0;
    layout.junk = 0;
    layout.mdxFlag = 0;
    for (const auto& [name, city] : std::initializer_list<std::pair<std::wstring_view, std::wstring_view>>{
             {L"Иванов Иван Петрович", L"Москва"},
             {L"Петрова Мария Сергеевна", L"Санкт-Петербург"},
             {L"Сидоров Алексей Николаевич", L"Новосибирск"},
             {L"Кузнецова Ольга Викторовна", L"Екатеринбург"},
             {L"Смирнов Дмитрий Андреевич", L"Казань"},
             {L"Попова Елена Игоревна", L"Нижний Новгород"},
             {L"Васильев Сергей Юрьевич", L"Самара"},
             {L"Новикова Татьяна Ивановна", L"Уфа"},
             {L"Фёдоров Николай Васильевич", L"Красноярск"},
             {L"Морозова Юлия Александровна", L"Воронеж"},
         }) {
        layout.rows.push_back({Dos866(name), Dos866(city)});
    }
    layout.recordCount = static_cast<std::uint32_t>(layout.rows.size());
    return layout;
}

std::wstring Quoted(const fs::path& path)
{
    return L"\"" + path.wstring() + L"\"";
}

const std::wstring kVerbKey = L"Software\\Classes\\SystemFileAssociations\\.dbf\\shell\\DbfHeaderFix";
const std::wstring kApplicationKey = L"Software\\Classes\\Applications\\DbfHeaderFix.exe";
const std::wstring kOpenWithKey = L"Software\\Classes\\.dbf\\OpenWithList\\DbfHeaderFix.exe";
const std::wstring kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DbfHeaderFix";
struct TValue {
    std::wstring Key, Name, Expected;
};

// What other programs keep for .dbf files, which the installer must leave
// and the uninstaller must not take with its own keys.
const std::vector<TValue> kOthersValues = {
    {L"Software\\Classes\\.dbf", L"", L"OtherProgram.Table"},
    {L"Software\\Classes\\.dbf\\OpenWithList", L"a", L"other.exe"},
    {L"Software\\Classes\\SystemFileAssociations\\.dbf", L"PerceivedType", L"document"},
};

void ExpectValues(const std::vector<TValue>& values)
{
    for (const auto& value : values) {
        EXPECT_EQ(RegistryText(value.Key, value.Name), std::optional<std::wstring>(value.Expected))
            << Shown(value.Key + L" " + value.Name);
    }
}

TEST(Installer, InstallsRunsAndUninstallsSilently)
{
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const auto& value : kOthersValues) {
            const wchar_t* name = value.Name.empty() ? nullptr : value.Name.c_str();
            const auto size = static_cast<DWORD>((value.Expected.size() + 1) * sizeof(wchar_t));
            ASSERT_EQ(RegSetKeyValueW(hive, value.Key.c_str(), name, REG_SZ, value.Expected.c_str(), size),
                      ERROR_SUCCESS);
        }
    }
    TScratchDir dir;
    // A folder name no ANSI code page but Cyrillic ones can spell, with a space.
    const fs::path folder = dir.Path() / L"Программы DbfHeaderFix";
    ASSERT_EQ(RunAndWait(Quoted(DBF_INSTALLER) + L" /S /D=" + folder.wstring()), std::optional<DWORD>(0));

    for (const wchar_t* file :
         {L"DbfHeaderFix.exe", L"dbffix.exe", L"LICENSE.txt", L"README-ru.txt", L"Uninstall.exe"}) {
        EXPECT_TRUE(fs::is_regular_file(folder / file)) << Shown(file);
    }
    EXPECT_FALSE(fs::exists(folder / L"bin"));
    for (const wchar_t* entry : kStartMenuEntries) EXPECT_TRUE(StartMenuEntryExists(entry)) << Shown(entry);

    const std::wstring command = Quoted(folder / L"DbfHeaderFix.exe") + L" \"%1\"";
    ExpectValues({
        {kVerbKey, L"", L"Исправить шапку DBF"},
        {kVerbKey + L"\\command", L"", command},
        {kApplicationKey + L"\\shell\\open\\command", L"", command},
        {kApplicationKey + L"\\SupportedTypes", L".dbf", L""},
        {kOpenWithKey, L"", L""},
    });
    ExpectValues(kOthersValues);
    EXPECT_TRUE(RegistryKeyExists(kUninstallKey));

    // dbffix.exe from the installed folder: the code page settled by the
    // records' encoding, and a table deeper than MAX_PATH reached by a walk.
    const fs::path dbffix = folder / L"dbffix.exe";
    const fs::path dos866 = dir.Path() / L"клиенты.dbf";
    WriteAll(dos866, Dos866Table().Build());
    EXPECT_EQ(RunAndWait(Quoted(dbffix) + L" fix --codepage=auto " + Quoted(dos866)), std::optional<DWORD>(esOk));
    EXPECT_EQ(ReadAll(dos866).at(29), 38);
    TScratchDir tree;
    TDeepTable deep(tree.Path(), WrongTable().Build());
    ASSERT_TRUE(deep.Made());
    EXPECT_EQ(RunAndWait(Quoted(dbffix) + L" check --recursive " + Quoted(tree.Path())),
              std::optional<DWORD>(esWouldChange));
    EXPECT_EQ(RunAndWait(Quoted(dbffix) + L" fix --recursive " + Quoted(tree.Path())), std::optional<DWORD>(esOk));
    EXPECT_NE(deep.Read(), WrongTable().Build());

    // The uninstaller runs from a copy of itself and ends before the copy
    // does: wait for the folder to go.
    ASSERT_EQ(RunAndWait(Quoted(folder / L"Uninstall.exe") + L" /S"), std::optional<DWORD>(0));
    std::error_code error;
    for (int i = 0; i < 600 && fs::exists(folder, error); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(fs::exists(folder, error)) << [&] {
        std::string left;
        for (const auto& entry : fs::directory_iterator(folder, error)) left += " " + Shown(entry.path().filename());
        return "left:" + left;
    }();
    for (const wchar_t* entry : kStartMenuEntries) EXPECT_FALSE(StartMenuEntryExists(entry)) << Shown(entry);
    for (const auto& key : {kVerbKey, kApplicationKey, kOpenWithKey, kUninstallKey}) {
        EXPECT_FALSE(RegistryKeyExists(key)) << Shown(key);
    }
    ExpectValues(kOthersValues);
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const auto& value : kOthersValues) RegDeleteTreeW(hive, value.Key.c_str());
    }
}

}  // namespace
