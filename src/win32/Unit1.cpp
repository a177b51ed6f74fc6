// SPDX-License-Identifier: MIT
#include "Unit1.h"

#include "CommandLine.h"
#include "CreateDBF3.h"
#include "Form1Layout.h"
#include "MessageBoxes.h"
#include "Pictures.h"
#include "ProcessFile.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <vector>

std::string DbfFileName;

namespace {

constexpr wchar_t kForm1Class[] = L"TForm1";
// No WS_CLIPCHILDREN: a group box draws only its frame and title, and the
// window's background must show through its inside.
constexpr DWORD kForm1Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kForm1ExStyle = WS_EX_ACCEPTFILES | WS_EX_CONTROLPARENT;

// Control identifiers: 100 + the control, radio items 200 + 10 * group + item.
constexpr int kFirstControlId = 100;
constexpr int ControlIdOf(TControlId id)
{
    return kFirstControlId + id;
}
constexpr int RadioItemId(int group, int item)
{
    return 200 + 10 * group + item;
}

// What each control is on this toolkit.
struct TControlKind {
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle;
};

TControlKind KindOf(TControlId id)
{
    constexpr DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    switch (id) {
    case ciLabeledEdit1Label: return {L"STATIC", child | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0};
    case ciLabeledEdit1: return {L"EDIT", child | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    // Never focused: SpeedButtonProc presses it without taking the focus.
    case ciSpeedButton1: return {L"BUTTON", child | WS_GROUP | BS_PUSHBUTTON | BS_ICON, 0};
    case ciRadioGroup1:
    case ciRadioGroup2: return {L"BUTTON", child | WS_GROUP | BS_GROUPBOX, 0};
    case ciCheckBox1:
    case ciCheckBox2: return {L"BUTTON", child | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case ciDateTimePicker1: return {DATETIMEPICK_CLASSW, child | WS_GROUP | WS_TABSTOP | DTS_SHORTDATEFORMAT, 0};
    case ciBitBtn1: return {L"BUTTON", child | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case kControlCount: break;
    }
    return {L"STATIC", child, 0};
}

HWND CreateControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, DWORD exStyle,
                   int left, int top, int width, int height, int id)
{
    HWND control = CreateWindowExW(exStyle, windowClass, text.c_str(), style, left, top, width, height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
    return control;
}

bool IsChecked(HWND button)
{
    return Button_GetCheck(button) == BST_CHECKED;
}

// A radio group is one stop in the tab order, at its selected item.
template <std::size_t N>
void SelectRadioItem(const std::array<HWND, N>& items, std::size_t selected)
{
    for (std::size_t i = 0; i < N; ++i) {
        Button_SetCheck(items[i], i == selected ? BST_CHECKED : BST_UNCHECKED);
        const LONG_PTR style = GetWindowLongPtrW(items[i], GWL_STYLE);
        SetWindowLongPtrW(items[i], GWL_STYLE, i == selected ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
    }
}

template <std::size_t N>
int SelectedRadioItem(const std::array<HWND, N>& items)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (IsChecked(items[i])) return static_cast<int>(i);
    }
    return -1;
}

// The items of a group box, on the window (a group box passes no
// notifications on), spread over the frame's inside below its title.
template <std::size_t N>
std::array<HWND, N> CreateRadioItems(HWND parent, TControlId id, int group, const std::array<const char*, N>& texts)
{
    const TControlLayout& layout = kForm1Controls[id];
    // The title is one line of the font; the frame's inside starts below it.
    HDC dc = GetDC(parent);
    HGDIOBJ previous = SelectObject(dc, WindowFont());
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(parent, dc);
    const int insideTop = static_cast<int>(metrics.tmHeight);
    const int insideHeight = layout.height - insideTop - 2;

    std::array<HWND, N> items{};
    for (std::size_t i = 0; i < N; ++i) {
        const TItemPlace place =
            RadioItemPlace(layout, insideTop, insideHeight, static_cast<int>(i), static_cast<int>(N));
        const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0);
        items[i] = CreateControl(parent, L"BUTTON", Utf16(texts[i]), style, 0, layout.left + place.left,
                                 layout.top + place.top, place.width, place.height, RadioItemId(group, static_cast<int>(i)));
    }
    return items;
}

// The picture button is pressed by the mouse without taking the focus, as a
// speed button: the press is tracked here, and the click told to the window.
LRESULT CALLBACK SpeedButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetCapture(button);
        Button_SetState(button, TRUE);
        return 0;
    case WM_MOUSEMOVE:
        if (GetCapture() == button) {
            RECT area;
            GetClientRect(button, &area);
            const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            Button_SetState(button, PtInRect(&area, at));
        }
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == button) {
            const bool pressed = (Button_GetState(button) & BST_PUSHED) != 0;
            ReleaseCapture();
            if (pressed) {
                SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                             reinterpret_cast<LPARAM>(button));
            }
        }
        return 0;
    case WM_CAPTURECHANGED:
        Button_SetState(button, FALSE);
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(button, SpeedButtonProc, 0);
        break;
    default:
        break;
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

