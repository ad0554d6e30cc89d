#include "styledbuttons/hot_parts.h"

#include "styledbuttons/gen_style.h"

namespace styledbuttons {

TsGenStyle& TsMaskedBorders::Style() const {
    return owner_.Style();
}

void TsMaskedBorders::Refresh() const {
    TsGenStyle& style = Style();
    style.UpdateRegion();
    style.InvalidateOwner();
}

void TsMaskedBorders::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    Style().RegionChanged = true;
    Refresh();
}

void TsMaskedBorders::SetMask(const Bitmap24& value) {
    mask_ = value;
    // our bitmaps are 24-bit already
    try {
        Refresh();
    } catch (...) {
    }
    predefined_ = TsPredefinedBorders::pdCustom;
    Style().RegionChanged = true;
}

void TsMaskedBorders::SetPredefined(TsPredefinedBorders value) {
    if (value == predefined_) return;
    predefined_ = value;
    try {
        Refresh();
    } catch (...) {
    }
    Style().RegionChanged = true;
}

void TsMaskedBorders::SetTransparentColor(TColor value) {
    if (value == transparentColor_) return;
    transparentColor_ = value;
    Refresh();
    Style().RegionChanged = true;
}

} // namespace styledbuttons
