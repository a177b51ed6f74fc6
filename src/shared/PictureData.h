// SPDX-License-Identifier: MIT
// The program's two pictures as XPM rows, and what turns them into pixels and
// into a Windows icon file. No toolkit here.
#pragma once

#include <cstdint>
#include <vector>

// 16 x 16, four colours: the open folder with the arrow on the picture button.
extern const char* const kFolderXpm[];
// 32 x 32: the table, the program's and the window's icon.
extern const char* const kTableXpm[];

// Pixels as 0xAARRGGBB, row by row from the top; transparent ones are 0.
struct TPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Decodes an XPM with one character per pixel and colours given as #RRGGBB
// or None, as the pictures above are written.
TPicture DecodeXpm(const char* const* rows);

// Half the size: each pixel the mean of the opaque ones of its 2 x 2 block,
// transparent when fewer than two of them are opaque.
TPicture HalfSize(const TPicture& picture);

// A .ico file holding the pictures, each as a 32-bit image with its mask.
std::vector<std::uint8_t> IconFile(const std::vector<TPicture>& pictures);
