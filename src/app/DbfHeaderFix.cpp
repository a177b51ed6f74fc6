// SPDX-License-Identifier: MIT
// Start-up: the application, NotifyUser's box, the main window and its
// message loop. Nothing is read from the command line, settings or files.
#include "Application.h"
#include "MessageBoxes.h"
#include "Pictures.h"
#include "Unit1.h"
#include "Version.h"

int main(int argc, char* argv[])
{
    TApplication application(argc, argv);
    TApplication::setApplicationVersion(QStringLiteral(DBFHEADERFIX_VERSION));
    TApplication::setWindowIcon(TableIcon());
    InstallNotifyUserBox();
    TForm1 Form1;
    Form1.show();
    return TApplication::exec();
}
