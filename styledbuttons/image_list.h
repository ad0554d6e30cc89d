// A list of same-sized images that a button can take its glyph from. A button that refers to a list
// learns of its destruction and forgets it.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <memory>
#include <optional>
#include <vector>

namespace styledbuttons {

// Nothing in this system creates an image list today.
class TImageList {
public:
    TImageList(int width, int height) : width_(width), height_(height) {}
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // The colour the images are drawn on; none means they are drawn on $FF00FF.
    std::optional<TColor> BkColor;
    // Taken when it has the list's size.
    bool Add(const Bitmap24& image);
    int Count() const { return static_cast<int>(images_.size()); }
    // Draws image `index` at the top-left corner of the target; nothing for an index out of range.
    void Draw(Bitmap24& target, int index) const;

    // Expires when the list is destroyed.
    std::weak_ptr<const void> Lifetime() const { return alive_; }

private:
    int width_;
    int height_;
    std::vector<Bitmap24> images_;
    std::shared_ptr<const void> alive_ = std::make_shared<int>(0);
};

// A reference to a list that turns null when the list goes.
class TImageListRef {
public:
    TImageListRef() = default;
    explicit TImageListRef(TImageList* list)
        : list_(list), life_(list ? list->Lifetime() : std::weak_ptr<const void>()) {}
    TImageList* Get() const { return life_.expired() ? nullptr : list_; }

private:
    TImageList* list_ = nullptr;
    std::weak_ptr<const void> life_;
};

} // namespace styledbuttons
