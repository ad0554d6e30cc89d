// Solid fills, pen lines, bevel frames and the dotted focus frame on a 24-bit bitmap. Drawing keeps
// no pen or brush between calls, so nothing needs restoring afterwards.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <cstdint>

namespace styledbuttons {

enum class TsControlBevel : uint8_t { cbNone, cbRaisedSoft, cbLoweredSoft, cbRaisedHard, cbLoweredHard };

// Fills the rectangle (cut to the bitmap) with the colour, system colours resolved.
void FillRectSolid(Bitmap24& bitmap, const TRect& rect, TColor colour);
// One solid line from the start point to the end point, the end point itself not drawn.
void DrawPenLine(Bitmap24& bitmap, TColor colour, TPoint from, TPoint to);
// Nested bevel lines on the four sides. Mode 0 raised, 1 lowered, 2 all sides the first colour,
// 3 all sides the second.
void DrawBevelFrame(Bitmap24& bitmap, TColor first, TColor second, bool soft, int mode, int width,
                    const TRect& rect, TColor endColour);
// A hard bevel: raised with the light colour at the top left and the given width, lowered one line.
void DrawBevelRect(Bitmap24& bitmap, const TRect& rect, TColor endColour, int width, bool lowered,
                   TColor dark, TColor light);
// Four shaded side strips toward white, black and two greys.
void DrawShadedBevel(Bitmap24& bitmap, TRect rect, int width, bool soft, TsControlBevel kind);
// An engraved dotted frame: black dots every third pixel with white ones above and left of them.
void DrawDottedFrame(Bitmap24& bitmap, const TRect& rect);

} // namespace styledbuttons
