// SPDX-License-Identifier: MIT
#include "Pictures.h"

#include "PictureData.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

QImage FolderImage()
{
    return QImage(kFolderXpm);
}

QImage TableImage()
{
    return QImage(kTableXpm);
}

QPixmap FolderPicture()
{
    return QPixmap::fromImage(FolderImage());
}

QIcon TableIcon()
{
    return QIcon(QPixmap::fromImage(TableImage()));
}
