#include "styledbuttons/background_parts.h"

#include "styledbuttons/gen_style.h"

#include <algorithm>
#include <filesystem>

namespace styledbuttons {

bool TsBGAddon::SetCoupledPercent(int32_t& own, int32_t& partner, int32_t value) {
    value = std::clamp(value, 0, 100);
    if (value == own) return false;
    own = value;
    if (value + partner > 100) partner = 100 - value;
    return true;
}

void TsBGAddon::Changed() const {
    background_.Changed();
}

void TsHotBackground::Changed() const {
    if (styleOwner_) styleOwner_->InvalidateOwner();
}

void TsBGImage::SetImage(const TPicture& value) {
    if (&value == &image_) return;
    image_ = value;
    Changed();
}

void TsBGImage::SetImageName(const std::string& value) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(value, ec)) return;
    imageName_ = value;
    LoadPictureFile(image_, value, false);
}

void TsBGImage::SetPercent(int32_t value) {
    if (SetCoupledPercent(percent_, Background().Gradient.percent_, value)) Changed();
}

void TsBGGradient::SetData(const std::string& value) {
    const std::string text = value.substr(0, 255);
    if (text == data_) return;
    data_ = text;
    ParseGradientData(data_, stops_);
    Changed();
}

void TsBGGradient::SetPercent(int32_t value) {
    if (SetCoupledPercent(percent_, Background().Image.percent_, value)) Changed();
}

} // namespace styledbuttons
