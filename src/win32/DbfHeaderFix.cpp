// SPDX-License-Identifier: MIT
// Start-up: NotifyUser's box, the main window and its message loop. The
// command line may name one table (Explorer's verb, a table dropped on the
// program's icon); nothing is read from settings or files.
#include "MessageBoxes.h"
#include "Unit1.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show)
{
    InstallNotifyUserBox();
    TForm1 Form1;
    if (!Form1.Handle) return 1;
    ShowWindow(Form1.Handle, show);
    SetFocus(Form1.RadioGroup1Items[static_cast<std::size_t>(Form1.RadioGroup1ItemIndex())]);
    // Over the window, so that a mistake's box stands where the user looks.
    Form1.OpenFromCommandLine(ProgramArguments());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab, the arrow keys in a radio group, Enter and Esc, as in a dialog.
        if (IsDialogMessageW(Form1.Handle, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
