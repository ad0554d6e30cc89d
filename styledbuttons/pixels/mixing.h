// Mixing of 24-bit bitmaps with each other, with a colour or through a weight mask, and the copies
// that leave out a transparent colour. A weight m (0..255) says how much of the existing pixel stays.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

namespace styledbuttons {

// What lies behind a control: the parent's cached image and the control's parent's position in it.
struct TBackgroundCache {
    const Bitmap24* Bmp = nullptr;
    int32_t X = 0;
    int32_t Y = 0;
    bool Ready = false;
};

// What the border and graphics routines get when there is no background.
inline constexpr TBackgroundCache EmptyBackgroundCache{};

// Each channel of a becomes round((a - b) * w / 256 + b), w the low byte of weight. Sizes differ:
// nothing changes.
void MixBitmaps(Bitmap24& a, const Bitmap24& b, int weight);
// t becomes (t * m + c * (255 - m)) div 256 per channel, m the mask's channel. Sizes differ: nothing.
void BlendToColourByMask(Bitmap24& target, const Bitmap24& mask, TColor colour);
// The mask-sized area at (x, y): t becomes (c * (256 - m) + t * m) div 256; what lies outside the
// target is skipped.
void BlendMaskToColourAt(Bitmap24& target, const Bitmap24& mask, int x, TColor colour, int y);
// Lays the source rectangle (inclusive) at (x, y): t becomes round(s - (s - t) * f) for every source
// pixel that is not the transparent colour. The first row below or above the target ends the work,
// the first column outside it ends its row.
void BlendBitmapByFactor(Bitmap24& target, int x, int y, TColor transparent, double f,
                         const TRect& sourceRect, const Bitmap24& source);
// Lays the picture half of a border mask over the target through its weight half (the weight of
// picture pixel (x, y) is pixel (x, y + height div 2)). With a ready cache, picture pixels of pure
// magenta show the cache's pixel instead.
void BlendMaskArea(TRect dest, TRect source, Bitmap24& target, const TBackgroundCache& cache,
                   const Bitmap24& mask);

// Per channel round(a - (a - b) * f), kept within 0..255.
TColor MixColors(TColor a, TColor b, double f);
// round((100 - b) * a / 100 + b)
int PercentMix(int a, int b);
// Each pixel's three bytes become (blue + green + red) div 3.
void MakeGrayscale(Bitmap24& bitmap);

// Copies every source pixel that is not the transparent colour to (x + column, y + row), leaving out
// what falls outside the target.
void CopyTransparent(Bitmap24& target, const Bitmap24& source, int x, TColor transparent, int y);
// The same for a source rectangle (inclusive), first cut to the source.
void CopyTransparentRect(Bitmap24& target, const Bitmap24& source, int x, TColor transparent,
                         TRect sourceRect, int y);

} // namespace styledbuttons
