#include "styledbuttons/pixels/glyph.h"

#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/utils.h"

namespace styledbuttons {

namespace {

// Taken after any greying, so that a grey glyph keeps its background out as well.
TColor BottomLeft(const Bitmap24& b) { return b.Pixel(0, b.Height() - 1); }

} // namespace

void DrawGlyphImage(const Bitmap24& glyph, Bitmap24& target, const TRect& rect, int blend_percent,
                    bool hot, TsDisabledGlyphKind disabled_kind, bool grayed, bool enabled,
                    int num_glyphs) {
    if (glyph.Empty()) return;
    if (num_glyphs == 2) {
        const TColor transparent = BottomLeft(glyph);
        const int w = glyph.Width() / 2;
        const int left = enabled ? 0 : w;
        CopyTransparentRect(target, glyph, rect.Left, transparent,
                            TRect{left, 0, left + w - 1, glyph.Height() - 1}, rect.Top);
        return;
    }
    if (num_glyphs != 1) return;
    Bitmap24 copy = glyph;
    const TRect whole{0, 0, WidthOf(rect), HeightOf(rect)};
    if (enabled) {
        if (!hot && grayed) MakeGrayscale(copy);
        const TColor transparent = BottomLeft(copy);
        if (hot || blend_percent < 1)
            CopyTransparent(target, copy, rect.Left, transparent, rect.Top);
        else
            BlendBitmapByFactor(target, rect.Left, rect.Top, transparent, blend_percent / 100.0, whole, copy);
        return;
    }
    if (disabled_kind & dgGrayed) MakeGrayscale(copy);
    const TColor transparent = BottomLeft(copy);
    if (disabled_kind & dgBlended)
        BlendBitmapByFactor(target, rect.Left, rect.Top, transparent, 0.5, whole, copy);
    else
        CopyTransparent(target, copy, rect.Left, transparent, rect.Top);
}

} // namespace styledbuttons
