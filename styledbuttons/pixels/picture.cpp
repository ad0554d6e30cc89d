#include "styledbuttons/pixels/picture.h"

#include "platform/files.h"
#include "platform/text.h"
#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/utils.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <filesystem>

#include <jpeglib.h>

namespace styledbuttons {

namespace {

// Pictures larger than this are not backgrounds of a button; the limit keeps a corrupt header from
// asking for gigabytes.
constexpr int MaxSide = 16384;
// What a decoded picture may take in memory: no more than the largest file the system reads.
constexpr uint64_t MaxPictureBytes = platform::kMaxFileSize;

// Whether a picture of these sides may be decoded, told by its header alone: its 24-bit pixels and
// what the decoder must hold besides (`held`) stay within the bound. Otherwise `why` says which of
// the two was passed.
bool Fits(const std::string& fileName, uint64_t width, uint64_t height, uint64_t held, std::string* why) {
    const bool sides = width <= static_cast<uint64_t>(MaxSide) && height <= static_cast<uint64_t>(MaxSide);
    if (sides && width * height * 3 + held <= MaxPictureBytes) return true;
    if (why != nullptr)
        *why = "Рисунок \""_cp + fileName + "\" не загружен: "_cp +
               platform::IntToStr(static_cast<int64_t>(width)) + " x " +
               platform::IntToStr(static_cast<int64_t>(height)) +
               (sides ? " точек требуют больше "_cp +
                            platform::IntToStr(static_cast<int64_t>(MaxPictureBytes)) + " байт памяти."_cp
                      : " точек больше предела."_cp);
    return false;
}

struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void NoJpegMessage(j_common_ptr) {}

// A progressive (multi-scan) image keeps the coefficients of every component until its last scan.
uint64_t BufferedCoefficients(const jpeg_decompress_struct& cinfo) {
    if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&cinfo))) return 0;
    uint64_t bytes = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        bytes += uint64_t{cinfo.comp_info[c].width_in_blocks} * cinfo.comp_info[c].height_in_blocks *
                 DCTSIZE2 * sizeof(JCOEF);
    return bytes;
}

// The header is read and judged before anything of the image is decoded or allocated. Nothing
// with a destructor lives in this frame after setjmp: the row buffer comes from the decoder's own
// pool, which jpeg_destroy_decompress frees.
bool DecodeJpeg(const std::string& data, const std::string& fileName, bool grey, Bitmap24& out,
                std::string* why) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnJpegError;
    err.pub.output_message = NoJpegMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width < 1 || cinfo.image_height < 1 ||
        !Fits(fileName, cinfo.image_width, cinfo.image_height, BufferedCoefficients(cinfo), why)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // Should the estimate fall short, the decoder refuses rather than takes more.
    cinfo.mem->max_memory_to_use = static_cast<long>(MaxPictureBytes);
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    out.SetSize(width, height);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                static_cast<JDIMENSION>(width * 3), 1);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        jpeg_read_scanlines(&cinfo, row, 1);
        uint8_t* dst = out.Row(y);
        if (grey) {
            for (int x = 0; x < width; ++x)
                dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = row[0][x];
        } else {
            std::memcpy(dst, row[0], static_cast<size_t>(width) * 3);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

uint32_t U32(const uint8_t* d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}
uint16_t U16(const uint8_t* d, size_t at) {
    return static_cast<uint16_t>(d[at] | d[at + 1] << 8);
}

} // namespace

bool LoadJpegFile(const std::string& fileName, bool grey, Bitmap24& out, std::string* why) {
    std::string data;
    if (!platform::ReadRegularFile(fileName, data, why)) return false;
    Bitmap24 image;
    if (!DecodeJpeg(data, fileName, grey, image, why)) return false;
    out = std::move(image);
    return true;
}

