#include "styledbuttons/pixels/shadow.h"

#include "styledbuttons/pixels/frames.h"
#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/utils.h"

#include <algorithm>
#include <cmath>

namespace styledbuttons {

namespace {

// Pixel centre inside an ellipse with the given centre and half axes.
bool InEllipse(double px, double py, double cx, double cy, double a, double b) {
    if (a <= 0 || b <= 0) return false;
    const double u = (px - cx) / a;
    const double v = (py - cy) / b;
    return u * u + v * v <= 1.0;
}

// Copies the area of `size` at (sx, sy) of one bitmap to (dx, dy) of another, cut to both.
void CopyArea(const Bitmap24& from, int sx, int sy, Bitmap24& to, int dx, int dy, int width, int height) {
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            if (!from.Contains(sx + c, sy + r) || !to.Contains(dx + c, dy + r)) continue;
            const uint8_t* s = from.Row(sy + r) + (sx + c) * 3;
            std::copy(s, s + 3, to.Row(dy + r) + (dx + c) * 3);
        }
    }
}

uint8_t Level(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

TColor GreyColour(int v) {
    return RGB(Level(v), Level(v), Level(v));
}

} // namespace

void FillShape(Bitmap24& bitmap, int shape, const TRect& box, int corner, bool outline, TColor colour) {
    const int right = outline ? box.Right : box.Right - 1;
    const int bottom = outline ? box.Bottom : box.Bottom - 1;
    // the shape's own outline runs along the box's last column and row
    const double l = box.Left, t = box.Top, r = box.Right, b = box.Bottom;
    const double radius = std::min({corner / 2.0, (r - l) / 2.0, (b - t) / 2.0});
    for (int y = std::max(box.Top, 0); y < std::min(bottom, bitmap.Height()); ++y) {
        for (int x = std::max(box.Left, 0); x < std::min(right, bitmap.Width()); ++x) {
            const double px = x + 0.5, py = y + 0.5;
            bool inside = true;
            if (shape == 1) {
                inside = InEllipse(px, py, (l + r) / 2, (t + b) / 2, (r - l) / 2, (b - t) / 2);
            } else if (radius > 0) {
                const double cx = px < l + radius ? l + radius : px > r - radius ? r - radius : px;
                const double cy = py < t + radius ? t + radius : py > b - radius ? b - radius : py;
                if (cx != px && cy != py) inside = InEllipse(px, py, cx, cy, radius, radius);
            }
            if (inside) bitmap.SetPixel(x, y, colour);
        }
    }
}

void PaintShadowArea(const Bitmap24& canvas, const TRect& rect, Bitmap24& dest, int radiusAdd, int shape,
                     int blur, TColor colour, int transparency, TPoint point) {
    const TColor c = ColorToRGB(colour);
    const int width = WidthOf(rect), height = HeightOf(rect);
    if (transparency == 0) {
        FillRectSolid(dest, TRect{point.X, point.Y, point.X + width, point.Y + height}, c);
        return;
    }
    if (transparency == 100) {
        CopyArea(canvas, rect.Left, rect.Top, dest, point.X, point.Y, width, height);
        return;
    }
    Bitmap24 work(width, height);
    Bitmap24 mask(width, height);
    if (work.Empty()) return;
    CopyArea(canvas, rect.Left, rect.Top, work, 0, 0, width, height);
    const int b = std::min({width / 2, height / 2, blur});
    const int base = transparency * 255 / 100;
    const double step = (255.0 - base) / (b + 1);
    for (int i = 0; i <= b; ++i) {
        const TColor grey = GreyColour(base + static_cast<int>(std::nearbyint(step * (b - i))));
        if (shape == 1)
            FillShape(mask, 1, TRect{i, i, width - i, height - i}, 0, false, grey);
        else
            FillShape(mask, 0, TRect{i, i, width - i + 1, height - i + 1}, radiusAdd + b, false, grey);
    }
    BlendToColourByMask(work, mask, c);
    CopyArea(work, 0, 0, dest, point.X, point.Y, width, height);
}

void CopyBackgroundArea(const Bitmap24& canvas, const TRect& rect, Bitmap24& dest, int shape, int blur,
                        TColor colour, int transparency, TPoint point) {
    PaintShadowArea(canvas, rect, dest, 0, shape, blur, colour, transparency, point);
}

void TintRectByMask(Bitmap24& bitmap, const TRect& rect, int transparency, int radius, int blur,
                    TColor colour) {
    const int width = WidthOf(rect), height = HeightOf(rect);
    Bitmap24 work(width, height);
    Bitmap24 mask(width, height);
    if (work.Empty()) return;
    CopyArea(bitmap, rect.Left, rect.Top, work, 0, 0, width, height);
    const int b = std::min({width / 2, height / 2, blur});
    const int r = std::min({width / 2, height / 2, radius});
    const int base = transparency * 255 / 100;
    FillShape(mask, 0, TRect{0, 0, width, height}, r, true, clWhite);
    for (int k = 1; k <= b; ++k) {
        const double level = (255.0 - base) / (b + 1) * (b - k + 1);
        FillShape(mask, 0, TRect{k, k, width - k, height - k}, r, true,
                  GreyColour(base + static_cast<int>(std::nearbyint(level))));
    }
    FillShape(mask, 0, TRect{b, b, width - b, height - b}, b, true, GreyColour(base));
    BlendToColourByMask(work, mask, ColorToRGB(colour));
    CopyArea(work, 0, 0, bitmap, rect.Left, rect.Top, width, height);
}

} // namespace styledbuttons
