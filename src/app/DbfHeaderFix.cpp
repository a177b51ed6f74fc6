// SPDX-License-Identifier: MIT
// Start-up: the application, NotifyUser's box, the main window and its
// message loop. The command line may name one table; nothing is read from
// settings or files.
#include "Application.h"
#include "MessageBoxes.h"
#include "Pictures.h"
#include "Unit1.h"
#include "Version.h"

#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    TApplication application(argc, argv);
    TApplication::setApplicationVersion(QStringLiteral(DBFHEADERFIX_VERSION));
    TApplication::setWindowIcon(TableIcon());
    InstallNotifyUserBox();
    // Qt has taken its own options (-platform, -style and the like) out of
    // argv by now; the rest are the user's, as their bytes.
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    TForm1 Form1;
    Form1.show();
    // Over the window, so that a mistake's box stands where the user looks.
    Form1.OpenFromCommandLine(arguments);
    return TApplication::exec();
}
