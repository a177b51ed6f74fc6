// SPDX-License-Identifier: MIT
// The smoke run of the real program in a real display (wine's X11 driver in
// Xvfb): starts DbfHeaderFix.exe, finds its window by the caption, checks
// its size, saves a picture of the window as it first appears (the edit
// empty) as a BMP file, puts a Cyrillic name into the edit and reads it back,
// and closes it.
//
//   WindowSmoke PROGRAM.exe PICTURE.bmp
//
// Prints the time from launch to the window being shown.
#include "Form1Layout.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring Utf16(const char* utf8)
{
    std::wstring out(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), static_cast<int>(out.size()));
    out.resize(out.size() - 1);
    return out;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "WindowSmoke: %s\n", what);
    return 1;
}

// The window's pixels as the screen shows them, frame included, as a
// bottom-up 24-bit BMP.
bool SavePicture(HWND window, const wchar_t* path)
{
    RECT frame;
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + size;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(&header), sizeof header);
    file.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    file.write(static_cast<const char*>(bits), size);
    SelectObject(memory, previous);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return file.good();
}

}  // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc != 3) return Fail("usage: WindowSmoke PROGRAM.exe PICTURE.bmp");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
    LARGE_INTEGER frequency, launched, shown;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&launched);
    if (!CreateProcessW(argv[1], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return Fail("the program did not start");
    }
    const std::wstring caption = Utf16(kForm1Caption);
    HWND window = nullptr;
    // Wine's first window on a fresh display can take a while on a busy machine.
    const ULONGLONG giveUp = GetTickCount64() + 60000;
    while (!(window && IsWindowVisible(window)) && GetTickCount64() < giveUp) {
        window = FindWindowW(L"TForm1", caption.c_str());
        if (!(window && IsWindowVisible(window))) Sleep(5);
    }
    QueryPerformanceCounter(&shown);
    if (!window) return Fail("no window with the caption");
    std::printf("window shown %.0f ms after launch\n",
                1000.0 * static_cast<double>(shown.QuadPart - launched.QuadPart) / static_cast<double>(frequency.QuadPart));

    RECT client;
    GetClientRect(window, &client);
    std::printf("client area %ld x %ld\n", client.right, client.bottom);
    if (client.right != kForm1ClientWidth || client.bottom != kForm1ClientHeight) return Fail("wrong client size");

    // As it first appears, started without a table's name: the edit empty.
    HWND edit = FindWindowExW(window, nullptr, L"Edit", nullptr);
    if (!edit) return Fail("no edit in the window");
    if (GetWindowTextLengthW(edit) != 0) return Fail("the edit is not empty as the window first appears");
    // Painted before the picture is taken.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(500);
    if (!SavePicture(window, argv[2])) return Fail("the picture was not written");

    // The window's one edit holds what it is given.
    const std::wstring name = L"C:\\Таблицы\\клиенты.dbf";
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    wchar_t back[64] = {};
    SendMessageW(edit, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(back));
    if (name != back) return Fail("the edit did not keep its text");

    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return Fail("the program did not end when its window closed");
    }
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("program ended with %lu\n", code);
    return code == 0 ? 0 : Fail("the program ended with a failure");
}
