#include "styledbuttons/canvas.h"

#include "style_test_support.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace styledbuttons;
using namespace sbtest;
namespace fs = std::filesystem;

namespace {

fs::path Outputs() {
    const char* bin = std::getenv("QUILLARY_BIN");
    const fs::path outputs =
        fs::path(bin ? bin : fs::temp_directory_path().c_str()).parent_path() / "test-output";
    fs::create_directories(outputs);
    return outputs;
}

// Writes the bitmap as a PNG and reads it back, so that the file is known to hold the image.
void SavePicture(const Bitmap24& bitmap, const std::string& name) {
    Bitmap24 copy = bitmap;
    const fs::path png = Outputs() / name;
    ASSERT_TRUE(ImageOf(copy).save(QString::fromStdString(png.string())));
    const QImage back(QString::fromStdString(png.string()));
    ASSERT_EQ(back.width(), bitmap.Width());
    ASSERT_EQ(back.height(), bitmap.Height());
    const TColor c = bitmap.Pixel(bitmap.Width() / 2, bitmap.Height() / 2);
    EXPECT_EQ(back.pixel(bitmap.Width() / 2, bitmap.Height() / 2), qRgb(RedOf(c), GreenOf(c), BlueOf(c)));
}

} // namespace

TEST(StylePictureTest, ButtonLooksAndBorderMasksAreWrittenForReview) {
    FakeOwner owner;
    TsActiveBGStyle s(&owner);
    FormButtonLook(s, clBtnFace);
    struct Look {
        const char* name;
        bool focused, pressed;
    };
    Bitmap24 previous;
    for (const Look& look :
         {Look{"normal", false, false}, Look{"hot", true, false}, Look{"pressed", true, true}}) {
        owner.HasInputFocus = look.focused;
        owner.IsPressed = look.pressed;
        PaintButton(s);
        EXPECT_NE(s.CacheBmp, previous) << look.name;
        previous = s.CacheBmp;
        SavePicture(s.CacheBmp, std::string("styled_button_84x22_") + look.name + ".png");
    }
    for (int i = 0; i < 6; ++i)
        SavePicture(PredefinedBorderMask(static_cast<TsPredefinedBorders>(i)),
                    "border_mask_" + std::to_string(i + 1) + ".png");
}
