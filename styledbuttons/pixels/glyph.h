// The glyph painter of the bitmap buttons.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <cstdint>

namespace styledbuttons {

// A set of disabled glyph looks, bit n for ordinal n.
using TsDisabledGlyphKind = uint8_t;
constexpr TsDisabledGlyphKind dgBlended = 1;
constexpr TsDisabledGlyphKind dgGrayed = 2;

// Draws the glyph at the rectangle's top-left corner; its bottom-left pixel is the transparent
// colour. One glyph: coloured, grey or blended by the button's state; two side by side: the left
// one while enabled, the right one while disabled; any other count draws nothing.
void DrawGlyphImage(const Bitmap24& glyph, Bitmap24& target, const TRect& rect, int blendPercent, bool hot,
                    TsDisabledGlyphKind disabledKind, bool grayed, bool enabled, int numGlyphs);

} // namespace styledbuttons
