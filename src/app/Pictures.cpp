#include "Pictures.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace {

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

}  // namespace

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
