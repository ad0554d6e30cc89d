#include "styledbuttons/paint_style.h"

#include "styledbuttons/pixels/shadow.h"

namespace styledbuttons {

bool InListenKinds(int32_t k) {
    return (k >= 51 && k <= 68) || (k >= 91 && k <= 95) || k == 141 || k == 151 || k == 161 || k == 165;
}

void TsPainting::SetColor(TColor value) {
    if (value == color_) return;
    color_ = value;
    parentColor_ = false;
    if (TStyleOwner* owner = style_.OwnerControl()) owner->SetColor(value);
    style_.InvalidateOwner();
}

void TsPainting::SetParentColor(bool value) {
    if (value == parentColor_) return;
    parentColor_ = value;
    TStyleOwner* owner = style_.OwnerControl();
    if (!owner) return;
    owner->SetParentColor(value);
    if (value && owner->HasParent() && owner->ParentColor() != color_) {
        color_ = owner->ParentColor();
        style_.InvalidateOwner();
    }
}

void TsPainting::SetBevel(TsControlBevel value) {
    if (value == bevel_) return;
    bevel_ = value;
    style_.InvalidateOwner();
}

void TsPainting::SetTransparency(int32_t value) {
    if (value == transparency_) return;
    transparency_ = value;
    style_.RepaintParent();
    style_.InvalidateOwner();
}

TsPaintStyle::TsPaintStyle(TStyleOwner* owner) : TsGenStyle(owner), Painting(*this) {}

void TsPaintStyle::PaintControlShadow(Bitmap24& canvas, int dx, int dy) {
    TStyleOwner* owner = OwnerControl();
    if (!owner || Painting.Transparency() > 100) return;
    const TsShadow& shadow = Effects.Shadow;
    const int off = shadow.Offset();
    TRect r{owner->Left() + off, owner->Top() + off, owner->Left() + off + owner->Width(),
            owner->Top() + off + owner->Height()};
    const int a = InListenKinds(ControlKind) && Painting.Transparency() > 0 ? Painting.Transparency() : 0;
    const int alpha = PercentMix(a, shadow.Transparency());
    r = {r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
    // the canvas is both the source and the destination: read from a copy
    const Bitmap24 source = canvas;
    PaintShadowArea(source, r, canvas, SoftControl() ? 6 : 0, 0, shadow.Blur(), ColorToRGB(shadow.Color()),
                    alpha, TPoint{r.Left, r.Top});
}

bool TsPaintStyle::IsGroupMessage(const TStyleMessage& m, int32_t also) const {
    const auto group = static_cast<intptr_t>(m.WParam);
    return IsStyleLibraryMessage(m.Msg) && (group == GroupIndex || group == also);
}

void TsPaintStyle::StyleMessageHandler(TStyleMessage& m) {
    TStyleOwner* owner = OwnerControl();
    if ((m.Msg == CM_PARENTCOLORCHANGED || m.Msg == CM_SYSCOLORCHANGE) && Painting.ParentColor() && owner &&
        owner->HasParent()) {
        Painting.color_ = owner->ParentColor();
        InvalidateOwner();
    } else if (IsGroupMessage(m)) {
        if (m.Msg == WM_STYLECOLOR) {
            Painting.SetColor(static_cast<TColor>(m.LParam));
        } else if (m.Msg == WM_STYLEGROUPSETTINGS) {
            if (const auto* g = reinterpret_cast<const TsGroupSettings*>(m.LParam))
                EnableShadowFromMessage(g->ShadowEnabled);
        }
    }
    TsGenStyle::StyleMessageHandler(m);
}

} // namespace styledbuttons
