// SPDX-License-Identifier: MIT
// The window's handlers driven through its real controls: the process button
// clicked with BM_CLICK on real table files, the boxes answered as a user
// answers them, the file dialog and a file dropped from Explorer.
#include "BoxAnswerer.h"
#include "ExclusiveFile.h"
#include "TestSupport.h"
#include "Unit1.h"

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::wstring kGotovo = L"Готово! Кодовая страница ";

// Every field at offset 3, lower-case types, decimals on a character and a
// date field, junk in the reserved bytes and a stale index flag, as bad
// writers leave them; the numeric field's decimals are its own.
TTableLayout PeopleTable()
{
    TTableLayout layout;
    layout.fields = {{"ID", 'n', 6, 2, 3, 0x5A}, {"TITLE", 'c', 20, 1, 3}, {"BORN", 'd', 8, 3, 3}};
    layout.recordCount = 2;
    return layout;
}

class CorrectionTest : public testing::Test {
protected:
    void SetUp() override { ShowWindow(form.Handle, SW_SHOW); }
    void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }
    void SetName(const std::string& name) { SetWindowTextW(form.LabeledEdit1, Utf16(name).c_str()); }

    TForm1 form;
    TScratchDir dir;
};

TEST_F(CorrectionTest, EmptyNameShowsOnlyTheErrorBoxTitledWithTheCaption)
{
    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
    EXPECT_EQ(answerer.seen[0].text, L"Не указан файл!");
    EXPECT_EQ(answerer.seen[0].title, WindowText(form.Handle));
    EXPECT_TRUE(DbfFileName.empty());
}

TEST_F(CorrectionTest, NameOfOneSpaceGivesTheTwoTableMessagesInOrder)
{
    SetName(" ");
    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    EXPECT_EQ(DbfFileName, " ");
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[0].text, L"TableName: Недопустимый тип файла");
    EXPECT_EQ(answerer.seen[1].text, L"Open: Не найден файл ");
    for (const auto& box : answerer.seen) {
        EXPECT_EQ(box.kind, TBoxKind::Notify);
        EXPECT_EQ(box.title, ApplicationTitle());
    }
}

TEST_F(CorrectionTest, ProcessButtonCorrectsTheWholeHeaderWithTheChosenSettings)
{
    // A Cyrillic name: it reaches the file layer as UTF-8.
    const std::filesystem::path file = dir.Path() / L"клиенты.dbf";
    const std::string path = Utf8(file.wstring());
    const TBytes before = PeopleTable().Build();
    WriteAll(file, before);

    SetName(path);
    Click(form.RadioGroup1Items[1]);  // set the offsets
    Click(form.RadioGroup2Items[2]);  // 87
    Click(form.CheckBox2);            // insert the date
    SYSTEMTIME date{};
    date.wYear = 2024;
    date.wMonth = 3;
    date.wDay = 5;
    DateTime_SetSystemtime(form.DateTimePicker1, GDT_VALID, &date);

    TBoxAnswerer answerer;
    Click(form.BitBtn1);
    EXPECT_EQ(DbfFileName, path);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Notify);
    EXPECT_EQ(answerer.seen[0].text, kGotovo + L"101 -> 87");

    // The whole file as the correction must leave it.
    TTableLayout corrected = PeopleTable();
    corrected.fields = {{"ID", 'N', 6, 2, 1}, {"TITLE", 'C', 20, 0, 7}, {"BORN", 'D', 8, 0, 27}};
    corrected.lastUpdate[1] = 3;
    corrected.lastUpdate[2] = 5;
    corrected.mdxFlag = 0;
    corrected.languageDriver = 87;
    corrected.junk = 0;
    EXPECT_EQ(ReadAll(file), corrected.Build());

    // The window keeps every choice and the name...
    EXPECT_EQ(Utf8(WindowText(form.LabeledEdit1)), path);
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 1);
    EXPECT_EQ(form.RadioGroup2ItemIndex(), 2);
    EXPECT_EQ(SendMessageW(form.CheckBox1, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(form.CheckBox2, BM_GETCHECK, 0, 0), BST_CHECKED);
    // ...so the same click again finds the code page already in place.
    Click(form.BitBtn1);
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[1].text, kGotovo + L"87 - не изменилась");
}

