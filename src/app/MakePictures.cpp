// Writes the program's pictures as PNG files: the icon for the desktop's menu
// (at build time), and the main window as it first appears, for the README.
//
//   MakePictures icon FILE.png
//   MakePictures window FILE.png   (run under QT_QPA_PLATFORM=offscreen)
#include "Application.h"
#include "Pictures.h"
#include "Unit1.h"

#include <QDate>
#include <QImage>
#include <QPixmap>

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
    TApplication::processEvents();
    return Form1.grab().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
