#include "styledbuttons/pixels/mixing.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

using namespace styledbuttons;
using namespace sbtest;

TEST(MixBitmapsTest, WeightedMeanRoundsHalvesToEven) {
    Bitmap24 a = MakeBitmap(3, 1, {RGB(200, 101, 100), RGB(0, 255, 10), RGB(7, 7, 7)});
    const Bitmap24 b = MakeBitmap(3, 1, {RGB(100, 100, 101), RGB(255, 0, 10), RGB(7, 7, 7)});
    MixBitmaps(a, b, 128);
    // red 100*128/256+100 = 150; green 1*0.5+100 = 100.5 -> 100; blue -0.5+101 = 100.5 -> 100
    EXPECT_EQ(At(a, 0, 0), (Bgr{100, 100, 150}));
    // red -255*0.5+255 = 127.5 -> 128; green 127.5 -> 128
    EXPECT_EQ(At(a, 1, 0), (Bgr{10, 128, 128}));
    EXPECT_EQ(At(a, 2, 0), Grey(7));

    Bitmap24 c = MakeBitmap(1, 1, {RGB(103, 0, 0)});
    MixBitmaps(c, MakeBitmap(1, 1, {RGB(100, 0, 0)}), 128); // 101.5 -> 102
    EXPECT_EQ(At(c, 0, 0)[2], 102);
}

TEST(MixBitmapsTest, OnlyTheLowByteOfTheWeightCountsAndSizesMustMatch) {
    Bitmap24 a = Filled(2, 2, RGB(200, 200, 200));
    const Bitmap24 b = Filled(2, 2, RGB(10, 20, 30));
    MixBitmaps(a, b, 256);
    EXPECT_EQ(a, b);

    Bitmap24 keep = Filled(2, 2, RGB(200, 200, 200));
    const Bitmap24 before = keep;
    MixBitmaps(keep, Filled(2, 3, clBlack), 0);
    EXPECT_EQ(keep, before);
}

TEST(BlendToColourByMaskTest, EachChannelUsesItsOwnMaskByte) {
    Bitmap24 t = MakeBitmap(3, 1, {RGB(100, 100, 100), RGB(255, 255, 255), RGB(0, 0, 0)});
    // mask: blue 0, green 255, red 128; then all 255; then all 0
    const Bitmap24 m = MakeBitmap(3, 1, {RGB(128, 255, 0), RGB(255, 255, 255), RGB(0, 0, 0)});
    BlendToColourByMask(t, m, RGB(30, 20, 255));
    // blue: 255*255 div 256 = 254; green: 100*255 div 256 = 99; red: (12800 + 30*127) div 256 = 64
    EXPECT_EQ(At(t, 0, 0), (Bgr{254, 99, 64}));
    EXPECT_EQ(At(t, 1, 0), Grey(254)); // mask 255 keeps 255*t div 256
    // mask 0 gives 255*c div 256: 254, 19, 29
    EXPECT_EQ(At(t, 2, 0), (Bgr{254, 19, 29}));

    Bitmap24 other = Filled(1, 1, clWhite);
    BlendToColourByMask(other, Filled(2, 1, clBlack), clBlack);
    EXPECT_EQ(At(other, 0, 0), Grey(255));
}

TEST(BlendMaskToColourAtTest, PartsOutsideTheTargetAreSkipped) {
    Bitmap24 t = Filled(3, 3, clWhite);
    const Bitmap24 m = MakeBitmap(2, 2, {RGB(0, 0, 0), RGB(0, 0, 0), RGB(100, 50, 0), RGB(0, 0, 0)});
    BlendMaskToColourAt(t, m, 2, RGB(0, 0, 200), -1);
    // only mask (0,1) lands inside, on (2,0): red (0*156 + 255*100) div 256 = 99, green
    // 255*50 div 256 = 49, blue (200*256 + 0) div 256 = 200
    EXPECT_EQ(At(t, 2, 0), (Bgr{200, 49, 99}));
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            if (x == 2 && y == 0) continue;
            EXPECT_EQ(At(t, x, y), Grey(255)) << x << "," << y;
        }
    }
}

TEST(BlendBitmapByFactorTest, MixesBySourceAndSkipsTheTransparentColour) {
    Bitmap24 t = MakeBitmap(3, 1, {RGB(201, 203, 0), RGB(9, 9, 9), RGB(50, 50, 50)});
    const Bitmap24 s = MakeBitmap(3, 1, {RGB(100, 100, 100), RGB(1, 2, 3), RGB(150, 150, 150)});
    BlendBitmapByFactor(t, 0, 0, RGB(1, 2, 3), 0.5, TRect{0, 0, 2, 0}, s);
    // red 100 - (100-201)*0.5 = 150.5 -> 150; green 151.5 -> 152; blue 100 - 50 = 50
    EXPECT_EQ(At(t, 0, 0), (Bgr{50, 152, 150}));
    EXPECT_EQ(At(t, 1, 0), Grey(9)); // transparent
    EXPECT_EQ(At(t, 2, 0), Grey(100));

    // a colour with high byte $FF is no transparent colour at all
    Bitmap24 u = Filled(1, 1, clBlack);
    BlendBitmapByFactor(u, 0, 0, 0xFF030201, 0.0, TRect{1, 0, 1, 0}, s);
    EXPECT_EQ(At(u, 0, 0), (Bgr{3, 2, 1}));
}

