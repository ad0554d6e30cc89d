// The styles that paint a control's background into its cached image: the passive one with the
// normal look, and the active one that switches to the hot look while the control is hot and draws
// the button's frame.
#pragma once

#include "styledbuttons/background_parts.h"
#include "styledbuttons/hot_parts.h"
#include "styledbuttons/paint_style.h"

namespace styledbuttons {

class TsPassiveBGStyle : public TsPaintStyle {
public:
    explicit TsPassiveBGStyle(TStyleOwner* owner);

    TsBackground Background;

    // The values the painting reads; the active style answers the hot ones while hot.
    virtual TColor GetBGColor() const;
    virtual TsControlBevel GetBevel() const;
    virtual int32_t GetBevelWidth() const;
    virtual int32_t GetGradientPercent() const;
    virtual const TGradientArray& GetGradientData() const;
    virtual int32_t GetImagePercent() const;
    // Null when there is no picture.
    virtual const TPicture* GetImage() const;

    // Paints the normal background into the bitmap (the cached image).
    virtual void PaintBackground(Bitmap24& bitmap);
    void StyleMessageHandler(TStyleMessage& message) override;

protected:
    // Parent copy, picture, gradient and colour over `rect`. The hot look keeps the old pixels
    // where it has no picture and mixes the picture over the gradient by 255ths.
    void PaintLook(Bitmap24& bitmap, const TRect& rect, int32_t transparency, bool hot);
    void PaintLayers(Bitmap24& bitmap, Bitmap24& work, const TRect& rect, bool hot);
};

class TsActiveBGStyle : public TsPassiveBGStyle {
public:
    explicit TsActiveBGStyle(TStyleOwner* owner);

    TsHotStyle HotStyle;
    TsActiveEffects BtnEffects;

    TColor GetBGColor() const override;
    TsControlBevel GetBevel() const override;
    int32_t GetBevelWidth() const override;
    int32_t GetGradientPercent() const override;
    const TGradientArray& GetGradientData() const override;
    int32_t GetImagePercent() const override;
    const TPicture* GetImage() const override;

    void PaintBackground(Bitmap24& bitmap) override;
    // The hot look into the cached image, one pixel down and right while the button is down.
    void PaintHotBackground();
    // The bevel into the cached image, when the frame is not drawn from a mask.
    void PaintBevel(const TRect& rect);
    // The frame of the owner's face: a new region when one is due, the masked frame (normal, hot or
    // pressed) or the bevel, and the region handed to the window.
    void PaintFrame();
    // The masked frame (normal, hot or pressed) into the cached image, its transparent pixels taken
    // out of the region.
    void PaintMaskedFrame();
    void UpdateRegion() override;

    bool FadingEnabled() const override { return BtnEffects.Fading.Enabled; }
    int32_t FadingIntervalIn() const { return BtnEffects.Fading.IntervalIn; }
    int32_t FadingIterations() const { return BtnEffects.Fading.Iterations; }
    int32_t FadingIntervalOut() const { return BtnEffects.Fading.IntervalOut; }
};

// The mask the style's frame is drawn from: a predefined one, or its own from 9 x 6 pixels up (a
// smaller one would have empty cells), else the first predefined mask. The style keeps it.
const Bitmap24& SelectBorderMask(const TsActiveBGStyle& style);

// The look every button of the system's windows is stored with: skin section "TsBitBtn", the grey to
// white gradient and the five-stop hot gradient, an opaque hot look without bevel, no fading, the
// second predefined border mask and the face colour, which the parent's colour no longer replaces.
void ApplyFormButtonStyle(TsActiveBGStyle& style, TColor face);

} // namespace styledbuttons
