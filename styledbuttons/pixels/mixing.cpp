#include "styledbuttons/pixels/mixing.h"

#include "styledbuttons/pixels/utils.h"

#include <algorithm>
#include <cmath>

namespace styledbuttons {

namespace {

uint8_t RoundToByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
}

bool SameSize(const Bitmap24& a, const Bitmap24& b) {
    return a.Width() == b.Width() && a.Height() == b.Height();
}

// The pixel's blue, green, red bytes against the colour's; a colour marked "none" matches nothing.
bool IsTransparent(const uint8_t* p, TColor transparent) {
    return HasTransparentColor(transparent) && p[0] == BlueOf(transparent) && p[1] == GreenOf(transparent) &&
           p[2] == RedOf(transparent);
}

// An inclusive rectangle cut to the bitmap.
TRect CutInclusive(TRect r, const Bitmap24& b) {
    r.Left = std::max(r.Left, 0);
    r.Top = std::max(r.Top, 0);
    r.Right = std::min(r.Right, b.Width() - 1);
    r.Bottom = std::min(r.Bottom, b.Height() - 1);
    return r;
}

// The border blend, also used by the mask blends toward a colour: the weight keeps the destination.
uint8_t WeightBlend(unsigned picture, unsigned dest, unsigned weight) {
    return static_cast<uint8_t>((picture * (256 - weight) + dest * weight) / 256);
}

} // namespace

void MixBitmaps(Bitmap24& a, const Bitmap24& b, int weight) {
    if (!SameSize(a, b)) return;
    const int w = weight & 0xFF;
    for (int y = 0; y < a.Height(); ++y) {
        uint8_t* pa = a.Row(y);
        const uint8_t* pb = b.Row(y);
        for (int i = 0; i < a.Width() * 3; ++i)
            pa[i] = RoundToByte(static_cast<double>(pa[i] - pb[i]) * w / 256 + pb[i]);
    }
}

void BlendToColourByMask(Bitmap24& target, const Bitmap24& mask, TColor colour) {
    if (!SameSize(target, mask)) return;
    uint8_t c[3];
    SplitColour(colour, c);
    for (int y = 0; y < target.Height(); ++y) {
        uint8_t* t = target.Row(y);
        const uint8_t* m = mask.Row(y);
        for (int i = 0; i < target.Width() * 3; ++i)
            t[i] = static_cast<uint8_t>((t[i] * m[i] + c[i % 3] * (255 - m[i])) / 256);
    }
}

void BlendMaskToColourAt(Bitmap24& target, const Bitmap24& mask, int x, TColor colour, int y) {
    uint8_t c[3];
    SplitColour(colour, c);
    for (int r = 0; r < mask.Height(); ++r) {
        if (y + r < 0 || y + r >= target.Height()) continue;
        const uint8_t* m = mask.Row(r);
        uint8_t* t = target.Row(y + r);
        for (int col = 0; col < mask.Width(); ++col) {
            if (x + col < 0 || x + col >= target.Width()) continue;
            for (int k = 0; k < 3; ++k) {
                uint8_t& d = t[(x + col) * 3 + k];
                d = WeightBlend(c[k], d, m[col * 3 + k]);
            }
        }
    }
}

void BlendBitmapByFactor(Bitmap24& target, int x, int y, TColor transparent, double f,
                         const TRect& sourceRect, const Bitmap24& source) {
    const TRect s = CutInclusive(sourceRect, source);
    for (int row = 0; row <= s.Bottom - s.Top; ++row) {
        if (y + row < 0 || y + row >= target.Height()) return;
        const uint8_t* src = source.Row(s.Top + row) + s.Left * 3;
        uint8_t* dst = target.Row(y + row);
        for (int col = 0; col <= s.Right - s.Left; ++col, src += 3) {
            if (x + col < 0 || x + col >= target.Width()) break;
            if (IsTransparent(src, transparent)) continue;
            uint8_t* t = dst + (x + col) * 3;
            for (int k = 0; k < 3; ++k)
                t[k] = RoundToByte(src[k] - (src[k] - t[k]) * f);
        }
    }
}

