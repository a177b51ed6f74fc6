// SPDX-License-Identifier: MIT
// The window forms of the two message boxes: the one NotifyUser shows and the
// error box.
#pragma once

#include "Application.h"

#include <string>

// The control of NotifyUser's box that holds its text.
inline constexpr int kNotifyTextId = 100;

// NotifyUser's box, a dialog of the program's own: the text in a static
// control, no icon, no sound, one "OK" that Enter and Esc both press, titled
// with the application's title, centred on the screen, the text wrapped at
// words to at most half the screen's width. Returns when the user closed it.
void ShowNotifyBox(const std::wstring& text);

// Makes NotifyUser show its texts in that box.
void InstallNotifyUserBox();

// The system's message box with the error icon, the text, OK and the title.
void ShowErrorBox(HWND owner, const std::wstring& text, const std::wstring& title);
