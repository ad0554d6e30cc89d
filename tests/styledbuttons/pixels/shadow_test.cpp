#include "styledbuttons/pixels/shadow.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

using namespace styledbuttons;
using namespace sbtest;

TEST(TintRectByMaskTest, NoBlurNoRadiusTintsTheWholeRectangleWithMask127) {
    Bitmap24 b = Filled(4, 3, RGB(200, 255, 200));
    TintRectByMask(b, TRect{1, 1, 3, 3}, 50, 0, 0, RGB(0, 100, 0));
    // (127 t + 128 c) div 256: 200 over 0 -> 99; 255 over 100 -> 176 (176.5 cut)
    for (int y = 1; y < 3; ++y)
        for (int x = 1; x < 3; ++x)
            EXPECT_EQ(At(b, x, y), (Bgr{99, 176, 99})) << x << "," << y;
    EXPECT_EQ(At(b, 0, 1), (Bgr{200, 255, 200}));
    EXPECT_EQ(At(b, 3, 2), (Bgr{200, 255, 200}));
    EXPECT_EQ(At(b, 1, 0), (Bgr{200, 255, 200}));
}

TEST(TintRectByMaskTest, BlurGradesFromTheRimInward) {
    Bitmap24 b = Filled(10, 10, clWhite);
    TintRectByMask(b, TRect{0, 0, 10, 10}, 0, 0, 2, clBlack);
    // N = 0; ring 1 grey round(255/3*2) = 170, innermost (from (2,2)) grey 0, ring 0 white
    EXPECT_EQ(At(b, 0, 5), Grey(254)); // 255 * 255 div 256
    EXPECT_EQ(At(b, 1, 5), Grey(169)); // 255 * 170 div 256
    EXPECT_EQ(At(b, 5, 5), Grey(0));
    EXPECT_EQ(At(b, 9, 5), Grey(254));
}

TEST(PaintShadowAreaTest, OpaqueFillsAndFullyTransparentCopies) {
    const Bitmap24 canvas = MakeBitmap(3, 2,
                                       {RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3), //
                                        RGB(4, 4, 4), RGB(5, 5, 5), RGB(6, 6, 6)});
    Bitmap24 dest = Filled(3, 3, clWhite);
    PaintShadowArea(canvas, TRect{1, 0, 3, 2}, dest, 0, 0, 4, clBtnShadow, 0, TPoint{2, 2});
    EXPECT_EQ(At(dest, 2, 2), Grey(160));
    EXPECT_EQ(At(dest, 1, 2), Grey(255));

    Bitmap24 copy = Filled(3, 3, clWhite);
    CopyBackgroundArea(canvas, TRect{1, 0, 3, 2}, copy, 0, 0, clBlack, 100, TPoint{-1, 1});
    EXPECT_EQ(At(copy, 0, 1), Grey(3));
    EXPECT_EQ(At(copy, 0, 2), Grey(6));
    EXPECT_EQ(At(copy, 1, 1), Grey(255));
}

TEST(PaintShadowAreaTest, SoftShadowIsLightestAtItsRim) {
    const Bitmap24 canvas = Filled(12, 12, clWhite);
    Bitmap24 dest = Filled(12, 12, RGB(7, 7, 7));
    // C = 60 * 255 div 100 = 153, b = 2, S = 34: rings 221, 187, 153
    PaintShadowArea(canvas, TRect{0, 0, 10, 10}, dest, 0, 0, 2, clBlack, 60, TPoint{1, 1});
    EXPECT_EQ(At(dest, 1, 6), Grey(220));  // 255 * 221 div 256
    EXPECT_EQ(At(dest, 10, 6), Grey(220)); // the shape reaches the last column
    EXPECT_EQ(At(dest, 2, 6), Grey(186));
    EXPECT_EQ(At(dest, 6, 6), Grey(152));
    EXPECT_EQ(At(dest, 0, 0), Grey(7));
    EXPECT_EQ(At(dest, 11, 11), Grey(7));

    Bitmap24 ellipse = Filled(10, 10, RGB(7, 7, 7));
    PaintShadowArea(canvas, TRect{0, 0, 10, 10}, ellipse, 0, 1, 2, clBlack, 60, TPoint{0, 0});
    EXPECT_EQ(At(ellipse, 0, 0), Grey(254)); // outside the ellipse the mask stays white
    EXPECT_EQ(At(ellipse, 5, 5), Grey(152));
}
