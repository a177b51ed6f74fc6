// SPDX-License-Identifier: MIT
// Writes the program's pictures as PNG files: the icon for the desktop's menu
// (at build time), and the main window as it first appears, for the README.
//
//   MakePictures icon FILE.png
//   MakePictures window FILE.png   (under a window manager: the framed window
//                                   as it stands on the screen; on Qt's
//                                   offscreen platform: the window alone)
#include "Application.h"
#include "Pictures.h"
#include "Unit1.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s icon|window FILE.png\n", argv[0]);
        return 2;
    }
    if (std::strcmp(argv[1], "icon") == 0) return TableImage().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
    if (std::strcmp(argv[1], "window") != 0) {
        std::fprintf(stderr, "unknown picture: %s\n", argv[1]);
        return 2;
    }
    int qtArgc = 1;
    TApplication application(qtArgc, argv);
    TApplication::setWindowIcon(TableIcon());
    TForm1 Form1;
    Form1.show();
    const QString file = QString::fromLocal8Bit(argv[2]);
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        TApplication::processEvents();
        return Form1.grab().save(file, "PNG") ? 0 : 1;
    }
    // Until the window manager has framed the window and it has been placed
    // again by its frame, then a little longer for both to finish painting.
    QDeadlineTimer framing(5000);
    while (!framing.hasExpired() && Form1.windowHandle()->frameMargins().isNull())
        TApplication::processEvents(QEventLoop::AllEvents, 50);
    QDeadlineTimer painting(700);
    while (!painting.hasExpired()) TApplication::processEvents(QEventLoop::AllEvents, 50);
    const QRect frame = Form1.frameGeometry();
    const QPixmap shot = Form1.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(file, "PNG") ? 0 : 1;
}