TEST_F(CorrectionTest, FailedWriteShowsStreamWriteErrorAndTheWindowGoesOn)
{
    const std::string path = dir.File("locked.dbf");
    const TBytes before = PeopleTable().Build();
    WriteAll(path, before);
    SetName(path);

    TBoxAnswerer answerer;
    auto previous = SetFileFaultHook([](TFileOp op, std::uint64_t, std::size_t) {
        return op == TFileOp::Write ? TFileFault::Fail : TFileFault::None;
    });
    Click(form.BitBtn1);
    SetFileFaultHook(previous);

    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
    EXPECT_EQ(answerer.seen[0].text, L"Stream write error.");
    EXPECT_EQ(answerer.seen[0].title, ApplicationTitle());
    EXPECT_EQ(ReadAll(path), before);

    // The table was let go, and the next click corrects it.
    Click(form.BitBtn1);
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[1].kind, TBoxKind::Notify);
    EXPECT_EQ(answerer.seen[1].text, kGotovo + L"101");
    EXPECT_EQ(ReadAll(path)[28], 0);
}

TEST_F(CorrectionTest, FileDialogPutsTheFullNameStartsWithTheLastChosenAndCancelKeepsTheEdit)
{
    const std::wstring chosen = Utf16(dir.File("new.dbf"));
    TBoxAnswerer answerer;
    answerer.OnFileDialog = [&](HWND dialog) {
        SetDlgItemTextW(dialog, kFileNameBox, chosen.c_str());
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    };
    Click(form.SpeedButton1);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::FileDialog);
    EXPECT_EQ(answerer.seen[0].text, L"");
    // A file that does not exist yet is accepted; Open reports it later.
    const std::wstring shown = WindowText(form.LabeledEdit1);
    EXPECT_EQ(shown.substr(shown.size() - 7), L"new.dbf");
    EXPECT_EQ(shown.find(L'/'), std::wstring::npos) << Utf8(shown);
    EXPECT_EQ(form.OpenDialog1FileName(), shown);

    SetWindowTextW(form.LabeledEdit1, L"other.dbf");
    answerer.OnFileDialog = nullptr;  // cancelled
    Click(form.SpeedButton1);
    ASSERT_EQ(answerer.seen.size(), 2U);
    // The dialog opens in the chosen file's folder with its name.
    EXPECT_EQ(answerer.seen[1].text, L"new.dbf");
    EXPECT_EQ(WindowText(form.LabeledEdit1), L"other.dbf");
}

