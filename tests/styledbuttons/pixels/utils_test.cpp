#include "styledbuttons/pixels/utils.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

using namespace styledbuttons;
using namespace sbtest;

TEST(Bitmap24Test, RowsArePaddedToFourBytesAndStartWhite) {
    Bitmap24 b(5, 2);
    EXPECT_EQ(b.Stride(), 16);
    EXPECT_EQ(At(b, 4, 1), Grey(255));
    b.SetPixel(1, 0, RGB(1, 2, 3));
    EXPECT_EQ(b.Row(0)[3], 3); // blue first in memory
    EXPECT_EQ(b.Row(0)[5], 1);
    EXPECT_EQ(b.Pixel(1, 0), 0x030201u);

    b.SetPixel(5, 0, clBlack); // outside: ignored
    b.SetPixel(-1, 0, clBlack);
    EXPECT_EQ(At(b, 4, 0), Grey(255));
    EXPECT_EQ(b.Pixel(7, 7), clBlack);

    b.SetSize(0, 10);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.Height(), 0);
}

TEST(Bitmap24Test, SystemColoursResolveAndPlainColoursLoseTheHighByte) {
    EXPECT_EQ(ColorToRGB(clBtnHighlight), clWhite);
    EXPECT_EQ(ColorToRGB(clBtnFace), RGB(240, 240, 240));
    EXPECT_EQ(ColorToRGB(0x12345678), 0x345678u);
    EXPECT_EQ(ColorToRGB(0xFF0000FF), clBlack); // no such system colour
    EXPECT_FALSE(HasTransparentColor(0xFF000000));
    EXPECT_TRUE(HasTransparentColor(0x00FF00FF));
}

TEST(RectRoutinesTest, SizesAndChoices) {
    const TRect r{-2, 3, 5, 1};
    EXPECT_EQ(WidthOf(r), 7);
    EXPECT_EQ(HeightOf(r), -2);
    EXPECT_EQ(MinInt(-1, 4), -1);
    EXPECT_EQ(MaxInt(-1, 4), 4);
    EXPECT_EQ(IfThenInt(true, 1, 2), 1);
    EXPECT_EQ(IfThenInt(false, 1, 2), 2);
    int a = 0, b = 0;
    EXPECT_EQ(IfThenObject(false, &a, &b), &b);
}

TEST(WordRoutinesTest, EmptyWordsNeverOccur) {
    EXPECT_EQ(CountDelimitedWords("", ";"), 0);
    EXPECT_EQ(CountDelimitedWords(";;;", ";"), 0);
    EXPECT_EQ(CountDelimitedWords("1;;2", ";"), 2);
    EXPECT_EQ(CountDelimitedWords(";1;2;", ";"), 2);
    EXPECT_EQ(CountDelimitedWords("a b,c", " ,"), 3);
}

TEST(WordRoutinesTest, FindAndCopyByOneBasedPosition) {
    const std::string text = ";ab;;cd;e";
    EXPECT_EQ(FindDelimitedWord(1, text, ";"), 2);
    EXPECT_EQ(FindDelimitedWord(2, text, ";"), 6);
    EXPECT_EQ(FindDelimitedWord(3, text, ";"), 9);
    EXPECT_EQ(CopyDelimitedWord(2, text, ";"), "cd");
    EXPECT_EQ(CopyDelimitedWord(3, text, ";"), "e");

    EXPECT_EQ(FindDelimitedWord(3, "x;y", ";"), 0);
    EXPECT_EQ(CopyDelimitedWord(3, "x;y", ";"), "");
    EXPECT_EQ(FindDelimitedWord(0, "x;y", ";"), 0);
    EXPECT_EQ(CopyDelimitedWord(1, ";;", ";"), "");
}
