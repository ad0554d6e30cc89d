#include "styledbuttons/pixels/masked_borders.h"
#include "styledbuttons/pixels/rect_blend.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

#include <functional>

using namespace styledbuttons;
using namespace sbtest;

namespace {

// A 90 x 60 mask (10-pixel cells) whose picture pixel (x, y) is red x, green y, blue 100, so that
// a painted pixel tells where in the mask it came from; every weight is `weight`.
Bitmap24 CoordinateMask(int weight, int height = 60) {
    Bitmap24 m(90, height);
    const int half = 3 * (height / 6);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 90; ++x)
            m.SetPixel(x, y, y < half ? RGB(x, y, 100) : RGB(weight, weight, weight));
    return m;
}

} // namespace

// Expected values computed with IEEE doubles, f = p / 100, round(f * byte + (1 - f) * colour) with
// halves to even (Python's round).
TEST(BlendRectToColorTest, KeepsThePercentOfTheImageInsideTheInclusiveRectangleOnly) {
    Bitmap24 b = MakeBitmap(3, 2,
                            {RGB(128, 128, 128), RGB(128, 128, 128), RGB(10, 200, 255), RGB(1, 2, 3),
                             RGB(1, 2, 3), RGB(1, 2, 3)});
    BlendRectToColor(b, TRect{1, -4, 9, 0}, 70, RGB(143, 183, 192));
    EXPECT_EQ(At(b, 0, 0), (Bgr{128, 128, 128}));
    EXPECT_EQ(At(b, 1, 0), (Bgr{147, 144, 132})); // 132.5 rounds down to the even 132
    EXPECT_EQ(At(b, 2, 0), (Bgr{236, 195, 50}));
    EXPECT_EQ(At(b, 1, 1), (Bgr{3, 2, 1}));
    Bitmap24 system = Filled(1, 1, RGB(10, 10, 10));
    BlendRectToColor(system, TRect{0, 0, 0, 0}, 33, clBtnFace); // resolves to 240: 164.1 -> 164
    EXPECT_EQ(At(system, 0, 0), Grey(164));
}

TEST(BlendMaskPartTest, BlendsPerChannelAndTakesTransparentRunsOutRowByRow) {
    // 1-pixel cells: picture row 0 is transparent, black, transparent, transparent, grey 200, and its
    // weights lie three rows down
    Bitmap24 mask(5, 6);
    const TColor picture[] = {RGB(255, 0, 255), 0, RGB(255, 0, 255), RGB(255, 0, 255), RGB(200, 200, 200)};
    const TColor weights[] = {0, RGB(255, 128, 0), 0, 0, 0};
    for (int x = 0; x < 5; ++x) {
        mask.SetPixel(x, 0, picture[x]);
        mask.SetPixel(x, 3, weights[x]);
    }
    Bitmap24 target = Filled(7, 3, clWhite);
    TRegionHoles holes;
    BlendMaskPart(TRect{2, 1, 6, 1}, TRect{0, 0, 4, 0}, target, 0xFF00FF, &holes, mask);
    // (0 * (256 - Wt) + 255 * Wt) div 256 per channel: red weight 255 -> 254, green 128 -> 127, blue 0 -> 0
    EXPECT_EQ(At(target, 3, 1), (Bgr{0, 127, 254}));
    EXPECT_EQ(At(target, 6, 1), Grey(200));
    EXPECT_EQ(At(target, 2, 1), Grey(255));
    EXPECT_EQ(At(target, 4, 1), Grey(255));
    const TRegionHoles expected{{2, 1, 3, 2}, {4, 1, 6, 2}};
    ASSERT_EQ(holes.size(), expected.size());
    for (size_t i = 0; i < holes.size(); ++i) {
        EXPECT_EQ(holes[i].Left, expected[i].Left);
        EXPECT_EQ(holes[i].Right, expected[i].Right);
        EXPECT_EQ(holes[i].Top, expected[i].Top);
        EXPECT_EQ(holes[i].Bottom, expected[i].Bottom);
    }
}

