#include "styledbuttons/bg_styles.h"

#include "styledbuttons/pixels/masked_borders.h"
#include "styledbuttons/pixels/rect_blend.h"
#include "styledbuttons/pixels/shadow.h"
#include "styledbuttons/pixels/utils.h"

#include <algorithm>

namespace styledbuttons {

// The group every passive background hears besides its own.
constexpr int32_t kPassiveBackgroundGroup = 21;

TsPassiveBGStyle::TsPassiveBGStyle(TStyleOwner* owner) : TsPaintStyle(owner), Background(*this) {}

TColor TsPassiveBGStyle::GetBGColor() const {
    return Painting.Color();
}
TsControlBevel TsPassiveBGStyle::GetBevel() const {
    return Painting.Bevel();
}
int32_t TsPassiveBGStyle::GetBevelWidth() const {
    return Painting.BevelWidth();
}
int32_t TsPassiveBGStyle::GetGradientPercent() const {
    return Background.Gradient.Percent();
}
const TGradientArray& TsPassiveBGStyle::GetGradientData() const {
    return Background.Gradient.Stops();
}
int32_t TsPassiveBGStyle::GetImagePercent() const {
    return Background.Image.Percent();
}

const TPicture* TsPassiveBGStyle::GetImage() const {
    const TPicture& p = Background.Image.Image();
    return p.Kind == TGraphicKind::None ? nullptr : &p;
}

void TsPassiveBGStyle::PaintBackground(Bitmap24& bitmap) {
    TStyleOwner* owner = OwnerControl();
    const TRect r{0, 0, owner ? owner->Width() : 0, owner ? owner->Height() : 0};
    PaintLook(bitmap, r, Painting.Transparency(), false);
}

void TsPassiveBGStyle::PaintLook(Bitmap24& b, const TRect& r, int32_t transparency, bool hot) {
    TBackgroundCache info;
    try {
        info = GetParentBackground();
    } catch (...) {
        info = TBackgroundCache{};
    }
    TStyleOwner* owner = OwnerControl();
    const bool ready = info.Ready && info.Bmp != nullptr && owner != nullptr;
    Bitmap24 work(b.Width(), b.Height());
    // what lies behind the control, from the parent's cached image
    auto copyParent = [&](Bitmap24& to) {
        const int left = owner->Left() + info.X, top = owner->Top() + info.Y;
        CopyBackgroundArea(*info.Bmp, TRect{left, top, left + owner->Width(), top + owner->Height()}, to, 0,
                           0, clWhite, 100, TPoint{0, 0});
    };
    if (ready && transparency == 100) {
        copyParent(b);
        return;
    }
    PaintLayers(b, work, r, hot);
    if (!ready || transparency == 0) return;
    if (hot) work = b;
    copyParent(work);
    MixBitmaps(b, work, (100 - transparency) * 255 / 100);
}

void TsPassiveBGStyle::PaintLayers(Bitmap24& b, Bitmap24& work, const TRect& r, bool hot) {
    const TColor colour = GetBGColor();
    const int32_t imagePercent = GetImagePercent();
    const int32_t gradientPercent = GetGradientPercent();
    bool pictured = false;
    if (imagePercent > 0) {
        const TPicture* picture = GetImage();
        if (picture && !picture->Empty()) {
            TileGraphic(b, r, *picture);
            pictured = true;
        } else if (!hot) {
            FillRectSolid(b, r, colour);
        }
    }
    if (gradientPercent > 0) {
        Bitmap24& into = pictured ? work : b;
        if (GetGradientData().empty())
            FillRectSolid(into, r, colour);
        else
            PaintGradient(into, r, GetGradientData());
        // the picture keeps its share over the gradient
        if (pictured)
            MixBitmaps(b, work, hot ? imagePercent * 255 / 100 : std::min(imagePercent * 256 / 100, 255));
    }
    const int32_t sum = gradientPercent + imagePercent;
    if (sum >= 1 && sum <= 99)
        BlendRectToColor(b, TRect{0, 0, b.Width() - 1, b.Height() - 1}, static_cast<uint8_t>(sum), colour);
    else if (sum != 100)
        FillRectSolid(b, r, colour);
}

void TsPassiveBGStyle::StyleMessageHandler(TStyleMessage& m) {
    if (IsGroupMessage(m, kPassiveBackgroundGroup) && InListenKinds(ControlKind) && Background.ListenMSG) {
        const auto* g = reinterpret_cast<const TsGroupSettings*>(m.LParam);
        if (m.Msg == WM_STYLEPICTURE && g && g->Picture) {
            Background.Image.SetImage(*g->Picture);
            InvalidateOwner();
        } else if (m.Msg == WM_STYLEGROUPSETTINGS && g && g->Picture && !g->Picture->Empty()) {
            Background.Image.SetImage(*g->Picture);
            Painting.SetParentColor(false);
            TsShadow& s = Effects.Shadow;
            if (!s.DontUse()) s.enabled_ = g->ShadowEnabled;
            s.color_ = g->ShadowColor;
            s.blur_ = g->ShadowBlur;
            s.offset_ = g->ShadowOffset;
            s.SetTransparency(g->ShadowTransparency);
            InvalidateOwner();
        }
    }
    TsPaintStyle::StyleMessageHandler(m);
}

TsActiveBGStyle::TsActiveBGStyle(TStyleOwner* owner)
    : TsPassiveBGStyle(owner), HotStyle(*this), BtnEffects(*this) {}

TColor TsActiveBGStyle::GetBGColor() const {
    return ColorToRGB(IsHot() ? HotStyle.HotPainting.Color : Painting.Color());
}

TsControlBevel TsActiveBGStyle::GetBevel() const {
    return IsHot() ? HotStyle.HotPainting.Bevel : TsPassiveBGStyle::GetBevel();
}

int32_t TsActiveBGStyle::GetBevelWidth() const {
    return IsHot() ? HotStyle.HotPainting.BevelWidth : TsPassiveBGStyle::GetBevelWidth();
}

int32_t TsActiveBGStyle::GetGradientPercent() const {
    return IsHot() ? HotStyle.HotBackground.Gradient.Percent() : TsPassiveBGStyle::GetGradientPercent();
}

const TGradientArray& TsActiveBGStyle::GetGradientData() const {
    return IsHot() ? HotStyle.HotBackground.Gradient.Stops() : TsPassiveBGStyle::GetGradientData();
}

int32_t TsActiveBGStyle::GetImagePercent() const {
    return IsHot() ? HotStyle.HotBackground.Image.Percent() : TsPassiveBGStyle::GetImagePercent();
}

const TPicture* TsActiveBGStyle::GetImage() const {
    if (!IsHot()) return TsPassiveBGStyle::GetImage();
    const TPicture& p = HotStyle.HotBackground.Image.Image();
    return p.Kind == TGraphicKind::None ? nullptr : &p;
}

void TsActiveBGStyle::PaintBackground(Bitmap24& bitmap) {
    if (IsHot())
        PaintHotBackground();
    else
        TsPassiveBGStyle::PaintBackground(bitmap);
}

void TsActiveBGStyle::PaintHotBackground() {
    TStyleOwner* owner = OwnerControl();
    TRect r{0, 0, owner ? owner->Width() : 0, owner ? owner->Height() : 0};
    if (owner && owner->IsButtonControl() && owner->Pressed())
        r = {r.Left + 1, r.Top + 1, r.Right + 1, r.Bottom + 1};
    PaintLook(CacheBmp, r, HotStyle.HotPainting.Transparency, true);
}

void TsActiveBGStyle::PaintBevel(const TRect& r) {
    TStyleOwner* owner = OwnerControl();
    const bool soft = SoftControl();
    const bool down = owner && owner->IsButtonControl() && owner->Pressed();
    if (IsHot()) {
        if (down) {
            const int width = GetBevelWidth() / 4 + 1;
            DrawShadedBevel(CacheBmp, r, width, soft, TsControlBevel::cbLoweredSoft);
            // The part right of the rectangle; none when the rectangle is the whole button.
            const TRect rest{r.Right, r.Top, owner->Width(), r.Bottom};
            if (WidthOf(rest) > 0)
                DrawShadedBevel(CacheBmp, rest, width, soft, TsControlBevel::cbLoweredSoft);
        } else {
            DrawShadedBevel(CacheBmp, r, GetBevelWidth(), soft, GetBevel());
        }
    } else {
        const int width = owner && owner->IsButtonControl() ? owner->BevelWidth() : 1;
        TsControlBevel kind = GetBevel();
        if (kind == TsControlBevel::cbRaisedSoft && down) kind = TsControlBevel::cbLoweredSoft;
        if (kind == TsControlBevel::cbRaisedHard && down) kind = TsControlBevel::cbLoweredHard;
        // no bevel is drawn for cbNone outside the designer
        if (kind != TsControlBevel::cbNone) DrawShadedBevel(CacheBmp, r, width, soft, kind);
    }
    if (owner && owner->IsPushButton() && owner->Default() && owner->ActiveDefault())
        DrawBevelRect(CacheBmp, r, clBlack, 1, true, clBlack, clBlack);
}

void TsActiveBGStyle::PaintFrame() {
    TStyleOwner* owner = OwnerControl();
    if (!owner) return;
    const int w = owner->Width(), h = owner->Height();
    const bool rebuild = RegionChanged;
    const TsMaskedBorders& borders = BtnEffects.MaskedBorders;
    // Without a masked frame nothing cuts the region later, so the soft corners are kept from the start.
    if (rebuild)
        Region = borders.Enabled() ? QRegion(0, 0, w, h) : SoftRegion().value_or(QRegion(0, 0, w, h));
    if (borders.Enabled()) {
        PaintMaskedFrame();
    } else {
        PaintBevel(TRect{0, 0, w, h});
    }
    if (rebuild) {
        owner->ApplyRegion(Region);
        RegionChanged = false;
    }
}

void TsActiveBGStyle::PaintMaskedFrame() {
    TStyleOwner* owner = OwnerControl();
    if (!owner) return;
    const int frame = owner->Pressed() ? 2 : IsHot() ? 1 : 0;
    TRegionHoles holes;
    PaintMaskedBorders(CacheBmp, SelectBorderMask(*this), frame, true,
                       BtnEffects.MaskedBorders.TransparentColor(), &holes);
    if (Region)
        for (const TRect& hole : holes)
            *Region -= QRegion(hole.Left, hole.Top, WidthOf(hole), HeightOf(hole));
}

void TsActiveBGStyle::UpdateRegion() {
    TStyleOwner* owner = OwnerControl();
    if (!owner || BtnEffects.MaskedBorders.Enabled() || SkinIndex >= 0) {
        TsPassiveBGStyle::UpdateRegion();
        return;
    }
    Region = SoftRegion();
    BGChanged = true;
    owner->ApplyRegion(Region);
    RegionChanged = false;
}

const Bitmap24& SelectBorderMask(const TsActiveBGStyle& style) {
    const TsMaskedBorders& borders = style.BtnEffects.MaskedBorders;
    if (borders.Predefined() != TsPredefinedBorders::pdCustom)
        return PredefinedBorderMask(borders.Predefined());
    if (borders.Mask().Width() >= 9 && borders.Mask().Height() >= 6) return borders.Mask();
    return PredefinedBorderMask(TsPredefinedBorders::pdBorder1);
}

void ApplyFormButtonStyle(TsActiveBGStyle& s, TColor face) {
    s.SetSkinSection("TsBitBtn");
    s.GroupIndex = 0;
    s.Background.Gradient.SetData("8421504;16777215;99;0;0;16777215;16777215;0;0;0");
    s.HotStyle.HotBackground.Gradient.SetData(
        "8421504;8421504;10;0;0;8421504;16777215;43;0;0;16777215;10658466;"
        "28;0;0;10658466;13816530;18;0;0;13816530;13816530;0;0;0");
    s.HotStyle.HotPainting.Transparency = 0;
    s.HotStyle.HotPainting.Bevel = TsControlBevel::cbNone;
    s.BtnEffects.Fading.Enabled = false;
    s.BtnEffects.MaskedBorders.SetPredefined(TsPredefinedBorders::pdBorder2);
    s.Painting.SetColor(face);
}

} // namespace styledbuttons
