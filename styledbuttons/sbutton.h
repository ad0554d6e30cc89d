// The dialog push button (focus, Default and Cancel, accelerator and space bar, the form's modal
// result, a focus frame) and the bitmap button, which adds a glyph.
#pragma once

#include "styledbuttons/button_control.h"

#include <initializer_list>

namespace styledbuttons {

using ui::CM_DIALOGCHAR;
using ui::CM_DIALOGKEY;
using ui::CM_FOCUSCHANGED;
// The reflected click; nothing in this system sends it today.
constexpr ui::UINT CN_COMMAND = 0xBD11;

class TsButton : public TsButtonControl {
public:
    explicit TsButton(ui::TControl* parent, const std::string& caption = {})
        : TsButton(parent, caption, "TsButton") {}
    ~TsButton() override;

    bool Cancel() const { return cancel_; }
    void SetCancel(bool value) { cancel_ = value; }
    bool Default() const override { return default_; }
    // Every push button of the form works out again which one Enter clicks.
    void SetDefault(bool value);
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int value) { modalResult_ = value; }
    // Nothing in this system sets ShowFocus or FocusMargin today.
    bool ShowFocus() const { return showFocus_; }
    void SetShowFocus(bool value);
    int32_t FocusMargin() const { return focusMargin_; }
    void SetFocusMargin(int32_t value);
    // The button that Enter clicks now.
    bool ActiveDefault() const override { return activeDefault_; }
    bool IsPushButton() const override { return true; }

    // Gives the form the modal result, also when it is 0, then runs OnClick.
    void Click() override;

protected:
    TsButton(ui::TControl* parent, const std::string& caption, const std::string& className);
    platform::LRESULT WndProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;
    void MouseDown(ui::TMouseButton button, int shift, int x, int y) override;
    bool ShowsFocusFrame() const override { return showFocus_; }
    int32_t FocusFrameMargin() const override { return focusMargin_; }

private:
    // Shows the button down, clicks it and lets it up; false when it went meanwhile.
    bool PressAndClick();
    bool IsAccelerator(uint8_t ch) const;

    bool cancel_ = false;
    bool default_ = false;
    int modalResult_ = 0;
    bool showFocus_ = true;
    int32_t focusMargin_ = 1;
    bool activeDefault_ = false;
};

class TsBitBtn : public TsButton {
public:
    explicit TsBitBtn(ui::TControl* parent, const std::string& caption = {});

    // Nothing in this system gives a button a glyph today.
    const Bitmap24& Glyph() const { return glyph_; }
    // Takes a copy.
    void SetGlyph(const Bitmap24& value);

protected:
    void PaintGlyph() override;
    int GlyphWidth() override;
    int GlyphHeight() override;

private:
    Bitmap24 glyph_;
};

// The look every button of the system's windows is stored with, on a face of clBtnFace or, for
// the two set apart, clSilver.
void ApplyFormButtonLook(TsBitBtn& button, TColor face = clBtnFace);
void ApplyFormButtonLook(std::initializer_list<TsBitBtn*> buttons, TColor face = clBtnFace);

} // namespace styledbuttons