TEST(BlendBitmapByFactorTest, StopsAtTheTargetEdges) {
    const Bitmap24 s = Filled(3, 3, clBlack);
    Bitmap24 t = Filled(3, 3, clWhite);
    const Bitmap24 white = t;
    BlendBitmapByFactor(t, 0, -1, 0xFF000000, 0.0, TRect{0, 0, 2, 2}, s);
    EXPECT_EQ(t, white); // a negative y paints nothing
    BlendBitmapByFactor(t, -1, 0, 0xFF000000, 0.0, TRect{0, 0, 2, 2}, s);
    EXPECT_EQ(t, white); // the first column outside ends each row

    // the source rectangle is cut to the source; rows below the target are not reached
    BlendBitmapByFactor(t, 1, 1, 0xFF000000, 0.0, TRect{-5, -5, 9, 9}, s);
    EXPECT_EQ(At(t, 0, 0), Grey(255));
    EXPECT_EQ(At(t, 0, 2), Grey(255));
    EXPECT_EQ(At(t, 1, 1), Grey(0));
    EXPECT_EQ(At(t, 2, 2), Grey(0));
}

TEST(ColourMixTest, MixColorsAndPercentMix) {
    const TColor a = RGB(10, 200, 3);
    const TColor b = RGB(250, 0, 0);
    EXPECT_EQ(MixColors(a, b, 0.0), a);
    EXPECT_EQ(MixColors(a, b, 1.0), b);
    // 10+120 = 130, 200-100 = 100, 3-1.5 = 1.5 -> 2
    EXPECT_EQ(MixColors(a, b, 0.5), RGB(130, 100, 2));
    EXPECT_EQ(MixColors(RGB(1, 0, 0), clBlack, 0.5), clBlack); // 0.5 -> 0
    EXPECT_EQ(MixColors(RGB(0, 0, 0), RGB(200, 0, 0), 2.0), RGB(255, 0, 0));

    EXPECT_EQ(PercentMix(50, 60), 80);
    EXPECT_EQ(PercentMix(0, 37), 37);
    EXPECT_EQ(PercentMix(100, 37), 100);
    EXPECT_EQ(PercentMix(1, 50), 50); // 50.5
    EXPECT_EQ(PercentMix(3, 50), 52); // 51.5
}

TEST(MakeGrayscaleTest, MeanOfTheThreeBytes) {
    Bitmap24 b = MakeBitmap(2, 1, {RGB(31, 20, 10), RGB(255, 255, 254)});
    MakeGrayscale(b);
    EXPECT_EQ(At(b, 0, 0), Grey(20));
    EXPECT_EQ(At(b, 1, 0), Grey(254));
}

TEST(CopyTransparentTest, ClipsAtEveryEdgeAndLeavesOutTheColour) {
    const TColor key = RGB(255, 0, 255);
    const Bitmap24 s = MakeBitmap(3, 2,
                                  {RGB(1, 1, 1), key, RGB(3, 3, 3), //
                                   RGB(4, 4, 4), RGB(5, 5, 5), key});
    Bitmap24 t = Filled(2, 2, clWhite);
    CopyTransparent(t, s, -1, key, 1);
    EXPECT_EQ(At(t, 0, 0), Grey(255));
    EXPECT_EQ(At(t, 1, 0), Grey(255));
    EXPECT_EQ(At(t, 0, 1), Grey(255)); // the key colour
    EXPECT_EQ(At(t, 1, 1), Grey(3));

    Bitmap24 all = Filled(3, 2, clBlack);
    CopyTransparent(all, s, 0, 0xFFFF00FF, 0); // high byte $FF: nothing is transparent
    EXPECT_EQ(all, s);
}

TEST(CopyTransparentTest, SourceRectangleIsInclusiveAndCutToTheSource) {
    const Bitmap24 s = MakeBitmap(3, 2,
                                  {RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3), //
                                   RGB(4, 4, 4), RGB(5, 5, 5), RGB(6, 6, 6)});
    Bitmap24 t = Filled(4, 3, clWhite);
    CopyTransparentRect(t, s, 0, clWhite, TRect{1, 1, 8, 8}, 0);
    EXPECT_EQ(At(t, 0, 0), Grey(5));
    EXPECT_EQ(At(t, 1, 0), Grey(6));
    EXPECT_EQ(At(t, 2, 0), Grey(255));
    EXPECT_EQ(At(t, 0, 1), Grey(255));
}