TForm1* FormOf(HWND window)
{
    return reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The message crackers' handlers, each passed on to the form.
BOOL Form1_OnCreate(HWND window, LPCREATESTRUCTW)
{
    return FormOf(window)->OnCreate();
}
void Form1_OnShowWindow(HWND window, BOOL shown, UINT)
{
    FormOf(window)->OnShowWindow(shown);
}
void Form1_OnCommand(HWND window, int id, HWND control, UINT code)
{
    FormOf(window)->OnCommand(id, control, code);
}
void Form1_OnDropFiles(HWND window, HDROP drop)
{
    FormOf(window)->OnDropFiles(drop);
}
void Form1_OnActivate(HWND window, UINT state, HWND, BOOL)
{
    FormOf(window)->OnActivate(state);
}
void Form1_OnDestroy(HWND)
{
    PostQuitMessage(0);
}

LRESULT CALLBACK Form1Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* form = static_cast<TForm1*>(create->lpCreateParams);
        form->Handle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    TForm1* form = FormOf(window);
    if (!form) return DefWindowProcW(window, message, wParam, lParam);
    // A failure in a handler stops here, shown in the error box; the system
    // code that called the window procedure never sees it.
    LRESULT result = 0;
    RunHandler(window, [&] { result = form->Dispatch(message, wParam, lParam); });
    if (message == WM_NCDESTROY) {
        // Closed by the user: the form outlives its window.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->Handle = nullptr;
    }
    return result;
}

void RegisterForm1Class()
{
    static const ATOM registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = Form1Proc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kForm1Class;
        return RegisterClassExW(&windowClass);
    }();
    (void)registered;
}

std::chrono::year_month_day ToYearMonthDay(const SYSTEMTIME& time)
{
    return std::chrono::year_month_day{std::chrono::year{time.wYear}, std::chrono::month{time.wMonth},
                                       std::chrono::day{time.wDay}};
}

}  // namespace

TForm1::TForm1()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_DATE_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterForm1Class();
    RECT frame{0, 0, kForm1ClientWidth, kForm1ClientHeight};
    AdjustWindowRectEx(&frame, kForm1Style, FALSE, kForm1ExStyle);
    CreateWindowExW(kForm1ExStyle, kForm1Class, Utf16(kForm1Caption).c_str(), kForm1Style, CW_USEDEFAULT,
                    CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                    GetModuleHandleW(nullptr), this);
}

TForm1::~TForm1()
{
    if (Handle) {
        SetWindowLongPtrW(Handle, GWLP_USERDATA, 0);
        DestroyWindow(Handle);
    }
    for (HICON icon : {FIcon, FSmallIcon, FFolder}) {
        if (icon) DestroyIcon(icon);
    }
}

