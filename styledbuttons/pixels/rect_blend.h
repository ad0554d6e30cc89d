// Blending an area of a 24-bit bitmap toward a colour.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <cstdint>

namespace styledbuttons {

// Each byte of the inclusive rectangle (cut to the bitmap) becomes round(f * byte + (1 - f) *
// colour), f = percent / 100: the image keeps `percent` of itself. System colours are resolved.
void BlendRectToColor(Bitmap24& bitmap, TRect rect, uint8_t percent, TColor colour);

} // namespace styledbuttons
