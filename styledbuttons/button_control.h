// The owner-drawn push button the styled buttons derive from: its pressed state, the layout of an
// optional glyph and the caption, and the painting of all of it into its style's cached image, which
// one block copy puts on the window. The window region follows the border mask.
#pragma once

#include "styledbuttons/action_link.h"
#include "styledbuttons/bg_styles.h"
#include "styledbuttons/canvas.h"
#include "styledbuttons/image_list.h"
#include "styledbuttons/pixels/glyph.h"
#include "ui/custom_control.h"
#include "ui/timer.h"

#include <functional>
#include <memory>
#include <string>

namespace styledbuttons {

class TsButtonControl;

// Sets of disabled looks, bit n for ordinal n.
using TsDisabledKind = uint8_t;
constexpr TsDisabledKind dkBlended = 1;
constexpr TsDisabledKind dkGrayed = 2;

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// Drives the cross-fade of a button between its old and new look: mode 0 idle, 1 in, 2 out.
class TFadeTimer : public ui::TTimer {
public:
    explicit TFadeTimer(TsButtonControl& owner);
    uint8_t FadeMode() const { return fadeMode_; }
    // The timer runs exactly while the mode is not 0.
    void SetFadeMode(uint8_t mode);
    void StartFadeIn();
    void StartFadeOut();
    // One tick: end the fade when its step ran out of range, else show the next frame.
    void FadeTimerTick();

private:
    void StartFade(uint8_t mode, int32_t interval);
    void CheckFadeEnd();
    void FadeStep(bool fadeIn);

    TsButtonControl& owner_;
    uint8_t fadeMode_ = 0;
};

class TsButtonControl : public ui::TCustomControl, public TStyleOwner, public TsButtonActionClient {
public:
    explicit TsButtonControl(ui::TControl* parent, const std::string& caption = {})
        : TsButtonControl(parent, caption, "TsButtonControl") {}
    ~TsButtonControl() override;

    // Disabled first and freed first, so that no fade step runs on a half-destroyed button.
    std::unique_ptr<TFadeTimer> FadeTimer;
    std::unique_ptr<TsActiveBGStyle> sStyle;

    std::function<void()> OnClick;
    // Nothing in this system assigns these four today.
    std::function<void()> OnMouseEnter;
    std::function<void()> OnMouseLeave;
    std::function<void(ui::TMouseButton, int shift, int x, int y)> OnMouseDown;
    std::function<void(ui::TMouseButton, int shift, int x, int y)> OnMouseUp;

    // Published properties; nothing in this system sets them today but Layout and Spacing.
    int32_t Margin() const { return margin_; }
    void SetMargin(int32_t value);
    int32_t NumGlyphs() const { return numGlyphs_; }
    // Below 1 is taken as 1.
    void SetNumGlyphs(int32_t value);
    // Not owned; a list that is destroyed reads back as none.
    TImageList* Images() const { return images_.Get(); }
    void SetImages(TImageList* value);
    TImageList* ImagesGrayed() const { return imagesGrayed_.Get(); }
    void SetImagesGrayed(TImageList* value);
    TImageList* ImagesDisabled() const { return imagesDisabled_.Get(); }
    void SetImagesDisabled(TImageList* value);
    TsDisabledGlyphKind DisabledGlyphKind() const { return disabledGlyphKind_; }
    void SetDisabledGlyphKind(TsDisabledGlyphKind value);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    TsDisabledKind DisabledKind() const { return disabledKind_; }
    void SetDisabledKind(TsDisabledKind value);
    bool ShowCaption() const { return showCaption_; }
    void SetShowCaption(bool value);
    int32_t Spacing() const { return spacing_; }
    void SetSpacing(int32_t value);
    int32_t ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int32_t value) override;
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    bool Grayed() const { return grayed_; }
    void SetGrayed(bool value);
    int32_t Blend() const { return blend_; }
    // Clamped to 0..100.
    void SetBlend(int32_t value);
    void SetBevelWidth(int32_t value);
    TButtonLayout Layout() const { return layout_; }
    void SetLayout(TButtonLayout value);
    int32_t TextPosition() const { return textPosition_; }
    int32_t FadeStep = 0;

