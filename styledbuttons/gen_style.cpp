#include "styledbuttons/gen_style.h"

#include "platform/text.h"

#include <algorithm>

namespace styledbuttons {

bool InNoShadowKinds(int32_t k) {
    return k == 57 || k == 74 || k == 110 || k == 141 || k == 151;
}
bool InNoHotKinds(int32_t k) {
    return (k >= 51 && k <= 74) || k == 110 || (k >= 141 && k <= 161);
}
bool InContainerKinds(int32_t k) {
    return (k >= 51 && k <= 68) || k == 151;
}
bool InSoftCornerKinds(int32_t k) {
    return (k >= 1 && k <= 140) || (k >= 150 && k <= 200);
}

TsSkinData SkinData;
TBackgroundCache ParentBackground;

int32_t FindSkinSection(const std::string&) {
    return -1;
}
int32_t FindSkinProperty(int32_t, const std::string&, const std::string&) {
    return -1;
}

TsGenStyle* GetControlStyle(const std::function<void(TStyleMessage&)>& perform) {
    if (!perform) return nullptr;
    TStyleMessage m{WM_STYLEQUERY, 0, 0, 0};
    perform(m);
    return reinterpret_cast<TsGenStyle*>(m.LParam);
}

intptr_t ControlHasStyle(const std::function<void(TStyleMessage&)>& perform) {
    if (!perform) return 0;
    TStyleMessage m{WM_STYLEQUERY, 0, 0, 0};
    perform(m);
    return static_cast<intptr_t>(m.WParam);
}

TsGenStyle& TsShadow::Style() const {
    return effects_.Style();
}

void TsShadow::SetColor(TColor value) {
    if (value == color_) return;
    color_ = value;
    Style().RepaintParent();
}

void TsShadow::SetOffset(int32_t value) {
    if (value == offset_) return;
    offset_ = value;
    Style().RepaintParent();
}

void TsShadow::SetBlur(int32_t value) {
    if (value == blur_) return;
    blur_ = value;
    Style().RepaintParent();
}

void TsShadow::SetTransparency(int32_t value) {
    if (value == transparency_) return;
    transparency_ = std::clamp(value, 0, 100);
    if (enabled_) Style().RepaintParent();
}

void TsShadow::SetDontUse(bool value) {
    dontUse_ = value;
    if (value && enabled_) SetEnabled(false);
}

void TsShadow::SetEnabled(bool value) {
    TsGenStyle& style = Style();
    TStyleOwner* owner = style.OwnerControl();
    if (!owner || !owner->HasParent() || InNoShadowKinds(style.ControlKind)) return;
    if (ControlHasStyle([owner](TStyleMessage& m) { owner->SendToParent(m); }) <= 0) return;
    if (value) dontUse_ = false;
    enabled_ = value && !dontUse_;
    style.RepaintParent();
}

TsGenStyle::TsGenStyle(TStyleOwner* owner) : Effects(*this), owner_(owner) {
    ResizeCache();
}

TsGenStyle::~TsGenStyle() {
    if (!owner_ || !owner_->HasParent()) return;
    if (Effects.Shadow.enabled_) Effects.Shadow.enabled_ = false;
    RepaintParent();
}

void TsGenStyle::RecomputeSkin() {
    SkinIndex = FindSkinSection(skinSection_);
    MaskIndex = FindSkinProperty(SkinIndex, skinSection_, "BORDERSMASK");
}

void TsGenStyle::BindSkin() {
    BGChanged = true;
    if (skinSection_.empty() && owner_) skinSection_ = owner_->ClassName();
    RecomputeSkin();
}

void TsGenStyle::SetSkinSection(const std::string& value) {
    if (value == skinSection_) return;
    skinSection_ = value;
    RecomputeSkin();
    RegionChanged = true;
    InvalidateOwner();
}

void TsGenStyle::SetSoftControl(bool value) {
    if (value == softControl_) return;
    softControl_ = value;
    RegionChanged = true;
    InvalidateOwner();
}

void TsGenStyle::PaintControlShadow(Bitmap24&, int, int) {}

void TsGenStyle::InvalidateOwner() {
    BGChanged = true;
    if (!owner_ || owner_->Creating() || owner_->Destroying() || !owner_->Visible()) return;
    owner_->Invalidate();
}

bool TsGenStyle::IsHot() const {
    if (!owner_ || owner_->Destroying()) return false;
    if (owner_->IsPushButton() && owner_->Default() && owner_->ActiveDefault()) return true;
    if (!owner_->Enabled()) return false;
    if (owner_->IsButtonControl() && owner_->Pressed()) return true;
    if (InNoHotKinds(ControlKind)) return false;
    if (HasFocus) return true;
    return owner_->Focused();
}

void TsGenStyle::RepaintParent() {
    if (!owner_ || !owner_->HasParent()) return;
    TStyleMessage m{WM_STYLEBGCHANGED, 0, -1, 0};
    owner_->SendToParent(m);
    owner_->RepaintParent();
}

TBackgroundCache TsGenStyle::GetParentBackground() {
    if (!owner_ || !owner_->HasParent()) return {};
    ParentBackground.Ready = false;
    TStyleMessage m{WM_STYLEPARENTBG, 0, 0, 0};
    owner_->SendToParent(m);
    return ParentBackground;
}

void TsGenStyle::ResizeCache() {
    CacheBmp.SetSize(owner_ ? owner_->Width() : 0, owner_ ? owner_->Height() : 0);
}

std::optional<QRegion> TsGenStyle::SoftRegion() const {
    if (!owner_ || !softControl_ || !InSoftCornerKinds(ControlKind)) return std::nullopt;
    const int w = owner_->Width(), h = owner_->Height();
    return QRegion(1, 0, w - 2, h) | QRegion(0, 1, w, h - 2);
}

void TsGenStyle::UpdateRegion() {
    if (!RegionChanged) return;
    RegionChanged = false;
    Region = SoftRegion();
    BGChanged = true;
    if (owner_) owner_->ApplyRegion(Region);
}

void TsGenStyle::StyleMessageHandler(TStyleMessage& m) {
    const bool buttonOwner = owner_ && owner_->IsButtonControl();
    switch (m.Msg) {
    case WM_MOVE:
        BGChanged = true;
        if (Effects.Shadow.Enabled()) RepaintParent();
        if (buttonOwner) owner_->Repaint();
        return;
    case WM_SIZE:
        BGChanged = true;
        RegionChanged = true;
        UpdateRegion();
        // the owner's next paint rebuilds the region from its border mask
        RegionChanged = true;
        if (Effects.Shadow.Enabled()) RepaintParent();
        if (buttonOwner) owner_->Repaint();
        return;
    case WM_SETFOCUS:
    case CM_ENTER:
        HasFocus = true;
        InvalidateOwner();
        return;
    case WM_KILLFOCUS:
    case CM_EXIT:
        HasFocus = false;
        InvalidateOwner();
        return;
    case WM_FONTCHANGE:
    case CM_ENABLEDCHANGED:
        InvalidateOwner();
        return;
    case CM_VISIBLECHANGED:
        if (owner_ && !owner_->Visible() && Effects.Shadow.Enabled()) RepaintParent();
        return;
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE:
        m.Result = 1;
        if (InNoHotKinds(ControlKind) || HasFocus || (owner_ && owner_->Focused())) return;
        if (buttonOwner && FadingEnabled())
            owner_->StartFade(m.Msg == CM_MOUSEENTER);
        else
            InvalidateOwner();
        return;
    case WM_STYLEQUERY:
        m.WParam = 1;
        m.LParam = reinterpret_cast<intptr_t>(this);
        m.Result = 1;
        return;
    default:
        if (IsStyleLibraryMessage(m.Msg)) StyleLibraryMessage(m);
        return;
    }
}

void TsGenStyle::EnableShadowFromMessage(bool value) {
    TsShadow& s = Effects.Shadow;
    if (InNoShadowKinds(ControlKind) || (owner_ && !owner_->Visible()) || s.dontUse_)
        s.enabled_ = false;
    else
        s.enabled_ = value;
}

void TsGenStyle::StyleLibraryMessage(TStyleMessage& m) {
    if (static_cast<intptr_t>(m.WParam) != GroupIndex) return;
    TsShadow& s = Effects.Shadow;
    switch (m.Msg) {
    case WM_STYLEBGCHANGED:
        BGChanged = m.LParam != 0;
        break;
    case WM_STYLESKINCHANGED:
        BGChanged = true;
        RecomputeSkin();
        RegionChanged = true;
        break;
    case WM_STYLESKINREMOVED:
        SkinIndex = MaskIndex = -1;
        RegionChanged = true;
        InvalidateOwner();
        break;
    case WM_STYLESKINCLEARED:
        SkinIndex = MaskIndex = -1;
        break;
    case WM_STYLEREPAINT:
        BGChanged = true;
        InvalidateOwner();
        break;
    case WM_STYLEPARENTBG:
        ParentBackground.Bmp = &CacheBmp;
        ParentBackground.X = 0;
        ParentBackground.Y = 0;
        ParentBackground.Ready = !CacheBmp.Empty() && ControlKind != 7 && ControlKind != 8;
        break;
    case WM_STYLESECTIONREPAINT:
        if (platform::UpperCase(skinSection_) == SkinData.SkinSection) {
            RegionChanged = true;
            InvalidateOwner();
            if (owner_) owner_->Repaint();
        }
        break;
    case WM_STYLESOFTCONTROL:
        SetSoftControl(m.LParam != 0);
        BGChanged = true;
        break;
    case WM_STYLESHADOWENABLED:
        EnableShadowFromMessage(m.LParam != 0);
        BGChanged = true;
        break;
    case WM_STYLESHADOWCOLOR:
        s.color_ = static_cast<TColor>(m.LParam), BGChanged = true;
        break;
    case WM_STYLESHADOWTRANSPARENCY:
        s.transparency_ = static_cast<int32_t>(m.LParam), BGChanged = true;
        break;
    case WM_STYLESHADOWOFFSET:
        s.offset_ = static_cast<int32_t>(m.LParam), BGChanged = true;
        break;
    case WM_STYLESHADOWBLUR:
        s.blur_ = static_cast<int32_t>(m.LParam), BGChanged = true;
        break;
    case WM_STYLEGROUPSETTINGS: {
        const auto* g = reinterpret_cast<const TsGroupSettings*>(m.LParam);
        if (!g) break;
        s.color_ = g->ShadowColor;
        s.transparency_ = g->ShadowTransparency;
        s.offset_ = g->ShadowOffset;
        s.blur_ = g->ShadowBlur;
        softControl_ = g->SoftControl;
        EnableShadowFromMessage(g->ShadowEnabled);
        BGChanged = true;
        InvalidateOwner();
        break;
    }
    default:
        break;
    }
}

} // namespace styledbuttons
