// SPDX-License-Identifier: MIT
#include "PictureData.h"

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

// The open folder of the picture button: black outline, pale-yellow back and
// tab, olive front flap, and a black arrow curving over the right end into it.
// White is the background and is drawn transparent.
const char* const kFolderXpm[] = {
    "16 16 4 1",
    ". c None",
    "# c #000000",
    "y c #FFFF80",
    "o c #808000",
    "................",
    "..........###...",
    ".........#...#..",
    ".............#..",
    ".###.......#####",
    "#yyy#######.###.",
    "#yyyyyyyyy#..#..",
    "#yyyyyyyyy#.....",
    "#yyyyyyyyy#.....",
    "#yyy###########.",
    "#yy#oooooooooo#.",
    "#y#oooooooooo#..",
    "##oooooooooo#...",
    "#oooooooooo#....",
    "###########.....",
    "................",
};

// The program's icon: a table with a black frame and grid, a light-grey
// header row over three columns of growing width, and white rows whose short
// black bars stand for the entries.
const char* const kTableXpm[] = {
    "32 32 5 1",
    ". c None",
    "# c #000000",
    "g c #C0C0C0",
    "w c #FFFFFF",
    "s c #808080",
    "................................",
    "................................",
    ".##############################.",
    ".#ggggg#ggggggg#gggggggggggggg#s",
    ".#ggggg#ggggggg#gggggggggggggg#s",
    ".#ggggg#ggggggg#gggggggggggggg#s",
    ".#ggggg#ggggggg#gggggggggggggg#s",
    ".#ggggg#ggggggg#gggggggggggggg#s",
    ".##############################s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".#w###w#w#####w#w#########wwww#s",
    ".#w###w#w#####w#w#########wwww#s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".##############################s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".#w##ww#w####ww#w###########ww#s",
    ".#w##ww#w####ww#w###########ww#s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".##############################s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".#w###w#w#####w#w#######wwwwww#s",
    ".#w###w#w#####w#w#######wwwwww#s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".##############################s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".#w##ww#w###www#w##########www#s",
    ".#w##ww#w###www#w##########www#s",
    ".#wwwww#wwwwwww#wwwwwwwwwwwwww#s",
    ".##############################s",
    "..ssssssssssssssssssssssssssssss",
    "................................",
    "................................",
};

namespace {

std::uint32_t ParseColour(const char* colourLine)
{
    // "c #RRGGBB" or "c None"
    const char* value = std::strstr(colourLine, "c ");
    if (!value) throw std::invalid_argument("XPM colour without a c key");
    value += 2;
    if (std::strcmp(value, "None") == 0) return 0;
    if (value[0] != '#' || std::strlen(value) != 7) throw std::invalid_argument("XPM colour not #RRGGBB");
    return 0xFF000000U | static_cast<std::uint32_t>(std::stoul(value + 1, nullptr, 16));
}

// Little-endian appenders for the icon file's records.
void Put16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// One image of an icon file: a BITMAPINFOHEADER whose height counts the
// colour rows and the mask's, the colours bottom-up as BGRA, then the 1-bit
// mask (set = transparent), rows padded to 4 bytes.
std::vector<std::uint8_t> IconImage(const TPicture& picture)
{
    std::vector<std::uint8_t> out;
    const auto width = static_cast<std::uint32_t>(picture.width);
    const auto height = static_cast<std::uint32_t>(picture.height);
    const std::uint32_t maskStride = ((width + 31) / 32) * 4;
    Put32(out, 40);
    Put32(out, width);
    Put32(out, height * 2);
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, 0);   // BI_RGB
    Put32(out, width * height * 4 + maskStride * height);
    for (int i = 0; i < 4; ++i) Put32(out, 0);
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) Put32(out, picture.pixels[static_cast<std::size_t>(y * picture.width + x)]);
    }
    for (int y = picture.height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(maskStride, 0);
        for (int x = 0; x < picture.width; ++x) {
            if ((picture.pixels[static_cast<std::size_t>(y * picture.width + x)] >> 24) == 0) {
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

TPicture DecodeXpm(const char* const* rows)
{
    TPicture picture;
    int colours = 0;
    int perPixel = 0;
    if (std::sscanf(rows[0], "%d %d %d %d", &picture.width, &picture.height, &colours, &perPixel) != 4 ||
        perPixel != 1 || picture.width <= 0 || picture.height <= 0) {
        throw std::invalid_argument("XPM header not understood");
    }
    std::map<char, std::uint32_t> palette;
    for (int i = 1; i <= colours; ++i) palette[rows[i][0]] = ParseColour(rows[i] + 1);
    picture.pixels.reserve(static_cast<std::size_t>(picture.width * picture.height));
    for (int y = 0; y < picture.height; ++y) {
        const char* row = rows[1 + colours + y];
        if (std::strlen(row) != static_cast<std::size_t>(picture.width)) throw std::invalid_argument("XPM row length");
        for (int x = 0; x < picture.width; ++x) picture.pixels.push_back(palette.at(row[x]));
    }
    return picture;
}

TPicture HalfSize(const TPicture& picture)
{
    TPicture half{picture.width / 2, picture.height / 2, {}};
    for (int y = 0; y < half.height; ++y) {
        for (int x = 0; x < half.width; ++x) {
            unsigned opaque = 0;
            std::uint32_t sum[3] = {0, 0, 0};
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const std::uint32_t pixel =
                        picture.pixels[static_cast<std::size_t>((2 * y + dy) * picture.width + 2 * x + dx)];
                    if ((pixel >> 24) == 0) continue;
                    ++opaque;
                    for (int c = 0; c < 3; ++c) sum[c] += (pixel >> (8 * c)) & 0xFF;
                }
            }
            std::uint32_t mean = 0;
            if (opaque >= 2) {
                mean = 0xFF000000U;
                for (int c = 0; c < 3; ++c) mean |= (sum[c] / opaque) << (8 * c);
            }
            half.pixels.push_back(mean);
        }
    }
    return half;
}

std::vector<std::uint8_t> IconFile(const std::vector<TPicture>& pictures)
{
    // ICONDIR, one ICONDIRENTRY per image, then the images.
    std::vector<std::uint8_t> out;
    Put16(out, 0);
    Put16(out, 1);  // an icon
    Put16(out, static_cast<unsigned>(pictures.size()));
    std::vector<std::vector<std::uint8_t>> images;
    for (const auto& picture : pictures) images.push_back(IconImage(picture));
    auto offset = static_cast<std::uint32_t>(6 + 16 * pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        out.push_back(static_cast<std::uint8_t>(pictures[i].width));
        out.push_back(static_cast<std::uint8_t>(pictures[i].height));
        out.push_back(0);  // no palette
        out.push_back(0);
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, static_cast<std::uint32_t>(images[i].size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}
