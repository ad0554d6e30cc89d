#include "styledbuttons/pixels/border_masks.h"

#include <algorithm>
#include <array>
#include <vector>

namespace styledbuttons {

namespace {

struct MaskShape {
    int CellWidth;
    int CellHeight;
    // Transparent pixels of the top-left corner, row by row from the outside in; the other corners
    // are its mirror images. Each staircase reads the same down its columns, so corners are round.
    std::vector<int> Corner;
    int LowestWeight;
    // How many pixels from the rim the weights take to reach 255; never more than a cell.
    int Ramp;
};

const std::array<MaskShape, 6> Shapes = {{
    {10, 10, {3, 1, 1}, 30, 4},
    // Weight 0 all round the rim: the frame covers the outer row and column in every look, so a
    // pressed button's background, drawn one pixel down and right, leaves nothing old there.
    {10, 10, {1}, 0, 4},
    {10, 10, {3, 2, 1}, 28, 4},
    {10, 10, {}, 31, 3},
    {6, 6, {1}, 7, 3},
    {50, 16, {6, 4, 3, 2, 1, 1}, 0, 8},
}};

struct FrameColours {
    TColor Rim, Light, Dark;
};

// Normal, hot and pressed; the pressed frame is lit from the bottom right.
constexpr std::array<FrameColours, 3> Colours = {{
    {RGB(112, 112, 112), RGB(255, 255, 255), RGB(160, 160, 160)},
    {RGB(60, 127, 177), RGB(229, 243, 251), RGB(120, 174, 212)},
    {RGB(44, 98, 139), RGB(120, 160, 190), RGB(200, 225, 240)},
}};

constexpr TColor Transparent = RGB(255, 0, 255);

Bitmap24 DrawMask(const MaskShape& s) {
    const int fw = 3 * s.CellWidth, fh = 3 * s.CellHeight;
    Bitmap24 mask(3 * fw, 2 * fh);
    for (int frame = 0; frame < 3; ++frame) {
        const FrameColours& c = Colours[frame];
        for (int y = 0; y < fh; ++y) {
            for (int x = 0; x < fw; ++x) {
                const int fromLeft = std::min(x, y), fromRight = std::min(fw - 1 - x, fh - 1 - y);
                const int rim = std::min(fromLeft, fromRight);
                const int weight =
                    rim >= s.Ramp ? 255 : s.LowestWeight + (255 - s.LowestWeight) * rim / s.Ramp;
                // distance into the corner's staircase, whichever corner is nearest
                const int cx = std::min(x, fw - 1 - x), cy = std::min(y, fh - 1 - y);
                const bool cut = cy < static_cast<int>(s.Corner.size()) && cx < s.Corner[cy];
                TColor pixel = rim == 0 ? c.Rim : fromLeft <= fromRight ? c.Light : c.Dark;
                if (cut) pixel = Transparent;
                mask.SetPixel(frame * fw + x, y, pixel);
                mask.SetPixel(frame * fw + x, fh + y, RGB(weight, weight, weight));
            }
        }
    }
    return mask;
}

} // namespace

const Bitmap24& PredefinedBorderMask(TsPredefinedBorders which) {
    static const std::array<Bitmap24, 6> masks = [] {
        std::array<Bitmap24, 6> out;
        for (size_t i = 0; i < Shapes.size(); ++i)
            out[i] = DrawMask(Shapes[i]);
        return out;
    }();
    const auto i = static_cast<size_t>(which);
    return masks[i < masks.size() ? i : 0];
}

} // namespace styledbuttons
