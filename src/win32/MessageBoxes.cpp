// SPDX-License-Identifier: MIT
#include "MessageBoxes.h"

#include "Form1Layout.h"
#include "NotifyUser.h"

#include <algorithm>

namespace {

constexpr int kMargin = 16;
constexpr int kBottomMargin = 12;
constexpr int kSpacing = 14;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr DWORD kBoxStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

// An empty dialog: its controls are made in pixels when it starts, in the
// window's font, rather than in dialog units of the dialog font.
struct alignas(4) TEmptyDialogTemplate {
    DLGTEMPLATE dialog;
    WORD menu = 0;
    WORD windowClass = 0;
    WORD title = 0;
};

RECT ScreenOf(HWND window)
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor.rcMonitor;
}

// The text's size in the window's font: its longest line, limited to
// maxWidth, and the height of the text wrapped at words (and inside a word
// longer than a line, as an edit control wraps) to that width.
SIZE TextSize(HWND box, const std::wstring& text, int maxWidth)
{
    HDC dc = GetDC(box);
    HGDIOBJ previous = SelectObject(dc, WindowFont());
    constexpr UINT kFormat = DT_NOPREFIX | DT_EXPANDTABS | DT_CALCRECT;
    RECT natural{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &natural, kFormat);
    const int width = std::max(1, std::min(static_cast<int>(natural.right) + 1, maxWidth));
    RECT wrapped{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), -1, &wrapped, kFormat | DT_WORDBREAK | DT_EDITCONTROL);
    SelectObject(dc, previous);
    ReleaseDC(box, dc);
    return {width, std::max(static_cast<int>(wrapped.bottom), 1)};
}

BOOL LayOutNotifyBox(HWND box, const std::wstring& text)
{
    SetWindowTextW(box, ApplicationTitle().c_str());
    const RECT screen = ScreenOf(GetWindow(box, GW_OWNER));
    const SIZE textSize = TextSize(box, text, (screen.right - screen.left) / 2);
    const int clientWidth = std::max(static_cast<int>(textSize.cx), kButtonWidth) + 2 * kMargin;
    const int clientHeight = kMargin + textSize.cy + kSpacing + kButtonHeight + kBottomMargin;
    HINSTANCE instance = GetModuleHandleW(nullptr);

    // A static control, so that screen readers and tests read the text.
    HWND label = CreateWindowExW(0, L"STATIC", text.c_str(),
                                 WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, kMargin, kMargin,
                                 textSize.cx, textSize.cy, box, reinterpret_cast<HMENU>(kNotifyTextId), instance, nullptr);
    HWND ok = CreateWindowExW(0, L"BUTTON", Utf16(kOkText).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                              (clientWidth - kButtonWidth) / 2, kMargin + textSize.cy + kSpacing, kButtonWidth,
                              kButtonHeight, box, reinterpret_cast<HMENU>(IDOK), instance, nullptr);
    for (HWND control : {label, ok}) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);

    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, kBoxStyle, FALSE, static_cast<DWORD>(GetWindowLongPtrW(box, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(box, nullptr, (screen.left + screen.right - width) / 2, (screen.top + screen.bottom - height) / 2,
                 width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetFocus(ok);
    // The focus is set here.
    return FALSE;
}

INT_PTR CALLBACK NotifyBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Nothing may escape into the dialog manager: the box closes instead.
    try {
        switch (message) {
        case WM_INITDIALOG:
            return LayOutNotifyBox(box, *reinterpret_cast<const std::wstring*>(lParam));
        case WM_COMMAND:
            // Enter presses the default button; Esc and the close box send
            // IDCANCEL: all three are the one "OK".
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(box, IDOK);
                return TRUE;
            }
            break;
        default:
            break;
        }
    } catch (...) {
        EndDialog(box, IDABORT);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void ShowNotifyBox(const std::wstring& text)
{
    TEmptyDialogTemplate dialog{};
    dialog.dialog.style = kBoxStyle;
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &dialog.dialog, GetActiveWindow(), NotifyBoxProc,
                            reinterpret_cast<LPARAM>(&text));
}

void InstallNotifyUserBox()
{
    SetNotifyUserHandler([](const std::string& text) { ShowNotifyBox(Utf16(text)); });
}

void ShowErrorBox(HWND owner, const std::wstring& text, const std::wstring& title)
{
    MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}
