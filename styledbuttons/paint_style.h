// The plain look of a styled control (colour, bevel, transparency) and the shadow it casts on its
// parent.
#pragma once

#include "styledbuttons/gen_style.h"
#include "styledbuttons/pixels/frames.h"

namespace styledbuttons {

class TsPaintStyle;

class TsPainting {
public:
    explicit TsPainting(TsPaintStyle& style) : style_(style) {}

    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool value);
    TColor Color() const { return color_; }
    void SetColor(TColor value);
    // Not published and never set.
    int32_t BevelWidth() const { return 0; }
    // Nothing in this system sets Bevel or Transparency today; the windows keep their defaults.
    TsControlBevel Bevel() const { return bevel_; }
    void SetBevel(TsControlBevel value);
    // 0 opaque .. 100 fully transparent.
    int32_t Transparency() const { return transparency_; }
    void SetTransparency(int32_t value);

private:
    friend class TsPaintStyle;
    TsPaintStyle& style_;
    bool parentColor_ = true;
    TColor color_ = 0xCAC2B7;
    TsControlBevel bevel_ = TsControlBevel::cbRaisedSoft;
    int32_t transparency_ = 0;
};

class TsPaintStyle : public TsGenStyle {
public:
    explicit TsPaintStyle(TStyleOwner* owner);

    // The group the library messages of this class and its descendants are filtered by; the form's
    // value lands here, the base class's own group stays 0.
    int32_t GroupIndex = 0;
    TsPainting Painting;

    // Nothing in this system calls it today: only container controls paint their children's shadows.
    void PaintControlShadow(Bitmap24& canvas, int dx, int dy) override;
    void StyleMessageHandler(TStyleMessage& message) override;

protected:
    // A library message (IsStyleLibraryMessage) of this style's group.
    bool IsGroupMessage(const TStyleMessage& message, int32_t also = -1) const;
};

// Kinds whose painting transparency darkens their shadow and that take group pictures.
bool InListenKinds(int32_t kind);

} // namespace styledbuttons
