#include "styledbuttons/pixels/masked_borders.h"

#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/utils.h"

#include <algorithm>

namespace styledbuttons {

int MaskWeightRow(const Bitmap24& mask) {
    return 3 * (mask.Height() / 6);
}

void BlendMaskPart(const TRect& dest, const TRect& source, Bitmap24& target, TColor transparent,
                   TRegionHoles* holes, const Bitmap24& mask) {
    const int cols = std::min(source.Right - source.Left, dest.Right - dest.Left) + 1;
    const int rows = std::min(source.Bottom - source.Top, dest.Bottom - dest.Top) + 1;
    if (rows < 1 || cols < 1) return;
    const TColor key = ColorToRGB(transparent);
    const int half = MaskWeightRow(mask);
    // Columns that lie in both the target and the mask; the rest of a row is left out.
    const int c0 = std::max({0, -dest.Left, -source.Left});
    const int c1 = std::min({cols, target.Width() - dest.Left, mask.Width() - source.Left});
    for (int r = 0; r < rows; ++r) {
        const int ty = dest.Top + r;
        const int sy = source.Top + r;
        if (ty < 0 || ty >= target.Height() || sy < 0 || half + sy >= mask.Height()) return;
        const uint8_t* p = mask.Row(sy);
        const uint8_t* w = mask.Row(half + sy);
        uint8_t* d = target.Row(ty);
        int runStart = -1;
        auto closeRun = [&](int end) {
            if (runStart >= 0 && holes) holes->push_back(TRect{runStart, ty, end, ty + 1});
            runStart = -1;
        };
        for (int c = c0; c < c1; ++c) {
            const int sx = (source.Left + c) * 3;
            const int tx = dest.Left + c;
            if (RGB(p[sx + 2], p[sx + 1], p[sx]) == key) {
                if (runStart < 0) runStart = tx;
                continue;
            }
            closeRun(tx);
            for (int k = 0; k < 3; ++k) {
                uint8_t& t = d[tx * 3 + k];
                t = static_cast<uint8_t>((p[sx + k] * (256 - w[sx + k]) + t * w[sx + k]) / 256);
            }
        }
        closeRun(dest.Left + c1);
    }
}

namespace {

// The inside of the frame, tiled with the frame's centre cell (W x H at column a of the mask).
void FillMaskedCentre(Bitmap24& target, const Bitmap24& mask, int W, int H, int a) {
    const int Wd = target.Width();
    const int Ht = target.Height();
    // The centre goes through the plain mask blend, whose weights start at half the height: a mask
    // whose height is not a multiple of six is cut to its whole cells first.
    Bitmap24 cut;
    const Bitmap24* m = &mask;
    if (mask.Height() != 6 * H) {
        cut.SetSize(mask.Width(), 6 * H);
        for (int r = 0; r < 6 * H; ++r)
            std::copy_n(mask.Row(r), mask.Width() * 3, cut.Row(r));
        m = &cut;
    }
    const TRect cell{a + W, H, a + 2 * W, 2 * H};
    auto tile = [&](int left, int top, int right, int bottom) {
        BlendMaskArea(TRect{left, top, right, bottom}, cell, target, EmptyBackgroundCache, *m);
    };
    auto centreRow = [&](int top, int bottom) {
        int cx = W;
        for (; cx < Wd - 2 * W; cx += W)
            tile(cx, top, cx + W, bottom);
        if (cx < Wd - W) tile(cx, top, Wd - W, bottom);
    };
    int y = H;
    for (; y < Ht - 2 * H; y += H)
        centreRow(y, y + H);
    if (y < Ht - H) centreRow(y, Ht - H);
}

} // namespace

void PaintMaskedBorders(Bitmap24& target, const Bitmap24& mask, int frame, bool fillCentre,
                        TColor transparent, TRegionHoles* holes) {
    const int W = mask.Width() / 9;
    const int H = mask.Height() / 6;
    const int Wd = target.Width();
    const int Ht = target.Height();
    // An empty cell would never move the tiling on.
    if (W < 1 || H < 1 || Wd < 3 || Ht < 3) return;
    const int half = 3 * H;
    const int a = frame * 3 * W;
    int d = W, h = W, t = H, b = H;
    if (Wd < 2 * W) {
        d = Wd / 2;
        h = d + Wd % 2;
    }
    if (Ht < 2 * H) {
        t = Ht / 2;
        b = t + Ht % 2;
    }
    auto part = [&](int dl, int dt, int dr, int db, int sl, int st, int sr, int sb) {
        BlendMaskPart(TRect{dl, dt, dr, db}, TRect{sl, st, sr, sb}, target, transparent, holes, mask);
    };
    // top-left corner
    part(0, 0, d - 1, t - 1, a, 0, a + d - 1, t - 1);
    // left edge, the last tile cut above the bottom corner
    int y = H;
    for (; y < Ht - 2 * b; y += H)
        part(0, y, d - 1, y + H - 1, a, H, a + d - 1, 2 * H - 1);
    if (y < Ht - b) part(0, y, d - 1, Ht - H - 1, a, H, a + d - 1, 2 * H - 1);
    // top edge, the last tile cut before the right corner
    int x = W;
    for (; x < Wd - 2 * d; x += W)
        part(x, 0, x + W - 1, t - 1, a + W, 0, a + 2 * W - 1, t - 1);
    if (x < Wd - d) part(x, 0, Wd - d - 1, t - 1, a + W, 0, a + 2 * W - 1, t - 1);
    // bottom-left corner
    part(0, Ht - b, d - 1, Ht - 1, a, half - b, a + d - 1, half - 1);
    // bottom edge
    x = W;
    for (; x < Wd - 2 * d; x += W)
        part(x, Ht - b, x + W - 1, Ht - 1, a + W, half - b, a + 2 * W - 1, half - 1);
    if (x < Wd - d) part(x, Ht - b, Wd - d - 1, Ht - 1, a + W, half - b, a + 2 * W - 1, half - 1);
    // bottom-right and top-right corners
    const int rl = a + 3 * W - h, rr = a + 3 * W - 1;
    part(Wd - h, Ht - b, Wd - 1, Ht - 1, rl, half - b, rr, half - 1);
    part(Wd - h, 0, Wd - 1, t - 1, rl, 0, rr, t - 1);
    // right edge
    y = H;
    for (; y < Ht - 2 * t; y += H)
        part(Wd - h, y, Wd - 1, y + H - 1, rl, H, rr, 2 * H - 1);
    if (y < Ht - t) part(Wd - h, y, Wd - 1, Ht - H - 1, rl, H, rr, 2 * H - 1);
    if (fillCentre) FillMaskedCentre(target, mask, W, H, a);
}

} // namespace styledbuttons