TEST(BlendMaskPartTest, ColumnsOutsideTheTargetAreLeftOut) {
    const Bitmap24 mask = CoordinateMask(0);
    Bitmap24 target = Filled(6, 2, clWhite);
    // five columns from x = 4: two land in row 0, the rest would run into row 1
    BlendMaskPart(TRect{4, 0, 8, 0}, TRect{0, 0, 4, 0}, target, 0xFF00FF, nullptr, mask);
    EXPECT_EQ(At(target, 4, 0), (Bgr{100, 0, 0}));
    EXPECT_EQ(At(target, 5, 0), (Bgr{100, 0, 1}));
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(At(target, x, 1), Grey(255)) << x;
    // and a negative left edge starts inside the piece
    BlendMaskPart(TRect{-3, 1, 1, 1}, TRect{0, 0, 4, 0}, target, 0xFF00FF, nullptr, mask);
    EXPECT_EQ(At(target, 0, 1), (Bgr{100, 0, 3}));
    EXPECT_EQ(At(target, 1, 1), (Bgr{100, 0, 4}));
    EXPECT_EQ(At(target, 2, 1), Grey(255));
}

// The Part's nine-part scheme with 10-pixel cells, written as where each target pixel comes from:
// corners copied, edges and centre tiled from the cell's start, the last tile cut.
struct TileCase {
    int width, height;
    std::function<int(int)> column, row;
};

TEST(PaintMaskedBordersTest, EveryPixelComesFromItsCellOnce) {
    auto tiled = [](int size) {
        return [size](int v) {
            return v < 10 ? v : v >= size - 10 ? 20 + v - (size - 10) : 10 + (v - 10) % 10;
        };
    };
    const TileCase cases[] = {
        // 84 x 22: top edge tiles at 10..60 and a 4-column one at 70; side edges one 2-row tile
        {84, 22, tiled(84), tiled(22)},
        // 15 high: top 7 rows of the top cells, bottom 8 rows of the bottom cells, nothing between
        {84, 15, tiled(84), [](int y) { return y < 7 ? y : 22 + (y - 7); }},
        // 15 wide: left 7 columns, right 8 columns
        {15, 60, [](int x) { return x < 7 ? x : 22 + (x - 7); }, tiled(60)},
    };
    // weight 128 over white: a pixel painted twice would differ from (P * 128 + 255 * 128) div 256
    const Bitmap24 mask = CoordinateMask(128);
    for (const TileCase& c : cases) {
        for (int frame = 0; frame < 3; ++frame) {
            Bitmap24 target = Filled(c.width, c.height, clWhite);
            PaintMaskedBorders(target, mask, frame, true, 0xFF00FF, nullptr);
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    const int sx = frame * 30 + c.column(x), sy = c.row(y);
                    const Bgr want{(100 * 128 + 255 * 128) / 256, (sy * 128 + 255 * 128) / 256,
                                   (sx * 128 + 255 * 128) / 256};
                    ASSERT_EQ(At(target, x, y), want)
                        << c.width << "x" << c.height << " frame " << frame << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(PaintMaskedBordersTest, WeightsOfAMaskWhoseHeightIsNoMultipleOfSixStartThreeCellsDown) {
    // 90 x 64: cells are 10 high, the weights start at row 30 (weight 0: the picture shows), and rows
    // 32 and below, where half the height would point, say "keep the target"
    Bitmap24 mask = CoordinateMask(255, 64);
    for (int y = 30; y < 60; ++y)
        for (int x = 0; x < 90; ++x)
            if (y - 30 < 2 || (y - 30) % 10 < 2) mask.SetPixel(x, y, clBlack);
    Bitmap24 target = Filled(84, 22, clWhite);
    PaintMaskedBorders(target, mask, 0, true, 0xFF00FF, nullptr);
    EXPECT_EQ(At(target, 0, 0), (Bgr{100, 0, 0}));
    EXPECT_EQ(At(target, 40, 1), (Bgr{100, 1, 10}));
    EXPECT_EQ(At(target, 40, 10), (Bgr{100, 10, 10})); // centre, through the plain mask blend
}

TEST(PaintMaskedBordersTest, SmallTargetsAndMasksWithEmptyCellsPaintNothingAndReturn) {
    const Bitmap24 mask = CoordinateMask(0);
    Bitmap24 narrow = Filled(2, 22, clWhite), low = Filled(84, 2, clWhite);
    TRegionHoles holes;
    PaintMaskedBorders(narrow, mask, 0, true, 0xFF00FF, &holes);
    PaintMaskedBorders(low, mask, 0, true, 0xFF00FF, &holes);
    EXPECT_EQ(narrow, Filled(2, 22, clWhite));
    EXPECT_EQ(low, Filled(84, 2, clWhite));
    EXPECT_TRUE(holes.empty());
    Bitmap24 target = Filled(84, 22, clWhite);
    WithinDeadline([&] { PaintMaskedBorders(target, Filled(5, 5, clBlack), 1, true, 0xFF00FF, &holes); });
    EXPECT_EQ(target, Filled(84, 22, clWhite));
}
