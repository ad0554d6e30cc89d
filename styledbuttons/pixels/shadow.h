// Copies of a parent's background, the soft drop shadow and the graded tint of a rectangle.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

namespace styledbuttons {

// Fills the shape inside (left, top, right, bottom): shape 0 a rectangle with rounded corners of
// the given size, shape 1 an ellipse. Without an outline the right column and bottom row are left
// out, as the platform's fills do.
void FillShape(Bitmap24& bitmap, int shape, const TRect& box, int corner, bool outline, TColor colour);

// Transparency 0 fills the area of the rectangle's size at the point with the colour; 100 copies
// the canvas's rectangle to the point; between them a soft shadow of the canvas area tinted toward
// the colour, lightest at its rim.
void PaintShadowArea(const Bitmap24& canvas, const TRect& rect, Bitmap24& dest, int radiusAdd, int shape,
                     int blur, TColor colour, int transparency, TPoint point);
// PaintShadowArea with no corner radius addition.
void CopyBackgroundArea(const Bitmap24& canvas, const TRect& rect, Bitmap24& dest, int shape, int blur,
                        TColor colour, int transparency, TPoint point);
// Tints the rectangle toward the colour through a rounded mask graded over the blur.
void TintRectByMask(Bitmap24& bitmap, const TRect& rect, int transparency, int radius, int blur,
                    TColor colour);

} // namespace styledbuttons
