// SPDX-License-Identifier: MIT
// Writes the program's icon file (the table at 32 x 32 and 16 x 16) for the
// Windows executable's resources. Built for the machine that builds.
//
//   MakeIcon FILE.ico
#include "PictureData.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.ico\n", argv[0]);
        return 2;
    }
    const TPicture table = DecodeXpm(kTableXpm);
    const auto bytes = IconFile({table, HalfSize(table)});
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) return 1;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
