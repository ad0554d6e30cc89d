#include "styledbuttons/bg_styles.h"
#include "styledbuttons/pixels/masked_borders.h"

#include "style_test_support.h"
#include "styledbuttons/pixels/pixel_test_support.h"

#include <gtest/gtest.h>

#include <array>

using namespace styledbuttons;
using namespace sbtest;

namespace {

class StyleTest : public ::testing::Test {
protected:
    FakeOwner owner_;
};

// A row's pixels all of one colour.
void ExpectRow(const Bitmap24& b, int y, const Bgr& want, int from = 0) {
    for (int x = from; x < b.Width(); ++x)
        ASSERT_EQ(At(b, x, y), want) << "at " << x << "," << y;
}

} // namespace

TEST_F(StyleTest, FreshStyleHasThePublishedDefaults) {
    TsActiveBGStyle s(&owner_);
    EXPECT_EQ(s.Background.Gradient.Percent(), 70);
    EXPECT_EQ(s.Background.Image.Percent(), 0);
    EXPECT_EQ(s.HotStyle.HotBackground.Gradient.Percent(), 70);
    const TsFading& f = s.BtnEffects.Fading;
    EXPECT_TRUE(f.Enabled && f.Iterations == 5 && f.IntervalIn == 5 && f.IntervalOut == 5);
    const TsMaskedBorders& m = s.BtnEffects.MaskedBorders;
    EXPECT_TRUE(m.Enabled());
    EXPECT_EQ(m.Predefined(), TsPredefinedBorders::pdBorder1);
    EXPECT_EQ(m.TransparentColor(), 0xFF00FFu);
    EXPECT_EQ(s.HotStyle.HotPainting.Color, 0xCFB78Fu);
    EXPECT_EQ(s.HotStyle.HotPainting.Bevel, TsControlBevel::cbRaisedSoft);
    EXPECT_EQ(s.HotStyle.HotPainting.BevelWidth, 5);
    EXPECT_TRUE(s.Painting.ParentColor());
    EXPECT_EQ(s.Painting.Color(), 0xCAC2B7u);
    EXPECT_EQ(s.Painting.Bevel(), TsControlBevel::cbRaisedSoft);
    const TsShadow& sh = s.Effects.Shadow;
    EXPECT_TRUE(sh.Color() == 0 && sh.Offset() == 8 && sh.Transparency() == 60 && sh.Blur() == 4);
    EXPECT_TRUE(sh.DontUse() && !sh.Enabled());
    EXPECT_TRUE(s.SoftControl() && s.RegionChanged && s.BGChanged && !s.HasFocus);
    EXPECT_EQ(s.SkinIndex, -1);
    EXPECT_EQ(s.MaskIndex, -1);
    EXPECT_EQ(s.CacheBmp.Width(), 84);
    EXPECT_EQ(s.CacheBmp.Height(), 22);
    s.BindSkin();
    EXPECT_EQ(s.SkinSection(), "TsBitBtn");
    EXPECT_EQ(s.SkinIndex, -1);
}

TEST_F(StyleTest, PercentsStayCoupledAndWithinRange) {
    TsActiveBGStyle s(&owner_);
    for (TsHotBackground* bg : {static_cast<TsHotBackground*>(&s.Background), &s.HotStyle.HotBackground}) {
        bg->Image.SetPercent(60);
        EXPECT_EQ(bg->Gradient.Percent(), 40);
        bg->Gradient.SetPercent(80);
        EXPECT_EQ(bg->Image.Percent(), 20);
        // out of range: the share is clamped before its partner is lowered
        bg->Image.SetPercent(150);
        EXPECT_EQ(bg->Image.Percent(), 100);
        EXPECT_EQ(bg->Gradient.Percent(), 0);
        bg->Gradient.SetPercent(-20);
        EXPECT_EQ(bg->Gradient.Percent(), 0);
    }
    // a background of 150 % picture and no picture at all: the colour fill, not a flood
    s.Painting.SetColor(clSilver);
    s.Background.Image.SetPercent(150);
    PaintButton(s);
    EXPECT_EQ(At(s.CacheBmp, 40, 11), Grey(192));
}

TEST_F(StyleTest, GradientDataIsParsedOnlyWhenItChangesAndBadWordsRaise) {
    TsActiveBGStyle s(&owner_);
    s.Background.Gradient.SetData("1;2;3;0;5");
    const int invalidates = owner_.Invalidates;
    s.Background.Gradient.SetData("1;2;3;0;5");
    EXPECT_EQ(owner_.Invalidates, invalidates);
    // the hot background belongs to the hot style: its changes repaint nothing
    s.HotStyle.HotBackground.Gradient.SetData("7;7;7;7;7");
    EXPECT_EQ(owner_.Invalidates, invalidates);
    try {
        s.Background.Gradient.SetData("1;x;3;4;5");
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
    }
    EXPECT_EQ(s.Background.Gradient.Data(), "1;x;3;4;5");
    s.Background.Gradient.SetData(std::string(300, '9'));
    EXPECT_EQ(s.Background.Gradient.Data().size(), 255u);
}

