#include "styledbuttons/pixels/gradient.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace styledbuttons;
using namespace sbtest;

namespace {

// The grey level of every row, checking that each row is one colour across the painted columns.
std::vector<int> RowGreys(const Bitmap24& b, int left, int right) {
    std::vector<int> out;
    for (int y = 0; y < b.Height(); ++y) {
        const Bgr first = At(b, left, y);
        for (int x = left; x < right; ++x)
            EXPECT_EQ(At(b, x, y), first) << x << "," << y;
        EXPECT_TRUE(first[0] == first[1] && first[1] == first[2]) << y;
        out.push_back(first[0]);
    }
    return out;
}

TGradientArray Parsed(const std::string& text) {
    TGradientArray stops;
    ParseGradientData(text, stops);
    return stops;
}

const char* const ButtonGradient = "8421504;16777215;99;0;0;16777215;16777215;0;0;0";
const char* const HotGradient = "8421504;8421504;10;0;0;8421504;16777215;43;0;0;16777215;10658466;28;0;0;"
                                "10658466;13816530;18;0;0;13816530;13816530;0;0;0";

} // namespace

TEST(ParseGradientDataTest, FiveNumbersMakeOneStop) {
    const TGradientArray stops = Parsed(ButtonGradient);
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[0].Color1, 0x808080u);
    EXPECT_EQ(stops[0].Color2, 0xFFFFFFu);
    EXPECT_EQ(stops[0].Percent, 99);
    EXPECT_EQ(stops[0].Mode, 0);
    EXPECT_EQ(stops[1].Percent, 0);

    EXPECT_EQ(Parsed(HotGradient).size(), 5u);
    EXPECT_EQ(Parsed("1;2;3;4;5;6;7;8;9").size(), 1u); // a trailing incomplete group is ignored
    EXPECT_TRUE(Parsed("").empty());
    EXPECT_TRUE(Parsed("1;2;3;4").empty());
}

TEST(ParseGradientDataTest, DoubledDelimitersAndPercentTruncation) {
    const TGradientArray stops = Parsed("1;;2;3;4;5");
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].Color1, 1u);
    EXPECT_EQ(stops[0].Color2, 2u);
    EXPECT_EQ(stops[0].Percent, 3);
    EXPECT_EQ(stops[0].Mode, 4);

    EXPECT_EQ(Parsed("0;0;300;0;0")[0].Percent, 44);
    EXPECT_EQ(Parsed("-1;$10;0;0;0")[0].Color1, 0xFFFFFFFFu);
}

TEST(ParseGradientDataTest, AWordThatIsNoIntegerStopsTheParse) {
    TGradientArray stops(7);
    try {
        ParseGradientData("1;2;3;0;0;5;6;x;0;0", stops);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
    }
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[0].Percent, 3);
    EXPECT_EQ(stops[1].Color1, 5u);
    EXPECT_EQ(stops[1].Color2, 6u);
    EXPECT_EQ(stops[1].Percent, 0);
}

TEST(PaintGradientTest, ButtonGradientOn22Rows) {
    Bitmap24 b(4, 22);
    PaintGradient(b, TRect{0, 0, 4, 22}, Parsed(ButtonGradient));
    const std::vector<int> rows = RowGreys(b, 0, 4);
    for (int k = 0; k < 22; ++k)
        EXPECT_EQ(rows[k], std::nearbyint(128 + 127.0 * k / 21)) << k;
    EXPECT_EQ(rows[0], 128);
    EXPECT_EQ(rows[1], 134);  // 134.05
    EXPECT_EQ(rows[10], 188); // 188.48
    EXPECT_EQ(rows[11], 195); // 194.52
    EXPECT_EQ(rows[21], 255);
}

TEST(PaintGradientTest, HotGradientOn22RowsRoundsHalvesToEven) {
    Bitmap24 b(3, 22);
    PaintGradient(b, TRect{0, 0, 3, 22}, Parsed(HotGradient));
    // stops cover rows 0..2 (10%), 2..11 (43%), 11..17 (28%), 17..20 (18%) and 20..21; each stop's
    // first row repaints the previous stop's last
    const std::vector<int> expected = {
        128, 128,                                    // grey
        128, 142, 156, 170, 184, 199, 213, 227, 241, // 128 + 127j/9
        255, 240, 224, 208, 193, 178,                // 255 - 15.5j: 239.5 -> 240, 208.5 -> 208, 177.5 -> 178
        162, 178, 194,                               // 162 + 16j
        210, 210};
    EXPECT_EQ(RowGreys(b, 0, 3), expected);
}

