// SPDX-License-Identifier: MIT
// The main window as it first appears, read back from its real controls:
// places, sizes, texts, states, tab order, font, and the program's resources.
#include "Unit1.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

class WindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(form.Handle, nullptr);
        ShowWindow(form.Handle, SW_SHOW);
        SetFocus(form.RadioGroup1Items[2]);
    }
    TForm1 form;
};

RECT InClient(HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

struct TExpected {
    const char* name;
    HWND control;
    RECT rect;
    const wchar_t* text;
};

TEST_F(WindowTest, ControlsStandWhereTheLayoutPutsThemWithTheirTexts)
{
    const TExpected controls[] = {
        {"LabeledEdit1", form.LabeledEdit1, {8, 24, 385, 48}, L""},
        {"LabeledEdit1's label", form.LabeledEdit1Label, {8, 5, 74, 21}, L"DBF-файл"},
        {"SpeedButton1", form.SpeedButton1, {384, 25, 407, 48}, L""},
        {"RadioGroup1", form.RadioGroup1, {8, 56, 177, 161}, L"Смещение"},
        {"RadioGroup2", form.RadioGroup2, {192, 56, 409, 161}, L"Кодовая страница (язык)"},
        {"CheckBox2", form.CheckBox2, {64, 184, 185, 201}, L"Вставить дату:"},
        {"DateTimePicker1", form.DateTimePicker1, {192, 180, 285, 204}, nullptr},
        {"CheckBox1", form.CheckBox1, {64, 216, 253, 233}, L"Убрать признак индекса"},
        {"BitBtn1", form.BitBtn1, {120, 248, 273, 281}, L"Обработать файл"},
    };
    for (const auto& expected : controls) {
        const RECT rect = InClient(expected.control);
        EXPECT_TRUE(EqualRect(&rect, &expected.rect)) << expected.name << ": " << rect.left << "," << rect.top << " "
                                                      << rect.right << "," << rect.bottom;
        EXPECT_TRUE(IsWindowVisible(expected.control)) << expected.name;
        EXPECT_TRUE(IsWindowEnabled(expected.control)) << expected.name;
        if (expected.text) {
            EXPECT_EQ(WindowText(expected.control), expected.text) << expected.name;
        }
    }
    // The items stand in one column inside their group's frame.
    const std::vector<std::pair<HWND, std::vector<HWND>>> groups = {
        {form.RadioGroup1, {form.RadioGroup1Items.begin(), form.RadioGroup1Items.end()}},
        {form.RadioGroup2, {form.RadioGroup2Items.begin(), form.RadioGroup2Items.end()}}};
    const std::vector<std::vector<std::wstring>> texts = {
        {L"Очистить", L"Поставить", L"Оставить как было"},
        {L"№ 0 (рез-т зависит от BDE)", L"№ 38 (для DOS-866) ", L"№ 87 (для Win-1251)", L"Оставить как было"}};
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const RECT frame = InClient(groups[g].first);
        LONG previousBottom = frame.top + 10;
        for (std::size_t i = 0; i < groups[g].second.size(); ++i) {
            HWND item = groups[g].second[i];
            const RECT rect = InClient(item);
            EXPECT_EQ(WindowText(item), texts[g][i]);
            EXPECT_EQ(rect.left, frame.left + 8);
            EXPECT_GE(rect.top, previousBottom) << "item " << i;
            EXPECT_LT(rect.right, frame.right) << "item " << i;
            EXPECT_LT(rect.bottom, frame.bottom - 1) << "item " << i;
            previousBottom = rect.bottom;
        }
    }
}