// Over clSilver: the gradient grey round(128 + 127k/21) (k the row) blended with 70 % kept,
// round(0.7 g + 0.3 c); clBtnFace resolves to 240. Computed with IEEE doubles in Python, whose
// round() takes halves to even.
TEST_F(StyleTest, NormalBackgroundOfEveryRow) {
    const std::array<int, 22> silver = {147, 151, 156, 160, 164, 168, 172, 177, 181, 185, 189,
                                        194, 198, 202, 207, 211, 215, 219, 224, 228, 232, 236};
    const std::array<int, 22> face = {162, 166, 170, 174, 178, 183, 187, 191, 195, 199, 204,
                                      208, 213, 217, 221, 225, 230, 234, 238, 242, 246, 250};
    owner_.W = 75;
    for (const auto& [colour, rows] : {std::pair{clSilver, silver}, std::pair{clBtnFace, face}}) {
        TsActiveBGStyle s(&owner_);
        FormButtonLook(s, colour);
        s.ResizeCache();
        s.PaintBackground(s.CacheBmp);
        for (int y = 0; y < 22; ++y)
            ExpectRow(s.CacheBmp, y, Grey(rows[y]));
    }
}

// Hot: the five-stop gradient starts at grey 128; 0.7 * 128 + 0.3 * (143, 183, 207) gives
// 132.5, 144.5, 151.7 -> 132, 144, 152 with halves to even. The pressed look paints one pixel down
// and right: row 0 and column 0 keep the old pixel (10, 20, 30), blended once: 50, 69, 83.
TEST_F(StyleTest, HotBackgroundAndItsPressedShift) {
    TsActiveBGStyle s(&owner_);
    FormButtonLook(s, clBtnFace);
    owner_.HasInputFocus = true;
    s.ResizeCache();
    s.PaintBackground(s.CacheBmp);
    ExpectRow(s.CacheBmp, 0, Bgr{152, 144, 132});

    owner_.IsPressed = true;
    s.CacheBmp.Fill(RGB(10, 20, 30));
    s.PaintBackground(s.CacheBmp);
    ExpectRow(s.CacheBmp, 0, Bgr{83, 69, 50});
    for (int y = 0; y < 22; ++y)
        EXPECT_EQ(At(s.CacheBmp, 0, y), (Bgr{83, 69, 50}));
    ExpectRow(s.CacheBmp, 1, Bgr{152, 144, 132}, 1);
}

// Pictures of grey 200 over a black gradient, half and half: the normal look mixes with weight
// min(50 * 256 div 100, 255) = 128, round(200 * 128 / 256) = 100; the hot one with 50 * 255 div 100
// = 127, round(200 * 127 / 256) = round(99.22) = 99. A sum of 100 adds no colour.
TEST_F(StyleTest, PictureOverGradientWeightsAndTheColourAloneAtZeroPercent) {
    TsActiveBGStyle s(&owner_);
    FormButtonLook(s, clSilver);
    TPicture picture;
    picture.Kind = TGraphicKind::Bitmap;
    picture.Image = Filled(4, 4, RGB(200, 200, 200));
    for (TsHotBackground* bg : {static_cast<TsHotBackground*>(&s.Background), &s.HotStyle.HotBackground}) {
        bg->Image.SetImage(picture);
        bg->Image.SetPercent(50);
        bg->Gradient.SetData("0;0;100;0;0");
        bg->Gradient.SetPercent(50);
    }
    PaintButton(s);
    EXPECT_EQ(At(s.CacheBmp, 40, 11), Grey(100));
    owner_.HasInputFocus = true;
    PaintButton(s);
    EXPECT_EQ(At(s.CacheBmp, 40, 11), Grey(99));

    for (TsHotBackground* bg : {static_cast<TsHotBackground*>(&s.Background), &s.HotStyle.HotBackground}) {
        bg->Image.SetPercent(0);
        bg->Gradient.SetPercent(0);
    }
    s.BtnEffects.MaskedBorders.SetEnabled(false);
    s.HotStyle.HotPainting.Bevel = TsControlBevel::cbNone;
    for (bool hot : {false, true}) {
        owner_.HasInputFocus = hot;
        s.ResizeCache();
        s.PaintBackground(s.CacheBmp);
        const Bgr want = hot ? Bgr{0xCF, 0xB7, 0x8F} : Grey(192);
        for (int y = 0; y < 22; ++y)
            ExpectRow(s.CacheBmp, y, want);
    }
}

