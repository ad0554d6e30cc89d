#include "styledbuttons/pixels/frames.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace styledbuttons;
using namespace sbtest;

namespace {

// The bitmap as one letter per pixel from a legend; '?' for colours not in it.
std::vector<std::string> Picture(const Bitmap24& b, const std::vector<std::pair<char, TColor>>& legend) {
    std::vector<std::string> rows;
    for (int y = 0; y < b.Height(); ++y) {
        std::string row;
        for (int x = 0; x < b.Width(); ++x) {
            char c = '?';
            for (const auto& [letter, colour] : legend)
                if (b.Pixel(x, y) == colour) c = letter;
            row += c;
        }
        rows.push_back(row);
    }
    return rows;
}

const TColor Red = RGB(255, 0, 0);
const TColor Blue = RGB(0, 0, 255);

} // namespace

TEST(PenLineTest, EndPointIsNotDrawnAndSystemColoursResolve) {
    Bitmap24 b(4, 4);
    DrawPenLine(b, clBlack, {0, 0}, {3, 0});
    DrawPenLine(b, clBtnShadow, {3, 3}, {3, 0});
    EXPECT_EQ(Picture(b, {{'.', clWhite}, {'k', clBlack}, {'s', RGB(160, 160, 160)}}),
              (std::vector<std::string>{"kkk.", "...s", "...s", "...s"}));

    Bitmap24 c(3, 3);
    DrawPenLine(c, clBlack, {1, 1}, {1, 1});
    EXPECT_EQ(c, Bitmap24(3, 3));
}

TEST(FillRectSolidTest, CutToTheBitmap) {
    Bitmap24 b(3, 2);
    FillRectSolid(b, TRect{-4, 1, 2, 9}, clBtnFace);
    EXPECT_EQ(Picture(b, {{'.', clWhite}, {'f', RGB(240, 240, 240)}}),
              (std::vector<std::string>{"...", "ff."}));
}

TEST(BevelFrameTest, HardRaisedRingsAreMitred) {
    Bitmap24 b(6, 6);
    DrawBevelFrame(b, Red, Blue, false, 0, 2, TRect{0, 0, 6, 6}, clWhite);
    EXPECT_EQ(Picture(b, {{'.', clWhite}, {'R', Red}, {'B', Blue}}),
              (std::vector<std::string>{"RRRRRR", "RRRRRB", "RR..BB", "RR..BB", "RRBBBB", "RBBBBB"}));

    Bitmap24 lowered(4, 4);
    DrawBevelFrame(lowered, Red, Blue, false, 1, 0, TRect{0, 0, 4, 4}, clWhite);
    EXPECT_EQ(Picture(lowered, {{'.', clWhite}, {'R', Red}, {'B', Blue}}),
              (std::vector<std::string>{"BBBB", "B..R", "B..R", "BRRR"}));
}

TEST(BevelFrameTest, FlatModesDrawWidthLinesOnly) {
    Bitmap24 b(4, 4);
    DrawBevelFrame(b, Red, Blue, true, 2, 0, TRect{0, 0, 4, 4}, clWhite);
    EXPECT_EQ(b, Bitmap24(4, 4));
    DrawBevelFrame(b, Red, Blue, true, 3, 1, TRect{0, 0, 4, 4}, clWhite);
    EXPECT_EQ(Picture(b, {{'.', clWhite}, {'B', Blue}}),
              (std::vector<std::string>{"BBBB", "B..B", "B..B", "BBBB"}));
}

TEST(BevelFrameTest, SoftSidesFadeTowardTheEndColour) {
    Bitmap24 b(8, 8);
    DrawBevelFrame(b, RGB(100, 100, 100), RGB(200, 200, 200), true, 0, 3, TRect{0, 0, 8, 8}, clWhite);
    // left and top: white, then 100 + 155/3 = 151.67 -> 152, 100 + 310/3 = 203.33 -> 203
    EXPECT_EQ(At(b, 0, 4), Grey(255));
    EXPECT_EQ(At(b, 1, 4), Grey(152));
    EXPECT_EQ(At(b, 2, 4), Grey(203));
    EXPECT_EQ(At(b, 4, 2), Grey(203));
    // right and bottom: black, then from 200 mixed half with black (100) the same way
    EXPECT_EQ(At(b, 7, 4), Grey(0));
    EXPECT_EQ(At(b, 6, 4), Grey(152));
    EXPECT_EQ(At(b, 5, 4), Grey(203));
    EXPECT_EQ(At(b, 4, 6), Grey(152));
    EXPECT_EQ(At(b, 4, 4), Grey(255));
}

