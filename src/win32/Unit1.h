// SPDX-License-Identifier: MIT
// The main window: the table's name, the five correction choices and the
// process button, on the Win32 API.
#pragma once

#include "Application.h"

#include <array>
#include <chrono>
#include <string>
#include <vector>

// The file name taken by the process button (UTF-8); lives as long as the
// program.
extern std::string DbfFileName;

class TForm1 {
public:
    // Creates the window, hidden, with every control in its initial state.
    TForm1();
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle = nullptr;

    // The controls, named by kind and number.
    HWND LabeledEdit1Label = nullptr;
    HWND LabeledEdit1 = nullptr;
    HWND SpeedButton1 = nullptr;
    HWND RadioGroup1 = nullptr;
    std::array<HWND, 3> RadioGroup1Items{};
    HWND RadioGroup2 = nullptr;
    std::array<HWND, 4> RadioGroup2Items{};
    HWND CheckBox2 = nullptr;
    HWND DateTimePicker1 = nullptr;
    HWND CheckBox1 = nullptr;
    HWND BitBtn1 = nullptr;

    // The selected item of a radio group, counted from 0.
    [[nodiscard]] int RadioGroup1ItemIndex() const;
    [[nodiscard]] int RadioGroup2ItemIndex() const;
    [[nodiscard]] std::chrono::year_month_day DateTimePicker1Date() const;

    // The name last chosen in the file-open dialog.
    [[nodiscard]] const std::wstring& OpenDialog1FileName() const { return FOpenDialog1FileName; }

    // Puts the table the program's arguments name (without the program's
    // name) into the edit, or tells their mistake in the error box. Nothing
    // else changes: nothing is corrected until the button is pressed.
    void OpenFromCommandLine(const std::vector<std::wstring>& arguments);

    void FormShow();
    void SpeedButton1Click();
    void Button1Click();

    // The window procedure's work, once the form is known; public for the
    // message crackers.
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnCreate();
    void OnShowWindow(BOOL shown);
    void OnCommand(int id, HWND control, UINT code);
    void OnDropFiles(HDROP drop);
    void OnActivate(UINT state);
    void OnNextDlgCtl(WPARAM wParam, LPARAM lParam);

private:
    std::wstring FOpenDialog1FileName;
    bool FShownBefore = false;
    HWND FLastFocus = nullptr;
    HICON FIcon = nullptr;
    HICON FSmallIcon = nullptr;
    HICON FFolder = nullptr;
};