namespace {

// A 2 × 4 border mask: picture rows 0..1 above weight rows 2..3.
Bitmap24 SmallMask(TColor corner) {
    return MakeBitmap(2, 4,
                      {corner, RGB(100, 100, 100),       //
                       RGB(0, 0, 0), RGB(200, 200, 200), //
                       RGB(0, 0, 0), RGB(128, 64, 255),  //
                       RGB(255, 255, 255), RGB(0, 0, 0)});
}

} // namespace

TEST(BlendMaskAreaTest, BlendsThroughTheWeightHalf) {
    Bitmap24 t = Filled(3, 3, RGB(50, 50, 50));
    BlendMaskArea(TRect{1, 1, 3, 3}, TRect{0, 0, 2, 2}, t, TBackgroundCache{}, SmallMask(clWhite));
    // (P * (256 - W) + D * W) div 256
    EXPECT_EQ(At(t, 1, 1), Grey(255)); // weight 0: the picture
    // blue (100 + 50*255) div 256 = 50, green (100*192 + 50*64) div 256 = 87, red 19200 div 256 = 75
    EXPECT_EQ(At(t, 2, 1), (Bgr{50, 87, 75}));
    EXPECT_EQ(At(t, 1, 2), Grey(49)); // weight 255 over picture 0
    EXPECT_EQ(At(t, 2, 2), Grey(200));
    EXPECT_EQ(At(t, 0, 0), Grey(50));
}

TEST(BlendMaskAreaTest, NegativeCornersMoveBothRectangles) {
    Bitmap24 t = Filled(2, 2, RGB(50, 50, 50));
    BlendMaskArea(TRect{-1, -1, 1, 1}, TRect{0, 0, 2, 2}, t, TBackgroundCache{}, SmallMask(clWhite));
    // only mask picture pixel (1,1) lands, on (0,0)
    EXPECT_EQ(At(t, 0, 0), Grey(200));
    EXPECT_EQ(At(t, 1, 0), Grey(50));
    EXPECT_EQ(At(t, 0, 1), Grey(50));

    Bitmap24 u = Filled(2, 2, RGB(50, 50, 50));
    BlendMaskArea(TRect{0, 0, 2, 2}, TRect{-1, 0, 1, 2}, u, TBackgroundCache{}, SmallMask(clWhite));
    EXPECT_EQ(At(u, 1, 0), Grey(255)); // mask (0,0) at (1,0)
    EXPECT_EQ(At(u, 0, 0), Grey(50));
}

TEST(BlendMaskAreaTest, MagentaShowsTheReadyCache) {
    const TColor magenta = RGB(255, 0, 255);
    const Bitmap24 cacheBmp = MakeBitmap(3, 2,
                                         {RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3), //
                                          RGB(4, 4, 4), RGB(5, 5, 5), RGB(6, 6, 6)});
    Bitmap24 t = Filled(2, 2, RGB(50, 50, 50));
    BlendMaskArea(TRect{1, 0, 2, 1}, TRect{0, 0, 1, 1}, t, TBackgroundCache{&cacheBmp, 1, 1, true},
                  SmallMask(magenta));
    EXPECT_EQ(At(t, 1, 0), Grey(6)); // cache pixel (1 + 1, 1 + 0)

    // without a ready cache magenta is blended like any colour (weight 0: the picture itself)
    Bitmap24 u = Filled(2, 2, RGB(50, 50, 50));
    BlendMaskArea(TRect{0, 0, 1, 1}, TRect{0, 0, 1, 1}, u, TBackgroundCache{&cacheBmp, 0, 0, false},
                  SmallMask(magenta));
    EXPECT_EQ(At(u, 0, 0), (Bgr{255, 0, 255}));

    // a cache pixel beyond the cache bitmap leaves the pixel to the blend
    Bitmap24 v = Filled(2, 2, RGB(50, 50, 50));
    BlendMaskArea(TRect{0, 0, 1, 1}, TRect{0, 0, 1, 1}, v, TBackgroundCache{&cacheBmp, 5, 0, true},
                  SmallMask(magenta));
    EXPECT_EQ(At(v, 0, 0), (Bgr{255, 0, 255}));
}

TEST(BlendMaskAreaTest, NeverReadsWeightsBelowTheMask) {
    // a source reaching into the weight half would take its weights from beyond the mask
    Bitmap24 t = Filled(3, 4, RGB(50, 50, 50));
    BlendMaskArea(TRect{0, 0, 2, 4}, TRect{0, 0, 2, 4}, t, TBackgroundCache{}, SmallMask(clWhite));
    EXPECT_EQ(At(t, 0, 0), Grey(255));
    EXPECT_EQ(At(t, 0, 1), Grey(49));
    EXPECT_EQ(At(t, 0, 2), Grey(50)); // rows past the picture half stay
    EXPECT_EQ(At(t, 1, 3), Grey(50));
}
