// Button frames cut from a border mask: a 9 x 6 grid of cells, three frames side by side (normal,
// hot, pressed), the picture in the upper half and its per-channel blend weights in the lower half.
// Corners are copied, edges and centre tiled; pixels of the transparent colour are not painted but
// reported as holes for the window region.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <vector>

namespace styledbuttons {

// The rectangles (Right and Bottom exclusive) that leave the window region, one row high each.
using TRegionHoles = std::vector<TRect>;

// The row where the weights of a mask begin: three cells down, so that a height that is not a
// multiple of six does not shift the weights against their pixels.
int MaskWeightRow(const Bitmap24& mask);

// Blends the source piece (inclusive rectangle of the mask's picture half) into the destination
// (inclusive). Each channel becomes (P * (256 - Wt) + D * Wt) div 256. Runs of transparent pixels
// go to `holes` (when given). Rows and columns beyond the target or the mask are left out; the
// first row that cannot be reached ends the piece.
void BlendMaskPart(const TRect& dest, const TRect& source, Bitmap24& target, TColor transparent,
                   TRegionHoles* holes, const Bitmap24& mask);

// Paints frame `frame` (0 normal, 1 hot, 2 pressed) of the mask around the whole target. A mask
// with a cell of no width or height, or a target smaller than 3 x 3, paints nothing.
void PaintMaskedBorders(Bitmap24& target, const Bitmap24& mask, int frame, bool fillCentre,
                        TColor transparent, TRegionHoles* holes);

} // namespace styledbuttons
