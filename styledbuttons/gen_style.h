// The style object every styled control owns: its cached 24-bit image, the window-region state, the
// skin binding (never active), the kind code, the shadow settings, the hot test and the handler of
// the style library's messages.
#pragma once

#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/picture.h"
#include "styledbuttons/style_owner.h"

#include <QRegion>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace styledbuttons {

class TsGenStyle;
class TsEffects;

// Kind codes of the controls; the buttons are 91, 93 and 94.
constexpr int32_t KindButtonControl = 91;
constexpr int32_t KindButton = 93;
constexpr int32_t KindBitBtn = 94;

bool InNoShadowKinds(int32_t kind);
bool InNoHotKinds(int32_t kind);
// Nothing in this system calls it today: no container control has a style here.
bool InContainerKinds(int32_t kind);
bool InSoftCornerKinds(int32_t kind);

// The settings a group of styles shares, sent by pointer with the group messages. Nothing in this
// system sends them; a style takes one when it comes and ignores a missing one.
struct TsGroupSettings {
    bool ShadowEnabled = false;
    TColor ShadowColor = 0;
    int32_t ShadowTransparency = 60;
    int32_t ShadowOffset = 8;
    int32_t ShadowBlur = 4;
    bool SoftControl = true;
    const TPicture* Picture = nullptr;
};

// The skin state of the program: never active, so every skin lookup answers "not found".
struct TsSkinData {
    bool Active = false;
    std::string SkinSection;
};
extern TsSkinData SkinData;

int32_t FindSkinSection(const std::string& section);
int32_t FindSkinProperty(int32_t sectionIndex, const std::string& section, const std::string& property);

// Asks a control, through its window procedure (`perform`), for its style.
// Nothing in this system calls GetControlStyle today; it is part of the style's interface.
TsGenStyle* GetControlStyle(const std::function<void(TStyleMessage&)>& perform);
intptr_t ControlHasStyle(const std::function<void(TStyleMessage&)>& perform);

// The answer of a parent to WM_STYLEPARENTBG: the message carries no pointer, so the parent writes
// it here and the asking control reads it back within the same call.
extern TBackgroundCache ParentBackground;

// Nothing in this system sets a shadow today: a button's can never be enabled, its parent has no style.
class TsShadow {
public:
    explicit TsShadow(TsEffects& effects) : effects_(effects) {}

    TColor Color() const { return color_; }
    void SetColor(TColor value);
    int32_t Offset() const { return offset_; }
    void SetOffset(int32_t value);
    int32_t Transparency() const { return transparency_; }
    // Clamped to 0..100.
    void SetTransparency(int32_t value);
    int32_t Blur() const { return blur_; }
    void SetBlur(int32_t value);
    bool DontUse() const { return dontUse_; }
    void SetDontUse(bool value);
    bool Enabled() const { return enabled_; }
    // Only a control on a styled parent can cast a shadow.
    void SetEnabled(bool value);

private:
    friend class TsGenStyle;
    friend class TsPaintStyle;
    friend class TsPassiveBGStyle;
    TsGenStyle& Style() const;

    TsEffects& effects_;
    TColor color_ = 0;
    int32_t offset_ = 8;
    int32_t transparency_ = 60;
    int32_t blur_ = 4;
    bool dontUse_ = true;
    bool enabled_ = false;
};

class TsEffects {
public:
    explicit TsEffects(TsGenStyle& style) : Shadow(*this), style_(style) {}
    TsShadow Shadow;
    TsGenStyle& Style() const { return style_; }

private:
    TsGenStyle& style_;
};

class TsGenStyle {
public:
    explicit TsGenStyle(TStyleOwner* owner);
    virtual ~TsGenStyle();
    TsGenStyle(const TsGenStyle&) = delete;
    TsGenStyle& operator=(const TsGenStyle&) = delete;

    TsEffects Effects;
    int32_t GroupIndex = 0;
    // Stored only; nothing in this system calls it.
    std::function<void()> OnMouseEnter;
    int32_t MaskIndex = -1;
    int32_t SkinIndex = -1;
    bool RegionChanged = true;
    bool BGChanged = true;
    Bitmap24 CacheBmp;
    // The last region given to the owner's window; none is the whole rectangle.
    std::optional<QRegion> Region;
    int32_t ControlKind = 0;
    bool HasFocus = false;

    TStyleOwner* OwnerControl() const { return owner_; }
    const std::string& SkinSection() const { return skinSection_; }
    void SetSkinSection(const std::string& value);
    bool SoftControl() const { return softControl_; }
    void SetSoftControl(bool value);

    // A skin's border mask; there is never a skin. Nothing in this system calls it.
    virtual const Bitmap24* GetSkinBorderMask() const { return nullptr; }
    virtual void BindSkin();
    virtual void PaintControlShadow(Bitmap24& canvas, int dx, int dy);
    virtual void UpdateRegion();
    virtual void StyleMessageHandler(TStyleMessage& message);
    virtual void InvalidateOwner();
    virtual bool FadingEnabled() const { return false; }

    // Pressed, focused or the active default button; the mouse does not make a control hot.
    bool IsHot() const;
    void RepaintParent();
    TBackgroundCache GetParentBackground();
    void ResizeCache();

protected:
    // The whole control less its four corner pixels, when the control has soft corners.
    std::optional<QRegion> SoftRegion() const;
    void StyleLibraryMessage(TStyleMessage& message);
    // Shadow enabled by a message: never for a kind without shadows, an invisible owner or a
    // shadow that is not to be used.
    void EnableShadowFromMessage(bool value);

private:
    void RecomputeSkin();

    TStyleOwner* owner_;
    std::string skinSection_;
    bool softControl_ = true;
};

} // namespace styledbuttons
