// SPDX-License-Identifier: MIT
// The program's pictures as icons, drawn from the same XPM rows as the Qt
// window's.
#pragma once

#include "Application.h"

// The table at 32 x 32, or at 16 x 16 for the caption and the task bar.
HICON TableIcon(int size);
// The 16 x 16 folder of the picture button.
HICON FolderIcon();