TEST_F(CorrectionTest, FileDroppedFromExplorerGoesIntoTheEdit)
{
    const std::wstring file = Utf16(dir.File("брошенная.dbf"));
    // What Explorer hands over: a DROPFILES header and the names, each ended
    // by a zero, and one more at the end.
    const std::size_t bytes = sizeof(DROPFILES) + (file.size() + 2) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    file.copy(reinterpret_cast<wchar_t*>(drop + 1), file.size());
    GlobalUnlock(memory);
    SendMessageW(form.Handle, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    EXPECT_EQ(WindowText(form.LabeledEdit1), file);
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 2);
    EXPECT_TRUE(GetWindowLongPtrW(form.Handle, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

}  // namespace

// The program started with a table's name (Explorer's verb, a table dropped
// on the icon): the name stands in the edit, nothing is written and no
// choice changes until the button is pressed, then that file is corrected.
TEST_F(CorrectionTest, TableNamedOnTheCommandLineIsCorrectedWhenTheButtonIsPressed)
{
    const struct {
        const char* what;
        std::wstring file;
        bool asUrl;
    } cases[] = {
        {"spaces", L"old clients.dbf", false},
        {"Cyrillic", L"Клиенты.dbf", false},
        {"outside the ANSI code page", L"表 Ωμέγα.dbf", false},
        {"a file URL with %20 and Cyrillic", L"мои таблицы.dbf", true},
    };
    for (const auto& c : cases) {
        const std::filesystem::path file = dir.Path() / c.file;
        const TBytes before = PeopleTable().Build();
        WriteAll(file, before);

        TForm1 window;
        ShowWindow(window.Handle, SW_SHOW);
        TBoxAnswerer answerer;
        window.OpenFromCommandLine({c.asUrl ? Utf16(FileUrl(Utf8(file.wstring()))) : file.wstring()});
        EXPECT_TRUE(answerer.seen.empty()) << c.what;
        EXPECT_EQ(WindowText(window.LabeledEdit1), file.wstring()) << c.what;
        EXPECT_EQ(ReadAll(file), before) << c.what;
        EXPECT_EQ(window.RadioGroup1ItemIndex(), 2) << c.what;
        EXPECT_EQ(window.RadioGroup2ItemIndex(), 3) << c.what;
        EXPECT_EQ(SendMessageW(window.CheckBox1, BM_GETCHECK, 0, 0), BST_CHECKED) << c.what;
        EXPECT_EQ(SendMessageW(window.CheckBox2, BM_GETCHECK, 0, 0), BST_UNCHECKED) << c.what;

        SendMessageW(window.BitBtn1, BM_CLICK, 0, 0);
        ASSERT_EQ(answerer.seen.size(), 1U) << c.what;
        EXPECT_EQ(answerer.seen[0].text, kGotovo + L"101") << c.what;
        EXPECT_EQ(DbfFileName, Utf8(file.wstring())) << c.what;
        const TBytes after = ReadAll(file);
        ASSERT_EQ(after.size(), before.size()) << c.what;
        EXPECT_EQ(after[28], 0) << c.what;              // index flag cleared by default
        EXPECT_EQ(after[32 + 32 + 11], 'C') << c.what;  // the lower-case type
    }
}

// A command line the window cannot follow is told in the error box, over an
// empty edit.
TEST_F(CorrectionTest, CommandLineMistakeIsToldAndNothingIsOpened)
{
    const std::wstring table = (dir.Path() / L"a.dbf").wstring();
    const struct {
        std::vector<std::wstring> arguments;
        const wchar_t* shown;
    } cases[] = {
        {{table, (dir.Path() / L"b.dbf").wstring()}, L"названо таблиц: 2"},
        {{L"--foo", table}, L"Неизвестный ключ «--foo»"},
        {{L"file:///C:/a%zz.dbf"}, L"адрес файла записан неверно"},
    };
    for (const auto& c : cases) {
        TForm1 window;
        ShowWindow(window.Handle, SW_SHOW);
        TBoxAnswerer answerer;
        window.OpenFromCommandLine(c.arguments);
        ASSERT_EQ(answerer.seen.size(), 1U) << Utf8(c.shown);
        EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
        EXPECT_NE(answerer.seen[0].text.find(c.shown), std::wstring::npos) << Utf8(answerer.seen[0].text);
        EXPECT_EQ(answerer.seen[0].title, WindowText(window.Handle));
        EXPECT_EQ(WindowText(window.LabeledEdit1), L"") << Utf8(c.shown);
    }
}

// The real program reads its name from the wide command line, as Explorer's
// verb "...\DbfHeaderFix.exe" "%1" passes it: quoted, with spaces and letters
// no ANSI code page holds.
TEST(ProgramCommandLineTest, ProgramStartsWithTheNamedTableInItsEdit)
{
    TScratchDir dir;
    const std::filesystem::path quoted = dir.Path() / L"мои таблицы Ω.dbf";
    const TBytes table = PeopleTable().Build();
    WriteAll(quoted, table);
    std::wstring commandLine = L"\"" DBF_PROGRAM L"\" \"" + quoted.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process))
        << GetLastError();
    // Its window, once the program waits for input: the name is put in
    // before its message loop starts.
    WaitForInputIdle(process.hProcess, 10000);
    struct TSearch {
        DWORD processId;
        HWND found;
    } search{process.dwProcessId, nullptr};
    for (int tries = 0; tries < 200 && !search.found; ++tries) {
        Sleep(50);
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<TSearch*>(data);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                wchar_t windowClass[16]{};
                GetClassNameW(window, windowClass, 16);
                if (owner != s->processId || std::wstring_view(windowClass) != L"TForm1") return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
    }
    EXPECT_NE(search.found, nullptr);
    if (search.found) {
        // The edit's identifier, as the window in this process has it.
        const TForm1 same;
        HWND edit = GetDlgItem(search.found, GetDlgCtrlID(same.LabeledEdit1));
        // Under load the idle signal may come before the name is in.
        for (int tries = 0; tries < 100 && WindowText(edit).empty(); ++tries) Sleep(50);
        EXPECT_EQ(WindowText(edit), quoted.wstring());
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Started, shown and closed: nothing was corrected.
    EXPECT_EQ(ReadAll(quoted), table);
}