void BlendMaskArea(TRect dest, TRect source, Bitmap24& target, const TBackgroundCache& cache,
                   const Bitmap24& mask) {
    const int half = mask.Height() / 2;
    int rows =
        std::min({HeightOf(source), HeightOf(dest), target.Height() - dest.Top, mask.Height() - source.Top});
    int cols =
        std::min({WidthOf(source), WidthOf(dest), target.Width() - dest.Left, mask.Width() - source.Left});
    if (rows < 1 || cols < 1) return;
    // A negative corner moves both rectangles in by the same amount.
    auto clip = [](int32_t& d, int32_t& s, int& count) {
        if (d < s && d < 0) {
            s -= d;
            count += d;
            d = 0;
        } else if (s <= d && s < 0) {
            d -= s;
            count += s;
            s = 0;
        }
    };
    clip(dest.Left, source.Left, cols);
    clip(dest.Top, source.Top, rows);
    // The weights lie in the lower half: a picture row must have its weight row inside the mask.
    rows = std::min(rows, mask.Height() - half - source.Top);
    if (rows < 1 || cols < 1) return;
    const bool useCache = cache.Ready && cache.Bmp != nullptr;
    for (int r = 0; r < rows; ++r) {
        const int ty = dest.Top + r;
        if (ty >= target.Height()) return;
        const uint8_t* p = mask.Row(source.Top + r) + source.Left * 3;
        const uint8_t* w = mask.Row(source.Top + r + half) + source.Left * 3;
        uint8_t* d = target.Row(ty) + dest.Left * 3;
        for (int c = 0; c < cols; ++c, p += 3, w += 3, d += 3) {
            if (useCache && p[0] == 255 && p[1] == 0 && p[2] == 255) {
                const int cx = cache.X + dest.Left + c;
                const int cy = cache.Y + ty;
                // A cache smaller than the area leaves those pixels to the ordinary blend.
                if (cache.Bmp->Contains(cx, cy)) {
                    const TColor bg = cache.Bmp->Pixel(cx, cy);
                    SplitColour(bg, d);
                    continue;
                }
            }
            for (int k = 0; k < 3; ++k)
                d[k] = WeightBlend(p[k], d[k], w[k]);
        }
    }
}

TColor MixColors(TColor a, TColor b, double f) {
    auto mix = [f](uint8_t x, uint8_t y) { return RoundToByte(x - (x - y) * f); };
    return RGB(mix(RedOf(a), RedOf(b)), mix(GreenOf(a), GreenOf(b)), mix(BlueOf(a), BlueOf(b)));
}

int PercentMix(int a, int b) {
    return static_cast<int>(std::nearbyint(static_cast<double>(100 - b) * a / 100 + b));
}

void MakeGrayscale(Bitmap24& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 3)
            p[0] = p[1] = p[2] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
    }
}

void CopyTransparentRect(Bitmap24& target, const Bitmap24& source, int x, TColor transparent,
                         TRect sourceRect, int y) {
    const TRect s = CutInclusive(sourceRect, source);
    for (int row = 0; row <= s.Bottom - s.Top; ++row) {
        if (y + row < 0 || y + row >= target.Height()) continue;
        const uint8_t* src = source.Row(s.Top + row) + s.Left * 3;
        uint8_t* dst = target.Row(y + row);
        for (int col = 0; col <= s.Right - s.Left; ++col, src += 3) {
            if (x + col < 0 || x + col >= target.Width() || IsTransparent(src, transparent)) continue;
            std::copy(src, src + 3, dst + (x + col) * 3);
        }
    }
}

void CopyTransparent(Bitmap24& target, const Bitmap24& source, int x, TColor transparent, int y) {
    CopyTransparentRect(target, source, x, transparent, TRect{0, 0, source.Width() - 1, source.Height() - 1},
                        y);
}

} // namespace styledbuttons
