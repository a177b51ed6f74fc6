// SPDX-License-Identifier: MIT
// The program's two pictures, drawn here in the code as few-colour images.
#pragma once

class QIcon;
class QImage;
class QPixmap;

// 16 x 16, four colours: the open folder with the arrow on the picture button.
QImage FolderImage();
QPixmap FolderPicture();

// 32 x 32: the table, the program's and the window's icon.
QImage TableImage();
QIcon TableIcon();
