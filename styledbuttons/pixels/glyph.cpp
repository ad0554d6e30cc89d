#include "styledbuttons/pixels/glyph.h"

#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/utils.h"

namespace styledbuttons {

namespace {

// Taken after any greying, so that a grey glyph keeps its background out as well.
TColor BottomLeft(const Bitmap24& b) {
    return b.Pixel(0, b.Height() - 1);
}

} // namespace

void DrawGlyphImage(const Bitmap24& glyph, Bitmap24& target, const TRect& rect, int blendPercent, bool hot,
                    TsDisabledGlyphKind disabledKind, bool grayed, bool enabled, int numGlyphs) {
    if (glyph.Empty()) return;
    if (numGlyphs == 2) {
        const TColor transparent = BottomLeft(glyph);
        const int w = glyph.Width() / 2;
        const int left = enabled ? 0 : w;
        CopyTransparentRect(target, glyph, rect.Left, transparent,
                            TRect{left, 0, left + w - 1, glyph.Height() - 1}, rect.Top);
        return;
    }
    if (numGlyphs != 1) return;
    Bitmap24 copy = glyph;
    const TRect whole{0, 0, WidthOf(rect), HeightOf(rect)};
    if (enabled) {
        if (!hot && grayed) MakeGrayscale(copy);
        const TColor transparent = BottomLeft(copy);
        if (hot || blendPercent < 1)
            CopyTransparent(target, copy, rect.Left, transparent, rect.Top);
        else
            BlendBitmapByFactor(target, rect.Left, rect.Top, transparent, blendPercent / 100.0, whole, copy);
        return;
    }
    if (disabledKind & dgGrayed) MakeGrayscale(copy);
    const TColor transparent = BottomLeft(copy);
    if (disabledKind & dgBlended)
        BlendBitmapByFactor(target, rect.Left, rect.Top, transparent, 0.5, whole, copy);
    else
        CopyTransparent(target, copy, rect.Left, transparent, rect.Top);
}

} // namespace styledbuttons