TEST_F(StyleTest, PressedHotBevelDrawsNoSecondBevelBesideAWholeButton) {
    TsActiveBGStyle s(&owner_);
    s.BtnEffects.MaskedBorders.SetEnabled(false);
    s.HotStyle.HotPainting.BevelWidth = 3; // 3 div 4 + 1 = 1: the one-line lowered bevel
    owner_.IsPressed = true;
    s.CacheBmp.Fill(clSilver);
    Bitmap24 want = s.CacheBmp;
    DrawShadedBevel(want, TRect{0, 0, 84, 22}, 1, true, TsControlBevel::cbLoweredSoft);
    s.PaintBevel(TRect{0, 0, 84, 22});
    EXPECT_EQ(s.CacheBmp, want);
}

TEST_F(StyleTest, HotTestOrder) {
    TsActiveBGStyle s(&owner_);
    s.ControlKind = KindBitBtn;
    EXPECT_FALSE(s.IsHot());
    owner_.IsDefault = owner_.IsActiveDefault = true;
    owner_.IsEnabled = false;
    EXPECT_TRUE(s.IsHot()) << "the active default is hot even when disabled";
    owner_.IsActiveDefault = false;
    owner_.IsPressed = true;
    EXPECT_FALSE(s.IsHot()) << "disabled comes before pressed";
    owner_.IsEnabled = true;
    EXPECT_TRUE(s.IsHot());
    owner_.IsPressed = false;
    s.HasFocus = true;
    EXPECT_TRUE(s.IsHot());
    s.ControlKind = 60; // a kind that is never hot
    EXPECT_FALSE(s.IsHot());
    s.ControlKind = KindBitBtn;
    s.HasFocus = false;
    owner_.HasInputFocus = true;
    EXPECT_TRUE(s.IsHot());
    owner_.HasInputFocus = false;
    // the mouse over the button only repaints it
    TStyleMessage enter{CM_MOUSEENTER, 0, 0, 0};
    s.BtnEffects.Fading.Enabled = false;
    const int invalidates = owner_.Invalidates;
    s.StyleMessageHandler(enter);
    EXPECT_EQ(enter.Result, 1);
    EXPECT_FALSE(s.IsHot());
    EXPECT_EQ(owner_.Invalidates, invalidates + 1);
    s.BtnEffects.Fading.Enabled = true;
    TStyleMessage leave{CM_MOUSELEAVE, 0, 0, 0};
    s.StyleMessageHandler(leave);
    EXPECT_EQ(owner_.FadesOut, 1);
    owner_.IsDestroying = true;
    owner_.IsDefault = owner_.IsActiveDefault = true;
    EXPECT_FALSE(s.IsHot());
}

TEST_F(StyleTest, LibraryMessages) {
    // the parent outlives the child's style, which says goodbye to it
    FakeOwner parentOwner;
    TsActiveBGStyle parent(&parentOwner);
    TsActiveBGStyle s(&owner_);
    TStyleMessage query{WM_STYLEQUERY, 0, 0, 0};
    s.StyleMessageHandler(query);
    EXPECT_EQ(query.WParam, 1u);
    EXPECT_EQ(query.LParam, reinterpret_cast<intptr_t>(static_cast<TsGenStyle*>(&s)));
    EXPECT_EQ(query.Result, 1);
    EXPECT_EQ(GetControlStyle([&](TStyleMessage& m) { s.StyleMessageHandler(m); }), &s);

    TStyleMessage clear{WM_STYLEBGCHANGED, 0, 0, 0};
    s.StyleMessageHandler(clear);
    EXPECT_FALSE(s.BGChanged);
    TStyleMessage other{WM_STYLEBGCHANGED, 3, -1, 0};
    s.StyleMessageHandler(other);
    EXPECT_FALSE(s.BGChanged) << "another group's message";
    TStyleMessage set{WM_STYLEBGCHANGED, 0, -1, 0};
    s.StyleMessageHandler(set);
    EXPECT_TRUE(s.BGChanged);
    // a group message whose settings object is missing is taken and ignored
    TStyleMessage group{WM_STYLEGROUPSETTINGS, 0, 0, 0};
    s.StyleMessageHandler(group);

    // the parent answers with its cached image; the child reads the answer back
    parent.ControlKind = 51;
    owner_.ParentStyle = &parent;
    const TBackgroundCache answer = s.GetParentBackground();
    EXPECT_TRUE(answer.Ready);
    EXPECT_EQ(answer.Bmp, &parent.CacheBmp);
    EXPECT_EQ(answer.X, 0);
    owner_.Parent = false;
    EXPECT_FALSE(s.GetParentBackground().Ready);
}