TEST(PaintGradientTest, HalfStepsRoundToEven) {
    Bitmap24 b(1, 7);
    PaintGradient(b, TRect{0, 0, 1, 7}, Parsed("0;197379;100;0;0")); // grey 0 to 3: step 0.5 over six rows
    const std::vector<int> expected = {0, 0, 1, 2, 2, 2, 3};
    EXPECT_EQ(RowGreys(b, 0, 1), expected);
}

TEST(PaintGradientTest, ColoursKeepTheirChannels) {
    Bitmap24 b(1, 2);
    // first colour red 10, green 20, blue 30; second red 0, green 0, blue 255
    PaintGradient(b, TRect{0, 0, 1, 2}, Parsed("1971210;16711680;100;0;0"));
    EXPECT_EQ(At(b, 0, 0), (Bgr{30, 20, 10}));
    EXPECT_EQ(At(b, 0, 1), (Bgr{255, 0, 0}));
}

TEST(PaintGradientTest, ZeroPercentAndTheLastStopsPercent) {
    // a non-last stop of 0 percent paints nothing; the next starts at the same row
    Bitmap24 b(2, 5);
    PaintGradient(b, TRect{0, 0, 2, 5}, Parsed("16777215;16777215;0;0;0;0;263172;50;0;0"));
    const std::vector<int> expected = {0, 1, 2, 3, 4};
    EXPECT_EQ(RowGreys(b, 0, 2), expected);

    Bitmap24 other(2, 5);
    PaintGradient(other, TRect{0, 0, 2, 5}, Parsed("16777215;16777215;0;0;0;0;263172;0;0;0"));
    EXPECT_EQ(other, b);
}

TEST(PaintGradientTest, RowsStayInsideTheRectangleColumnsAndClipToTheBitmap) {
    Bitmap24 b(4, 3);
    PaintGradient(b, TRect{1, 0, 3, 3}, Parsed("0;131586;100;0;0"));
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(At(b, 0, y), Grey(255));
        EXPECT_EQ(At(b, 1, y), Grey(y));
        EXPECT_EQ(At(b, 2, y), Grey(y));
        EXPECT_EQ(At(b, 3, y), Grey(255));
    }

    Bitmap24 c(2, 3);
    PaintGradient(c, TRect{-5, -5, 40, 40}, Parsed("0;131586;100;0;0"));
    EXPECT_EQ(RowGreys(c, 0, 2), (std::vector<int>{0, 1, 2}));
}

TEST(PaintGradientTest, LastStopEndsAtTheRectanglesBottom) {
    // the first stop reaches past the rectangle's bottom row, so it is cut there (rows 0..4); the
    // last stop then starts and ends on row 4 and painting stops
    Bitmap24 b(1, 10);
    PaintGradient(b, TRect{0, 0, 1, 5}, Parsed("0;526344;200;0;0;6579300;6579300;0;0;0"));
    EXPECT_EQ(RowGreys(b, 0, 1), (std::vector<int>{0, 2, 4, 6, 8, 255, 255, 255, 255, 255}));
}

TEST(PaintGradientTest, ColumnsModeTwoHalves) {
    Bitmap24 b(75, 25);
    // 0 -> 74 over columns 0..37 (step 2), then 0 -> 111 over columns 37..74 (step 3)
    PaintGradient(b, TRect{0, 0, 75, 25}, Parsed("0;4868682;50;1;0;0;7303023;50;0;0"));
    for (int y = 0; y < 25; ++y) {
        EXPECT_EQ(At(b, 0, y), Grey(0));
        EXPECT_EQ(At(b, 36, y), Grey(72));
        EXPECT_EQ(At(b, 37, y), Grey(0));
        EXPECT_EQ(At(b, 38, y), Grey(3));
        EXPECT_EQ(At(b, 74, y), Grey(111));
    }
}

TEST(PaintGradientTest, UnknownModeAndEmptyListPaintNothing) {
    const Bitmap24 white(4, 4);
    Bitmap24 b(4, 4);
    PaintGradient(b, TRect{0, 0, 4, 4}, Parsed("1;;2;3;4;5"));
    EXPECT_EQ(b, white);
    PaintGradient(b, TRect{0, 0, 4, 4}, {});
    EXPECT_EQ(b, white);
    // only the first stop's mode counts
    PaintGradient(b, TRect{0, 0, 4, 4}, Parsed("0;0;50;2;0;0;0;50;0;0"));
    EXPECT_EQ(b, white);
}
