#include "styledbuttons/canvas.h"

#include "styledbuttons/pixels/utils.h"
#include "ui/application.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

using namespace styledbuttons;

namespace {

class CaptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::EnsureApplication();
        font_.setPixelSize(12);
    }

    // Pixels that are no longer white, and whether all of them lie inside the box.
    static int Changed(const Bitmap24& b, const TRect& box, bool& inside) {
        int n = 0;
        inside = true;
        for (int y = 0; y < b.Height(); ++y) {
            for (int x = 0; x < b.Width(); ++x) {
                if (b.Pixel(x, y) == clWhite) continue;
                ++n;
                if (x < box.Left || x >= box.Right || y < box.Top || y >= box.Bottom) inside = false;
            }
        }
        return n;
    }

    QFont font_;
};

} // namespace

TEST_F(CaptionTest, ImageSharesTheBitmapsRows) {
    Bitmap24 b(5, 3);
    QImage image = ImageOf(b);
    EXPECT_EQ(image.constBits(), b.Bits());
    EXPECT_EQ(image.bytesPerLine(), b.Stride());
    {
        QPainter p(&image);
        p.fillRect(QRect(1, 2, 1, 1), QColor(10, 20, 30));
    }
    EXPECT_EQ(b.Pixel(1, 2), RGB(10, 20, 30));
    EXPECT_EQ(b.Row(2)[3], 30); // blue first
    Bitmap24 empty;
    EXPECT_TRUE(ImageOf(empty).isNull());
}

TEST_F(CaptionTest, LeftCaptionBoxTakesTheTextSizeAndTheRectangleGrowsByOne) {
    Bitmap24 b(120, 40);
    TCanvas canvas{b, font_, clBlack};
    const QFontMetrics m(font_);
    const int w = m.horizontalAdvance("Abc");
    const int h = m.height();
    TRect rect{10, 10, 100, 30};
    DrawCaptionText(canvas, "Abc", true, false, 0, 0, rect);
    const int dy = (h - 20) / 2;
    const TRect box{10, 10 - dy, 10 + w, 30 + dy};
    EXPECT_EQ(rect.Left, box.Left - 1);
    EXPECT_EQ(rect.Top, box.Top - 1);
    EXPECT_EQ(rect.Right, box.Right + 1);
    EXPECT_EQ(rect.Bottom, box.Bottom + 1);
    bool inside = false;
    EXPECT_GT(Changed(b, box, inside), 0);
    EXPECT_TRUE(inside);
}

TEST_F(CaptionTest, CentredAndRightCaptions) {
    const QFontMetrics m(font_);
    const int w = m.horizontalAdvance("Wide caption");
    Bitmap24 b(200, 40);
    TCanvas canvas{b, font_, clBlack};
    TRect centred{0, 0, 200, 40};
    DrawCaptionText(canvas, "Wide caption", true, true, 3, DT_CENTER, centred);
    const int dx = (w - 200) / 2;
    EXPECT_EQ(centred.Left, -dx - 1);
    EXPECT_EQ(centred.Right, 200 + dx + 1);

    TRect right{0, 0, 200, 40};
    DrawCaptionText(canvas, "Wide caption", true, false, 0, DT_RIGHT, right);
    EXPECT_EQ(right.Left, 200 - w - 1);
    EXPECT_EQ(right.Right, 201);
}

TEST_F(CaptionTest, DisabledCaptionIsEngraved) {
    Bitmap24 b(80, 30);
    b.Fill(RGB(50, 50, 50));
    TCanvas canvas{b, font_, clBlack};
    TRect rect{5, 5, 75, 25};
    DrawCaptionText(canvas, "Iiii", false, false, 0, 0, rect);
    // text is smoothed: the highlight shows as near-white edges beside strokes of shadow grey (160),
    // and nothing is drawn darker than the background
    int brightest = 0, shadow = 0, darkest = 255;
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x) {
            const int v = b.Row(y)[3 * x];
            brightest = std::max(brightest, v);
            darkest = std::min(darkest, v);
            if (v >= 130 && v <= 165) ++shadow;
        }
    }
    EXPECT_GE(brightest, 220);
    EXPECT_GT(shadow, 5);
    EXPECT_EQ(darkest, 50);
}

TEST_F(CaptionTest, EmptyTextMovesTheRectangleOnlyAndWrappedTextKeepsIt) {
    Bitmap24 b(60, 30);
    TCanvas canvas{b, font_, clBlack};
    TRect rect{5, 5, 55, 25};
    DrawCaptionText(canvas, "", true, false, 0, 0, rect);
    EXPECT_EQ(rect.Left, 4);
    EXPECT_EQ(rect.Right, 6); // an empty text is 0 wide, plus the grown pixel
    EXPECT_EQ(b, Bitmap24(60, 30));

    TRect wrapped{5, 5, 55, 25};
    DrawCaptionText(canvas, "one two three four five", true, false, 0, DT_WORDBREAK, wrapped);
    EXPECT_EQ(wrapped.Left, 5);
    EXPECT_EQ(wrapped.Bottom, 25);
    bool inside = false;
    EXPECT_GT(Changed(b, TRect{5, 5, 55, 25}, inside), 0);
    EXPECT_TRUE(inside);
}