    void SetPressed(bool value) override;
    const std::string& Caption() const override { return TCustomControl::Caption(); }
    void SetCaption(const std::string& caption) override { TCustomControl::SetCaption(caption); }
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value);
    // Not owned; a click runs it unless OnClick is set. An action that is destroyed is forgotten.
    // Nothing in this system links an action today.
    TAction* Action() const { return actionLink_ ? &actionLink_->Action() : nullptr; }
    void SetAction(TAction* action);
    void ActionChange(TAction& action, bool checkDefaults) override;
    void ActionGone() override { actionLink_.reset(); }
    TRect GetGlyphRect();
    TRect GetCaptionRect();
    // Width and height of the caption as drawn (wrapped within MaxTextWidth).
    TPoint GetTextExtent();
    int MaxTextWidth();
    void StopFading();
    // Nothing in this system calls it today: the style's PaintFrame draws the masked frame itself.
    void PaintMaskedFrame();
    void AdjustSize();
    // OnClick, or else the action.
    virtual void Click();

    // What the style sees of the button.
    std::string ClassName() const override { return className_; }
    int Left() const override { return TControl::Left(); }
    int Top() const override { return TControl::Top(); }
    int Width() const override { return TControl::Width(); }
    int Height() const override { return TControl::Height(); }
    bool Enabled() const override { return TControl::Enabled(); }
    bool Visible() const override { return TControl::Visible(); }
    bool Creating() const override { return creating_; }
    bool Destroying() const override { return destroying_; }
    bool Focused() const override { return TCustomControl::Focused(); }
    bool IsButtonControl() const override { return true; }
    bool IsPushButton() const override { return false; }
    bool Pressed() const override { return pressed_; }
    bool Default() const override { return false; }
    bool ActiveDefault() const override { return false; }
    int BevelWidth() const override { return bevelWidth_; }
    void Invalidate() override;
    void Repaint() override { TControl::Repaint(); }
    void ApplyRegion(const std::optional<QRegion>& region) override { SetRegion(region); }
    // The control keeps its painting colour; nothing in this system reads it back today.
    void SetColor(TColor colour) override { colour_ = colour; }
    void SetParentColor(bool) override {}
    void StartFade(bool fadeIn) override;
    bool HasParent() const override { return Parent() != nullptr; }
    TColor ParentColor() const override;
    void SendToParent(TStyleMessage&) override {}
    void RepaintParent() override;

protected:
    // The class name names the style's skin section, which the style takes at the end.
    TsButtonControl(ui::TControl* parent, const std::string& caption, const std::string& className);
    // Text change and focus exit first, then the style, then the class library's handling.
    platform::LRESULT WndProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;
    void Paint(QPainter& canvas) override;
    void MouseDown(ui::TMouseButton button, int shift, int x, int y) override;
    void MouseUp(ui::TMouseButton button, int shift, int x, int y) override;

    virtual void PaintFace();
    virtual void PaintGlyph();
    virtual int GlyphWidth();
    virtual int GlyphHeight();
    virtual void DrawCaption(TRect rect, unsigned flags);
    // The focus frame is drawn around the caption (push buttons that show focus).
    virtual bool ShowsFocusFrame() const { return false; }
    virtual int32_t FocusFrameMargin() const { return 0; }
    // Tints the freshly painted image of a disabled button toward what lies behind it.
    void PaintDisabledEffect(const TBackgroundCache& background);
    // A canvas on the cached image in the button's font and font colour.
    TCanvas CacheCanvas();
    // The image list the glyph comes from now.
    TImageList* CurrentImageList() const;
    // Lets the application process its pending events; false when the button went meanwhile.
    bool ProcessMessagesAlive();

    bool creating_ = true;
    bool destroying_ = false;
    // The key whose release clicks the button, while the keyboard holds it down; 0 otherwise.
    ui::WPARAM pressKey_ = 0;

private:
    friend class TFadeTimer;
    // The background and face for the button's current state, tinted when disabled, into the cached
    // image.
    void RepaintCachedImage();

    int32_t margin_ = 0;
    int32_t numGlyphs_ = 1;
    TImageListRef images_;
    TImageListRef imagesGrayed_;
    TImageListRef imagesDisabled_;
    TsDisabledGlyphKind disabledGlyphKind_ = dgBlended;
    TAlignment alignment_ = TAlignment::taCenter;
    TsDisabledKind disabledKind_ = dkBlended;
    bool showCaption_ = true;
    int32_t spacing_ = 3;
    int32_t imageIndex_ = -1;
    bool autoSize_ = false;
    bool grayed_ = false;
    int32_t blend_ = 0;
    int32_t bevelWidth_ = 2;
    bool pressed_ = false;
    TButtonLayout layout_ = TButtonLayout::blGlyphLeft;
    int32_t textPosition_ = 1;
    TColor colour_ = clBtnFace;
    std::string className_;
    std::string hint_;
    std::unique_ptr<TsButtonActionLink> actionLink_;
    Bitmap24 fadeBitmap_;
    // What the last fade frame shows; empty while no fade runs.
    Bitmap24 frameImage_;
};

} // namespace styledbuttons
