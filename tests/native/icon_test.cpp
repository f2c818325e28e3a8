// Reads every tray picture as the shell would and checks it against the drawing rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

enum Colour : int { Clear = -1, Black = 0x000000, DarkRed = 0x800000, Olive = 0x808000, Red = 0xFF0000,
                    Yellow = 0xFFFF00, White = 0xFFFFFF, Grey = 0x808080 };

using Picture = std::vector<std::vector<int>>;  // [row][column], RGB or Clear

uint32_t Read32(const std::string &b, size_t at)
{
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
           static_cast<uint8_t>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t Read16(const std::string &b, size_t at) { return static_cast<uint16_t>(Read32(b, at) & 0xFFFF); }

// The images of an .ico file with 4-bit colour and a mask, decoded to colours.
std::vector<Picture> ReadIco(int id)
{
    std::ifstream file(std::string(POLLWICK_SOURCE_DIR) + "/resources/icons/" + std::to_string(id) + ".ico",
                       std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<Picture> pictures;
    if (b.size() < 6 || Read16(b, 0) != 0 || Read16(b, 2) != 1)
        return pictures;
    for (int image = 0; image < Read16(b, 4); image++) {
        size_t entry = 6 + 16 * static_cast<size_t>(image);
        int size = static_cast<uint8_t>(b[entry]);
        EXPECT_EQ(static_cast<uint8_t>(b[entry + 2]), 16) << "16 colours";
        size_t at = Read32(b, entry + 12);
        EXPECT_EQ(Read32(b, at), 40u);
        EXPECT_EQ(static_cast<int>(Read32(b, at + 4)), size);
        EXPECT_EQ(static_cast<int>(Read32(b, at + 8)), size * 2);  // colour rows and mask rows
        EXPECT_EQ(Read16(b, at + 14), 4) << "4 bits per pixel";
        size_t palette = at + 40, colours = palette + 64;
        size_t colourRow = (static_cast<size_t>(size) / 2 + 3) / 4 * 4;
        size_t maskRow = (static_cast<size_t>(size) / 8 + 3) / 4 * 4;
        size_t mask = colours + colourRow * static_cast<size_t>(size);
        EXPECT_EQ(mask + maskRow * static_cast<size_t>(size), at + Read32(b, entry + 8));
        Picture picture(static_cast<size_t>(size), std::vector<int>(static_cast<size_t>(size)));
        for (int row = 0; row < size; row++) {
            size_t stored = static_cast<size_t>(size - 1 - row);  // bottom row first
            for (int column = 0; column < size; column++) {
                uint8_t maskByte = static_cast<uint8_t>(b[mask + stored * maskRow + static_cast<size_t>(column) / 8]);
                uint8_t pair = static_cast<uint8_t>(b[colours + stored * colourRow + static_cast<size_t>(column) / 2]);
                int index = column % 2 ? pair & 0x0F : pair >> 4;
                size_t p = palette + static_cast<size_t>(index) * 4;
                int rgb = static_cast<uint8_t>(b[p + 2]) << 16 | static_cast<uint8_t>(b[p + 1]) << 8 |
                          static_cast<uint8_t>(b[p]);
                picture[static_cast<size_t>(row)][static_cast<size_t>(column)] =
                    maskByte & (0x80 >> (column % 8)) ? Clear : rgb;
            }
        }
        pictures.push_back(picture);
    }
    return pictures;
}

// The white pixels between the slots, as one text row per picture row 5..11.
std::vector<std::string> Glyph(const Picture &p)
{
    std::vector<std::string> rows;
    for (int row = 5; row <= 11; row++) {
        std::string line;
        for (int column = 3; column <= 12; column++)
            line += p[row][column] == White ? '#' : p[row][column] == Red ? '.' : '?';
        rows.push_back(line);
    }
    return rows;
}

const std::vector<std::string> kPostalMark = {"..######..", "..........", "..######..", "....##....",
                                              "....##....", "....##....", ".........."};
const std::vector<std::string> kQuestionMark = {"...####...", "..##..##..", "......##..", "....##....",
                                                "..........", "....##....", "....##...."};
const std::vector<std::string> kCross = {"..#....#..", "...#..#...", "....##....", "....##....",
                                         "...#..#...", "..#....#..", ".........."};

void CheckFront(const Picture &p, bool topLit, bool bottomLit, const std::vector<std::string> &glyph)
{
    ASSERT_EQ(p.size(), 16u);
    for (int row = 0; row < 16; row++) {
        EXPECT_EQ(p[row][0], Clear) << row;
        EXPECT_EQ(p[row][15], Clear) << row;
        EXPECT_EQ(p[row][1], Black) << row;
        EXPECT_EQ(p[row][14], Black) << row;
    }
    for (int column = 1; column <= 14; column++) {
        EXPECT_EQ(p[0][column], Black) << column;
        EXPECT_EQ(p[15][column], Black) << column;
    }
    for (int row = 1; row <= 14; row++)
        for (int column : {2, 13})
            EXPECT_EQ(p[row][column], Red) << row << "," << column;
    // Slots: dark red at their ends, lit or dark inside.
    for (int row : {2, 3, 12, 13}) {
        EXPECT_EQ(p[row][3], DarkRed) << row;
        EXPECT_EQ(p[row][12], DarkRed) << row;
        for (int column = 4; column <= 11; column++) {
            int expected = DarkRed;
            if (topLit && row == 2)
                expected = Yellow;
            if (topLit && row == 3)
                expected = Olive;
            if (bottomLit && row == 13)
                expected = Yellow;
            EXPECT_EQ(p[row][column], expected) << row << "," << column;
        }
    }
    for (int row : {1, 4, 14})
        for (int column = 2; column <= 13; column++)
            EXPECT_EQ(p[row][column], Red) << row << "," << column;
    EXPECT_EQ(Glyph(p), glyph);
}

TEST(Icons, TheNineTrayPictures)
{
    struct { int id; bool top, bottom; const std::vector<std::string> *glyph; } expected[] = {
        {2001, false, false, &kPostalMark},   {2002, true, false, &kPostalMark},
        {2003, true, true, &kPostalMark},     {2004, false, true, &kPostalMark},
        {2005, false, false, &kQuestionMark}, {2006, true, false, &kQuestionMark},
        {2007, true, true, &kQuestionMark},   {2008, false, true, &kQuestionMark},
        {2009, false, false, &kCross},
    };
    for (auto e : expected) {
        SCOPED_TRACE(e.id);
        std::vector<Picture> pictures = ReadIco(e.id);
        ASSERT_EQ(pictures.size(), 1u);
        CheckFront(pictures[0], e.top, e.bottom, *e.glyph);
    }
}

TEST(Icons, ProgramIconHasTheTrayPictureAndThePostBox)
{
    std::vector<Picture> pictures = ReadIco(2000);
    ASSERT_EQ(pictures.size(), 2u);
    CheckFront(pictures[0], false, false, kPostalMark);
    const Picture &box = pictures[1];
    ASSERT_EQ(box.size(), 32u);
    int red = 0, darkRed = 0, white = 0, grey = 0, clear = 0;
    for (const auto &row : box)
        for (int colour : row) {
            red += colour == Red;
            darkRed += colour == DarkRed;
            white += colour == White;
            grey += colour == Grey;
            clear += colour == Clear;
        }
    EXPECT_GT(red, 300);      // top and front
    EXPECT_GT(darkRed, 60);   // right side
    EXPECT_GT(white, 30);     // the postal mark
    EXPECT_EQ(grey, 56);      // two 14 x 2 slots
    EXPECT_GT(clear, 100);    // seen at an angle: corners left open
    EXPECT_EQ(box[0][0], Clear);
    EXPECT_EQ(box[31][31], Clear);
    // The front's columns: grey slot above the postal mark's bars above the lower slot.
    EXPECT_EQ(box[12][10], Grey);
    EXPECT_EQ(box[16][10], White);
    EXPECT_EQ(box[26][10], Grey);
}

}  // namespace
