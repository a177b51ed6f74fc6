// SPDX-License-Identifier: MIT
// NotifyUser's box, the application's title and a failure escaping a
// handler.
#include "BoxAnswerer.h"
#include "MessageBoxes.h"
#include "NotifyUser.h"
#include "Unit1.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(ApplicationTitleTest, NameCutBeforeTheFirstDotWithTheRestInLowerCase)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"DIZEVU.EXE", L"Dizevu"},
        {L"C:\\Tools\\DbfHeaderFix.exe", L"Dbfheaderfix"},
        {L"C:/Program Files/DBF.HEADER.FIX.EXE", L"Dbf"},
        {L"dbfHeaderFix.exe", L"dbfheaderfix"},  // the first character is kept as it is
        {L"D:\\ПРАВКА.EXE", L"Правка"},
        {L"C:\\.hidden", L""},
    };
    for (const auto& [path, title] : cases) EXPECT_EQ(ApplicationTitleOf(path), title) << Utf8(path);
    // This test program is win32_tests.exe: its first letter stays small.
    EXPECT_EQ(ApplicationTitle(), L"win32_tests");
}

TEST(NotifyBoxTest, EnterAndEscBothCloseTheBoxWithItsTextInAStatic)
{
    for (const WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        TBoxAnswerer answerer(key);
        NotifyUser("Готово! Кодовая страница 38 - не изменилась");
        ASSERT_EQ(answerer.seen.size(), 1U) << key;
        const TSeenBox& box = answerer.seen[0];
        EXPECT_EQ(box.kind, TBoxKind::Notify);
        EXPECT_EQ(box.text, L"Готово! Кодовая страница 38 - не изменилась");
        EXPECT_EQ(box.title, ApplicationTitle());
        EXPECT_EQ(box.buttons, 1);
        EXPECT_EQ(box.icon, nullptr);
    }
}

TEST(NotifyBoxTest, LongTextWrapsAtHalfTheScreenAndTheBoxIsCentred)
{
    std::string text = "Open: Не найден файл ";
    for (int i = 0; i < 40; ++i) text += "слово ";
    TBoxAnswerer answerer;
    NotifyUser(text);
    ASSERT_EQ(answerer.seen.size(), 1U);
    const TSeenBox& box = answerer.seen[0];
    EXPECT_EQ(Utf8(box.text), text);
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_LE(box.textFrame.right - box.textFrame.left, screenWidth / 2);
    EXPECT_GE(box.textFrame.right - box.textFrame.left, screenWidth / 2 - 40);
    EXPECT_GT(box.textFrame.bottom - box.textFrame.top, 3 * 13);  // several lines
    EXPECT_LE(std::abs(box.frame.left + box.frame.right - screenWidth), 2);
    EXPECT_LE(std::abs(box.frame.top + box.frame.bottom - screenHeight), 2);
}

// A failure that escapes a handler, whatever it is, stops at the window
// procedure and is shown there; the window goes on.
TEST(UnexpectedFailureTest, ShownWithTheFullStopAndTheWindowGoesOn)
{
    TForm1 form;
    ShowWindow(form.Handle, SW_SHOW);
    SetWindowTextW(form.LabeledEdit1, L"x.dbf");
    TBoxAnswerer answerer;
    NotifyUserHandler previous = SetNotifyUserHandler([](const std::string& text) {
        throw std::runtime_error(text == "Open: Не найден файл x.dbf" ? "Не найден" : "other");
    });
    SendMessageW(form.BitBtn1, BM_CLICK, 0, 0);
    SetNotifyUserHandler(previous);
    ASSERT_EQ(answerer.seen.size(), 1U);
    EXPECT_EQ(answerer.seen[0].kind, TBoxKind::Error);
    EXPECT_EQ(answerer.seen[0].text, L"Не найден.");
    EXPECT_EQ(answerer.seen[0].title, L"win32_tests");
    EXPECT_TRUE(IsWindow(form.Handle));

    SendMessageW(form.BitBtn1, BM_CLICK, 0, 0);
    ASSERT_EQ(answerer.seen.size(), 2U);
    EXPECT_EQ(answerer.seen[1].text, L"Open: Не найден файл x.dbf");
}

}  // namespace
