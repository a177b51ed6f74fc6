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
