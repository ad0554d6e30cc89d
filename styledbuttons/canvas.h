// The drawing surface of a self-painted control as the styled buttons see it: our own 24-bit bitmap,
// with a QImage over the same memory for text, and the font the text is drawn in.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <QFont>
#include <QImage>

#include <string>

namespace styledbuttons {

// A QImage over the bitmap's own rows: what is drawn into it lands in the bitmap. It is valid while
// the bitmap keeps its size.
QImage ImageOf(Bitmap24& bitmap);

struct TCanvas {
    Bitmap24& Bitmap;
    QFont Font;
    TColor FontColor = clBlack;
};

// Text-drawing flags of the caption writer.
constexpr unsigned DT_CENTER = 1;
constexpr unsigned DT_RIGHT = 2;
constexpr unsigned DT_WORDBREAK = 16;

// Places the caption in rect by its measured size (unless it wraps), grows rect by one pixel on every
// side for the caller's focus frame, and draws the text in the canvas's font colour, or engraved in
// the button highlight and shadow colours when disabled. The hot flag and skin section pick skin
// colours, and no skin is ever active, so they change nothing.
void DrawCaptionText(TCanvas& canvas, const std::string& text, bool enabled, bool hot, int skinSection,
                     unsigned flags, TRect& rect);

} // namespace styledbuttons