TEST_F(StyleTest, ShadowNeedsAStyledParentAndClampsItsTransparency) {
    FakeOwner parentOwner;
    TsActiveBGStyle parent(&parentOwner);
    TsActiveBGStyle s(&owner_);
    s.ControlKind = KindBitBtn;
    TsShadow& shadow = s.Effects.Shadow;
    shadow.SetEnabled(true);
    EXPECT_FALSE(shadow.Enabled());
    EXPECT_TRUE(shadow.DontUse());
    owner_.ParentStyle = &parent;
    shadow.SetEnabled(true);
    EXPECT_TRUE(shadow.Enabled());
    shadow.SetTransparency(150);
    EXPECT_EQ(shadow.Transparency(), 100);
    shadow.SetTransparency(-5);
    EXPECT_EQ(shadow.Transparency(), 0);
}

TEST_F(StyleTest, SoftCornersLeaveTheRegionWithAndWithoutMaskedBorders) {
    owner_.W = 75;
    owner_.H = 25;
    const QRegion corners =
        QRegion(0, 0, 1, 1) | QRegion(74, 0, 1, 1) | QRegion(0, 24, 1, 1) | QRegion(74, 24, 1, 1);
    const QRegion soft = QRegion(0, 0, 75, 25) - corners;
    TsActiveBGStyle s(&owner_);
    s.ControlKind = KindBitBtn;
    s.UpdateRegion();
    ASSERT_TRUE(owner_.LastRegion.has_value());
    int area = 0;
    for (const QRect& r : *owner_.LastRegion)
        area += r.width() * r.height();
    EXPECT_EQ(area, 1871);
    EXPECT_FALSE(owner_.LastRegion->contains(QPoint(0, 0)));
    // without a masked frame the paint keeps the soft corners
    s.BtnEffects.MaskedBorders.SetEnabled(false);
    s.RegionChanged = true;
    PaintButton(s);
    EXPECT_EQ(*owner_.LastRegion, soft);
    EXPECT_FALSE(s.RegionChanged);
}

TEST_F(StyleTest, MaskedFrameCutsTheCornersAndSmallCustomMasksFallBack) {
    TsActiveBGStyle s(&owner_);
    FormButtonLook(s, clBtnFace);
    PaintButton(s);
    const QRegion corners =
        QRegion(0, 0, 1, 1) | QRegion(83, 0, 1, 1) | QRegion(0, 21, 1, 1) | QRegion(83, 21, 1, 1);
    ASSERT_TRUE(owner_.LastRegion.has_value());
    EXPECT_EQ(*owner_.LastRegion, QRegion(0, 0, 84, 22) - corners);

    s.BtnEffects.MaskedBorders.SetMask(Filled(5, 5, clBlack));
    EXPECT_EQ(s.BtnEffects.MaskedBorders.Predefined(), TsPredefinedBorders::pdCustom);
    EXPECT_TRUE(s.RegionChanged);
    EXPECT_EQ(&SelectBorderMask(s), &PredefinedBorderMask(TsPredefinedBorders::pdBorder1));
    WithinDeadline([&] { PaintButton(s); });
    const Bitmap24 big = Filled(18, 12, clBlack);
    s.BtnEffects.MaskedBorders.SetMask(big);
    EXPECT_EQ(&SelectBorderMask(s), &s.BtnEffects.MaskedBorders.Mask());
}

// The second mask's rim has weight 0, so the pressed look, whose background leaves row 0 and
// column 0 alone, shows the same whatever the cached image held before.
TEST_F(StyleTest, PressedLookDoesNotDependOnThePreviousPaint) {
    TsActiveBGStyle s(&owner_);
    FormButtonLook(s, clBtnFace);
    owner_.IsPressed = true;
    s.CacheBmp.Fill(clBlack);
    s.PaintBackground(s.CacheBmp);
    s.PaintFrame();
    const Bitmap24 first = s.CacheBmp;
    s.CacheBmp.Fill(clWhite);
    s.PaintBackground(s.CacheBmp);
    s.PaintFrame();
    // the transparent corners are not painted, but they are not shown either
    ASSERT_TRUE(s.Region.has_value());
    int shown = 0;
    for (int y = 0; y < 22; ++y) {
        for (int x = 0; x < 84; ++x) {
            if (!s.Region->contains(QPoint(x, y))) continue;
            ++shown;
            ASSERT_EQ(At(s.CacheBmp, x, y), At(first, x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(shown, 84 * 22 - 4);
}
