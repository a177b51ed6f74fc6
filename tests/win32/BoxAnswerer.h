// SPDX-License-Identifier: MIT
// Answers the modal boxes a handler opens, as a user would, and keeps what
// each showed: a timer of the test's thread, run by the box's own message
// loop, finds the box and reads its controls.
#pragma once

#include "Application.h"

#include <functional>
#include <string>
#include <vector>

enum class TBoxKind { Notify, Error, FileDialog, Other };

struct TSeenBox {
    TBoxKind kind = TBoxKind::Other;
    std::wstring title;
    std::wstring text;
    RECT frame{};       // the box on the screen
    RECT textFrame{};   // its text control on the screen
    int buttons = 0;    // its push buttons
    HICON icon = nullptr;  // the icon it shows
};

class TBoxAnswerer {
public:
    // The key that answers NotifyUser's box; a file dialog is cancelled unless
    // OnFileDialog answers it.
    explicit TBoxAnswerer(WPARAM notifyKey = VK_RETURN);
    ~TBoxAnswerer();
    TBoxAnswerer(const TBoxAnswerer&) = delete;
    TBoxAnswerer& operator=(const TBoxAnswerer&) = delete;

    std::function<void(HWND dialog)> OnFileDialog;
    std::vector<TSeenBox> seen;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Answer(HWND box);
    UINT_PTR FTimer;
    WPARAM FNotifyKey;
};

// The file dialog's name box.
inline constexpr int kFileNameBox = 0x47C;  // cmb13
