// SPDX-License-Identifier: MIT
#include "Pictures.h"

#include "PictureData.h"

#include <vector>

namespace {

// A colour image with its alpha and a mask in which set bits are transparent.
HICON IconOf(const TPicture& picture)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // top row first, as the picture holds them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!colour) return nullptr;
    // 0xAARRGGBB in memory is B, G, R, A: the DIB's own order.
    std::copy(picture.pixels.begin(), picture.pixels.end(), static_cast<std::uint32_t*>(bits));

    // Mask rows are padded to 16 bits.
    const int stride = ((picture.width + 15) / 16) * 2;
    std::vector<BYTE> mask(static_cast<std::size_t>(stride * picture.height), 0);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            if ((picture.pixels[static_cast<std::size_t>(y * picture.width + x)] >> 24) == 0) {
                mask[static_cast<std::size_t>(y * stride + x / 8)] |= static_cast<BYTE>(0x80 >> (x % 8));
            }
        }
    }
    HBITMAP maskBitmap = CreateBitmap(picture.width, picture.height, 1, 1, mask.data());
    ICONINFO icon{TRUE, 0, 0, maskBitmap, colour};
    HICON result = CreateIconIndirect(&icon);
    DeleteObject(maskBitmap);
    DeleteObject(colour);
    return result;
}

}  // namespace

HICON TableIcon(int size)
{
    const TPicture table = DecodeXpm(kTableXpm);
    return IconOf(size >= table.width ? table : HalfSize(table));
}

HICON FolderIcon()
{
    return IconOf(DecodeXpm(kFolderXpm));
}
