// Multi-stop colour gradients: the gradient text of a style parsed into stops and painted into a
// 24-bit bitmap from top to bottom or from left to right.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace styledbuttons {

struct TGradientStop {
    TColor Color1 = 0;
    TColor Color2 = 0;
    uint8_t Percent = 0;
    int32_t Mode = 0;
};

using TGradientArray = std::vector<TGradientStop>;

// A gradient word that is not an integer.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Five ";"-separated numbers per stop: first colour, second colour, percent, mode, unused. A word
// that is not an integer throws EConvertError; the stops before it keep their values.
void ParseGradientData(std::string_view text, TGradientArray& stops);

// Paints the stops inside rect (Right and Bottom exclusive); the first stop's mode chooses rows (0)
// or columns (1), any other mode paints nothing.
void PaintGradient(Bitmap24& bitmap, TRect rect, const TGradientArray& stops);

} // namespace styledbuttons
