#include "styledbuttons/pixels/rect_blend.h"

#include <algorithm>
#include <cmath>

namespace styledbuttons {

void BlendRectToColor(Bitmap24& bitmap, TRect rect, uint8_t percent, TColor colour) {
    rect.Left = std::max(rect.Left, 0);
    rect.Top = std::max(rect.Top, 0);
    rect.Right = std::min(rect.Right, bitmap.Width() - 1);
    rect.Bottom = std::min(rect.Bottom, bitmap.Height() - 1);
    uint8_t c[3];
    SplitColour(ColorToRGB(colour), c);
    const double f = percent / 100.0;
    const double g = 1 - f;
    for (int y = rect.Top; y <= rect.Bottom; ++y) {
        uint8_t* p = bitmap.Row(y) + rect.Left * 3;
        for (int x = rect.Left; x <= rect.Right; ++x, p += 3)
            for (int k = 0; k < 3; ++k)
                p[k] = static_cast<uint8_t>(std::clamp(std::nearbyint(f * p[k] + g * c[k]), 0.0, 255.0));
    }
}

} // namespace styledbuttons
