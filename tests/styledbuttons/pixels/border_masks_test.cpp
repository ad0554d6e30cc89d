#include "styledbuttons/pixels/border_masks.h"

#include "pixel_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace styledbuttons;
using namespace sbtest;

namespace {

// The table of predefined masks: size, cell, transparent pixels per corner (a range), lowest weight.
struct MaskRow {
    TsPredefinedBorders which;
    int width, height, cellWidth, cellHeight, cornerMin, cornerMax, lowest;
};

constexpr MaskRow Table[] = {
    {TsPredefinedBorders::pdBorder1, 90, 60, 10, 10, 5, 6, 30},
    {TsPredefinedBorders::pdBorder2, 90, 60, 10, 10, 1, 1, 0},
    {TsPredefinedBorders::pdBorder3, 90, 60, 10, 10, 5, 6, 28},
    {TsPredefinedBorders::pdBorder4, 90, 60, 10, 10, 0, 0, 31},
    {TsPredefinedBorders::pdBorder5, 54, 36, 6, 6, 1, 1, 7},
    {TsPredefinedBorders::pdBorder6, 450, 96, 50, 16, 17, 17, 0},
};

constexpr TColor Magenta = RGB(255, 0, 255);

} // namespace

TEST(BorderMasksTest, EachMaskMeetsItsRowOfTheTable) {
    for (const MaskRow& row : Table) {
        SCOPED_TRACE(static_cast<int>(row.which) + 1);
        const Bitmap24& m = PredefinedBorderMask(row.which);
        ASSERT_EQ(m.Width(), row.width);
        ASSERT_EQ(m.Height(), row.height);
        const int W = row.cellWidth, H = row.cellHeight, half = 3 * H;
        int lowest = 255;
        int corner[3][4] = {};
        for (int y = 0; y < half; ++y) {
            for (int x = 0; x < m.Width(); ++x) {
                const Bgr w = At(m, x, y + half);
                ASSERT_TRUE(w[0] == w[1] && w[1] == w[2]) << "weights are grey";
                lowest = std::min(lowest, w[0]);
                const int frame = x / (3 * W), cx = x % (3 * W) / W, cy = y / H;
                if (cx == 1 && cy == 1) {
                    ASSERT_EQ(w[0], 255) << "centre weight at " << x << "," << y;
                }
                if (m.Pixel(x, y) != Magenta) continue;
                ASSERT_TRUE(cx != 1 && cy != 1) << "transparent outside a corner at " << x << "," << y;
                ++corner[frame][cy / 2 * 2 + cx / 2];
            }
        }
        EXPECT_EQ(lowest, row.lowest);
        for (auto& frame : corner)
            for (int n : frame) {
                EXPECT_GE(n, row.cornerMin);
                EXPECT_LE(n, row.cornerMax);
            }
        // weights fall toward the rim: along the middle of the left and top edges of every frame
        for (int frame = 0; frame < 3; ++frame) {
            const int a = frame * 3 * W;
            for (int x = 1; x < W; ++x)
                EXPECT_GE(At(m, a + x, half + H + H / 2)[0], At(m, a + x - 1, half + H + H / 2)[0]);
            for (int y = 1; y < H; ++y)
                EXPECT_GE(At(m, a + W + W / 2, half + y)[0], At(m, a + W + W / 2, half + y - 1)[0]);
            EXPECT_LT(At(m, a, half + H + H / 2)[0], 255);
        }
    }
}

TEST(BorderMasksTest, SecondMaskHasWeightZeroAllRoundItsRimAndOnlyTheCornerPixelTransparent) {
    const Bitmap24& m = PredefinedBorderMask(TsPredefinedBorders::pdBorder2);
    for (int frame = 0; frame < 3; ++frame) {
        const int a = frame * 30;
        for (int i = 0; i < 30; ++i) {
            EXPECT_EQ(At(m, a + i, 30), Grey(0));
            EXPECT_EQ(At(m, a, 30 + i), Grey(0));
            EXPECT_EQ(At(m, a + i, 59), Grey(0));
            EXPECT_EQ(At(m, a + 29, 30 + i), Grey(0));
        }
        EXPECT_EQ(m.Pixel(a, 0), Magenta);
        EXPECT_EQ(m.Pixel(a + 29, 29), Magenta);
        EXPECT_NE(m.Pixel(a + 1, 0), Magenta);
    }
    EXPECT_EQ(&PredefinedBorderMask(TsPredefinedBorders::pdCustom),
              &PredefinedBorderMask(TsPredefinedBorders::pdBorder1));
}