// Uncompressed bitmaps of 1, 4, 8, 24 or 32 bits per pixel, bottom-up or top-down.
bool LoadBmpFile(const std::string& fileName, Bitmap24& out, std::string* why) {
    std::string bytes;
    if (!platform::ReadRegularFile(fileName, bytes, why)) return false;
    const auto* d = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    if (size < 54 || d[0] != 'B' || d[1] != 'M') return false;
    const uint32_t offset = U32(d, 10);
    const uint32_t header = U32(d, 14);
    if (header < 40 || 14 + static_cast<uint64_t>(header) > size) return false;
    const int32_t width = static_cast<int32_t>(U32(d, 18));
    const int32_t rawHeight = static_cast<int32_t>(U32(d, 22));
    const int bits = U16(d, 28);
    const uint32_t compression = U32(d, 30);
    uint32_t colours = U32(d, 46);
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -static_cast<int64_t>(rawHeight) : rawHeight;
    if (width < 1 || height < 1) return false;
    // Few bits a pixel may claim many pixels from a small file.
    if (!Fits(fileName, static_cast<uint64_t>(width), static_cast<uint64_t>(height), 0, why)) return false;
    const bool bitfields32 = bits == 32 && compression == 3;
    if (compression != 0 && !bitfields32) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
    if (bits <= 8 && (colours == 0 || colours > (1u << bits))) colours = 1u << bits;
    const size_t palette = 14 + header;
    if (bits <= 8 && palette + colours * 4ull > size) return false;
    const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    if (offset + stride * height > size) return false;

    Bitmap24 image(width, static_cast<int>(height));
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = d + offset + stride * (topDown ? y : height - 1 - y);
        uint8_t* dst = image.Row(y);
        for (int x = 0; x < width; ++x, dst += 3) {
            if (bits >= 24) {
                std::copy(src + x * (bits / 8), src + x * (bits / 8) + 3, dst);
                continue;
            }
            const int perByte = 8 / bits;
            const int shift = 8 - bits * (x % perByte + 1);
            const uint32_t index = (src[x / perByte] >> shift) & ((1u << bits) - 1);
            if (index >= colours) continue; // beyond the palette: left white
            std::copy(d + palette + index * 4, d + palette + index * 4 + 3, dst);
        }
    }
    out = std::move(image);
    return true;
}

bool LoadPictureFile(TPicture& picture, const std::string& fileName, bool grey, std::string* why) {
    if (why != nullptr) why->clear();
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec)) {
        picture.Clear();
        return false;
    }
    const size_t dot = fileName.find_last_of('.');
    const size_t slash = fileName.find_last_of('/');
    const std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                                ? std::string()
                                : platform::UpperCase(fileName.substr(dot));
    if (ext == ".JPG" || ext == ".JPEG") {
        Bitmap24 image;
        if (!LoadJpegFile(fileName, grey, image, why)) return false;
        picture.Kind = TGraphicKind::Jpeg;
        picture.Image = std::move(image);
        picture.Grayscale = grey;
    } else if (ext == ".BMP") {
        Bitmap24 image;
        if (!LoadBmpFile(fileName, image, why)) return false;
        if (grey) MakeGrayscale(image);
        picture.Kind = TGraphicKind::Bitmap;
        picture.Image = std::move(image);
        picture.Grayscale = false;
    }
    return false;
}

void TileGraphic(Bitmap24& canvas, const TRect& rect, const TPicture& picture) {
    if (picture.Empty()) return;
    const Bitmap24& image = picture.Image;
    const int pw = image.Width(), ph = image.Height();
    if (picture.Kind == TGraphicKind::Bitmap) {
        for (int y = rect.Top; y < rect.Bottom; y += ph) {
            for (int x = rect.Left; x < rect.Right; x += pw) {
                const TRect tile{0, 0, std::min(pw, rect.Right - x) - 1, std::min(ph, rect.Bottom - y) - 1};
                CopyTransparentRect(canvas, image, x, 0xFF000000, tile, y);
            }
        }
    } else if (picture.Kind == TGraphicKind::Jpeg) {
        for (int i = 0; i <= WidthOf(rect) / pw; ++i)
            for (int j = 0; j <= HeightOf(rect) / ph; ++j)
                CopyTransparent(canvas, image, rect.Left + i * pw, 0xFF000000, rect.Top + j * ph);
    }
}

} // namespace styledbuttons
