#include "styledbuttons/pixels/glyph.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

using namespace styledbuttons;
using namespace sbtest;

namespace {

const TColor Key = RGB(255, 0, 255);
const TColor Red = RGB(255, 0, 0);
const TColor Green = RGB(0, 255, 0);
const TColor Blue = RGB(0, 0, 255);

// 2 × 2: red, green over the transparent key, blue.
Bitmap24 Glyph() {
    return MakeBitmap(2, 2, {Red, Green, Key, Blue});
}

const TRect Where{1, 1, 3, 3};

} // namespace

TEST(DrawGlyphImageTest, EnabledGlyphIsCopiedWithoutItsBackground) {
    Bitmap24 t = Filled(4, 4, clWhite);
    DrawGlyphImage(Glyph(), t, Where, 0, false, dgBlended, false, true, 1);
    EXPECT_EQ(t.Pixel(1, 1), Red);
    EXPECT_EQ(t.Pixel(2, 1), Green);
    EXPECT_EQ(t.Pixel(1, 2), clWhite);
    EXPECT_EQ(t.Pixel(2, 2), Blue);
}

TEST(DrawGlyphImageTest, BlendPercentMixesUnlessHot) {
    Bitmap24 t = Filled(4, 4, clWhite);
    DrawGlyphImage(Glyph(), t, Where, 50, false, dgBlended, false, true, 1);
    // round(s - (s - 255) * 0.5): 0 -> 127.5 -> 128
    EXPECT_EQ(At(t, 1, 1), (Bgr{128, 128, 255}));
    EXPECT_EQ(t.Pixel(1, 2), clWhite);

    // hot with Grayed: in colour and opaque
    Bitmap24 hot = Filled(4, 4, clWhite);
    DrawGlyphImage(Glyph(), hot, Where, 50, true, dgBlended, true, true, 1);
    EXPECT_EQ(hot.Pixel(1, 1), Red);
    EXPECT_EQ(hot.Pixel(2, 2), Blue);
}

TEST(DrawGlyphImageTest, GrayedGlyphStillLeavesOutItsBackground) {
    Bitmap24 t = Filled(4, 4, RGB(9, 9, 9));
    DrawGlyphImage(Glyph(), t, Where, 0, false, dgBlended, true, true, 1);
    EXPECT_EQ(At(t, 1, 1), Grey(85));    // 255 div 3
    EXPECT_EQ(At(t, 1, 2), Grey(9));     // the key, grey as well, is still transparent
    EXPECT_EQ(Glyph().Pixel(0, 0), Red); // the caller's glyph stays as it was
}

TEST(DrawGlyphImageTest, DisabledLooks) {
    Bitmap24 blended = Filled(4, 4, clBlack);
    DrawGlyphImage(Glyph(), blended, Where, 0, false, dgBlended | dgGrayed, false, false, 1);
    EXPECT_EQ(At(blended, 1, 1), Grey(42)); // 85 - 85 * 0.5 = 42.5 -> 42
    EXPECT_EQ(At(blended, 1, 2), Grey(0));

    Bitmap24 plain = Filled(4, 4, clBlack);
    DrawGlyphImage(Glyph(), plain, Where, 0, false, 0, false, false, 1);
    EXPECT_EQ(plain.Pixel(1, 1), Red);
}

TEST(DrawGlyphImageTest, TwoGlyphsSideBySideAndOtherCounts) {
    // left half: red over key; right half: blue over key
    const Bitmap24 pair = MakeBitmap(2, 2, {Red, Blue, Key, Key});
    Bitmap24 enabled = Filled(3, 3, clWhite);
    DrawGlyphImage(pair, enabled, Where, 0, false, dgBlended, false, true, 2);
    EXPECT_EQ(enabled.Pixel(1, 1), Red);
    EXPECT_EQ(enabled.Pixel(2, 1), clWhite);
    EXPECT_EQ(enabled.Pixel(1, 2), clWhite);

    Bitmap24 disabled = Filled(3, 3, clWhite);
    DrawGlyphImage(pair, disabled, Where, 0, false, dgBlended, false, false, 2);
    EXPECT_EQ(disabled.Pixel(1, 1), Blue);
    EXPECT_EQ(disabled.Pixel(2, 1), clWhite);

    Bitmap24 three = Filled(3, 3, clWhite);
    DrawGlyphImage(pair, three, Where, 0, false, dgBlended, false, true, 3);
    EXPECT_EQ(three, Filled(3, 3, clWhite));
    DrawGlyphImage(Bitmap24(), three, Where, 0, false, dgBlended, false, true, 1);
    EXPECT_EQ(three, Filled(3, 3, clWhite));
}