TEST_F(WindowTest, WindowIsFixedWithOnlyTheCloseButtonAndCentred)
{
    EXPECT_EQ(WindowText(form.Handle), L"Автокорректировка шапки файла DBF (DBaseIII)");
    RECT client;
    GetClientRect(form.Handle, &client);
    EXPECT_EQ(client.right, 418);
    EXPECT_EQ(client.bottom, 298);
    const auto style = GetWindowLongPtrW(form.Handle, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_EQ(GetClassLongPtrW(form.Handle, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
    EXPECT_NE(SendMessageW(form.Handle, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(form.Handle, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_NE(SendMessageW(form.SpeedButton1, BM_GETIMAGE, IMAGE_ICON, 0), 0);

    RECT work, frame;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(form.Handle, &frame);
    EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 2);
}

TEST_F(WindowTest, ChoicesStartFromTheirInitialStates)
{
    EXPECT_EQ(WindowText(form.LabeledEdit1), L"");
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 2);
    EXPECT_EQ(form.RadioGroup2ItemIndex(), 3);
    EXPECT_EQ(SendMessageW(form.CheckBox1, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(form.CheckBox2, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    // No control enables or disables another.
    SendMessageW(form.CheckBox2, BM_CLICK, 0, 0);
    SendMessageW(form.CheckBox1, BM_CLICK, 0, 0);
    EXPECT_TRUE(IsWindowEnabled(form.DateTimePicker1));
    EXPECT_TRUE(IsWindowEnabled(form.LabeledEdit1));
}

TEST_F(WindowTest, DatePickerShowsTodayInTheShortFormatWithinTheStorableYears)
{
    SYSTEMTIME today, shown;
    GetLocalTime(&today);
    EXPECT_EQ(DateTime_GetSystemtime(form.DateTimePicker1, &shown), GDT_VALID);
    EXPECT_EQ(shown.wYear, today.wYear);
    EXPECT_EQ(shown.wMonth, today.wMonth);
    EXPECT_EQ(shown.wDay, today.wDay);
    const auto style = GetWindowLongPtrW(form.DateTimePicker1, GWL_STYLE);
    // The short date format is the absence of the others.
    EXPECT_EQ(style & (DTS_SHOWNONE | DTS_TIMEFORMAT | DTS_LONGDATEFORMAT | DTS_SHORTDATECENTURYFORMAT), 0);
    SYSTEMTIME range[2];
    EXPECT_EQ(DateTime_GetRange(form.DateTimePicker1, range), static_cast<DWORD>(GDTR_MIN | GDTR_MAX));
    EXPECT_EQ(range[0].wYear, 1900);
    EXPECT_EQ(range[1].wYear, 2155);
    EXPECT_EQ(range[1].wMonth, 12);
    EXPECT_EQ(range[1].wDay, 31);
}

// The date as the window's Russian texts write it, whatever the system's
// short date (the stage runs wine under an English locale).
TEST_F(WindowTest, DateIsWrittenTheRussianWay)
{
    const struct {
        WORD year, month, day;
        const wchar_t* shown;
    } dates[] = {{2026, 12, 9, L"09.12.2026"}, {1900, 1, 1, L"01.01.1900"}, {2155, 7, 31, L"31.07.2155"}};
    for (const auto& d : dates) {
        SYSTEMTIME date{};
        date.wYear = d.year;
        date.wMonth = d.month;
        date.wDay = d.day;
        ASSERT_TRUE(DateTime_SetSystemtime(form.DateTimePicker1, GDT_VALID, &date));
        EXPECT_EQ(WindowText(form.DateTimePicker1), d.shown);
    }
}

// Sends a key to the focused control through the dialog manager, as the
// program's message loop does.
void PressKey(HWND form, WPARAM key)
{
    MSG message{GetFocus(), WM_KEYDOWN, key, 0, 0, {}};
    if (!IsDialogMessageW(form, &message)) DispatchMessageW(&message);
}

TEST_F(WindowTest, TabWalksTheOrderAndArrowsMoveInsideAGroup)
{
    ASSERT_EQ(GetFocus(), form.RadioGroup1Items[2]);
    const std::vector<std::pair<const char*, HWND>> order = {
        {"RadioGroup2", form.RadioGroup2Items[3]}, {"BitBtn1", form.BitBtn1},
        {"CheckBox1", form.CheckBox1},             {"DateTimePicker1", form.DateTimePicker1},
        {"CheckBox2", form.CheckBox2},             {"LabeledEdit1", form.LabeledEdit1},
        {"RadioGroup1", form.RadioGroup1Items[2]},
    };
    for (const auto& [name, expected] : order) {
        EXPECT_EQ(GetNextDlgTabItem(form.Handle, GetFocus(), FALSE), expected) << name;
        PressKey(form.Handle, VK_TAB);
        EXPECT_EQ(GetFocus(), expected) << name;
    }
    EXPECT_FALSE(GetWindowLongPtrW(form.SpeedButton1, GWL_STYLE) & WS_TABSTOP);
    // Clicking the picture button leaves the focus where it was.
    SetFocus(form.CheckBox1);
    SendMessageW(form.SpeedButton1, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(GetFocus(), form.CheckBox1);
    SendMessageW(form.SpeedButton1, WM_CAPTURECHANGED, 0, 0);
    ReleaseCapture();

    // Inside a group the arrow keys move the selection, and Tab leaves from
    // the newly selected item.
    SetFocus(form.RadioGroup1Items[2]);
    PressKey(form.Handle, VK_UP);
    EXPECT_EQ(form.RadioGroup1ItemIndex(), 1);
    EXPECT_EQ(GetFocus(), form.RadioGroup1Items[1]);
    PressKey(form.Handle, VK_TAB);
    EXPECT_EQ(GetFocus(), form.RadioGroup2Items[3]);
    EXPECT_EQ(GetNextDlgTabItem(form.Handle, GetFocus(), TRUE), form.RadioGroup1Items[1]);
}

// MS Sans Serif at 13 pixels with the Cyrillic character set; whichever face
// stands in for it, no text may be clipped in its control.
TEST_F(WindowTest, FontIsTheWindowsOwnAndEveryTextFits)
{
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form.BitBtn1, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
    EXPECT_EQ(font.lfHeight, -13);
    EXPECT_EQ(font.lfCharSet, RUSSIAN_CHARSET);

    std::vector<std::pair<HWND, int>> texts = {{form.CheckBox1, 16}, {form.CheckBox2, 16},
                                               {form.LabeledEdit1Label, 0}, {form.BitBtn1, 8}};
    for (HWND item : form.RadioGroup1Items) texts.emplace_back(item, 16);
    for (HWND item : form.RadioGroup2Items) texts.emplace_back(item, 16);
    for (HWND group : {form.RadioGroup1, form.RadioGroup2}) texts.emplace_back(group, 16);
    HDC dc = GetDC(form.Handle);
    for (const auto& [control, decoration] : texts) {
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        const std::wstring text = WindowText(control);
        SIZE size;
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        RECT rect;
        GetClientRect(control, &rect);
        EXPECT_LE(size.cx + decoration, rect.right) << Utf8(text);
        EXPECT_LE(size.cy, rect.bottom + 2) << Utf8(text);
    }
    ReleaseDC(form.Handle, dc);
}

TEST(ProgramTest, ExecutableCarriesItsIconManifestAndVersion)
{
    HMODULE program = LoadLibraryExW(DBF_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program, nullptr) << GetLastError();
    for (const int size : {32, 16}) {
        HICON icon = static_cast<HICON>(LoadImageW(program, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
        EXPECT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(program, found))),
                               SizeofResource(program, found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"DbfHeaderFix\""), std::string::npos);
    EXPECT_NE(FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)), nullptr);  // RT_VERSION
    FreeLibrary(program);
}

}  // namespace
