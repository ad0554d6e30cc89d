// The background of a look: a picture and a gradient, with the share of each in percent. The two
// shares never add up to more than 100; the one set later wins.
#pragma once

#include "styledbuttons/pixels/gradient.h"
#include "styledbuttons/pixels/picture.h"

#include <string>

namespace styledbuttons {

class TsGenStyle;
class TsHotBackground;
class TsHotStyle;

// What the picture and the gradient part share: the background they belong to.
class TsBGAddon {
public:
    explicit TsBGAddon(TsHotBackground& background) : background_(background) {}

protected:
    // Stores a share, kept within 0..100 so that its partner never goes below 0, and lowers the
    // partner when the two pass 100. False when the share stays as it was.
    static bool SetCoupledPercent(int32_t& own, int32_t& partner, int32_t value);
    TsHotBackground& Background() const { return background_; }
    void Changed() const;

private:
    TsHotBackground& background_;
};

// Nothing in this system sets a picture or a percent today; the windows set only the gradient texts.
class TsBGImage : public TsBGAddon {
public:
    using TsBGAddon::TsBGAddon;

    const TPicture& Image() const { return image_; }
    void SetImage(const TPicture& value);
    const std::string& ImageName() const { return imageName_; }
    // Loads the file when it exists; a missing file changes nothing.
    void SetImageName(const std::string& value);
    int32_t Percent() const { return percent_; }
    void SetPercent(int32_t value);

private:
    friend class TsBGGradient;
    TPicture image_;
    std::string imageName_;
    int32_t percent_ = 0;
};

class TsBGGradient : public TsBGAddon {
public:
    using TsBGAddon::TsBGAddon;

    const std::string& Data() const { return data_; }
    // At most 255 characters; the stops are parsed again only when the text changes. A word that is
    // not an integer throws EConvertError, the stops before it stay.
    void SetData(const std::string& value);
    int32_t Percent() const { return percent_; }
    void SetPercent(int32_t value);
    const TGradientArray& Stops() const { return stops_; }

private:
    friend class TsBGImage;
    std::string data_;
    int32_t percent_ = 70;
    TGradientArray stops_;
};

// The background of the hot look; its owner is the hot style, so its changes repaint nothing.
class TsHotBackground {
public:
    explicit TsHotBackground(TsHotStyle& owner) : hotOwner_(&owner), Image(*this), Gradient(*this) {}
    virtual ~TsHotBackground() = default;
    TsHotBackground(const TsHotBackground&) = delete;
    TsHotBackground& operator=(const TsHotBackground&) = delete;

protected:
    explicit TsHotBackground(TsGenStyle& owner) : styleOwner_(&owner), Image(*this), Gradient(*this) {}

private:
    TsHotStyle* hotOwner_ = nullptr;
    TsGenStyle* styleOwner_ = nullptr;

public:
    TsBGImage Image;
    TsBGGradient Gradient;

    // Nothing in this system calls it today.
    TsHotStyle* HotOwner() const { return hotOwner_; }
    // A change of a part: the owning style, if the owner is one, repaints its control.
    void Changed() const;
};

// The normal background, owned by the style itself.
class TsBackground : public TsHotBackground {
public:
    explicit TsBackground(TsGenStyle& style) : TsHotBackground(style) {}
    // Take pictures sent with group messages.
    bool ListenMSG = false;
};

} // namespace styledbuttons
