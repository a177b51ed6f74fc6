// SPDX-License-Identifier: MIT
#include "BoxAnswerer.h"

#include "MessageBoxes.h"

namespace {

TBoxAnswerer* Current = nullptr;

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

RECT FrameOf(HWND window)
{
    RECT frame{};
    GetWindowRect(window, &frame);
    return frame;
}

}  // namespace

TBoxAnswerer::TBoxAnswerer(WPARAM notifyKey) : FTimer(SetTimer(nullptr, 0, 10, Tick)), FNotifyKey(notifyKey)
{
    Current = this;
}

TBoxAnswerer::~TBoxAnswerer()
{
    KillTimer(nullptr, FTimer);
    Current = nullptr;
}

void CALLBACK TBoxAnswerer::Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (!Current) return;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) -> BOOL {
            if (ClassOf(window) == L"#32770" && IsWindowVisible(window) && !GetPropW(window, L"answered")) {
                SetPropW(window, L"answered", reinterpret_cast<HANDLE>(1));
                Current->Answer(window);
            }
            return TRUE;
        },
        0);
}

void TBoxAnswerer::Answer(HWND box)
{
    TSeenBox entry;
    entry.title = WindowText(box);
    entry.frame = FrameOf(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const auto style = GetWindowLongPtrW(child, GWL_STYLE);
        if (ClassOf(child) == L"Button" && (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON && IsWindowVisible(child)) {
            ++entry.buttons;
        }
        if (ClassOf(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON && SendMessageW(child, STM_GETICON, 0, 0)) {
            entry.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        }
    }
    if (HWND text = GetDlgItem(box, kNotifyTextId); text && !GetDlgItem(box, kFileNameBox)) {
        entry.kind = TBoxKind::Notify;
        entry.text = WindowText(text);
        entry.textFrame = FrameOf(text);
        seen.push_back(entry);
        // The key goes where the box's own loop reads it: to its focused
        // control, or to the box itself while nothing in it has the focus yet
        // (a busy wine may not have moved it there), never to the window below.
        HWND focus = GetFocus();
        if (focus == nullptr || (focus != box && !IsChild(box, focus))) focus = box;
        PostMessageW(focus, WM_KEYDOWN, FNotifyKey, 0);
    } else if (HWND name = GetDlgItem(box, kFileNameBox)) {
        entry.kind = TBoxKind::FileDialog;
        entry.text = WindowText(name);
        seen.push_back(entry);
        if (OnFileDialog) {
            OnFileDialog(box);
        } else {
            PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        }
    } else {
        // The system's message box: its text is the static 0xFFFF.
        entry.kind = entry.icon == LoadIconW(nullptr, IDI_ERROR) ? TBoxKind::Error : TBoxKind::Other;
        entry.text = WindowText(GetDlgItem(box, 0xFFFF));
        seen.push_back(entry);
        SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    }
}
