#include "styledbuttons/image_list.h"

#include <algorithm>
#include <cstring>

namespace styledbuttons {

bool TImageList::Add(const Bitmap24& image) {
    if (image.Width() != width_ || image.Height() != height_ || image.Empty()) return false;
    images_.push_back(image);
    return true;
}

void TImageList::Draw(Bitmap24& target, int index) const {
    if (index < 0 || index >= Count()) return;
    const Bitmap24& image = images_[static_cast<size_t>(index)];
    const int w = std::min(image.Width(), target.Width()), h = std::min(image.Height(), target.Height());
    for (int y = 0; y < h; ++y)
        std::memcpy(target.Row(y), image.Row(y), static_cast<size_t>(w) * 3);
}

} // namespace styledbuttons