TEST(BevelRectTest, LoweredIsOneLineWhateverTheWidth) {
    Bitmap24 b(5, 5);
    DrawBevelRect(b, TRect{0, 0, 5, 5}, clWhite, 3, true, Blue, Red);
    EXPECT_EQ(Picture(b, {{'.', clWhite}, {'R', Red}, {'B', Blue}}),
              (std::vector<std::string>{"BBBBB", "B...R", "B...R", "B...R", "BRRRR"}));
    Bitmap24 raised(5, 5);
    DrawBevelRect(raised, TRect{0, 0, 5, 5}, clWhite, 2, false, Blue, Red);
    EXPECT_EQ(Picture(raised, {{'.', clWhite}, {'R', Red}, {'B', Blue}}),
              (std::vector<std::string>{"RRRRR", "RRRRB", "RR.BB", "RRBBB", "RBBBB"}));
}

TEST(ShadedBevelTest, WidthShrinksToFitALowRectangle) {
    // width 4 in a rectangle 6 high becomes 6 div 2 - 1 = 2: the left strip is two columns
    Bitmap24 hard(11, 7);
    DrawShadedBevel(hard, TRect{0, 0, 10, 6}, 4, false, TsControlBevel::cbRaisedHard);
    // flat mask 127 toward grey 240: (240 * 129 + 255 * 127) div 256 = 247
    EXPECT_EQ(At(hard, 0, 2), Grey(247));
    EXPECT_EQ(At(hard, 1, 2), Grey(247));
    EXPECT_EQ(At(hard, 2, 2), Grey(255));

    Bitmap24 soft(11, 7);
    DrawShadedBevel(soft, TRect{0, 0, 10, 6}, 4, true, TsControlBevel::cbRaisedSoft);
    // graded in steps of 255 div 2 = 127, from 0 at the outer edge
    EXPECT_EQ(At(soft, 0, 2), Grey(240));
    EXPECT_EQ(At(soft, 1, 2), Grey(247));
    EXPECT_EQ(At(soft, 2, 2), Grey(255));
}

TEST(ShadedBevelTest, NothingOrASingleBevelLine) {
    Bitmap24 b(6, 6);
    DrawShadedBevel(b, TRect{0, 0, 6, 6}, 3, true, TsControlBevel::cbNone);
    DrawShadedBevel(b, TRect{0, 0, 6, 6}, 0, true, TsControlBevel::cbRaisedSoft);
    DrawShadedBevel(b, TRect{0, 0, 6, 6}, 3, true, TsControlBevel::cbRaisedSoft); // 5 div 2 - 1 = 1
    EXPECT_EQ(b, Bitmap24(6, 6));

    DrawShadedBevel(b, TRect{0, 0, 6, 6}, 1, true, TsControlBevel::cbLoweredSoft);
    EXPECT_EQ(Picture(b, {{'.', clWhite}, {'k', clBlack}}),
              (std::vector<std::string>{"kkkkkk", "k.....", "k.....", "k.....", "k.....", "k....."}));
}

TEST(DottedFrameTest, BlackDotsWithWhiteOnesAboveLeft) {
    Bitmap24 b(9, 6);
    b.Fill(RGB(128, 128, 128));
    DrawDottedFrame(b, TRect{1, 1, 7, 4});
    EXPECT_EQ(Picture(b, {{'.', RGB(128, 128, 128)}, {'k', clBlack}, {'w', clWhite}}),
              (std::vector<std::string>{"w..w..w..", ".k..k..k.", ".........", "w..w..w..", ".k..k..k.",
                                        "........."}));
}
