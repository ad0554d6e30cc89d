#include "styledbuttons/pixels/frames.h"

#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/utils.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace styledbuttons {

void FillRectSolid(Bitmap24& bitmap, const TRect& rect, TColor colour) {
    const TColor c = ColorToRGB(colour);
    const int right = std::min(rect.Right, bitmap.Width());
    const int bottom = std::min(rect.Bottom, bitmap.Height());
    for (int y = std::max(rect.Top, 0); y < bottom; ++y)
        for (int x = std::max(rect.Left, 0); x < right; ++x)
            bitmap.SetPixel(x, y, c);
}

void DrawPenLine(Bitmap24& bitmap, TColor colour, TPoint from, TPoint to) {
    const TColor c = ColorToRGB(colour);
    const int dx = std::abs(to.X - from.X);
    const int dy = -std::abs(to.Y - from.Y);
    const int sx = from.X < to.X ? 1 : -1;
    const int sy = from.Y < to.Y ? 1 : -1;
    int err = dx + dy;
    int x = from.X;
    int y = from.Y;
    while (x != to.X || y != to.Y) {
        bitmap.SetPixel(x, y, c);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

namespace {

struct Side {
    TPoint from, to;
    TPoint stepFrom, stepTo; // one pixel inward, mitred
    TColor colour;
    int style;
};

// The colours of a side's lines from the outside in: hard sides in their own colour, styles 0 and 1
// at least one line.
std::vector<TColor> HardSideColours(TColor colour, int style, int width) {
    const int count = (style == 0 || style == 1) ? std::max(width, 1) : width;
    return std::vector<TColor>(std::max(count, 0), colour);
}

// Soft sides fade from a white (style 0) or black (style 1) outer line toward the end colour.
std::vector<TColor> SoftSideColours(TColor colour, int style, int width, TColor endColour) {
    if (width < 2) return {colour};
    const TColor from = style == 0 ? colour : MixColors(colour, clBlack, 0.5);
    std::vector<TColor> out{style == 0 ? clWhite : clBlack};
    for (int d = 1; d < width; ++d)
        out.push_back(MixColors(from, endColour, static_cast<double>(d) / width));
    return out;
}

} // namespace

void DrawBevelFrame(Bitmap24& bitmap, TColor first, TColor second, bool soft, int mode, int width,
                    const TRect& rect, TColor endColour) {
    const int l = rect.Left, t = rect.Top, r = rect.Right, b = rect.Bottom;
    TColor tl = first, br = second;
    int tlStyle = 0, brStyle = 1;
    switch (mode) {
    case 0:
        break;
    case 1:
        tl = second, br = first, tlStyle = 1, brStyle = 0;
        break;
    case 2:
        tl = br = first, tlStyle = brStyle = 2;
        break;
    case 3:
        tl = br = second, tlStyle = brStyle = 3;
        break;
    default:
        return;
    }
    const Side sides[4] = {
        {{l, b - 1}, {l, t}, {1, -1}, {1, 1}, tl, tlStyle},
        {{l, t}, {r, t}, {1, 1}, {-1, 1}, tl, tlStyle},
        {{r - 1, t + 1}, {r - 1, b - 1}, {-1, 1}, {-1, -1}, br, brStyle},
        {{r - 1, b - 1}, {l, b - 1}, {-1, -1}, {1, -1}, br, brStyle},
    };
    for (const Side& s : sides) {
        const bool shaded = soft && (s.style == 0 || s.style == 1);
        const std::vector<TColor> colours = shaded ? SoftSideColours(s.colour, s.style, width, endColour)
                                                   : HardSideColours(s.colour, s.style, width);
        TPoint from = s.from, to = s.to;
        for (TColor c : colours) {
            DrawPenLine(bitmap, c, from, to);
            from = {from.X + s.stepFrom.X, from.Y + s.stepFrom.Y};
            to = {to.X + s.stepTo.X, to.Y + s.stepTo.Y};
        }
    }
}

void DrawBevelRect(Bitmap24& bitmap, const TRect& rect, TColor endColour, int width, bool lowered,
                   TColor dark, TColor light) {
    const TColor d = ColorToRGB(dark);
    const TColor l = ColorToRGB(light);
    const TColor e = ColorToRGB(endColour);
    if (lowered)
        DrawBevelFrame(bitmap, l, d, false, 1, 1, rect, e);
    else
        DrawBevelFrame(bitmap, l, d, false, 0, width, rect, e);
}

namespace {

enum class Edge { Left, Top, Right, Bottom };

// Shades one side strip toward its colour through a mask that is graded (soft) or flat grey 127
// inside the strip's trapezoid and white outside it.
void ShadeStrip(Bitmap24& bitmap, const TRect& strip, Edge edge, bool soft, bool rising, TColor colour) {
    const bool vertical = edge == Edge::Left || edge == Edge::Right;
    const int thick = vertical ? WidthOf(strip) : HeightOf(strip);
    const int length = vertical ? HeightOf(strip) : WidthOf(strip);
    if (thick < 1 || length <= thick) return;
    Bitmap24 mask(WidthOf(strip), HeightOf(strip));
    const int step = 255 / thick;
    for (int y = 0; y < mask.Height(); ++y) {
        for (int x = 0; x < mask.Width(); ++x) {
            const int across = vertical ? x : y;
            const int along = vertical ? y : x;
            // distance from the outer edge of the frame
            const int d = (edge == Edge::Left || edge == Edge::Top) ? across : thick - 1 - across;
            if (along < d || along > length - 1 - d) continue;
            const int level = !soft ? 127 : rising ? d * step : 255 - d * step;
            mask.SetPixel(x, y, RGB(level, level, level));
        }
    }
    BlendMaskToColourAt(bitmap, mask, strip.Left, colour, strip.Top);
}

} // namespace

void DrawShadedBevel(Bitmap24& bitmap, TRect rect, int width, bool soft, TsControlBevel kind) {
    if (kind == TsControlBevel::cbNone || width <= 0) return;
    const bool lowered = kind == TsControlBevel::cbLoweredSoft || kind == TsControlBevel::cbLoweredHard;
    if (width == 1) {
        DrawBevelRect(bitmap, rect, clWhite, 1, lowered, clBlack, clWhite);
        return;
    }
    rect.Right = std::min(rect.Right, bitmap.Width() - 1);
    rect.Bottom = std::min(rect.Bottom, bitmap.Height() - 1);
    rect.Left = std::max(rect.Left, 0);
    rect.Top = std::max(rect.Top, 0);
    if (HeightOf(rect) < 2 * width) width = HeightOf(rect) / 2 - 1;
    if (WidthOf(rect) < 2 * width) width = WidthOf(rect) / 2 - 1;
    if (width < 2) return;
    const bool rising = kind == TsControlBevel::cbRaisedSoft || kind == TsControlBevel::cbLoweredSoft;
    const TColor light = RGB(240, 240, 240), dark = RGB(25, 25, 25);
    const int t = width;
    const TRect r = rect;
    ShadeStrip(bitmap, {r.Left, r.Top, r.Left + t, r.Bottom}, Edge::Left, soft, rising,
               lowered ? dark : light);
    ShadeStrip(bitmap, {r.Left, r.Top, r.Right, r.Top + t}, Edge::Top, soft, rising,
               lowered ? clBlack : clWhite);
    ShadeStrip(bitmap, {r.Right - t - 1, r.Top, r.Right, r.Bottom}, Edge::Right, soft, rising,
               lowered ? light : dark);
    ShadeStrip(bitmap, {r.Left, r.Bottom - t - 1, r.Right, r.Bottom}, Edge::Bottom, soft, rising,
               lowered ? clWhite : clBlack);
}

void DrawDottedFrame(Bitmap24& bitmap, const TRect& rect) {
    for (int i = 0; i <= WidthOf(rect) / 3; ++i) {
        const int x = rect.Left + 3 * i;
        bitmap.SetPixel(x, rect.Top, clBlack);
        bitmap.SetPixel(x, rect.Bottom, clBlack);
        bitmap.SetPixel(x - 1, rect.Top - 1, clWhite);
        bitmap.SetPixel(x - 1, rect.Bottom - 1, clWhite);
    }
    for (int j = 0; j <= HeightOf(rect) / 3; ++j) {
        const int y = rect.Top + 3 * j;
        bitmap.SetPixel(rect.Left, y, clBlack);
        bitmap.SetPixel(rect.Right, y, clBlack);
        bitmap.SetPixel(rect.Left - 1, y - 1, clWhite);
        bitmap.SetPixel(rect.Right - 1, y - 1, clWhite);
    }
}

} // namespace styledbuttons
