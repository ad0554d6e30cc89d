#include "styledbuttons/pixels/picture.h"

#include "jpeg_claims.h"
#include "pixel_test_support.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <jpeglib.h>
#include <unistd.h>

using namespace styledbuttons;
using namespace sbtest;
namespace fs = std::filesystem;

namespace {

class PictureFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("sb_picture_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // A 16 × 8 JPEG: left half red, right half blue.
    void WriteJpeg(const std::string& path) const {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, f);
        c.image_width = 16;
        c.image_height = 8;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 95, TRUE);
        jpeg_start_compress(&c, TRUE);
        std::vector<JSAMPLE> row(16 * 3);
        for (int x = 0; x < 16; ++x) {
            row[3 * x] = x < 8 ? 255 : 0;
            row[3 * x + 1] = 0;
            row[3 * x + 2] = x < 8 ? 0 : 255;
        }
        while (c.next_scanline < c.image_height) {
            JSAMPROW p = row.data();
            jpeg_write_scanlines(&c, &p, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::fclose(f);
    }

    void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    fs::path dir_;
};

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// File and info headers of an uncompressed bitmap.
std::vector<uint8_t> BmpHeader(int width, int height, int bits, uint32_t colours, uint32_t offset) {
    std::vector<uint8_t> d(54, 0);
    d[0] = 'B';
    d[1] = 'M';
    Put32(d, 10, offset);
    Put32(d, 14, 40);
    Put32(d, 18, static_cast<uint32_t>(width));
    Put32(d, 22, static_cast<uint32_t>(height));
    d[26] = 1;
    d[28] = static_cast<uint8_t>(bits);
    Put32(d, 46, colours);
    return d;
}

bool Near(const Bgr& p, const Bgr& expected) {
    for (int k = 0; k < 3; ++k)
        if (std::abs(p[k] - expected[k]) > 12) return false;
    return true;
}

} // namespace

TEST_F(PictureFileTest, JpegLoadsWithItsSizeAndColours) {
    WriteJpeg(Path("red_blue.jpg")); // lower-case extension
    TPicture pic;
    EXPECT_FALSE(LoadPictureFile(pic, Path("red_blue.jpg"), false));
    ASSERT_EQ(pic.Kind, TGraphicKind::Jpeg);
    EXPECT_EQ(pic.Image.Width(), 16);
    EXPECT_EQ(pic.Image.Height(), 8);
    EXPECT_TRUE(Near(At(pic.Image, 2, 4), Bgr{0, 0, 255})) << At(pic.Image, 2, 4)[2];
    EXPECT_TRUE(Near(At(pic.Image, 13, 4), Bgr{255, 0, 0})) << At(pic.Image, 13, 4)[0];

    fs::copy_file(Path("red_blue.jpg"), Path("grey.JPEG"));
    TPicture grey;
    LoadPictureFile(grey, Path("grey.JPEG"), true);
    ASSERT_EQ(grey.Kind, TGraphicKind::Jpeg);
    EXPECT_TRUE(grey.Grayscale);
    const Bgr p = At(grey.Image, 2, 4);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
    EXPECT_NEAR(p[0], 76, 12); // the luminance of pure red
}

