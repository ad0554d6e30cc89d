#include "styledbuttons/pixels/bitmap24.h"

#include <algorithm>
#include <array>

namespace styledbuttons {

namespace {

// The standard desktop scheme: the system colours the buttons and frames ask for, by index.
constexpr std::array<TColor, 31> SystemColors = {
    RGB(200, 200, 200), // 0 scroll bar
    RGB(0, 0, 0),       // 1 background
    RGB(153, 180, 209), // 2 active caption
    RGB(191, 205, 219), // 3 inactive caption
    RGB(240, 240, 240), // 4 menu
    RGB(255, 255, 255), // 5 window
    RGB(100, 100, 100), // 6 window frame
    RGB(0, 0, 0),       // 7 menu text
    RGB(0, 0, 0),       // 8 window text
    RGB(0, 0, 0),       // 9 caption text
    RGB(180, 180, 180), // 10 active border
    RGB(244, 247, 252), // 11 inactive border
    RGB(171, 171, 171), // 12 application workspace
    RGB(0, 120, 215),   // 13 highlight
    RGB(255, 255, 255), // 14 highlight text
    RGB(240, 240, 240), // 15 button face
    RGB(160, 160, 160), // 16 button shadow
    RGB(109, 109, 109), // 17 grey text
    RGB(0, 0, 0),       // 18 button text
    RGB(0, 0, 0),       // 19 inactive caption text
    RGB(255, 255, 255), // 20 button highlight
    RGB(105, 105, 105), // 21 3D dark shadow
    RGB(227, 227, 227), // 22 3D light
    RGB(0, 0, 0),       // 23 info text
    RGB(255, 255, 225), // 24 info background
    RGB(0, 0, 0),       // 25 (unused)
    RGB(0, 102, 204),   // 26 hot light
    RGB(185, 209, 234), // 27 gradient active caption
    RGB(215, 228, 242), // 28 gradient inactive caption
    RGB(51, 153, 255),  // 29 menu highlight
    RGB(240, 240, 240), // 30 menu bar
};

} // namespace

TColor ColorToRGB(TColor c) {
    if ((c >> 24) == 0xFF) {
        const unsigned index = c & 0xFF;
        return index < SystemColors.size() ? SystemColors[index] : clBlack;
    }
    return c & 0xFFFFFF;
}

void Bitmap24::SetSize(int width, int height) {
    if (width < 1 || height < 1) width = height = 0;
    width_ = width;
    height_ = height;
    stride_ = (width * 3 + 3) / 4 * 4;
    bits_.assign(static_cast<size_t>(stride_) * height_, 0xFF);
}

TColor Bitmap24::Pixel(int x, int y) const {
    if (!Contains(x, y)) return clBlack;
    const uint8_t* p = Row(y) + x * 3;
    return RGB(p[2], p[1], p[0]);
}

void Bitmap24::SetPixel(int x, int y, TColor c) {
    if (!Contains(x, y)) return;
    uint8_t* p = Row(y) + x * 3;
    p[0] = BlueOf(c);
    p[1] = GreenOf(c);
    p[2] = RedOf(c);
}

void Bitmap24::Fill(TColor c) {
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            SetPixel(x, y, c);
}

} // namespace styledbuttons
