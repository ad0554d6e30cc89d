// The six border masks every styled button of the process shares. They are drawn in code the first
// time one is asked for and never change afterwards.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <cstdint>

namespace styledbuttons {

enum class TsPredefinedBorders : uint8_t {
    pdBorder1,
    pdBorder2,
    pdBorder3,
    pdBorder4,
    pdBorder5,
    pdBorder6,
    pdCustom
};

// The mask of pdBorder1 .. pdBorder6; pdCustom has none and answers the first one.
const Bitmap24& PredefinedBorderMask(TsPredefinedBorders which);

} // namespace styledbuttons
