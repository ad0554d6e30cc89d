// The 24-bit drawing surface of the self-painted controls: rows of blue, green, red bytes, each row
// padded to four bytes so that a QImage (Format_BGR888) can share the memory for text and blits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace styledbuttons {

// A colour value: red in the low byte, then green, then blue. A high byte of $FF marks a system
// colour (its low byte the index), and where a routine takes a transparent colour it means none.
using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clBtnShadow = 0xFF000010;
constexpr TColor clBtnHighlight = 0xFF000014;

constexpr uint8_t RedOf(TColor c) {
    return static_cast<uint8_t>(c);
}
constexpr uint8_t GreenOf(TColor c) {
    return static_cast<uint8_t>(c >> 8);
}
constexpr uint8_t BlueOf(TColor c) {
    return static_cast<uint8_t>(c >> 16);
}
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<TColor>(r) | static_cast<TColor>(g) << 8 | static_cast<TColor>(b) << 16;
}
// The colour's bytes as a 24-bit pixel: blue, green, red. System colours are not resolved.
inline void SplitColour(TColor colour, uint8_t pixel[3]) {
    pixel[0] = BlueOf(colour);
    pixel[1] = GreenOf(colour);
    pixel[2] = RedOf(colour);
}
// A colour whose high byte is $FF stands for "no transparent colour".
constexpr bool HasTransparentColor(TColor c) {
    return (c >> 24) != 0xFF;
}

// System colours become their plain RGB value; others keep their low three bytes.
TColor ColorToRGB(TColor c);

// Right and Bottom are exclusive unless a routine says its rectangle is inclusive.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
};

class Bitmap24 {
public:
    Bitmap24() = default;
    // A new bitmap starts white.
    Bitmap24(int width, int height) { SetSize(width, height); }

    // Resizes and fills white; a size below 1 in either direction makes the bitmap empty.
    void SetSize(int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    // Bytes from one row to the next: width × 3 rounded up to a multiple of four.
    int Stride() const { return stride_; }
    uint8_t* Bits() { return bits_.data(); }
    const uint8_t* Bits() const { return bits_.data(); }
    uint8_t* Row(int y) { return bits_.data() + static_cast<size_t>(y) * stride_; }
    const uint8_t* Row(int y) const { return bits_.data() + static_cast<size_t>(y) * stride_; }

    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    // Pixel access by colour value; outside the bitmap a read gives black and a write does nothing.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor c);
    void Fill(TColor c);

    friend bool operator==(const Bitmap24&, const Bitmap24&) = default;

private:
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::vector<uint8_t> bits_;
};

} // namespace styledbuttons
