// Background pictures of the styled buttons: bitmaps and JPEG images held as 24-bit pixels, loaded
// from files and tiled over a rectangle.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <string>

namespace styledbuttons {

enum class TGraphicKind { None, Bitmap, Jpeg };

// What a picture holds: nothing, a bitmap, or a decoded JPEG image (grey when Grayscale was set as
// it was loaded).
struct TPicture {
    TGraphicKind Kind = TGraphicKind::None;
    Bitmap24 Image;
    bool Grayscale = false;

    bool Empty() const { return Kind == TGraphicKind::None || Image.Empty(); }
    void Clear() { *this = TPicture{}; }
};

// Decoders; false when the file cannot be read or is not a picture they know. A picture is judged by
// its header before it is decoded: sides beyond 16384 pixels, or pixels and decoder buffers beyond
// the file bound of platform/files.h, are refused. `why` gets the log line when the file is no regular
// file, is too large or its picture too big.
bool LoadJpegFile(const std::string& fileName, bool grey, Bitmap24& out, std::string* why = nullptr);
bool LoadBmpFile(const std::string& fileName, Bitmap24& out, std::string* why = nullptr);

// ".JPG"/".JPEG" load a JPEG image, ".BMP" a bitmap (made grey with the flag); other extensions
// leave the picture as it is, a missing file empties it. Failures are swallowed: always false; `why`
// as for the decoders, empty otherwise.
bool LoadPictureFile(TPicture& picture, const std::string& fileName, bool grey, std::string* why = nullptr);

// Tiles the picture over the rectangle from its top-left corner: a bitmap in tiles cut at the
// rectangle's right and bottom, a JPEG image whole at every tile position, cut only by the canvas.
void TileGraphic(Bitmap24& canvas, const TRect& rect, const TPicture& picture);

} // namespace styledbuttons