LRESULT TForm1::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND hwnd = Handle;
    switch (message) {
        HANDLE_MSG(hwnd, WM_CREATE, Form1_OnCreate);
        HANDLE_MSG(hwnd, WM_SHOWWINDOW, Form1_OnShowWindow);
        HANDLE_MSG(hwnd, WM_COMMAND, Form1_OnCommand);
        HANDLE_MSG(hwnd, WM_DROPFILES, Form1_OnDropFiles);
        HANDLE_MSG(hwnd, WM_ACTIVATE, Form1_OnActivate);
        HANDLE_MSG(hwnd, WM_DESTROY, Form1_OnDestroy);
    case WM_NEXTDLGCTL:
        // IsDialogMessage asks this of any window it navigates, dialog or not.
        OnNextDlgCtl(wParam, lParam);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

BOOL TForm1::OnCreate()
{
    FIcon = TableIcon(32);
    FSmallIcon = TableIcon(16);
    FFolder = FolderIcon();
    SendMessageW(Handle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
    SendMessageW(Handle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FSmallIcon));

    // Created in tab order: the dialog functions walk the controls in the
    // order they were made. The label goes just before its edit, the picture
    // button last.
    std::vector<TControlId> order = Form1TabOrder();
    order.insert(std::find(order.begin(), order.end(), ciLabeledEdit1), ciLabeledEdit1Label);
    order.push_back(ciSpeedButton1);
    for (const TControlId id : order) {
        // A group's items go before its frame: above it in the drawing order,
        // and first in the tab order.
        if (id == ciRadioGroup1) RadioGroup1Items = CreateRadioItems(Handle, id, 1, kRadioGroup1Items);
        if (id == ciRadioGroup2) RadioGroup2Items = CreateRadioItems(Handle, id, 2, kRadioGroup2Items);
        const TControlLayout& layout = kForm1Controls[id];
        const TControlKind kind = KindOf(id);
        HWND control = CreateControl(Handle, kind.windowClass, Utf16(layout.text), kind.style, kind.exStyle, layout.left,
                                     layout.top, layout.width, layout.height, ControlIdOf(id));
        switch (id) {
        case ciLabeledEdit1Label: LabeledEdit1Label = control; break;
        case ciLabeledEdit1: LabeledEdit1 = control; break;
        case ciSpeedButton1: SpeedButton1 = control; break;
        case ciRadioGroup1:
            RadioGroup1 = control;
            SelectRadioItem(RadioGroup1Items, kRadioGroup1Selected);
            break;
        case ciRadioGroup2:
            RadioGroup2 = control;
            SelectRadioItem(RadioGroup2Items, kRadioGroup2Selected);
            break;
        case ciCheckBox2: CheckBox2 = control; break;
        case ciDateTimePicker1: DateTimePicker1 = control; break;
        case ciCheckBox1: CheckBox1 = control; break;
        case ciBitBtn1: BitBtn1 = control; break;
        case kControlCount: break;
        }
    }
    SetWindowSubclass(SpeedButton1, SpeedButtonProc, 0, 0);
    SendMessageW(SpeedButton1, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(FFolder));
    Button_SetCheck(CheckBox1, kCheckBox1Checked ? BST_CHECKED : BST_UNCHECKED);
    Button_SetCheck(CheckBox2, kCheckBox2Checked ? BST_CHECKED : BST_UNCHECKED);
    // Only the years the header's date byte can hold.
    SYSTEMTIME range[2]{};
    range[0].wYear = kFirstStorableYear;
    range[0].wMonth = 1;
    range[0].wDay = 1;
    range[1].wYear = kLastStorableYear;
    range[1].wMonth = 12;
    range[1].wDay = 31;
    DateTime_SetRange(DateTimePicker1, GDTR_MIN | GDTR_MAX, range);
    // The date as the window's Russian texts write it, whatever the system's
    // short date; the drop-down calendar still speaks the user's locale, which
    // a program cannot choose for the common controls.
    static const std::wstring dateFormat = Utf16(kDateTimePicker1Format);
    DateTime_SetFormat(DateTimePicker1, dateFormat.c_str());
    FLastFocus = RadioGroup1Items[kRadioGroup1Selected];
    return TRUE;
}

void TForm1::OnShowWindow(BOOL shown)
{
    if (!shown || FShownBefore) return;
    FShownBefore = true;
    // The centre of the desktop's work area, the first time only.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(Handle, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT frame;
    GetWindowRect(Handle, &frame);
    const RECT& work = monitor.rcWork;
    SetWindowPos(Handle, nullptr, (work.left + work.right - (frame.right - frame.left)) / 2,
                 (work.top + work.bottom - (frame.bottom - frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    FormShow();
}

void TForm1::OnActivate(UINT state)
{
    // The focused control is kept while another window is active, as a
    // dialog keeps it.
    if (state == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(Handle, focus)) FLastFocus = focus;
    } else if (FLastFocus && IsWindow(FLastFocus)) {
        SetFocus(FLastFocus);
    }
}

void TForm1::OnNextDlgCtl(WPARAM wParam, LPARAM lParam)
{
    HWND next = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(Handle, GetFocus(), wParam != 0);
    if (next) SetFocus(next);
}

void TForm1::OnCommand(int id, HWND control, UINT code)
{
    if (id == ControlIdOf(ciSpeedButton1) && code == BN_CLICKED) {
        SpeedButton1Click();
    } else if (id == ControlIdOf(ciBitBtn1) && code == BN_CLICKED) {
        Button1Click();
    } else if (id == IDOK && GetFocus() == BitBtn1) {
        // Enter on the focused process button presses it.
        Button1Click();
    } else if (code == BN_CLICKED && control) {
        // The arrow keys or the mouse chose a radio item: the group's tab stop
        // moves with the selection.
        if (id / 10 == RadioItemId(1, 0) / 10) SelectRadioItem(RadioGroup1Items, static_cast<std::size_t>(id % 10));
        if (id / 10 == RadioItemId(2, 0) / 10) SelectRadioItem(RadioGroup2Items, static_cast<std::size_t>(id % 10));
    }
}

void TForm1::OnDropFiles(HDROP drop)
{
    // The first file dropped from Explorer: its full name goes to the edit.
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    if (length > 0) {
        std::wstring name(length + 1, L'\0');
        DragQueryFileW(drop, 0, name.data(), length + 1);
        name.resize(length);
        SetWindowTextW(LabeledEdit1, name.c_str());
    }
    DragFinish(drop);
}

int TForm1::RadioGroup1ItemIndex() const
{
    return SelectedRadioItem(RadioGroup1Items);
}

int TForm1::RadioGroup2ItemIndex() const
{
    return SelectedRadioItem(RadioGroup2Items);
}

std::chrono::year_month_day TForm1::DateTimePicker1Date() const
{
    SYSTEMTIME date{};
    DateTime_GetSystemtime(DateTimePicker1, &date);
    return ToYearMonthDay(date);
}

void TForm1::FormShow()
{
    SYSTEMTIME today{};
    GetLocalTime(&today);
    DateTime_SetSystemtime(DateTimePicker1, GDT_VALID, &today);
}

void TForm1::SpeedButton1Click()
{
    // Description and pattern, each ended by a zero, and one more at the end.
    const std::wstring filter =
        Utf16(kOpenDialog1FilterDescription) + L'\0' + Utf16(kOpenDialog1FilterPattern) + L'\0' + L'\0';
    std::wstring name = FOpenDialog1FileName;
    name.resize(32768, L'\0');
    OPENFILENAMEW OpenDialog1{};
    OpenDialog1.lStructSize = sizeof OpenDialog1;
    OpenDialog1.hwndOwner = Handle;
    OpenDialog1.lpstrFilter = filter.c_str();
    OpenDialog1.nFilterIndex = 1;
    OpenDialog1.lpstrFile = name.data();
    OpenDialog1.nMaxFile = static_cast<DWORD>(name.size());
    // The table may be named before it exists: Open reports a missing file.
    OpenDialog1.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&OpenDialog1)) return;
    name.resize(name.find(L'\0'));
    FOpenDialog1FileName = name;
    SetWindowTextW(LabeledEdit1, name.c_str());
}

void TForm1::OpenFromCommandLine(const std::vector<std::wstring>& arguments)
{
    // The shared rule reads UTF-8; a name from the wide command line keeps
    // every letter, whatever the ANSI code page.
    std::vector<std::string> utf8;
    utf8.reserve(arguments.size());
    for (const std::wstring& argument : arguments) utf8.push_back(Utf8(argument));
    const TCommandLineTable table = TableFromCommandLine(utf8, TNameSystem::Windows);
    if (!table.error.empty()) {
        ShowErrorBox(Handle, Utf16(table.error), WindowText(Handle));
        return;
    }
    if (!table.name.empty()) SetWindowTextW(LabeledEdit1, Utf16(table.name).c_str());
}

void TForm1::Button1Click()
{
    DbfFileName = Utf8(WindowText(LabeledEdit1));
    if (DbfFileName.empty()) {
        ShowErrorBox(Handle, Utf16(kNoFileText), WindowText(Handle));
        return;
    }
    ProcessFile(DbfFileName, RadioGroup1ItemIndex(), RadioGroup2ItemIndex(), IsChecked(CheckBox1),
                IsChecked(CheckBox2), DateTimePicker1Date());
}
