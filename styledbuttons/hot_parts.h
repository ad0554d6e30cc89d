// The hot look of a style and the button effects: fading and the masked frame. Each part keeps its
// owner; nothing in this system asks TsHotPainting, TsHotStyle or TsFading for it.
#pragma once

#include "styledbuttons/background_parts.h"
#include "styledbuttons/pixels/border_masks.h"
#include "styledbuttons/pixels/frames.h"

#include <cstdint>

namespace styledbuttons {

class TsGenStyle;
class TsHotStyle;
class TsActiveEffects;

// The painting of the hot look. Its values are read at the next paint; setting them repaints
// nothing.
class TsHotPainting {
public:
    explicit TsHotPainting(TsHotStyle& owner) : owner_(owner) {}
    TsHotStyle& Owner() const { return owner_; }

private:
    TsHotStyle& owner_;

public:
    TColor Color = 0xCFB78F;
    TsControlBevel Bevel = TsControlBevel::cbRaisedSoft;
    int32_t Transparency = 0;
    // Nothing in this system reads these two today; FontColor would colour a drop-down part.
    TColor FontColor = 0;
    uint8_t FontStyle = 0;
    int32_t BevelWidth = 5;
};

class TsHotStyle {
public:
    explicit TsHotStyle(TsGenStyle& style) : style_(style), HotPainting(*this), HotBackground(*this) {}
    TsGenStyle& Style() const { return style_; }

private:
    TsGenStyle& style_;

public:
    TsHotPainting HotPainting;
    TsHotBackground HotBackground;
};

class TsFading {
public:
    explicit TsFading(TsActiveEffects& owner) : owner_(owner) {}
    TsActiveEffects& Owner() const { return owner_; }

    bool Enabled = true;
    int32_t Iterations = 5;
    int32_t IntervalIn = 5;
    int32_t IntervalOut = 5;

private:
    TsActiveEffects& owner_;
};

class TsMaskedBorders {
public:
    explicit TsMaskedBorders(TsActiveEffects& owner) : owner_(owner) {}

    // Of these setters the system's windows call only SetPredefined today.
    const Bitmap24& Mask() const { return mask_; }
    // A custom mask: the frame is drawn from a copy of it from now on.
    void SetMask(const Bitmap24& value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    TsPredefinedBorders Predefined() const { return predefined_; }
    void SetPredefined(TsPredefinedBorders value);
    TColor TransparentColor() const { return transparentColor_; }
    void SetTransparentColor(TColor value);

private:
    TsGenStyle& Style() const;
    // The look and the window region follow the new setting.
    void Refresh() const;

    Bitmap24 mask_;
    bool enabled_ = true;
    TsPredefinedBorders predefined_ = TsPredefinedBorders::pdBorder1;
    TColor transparentColor_ = 0xFF00FF;
    TsActiveEffects& owner_;
};

class TsActiveEffects {
public:
    explicit TsActiveEffects(TsGenStyle& style) : Fading(*this), MaskedBorders(*this), style_(style) {}

    TsFading Fading;
    TsMaskedBorders MaskedBorders;
    TsGenStyle& Style() const { return style_; }

private:
    TsGenStyle& style_;
};

} // namespace styledbuttons