TEST_F(PictureFileTest, BitmapsOfTwentyFourAndEightBits) {
    // 3 × 2, bottom-up, rows padded to 12 bytes
    std::vector<uint8_t> bmp = BmpHeader(3, 2, 24, 0, 54);
    const uint8_t rows[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0, // bottom row
                              10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
    bmp.insert(bmp.end(), rows, rows + 24);
    WriteBytes(Path("a.bmp"), bmp);
    TPicture pic;
    LoadPictureFile(pic, Path("a.bmp"), false);
    ASSERT_EQ(pic.Kind, TGraphicKind::Bitmap);
    ASSERT_EQ(pic.Image.Width(), 3);
    EXPECT_EQ(At(pic.Image, 0, 0), (Bgr{10, 11, 12}));
    EXPECT_EQ(At(pic.Image, 2, 1), (Bgr{7, 8, 9}));

    LoadPictureFile(pic, Path("a.bmp"), true);
    EXPECT_EQ(At(pic.Image, 0, 0), Grey(11));

    // 2 × 1, 8 bits, top-down, two palette entries
    std::vector<uint8_t> pal = BmpHeader(2, -1, 8, 2, 62);
    const uint8_t rest[12] = {30, 20, 10, 0, 60, 50, 40, 0, 1, 0, 0, 0};
    pal.insert(pal.end(), rest, rest + 12);
    WriteBytes(Path("p.BMP"), pal);
    LoadPictureFile(pic, Path("p.BMP"), false);
    ASSERT_EQ(pic.Image.Width(), 2);
    EXPECT_EQ(At(pic.Image, 0, 0), (Bgr{60, 50, 40}));
    EXPECT_EQ(At(pic.Image, 1, 0), (Bgr{30, 20, 10}));
}

TEST_F(PictureFileTest, FailuresAreSwallowed) {
    WriteJpeg(Path("x.jpg"));
    TPicture pic;
    LoadPictureFile(pic, Path("x.jpg"), false);
    const TPicture loaded = pic;

    fs::copy_file(Path("x.jpg"), Path("x.png"));
    EXPECT_FALSE(LoadPictureFile(pic, Path("x.png"), false)); // unknown kind: unchanged
    EXPECT_EQ(pic.Image, loaded.Image);

    WriteBytes(Path("bad.jpg"), {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3});
    EXPECT_FALSE(LoadPictureFile(pic, Path("bad.jpg"), false));
    EXPECT_EQ(pic.Kind, TGraphicKind::Jpeg);
    EXPECT_EQ(pic.Image, loaded.Image);

    std::vector<uint8_t> huge = BmpHeader(100000, 100000, 24, 0, 54);
    WriteBytes(Path("huge.bmp"), huge);
    std::vector<uint8_t> short_rows = BmpHeader(4, 4, 24, 0, 54);
    short_rows.resize(60);
    WriteBytes(Path("short.bmp"), short_rows);
    std::vector<uint8_t> far_palette = BmpHeader(1, 1, 8, 256, 54); // palette past the end
    far_palette.resize(58);
    WriteBytes(Path("palette.bmp"), far_palette);
    for (const char* name : {"huge.bmp", "short.bmp", "palette.bmp"}) {
        EXPECT_FALSE(LoadPictureFile(pic, Path(name), false));
        EXPECT_EQ(pic.Image, loaded.Image) << name;
    }

    EXPECT_FALSE(LoadPictureFile(pic, Path("missing.jpg"), false));
    EXPECT_TRUE(pic.Empty());
    EXPECT_EQ(pic.Kind, TGraphicKind::None);
}

// Judged by the header before anything is decoded: sides beyond the limit, or sides whose pixels and
// decoder buffers pass the bound (a progressive image keeps every coefficient until its last scan:
// 4400 x 4400 has pixels within it but not both), or a bitmap of one bit a pixel whose small file
// implies 192 MB of pixels.
TEST_F(PictureFileTest, PicturesTooBigAreRefusedFromTheirHeaders) {
    WriteJpeg(Path("x.jpg"));
    TPicture pic;
    LoadPictureFile(pic, Path("x.jpg"), false);
    const TPicture loaded = pic;

    const std::string sides = ProgressiveJpegClaiming(32768, 32768);
    const std::string memory = ProgressiveJpegClaiming(16384, 16384);
    const std::string buffers = ProgressiveJpegClaiming(4400, 4400);
    ASSERT_LT(sides.size(), 2000u);
    WriteBytes(Path("sides.jpg"), {sides.begin(), sides.end()});
    WriteBytes(Path("memory.jpg"), {memory.begin(), memory.end()});
    WriteBytes(Path("buffers.jpg"), {buffers.begin(), buffers.end()});
    WriteBytes(Path("bits.bmp"), BmpHeader(16384, 4096, 1, 2, 62));
    ASSERT_EQ(::truncate(Path("bits.bmp").c_str(), 62 + 16384 / 8 * 4096), 0); // sparse pixels

    struct TCase {
        const char* Name;
        std::string Refusal; // after the file's name
    };
    const std::string memoryPast = " точек требуют больше 67108864 байт памяти.";
    for (const TCase& c :
         {TCase{"sides.jpg", "32768 x 32768 точек больше предела."},
          TCase{"memory.jpg", "16384 x 16384" + memoryPast}, TCase{"buffers.jpg", "4400 x 4400" + memoryPast},
          TCase{"bits.bmp", "16384 x 4096" + memoryPast}}) {
        std::string why;
        EXPECT_FALSE(LoadPictureFile(pic, Path(c.Name), false, &why));
        EXPECT_EQ(pic.Image, loaded.Image) << c.Name;
        EXPECT_EQ(platform::Utf8FromCp1251(why),
                  "Рисунок \"" + Path(c.Name) + "\" не загружен: " + c.Refusal);
    }
}

TEST(TileGraphicTest, BitmapTilesAreCutAtTheRectangle) {
    TPicture pic;
    pic.Kind = TGraphicKind::Bitmap;
    pic.Image = MakeBitmap(2, 2, {RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3), RGB(4, 4, 4)});
    Bitmap24 canvas = Filled(8, 6, clBlack);
    TileGraphic(canvas, TRect{1, 1, 6, 4}, pic);
    EXPECT_EQ(At(canvas, 1, 1), Grey(1));
    EXPECT_EQ(At(canvas, 4, 2), Grey(4));
    EXPECT_EQ(At(canvas, 5, 1), Grey(1)); // a last column one pixel wide
    EXPECT_EQ(At(canvas, 5, 3), Grey(1)); // and a last row one pixel high
    EXPECT_EQ(At(canvas, 6, 1), Grey(0));
    EXPECT_EQ(At(canvas, 1, 4), Grey(0));
    EXPECT_EQ(At(canvas, 0, 0), Grey(0));
}

TEST(TileGraphicTest, JpegTilesAreWholeAndOnlyTheCanvasCutsThem) {
    TPicture pic;
    pic.Kind = TGraphicKind::Jpeg;
    pic.Image = MakeBitmap(2, 2, {RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3), RGB(4, 4, 4)});
    Bitmap24 canvas = Filled(7, 6, clBlack);
    TileGraphic(canvas, TRect{1, 1, 6, 4}, pic);
    // (5 div 2 + 1) × (3 div 2 + 1) tiles at x = 1, 3, 5 and y = 1, 3
    EXPECT_EQ(At(canvas, 6, 1), Grey(2));
    EXPECT_EQ(At(canvas, 1, 4), Grey(3));
    EXPECT_EQ(At(canvas, 6, 4), Grey(4));
    EXPECT_EQ(At(canvas, 0, 5), Grey(0));
    EXPECT_EQ(At(canvas, 1, 5), Grey(0));

    Bitmap24 untouched = Filled(3, 3, clBlack);
    TileGraphic(untouched, TRect{0, 0, 3, 3}, TPicture{});
    EXPECT_EQ(untouched, Filled(3, 3, clBlack));
}
