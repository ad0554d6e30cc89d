#include "styledbuttons/sbutton.h"

#include "platform/text.h"
#include "ui/application.h"
#include "ui/form.h"

#include <QPointer>

#include <unordered_set>

namespace styledbuttons {

namespace {

// The handles of the push buttons that exist, for the focus notice, which names a control by its
// handle only.
std::unordered_set<ui::HWND>& PushButtons() {
    static std::unordered_set<ui::HWND> buttons;
    return buttons;
}

constexpr int AnyShift = ui::ssShift | ui::ssCtrl | ui::ssAlt;

} // namespace

TsButton::TsButton(ui::TControl* parent, const std::string& caption, const std::string& className)
    : TsButtonControl(parent, caption, className) {
    sStyle->ControlKind = KindButton;
    SetTabStop(true);
    SetBounds(Left(), Top(), 75, 25);
    activeDefault_ = default_;
    PushButtons().insert(Handle());
}

TsButton::~TsButton() {
    PushButtons().erase(Handle());
}

void TsButton::SetDefault(bool value) {
    if (value == default_) return;
    default_ = value;
    if (ui::TForm* form = ui::GetParentForm(this))
        form->Broadcast(CM_FOCUSCHANGED, 0, form->ActiveControl());
    else
        activeDefault_ = default_;
    sStyle->InvalidateOwner();
}

void TsButton::SetShowFocus(bool value) {
    if (value == showFocus_) return;
    showFocus_ = value;
    sStyle->InvalidateOwner();
}

void TsButton::SetFocusMargin(int32_t value) {
    if (value == focusMargin_) return;
    focusMargin_ = value;
    sStyle->InvalidateOwner();
}

void TsButton::Click() {
    const QPointer<QWidget> alive(Widget());
    if (ui::TForm* form = ui::GetParentForm(this)) form->SetModalResult(modalResult_);
    if (alive) TsButtonControl::Click();
}

void TsButton::MouseDown(ui::TMouseButton button, int shift, int x, int y) {
    sStyle->BGChanged = true;
    TsButtonControl::MouseDown(button, shift, x, y);
    SetFocus();
}

bool TsButton::PressAndClick() {
    SetPressed(true);
    if (!ProcessMessagesAlive()) return false;
    const QPointer<QWidget> alive(Widget());
    Click();
    if (!alive) return false;
    SetPressed(false);
    return ProcessMessagesAlive();
}

bool TsButton::IsAccelerator(uint8_t ch) const {
    const std::string& caption = Caption();
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return platform::UpperCase(std::string(1, caption[i + 1])) ==
               platform::UpperCase(std::string(1, static_cast<char>(ch)));
    }
    return false;
}

platform::LRESULT TsButton::WndProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
    if (!sStyle) return TsButtonControl::WndProc(msg, wParam, lParam);
    try {
        switch (msg) {
        case CM_DIALOGKEY:
            if (((wParam == ui::VK_RETURN && activeDefault_) || (wParam == ui::VK_ESCAPE && cancel_)) &&
                (lParam & AnyShift) == 0 && CanFocus()) {
                PressAndClick();
                return 1;
            }
            break;
        case CM_DIALOGCHAR: {
            const auto ch = static_cast<uint8_t>(wParam);
            if (ch == ' ' && sStyle->HasFocus) {
                // Down until the space bar comes up again.
                sStyle->BGChanged = true;
                SetPressed(true);
                pressKey_ = ui::VK_SPACE;
                Repaint();
                return 1;
            }
            // The accelerator's release may go to another control: it clicks at once.
            if (IsAccelerator(ch) && CanFocus()) {
                PressAndClick();
                return 1;
            }
            break;
        }
        case ui::WM_KEYUP:
            // Only the release of the key that pressed the button clicks it.
            if (Pressed() && pressKey_ != 0 && wParam == pressKey_) {
                SetPressed(false);
                sStyle->InvalidateOwner();
                if (!ProcessMessagesAlive()) return 0;
                Click();
                return 0;
            }
            break;
        case CM_FOCUSCHANGED: {
            const auto focused = static_cast<ui::HWND>(lParam);
            const bool active = PushButtons().count(focused) != 0 ? focused == Handle() : default_;
            if (active != activeDefault_) {
                activeDefault_ = active;
                sStyle->InvalidateOwner();
            }
            sStyle->BGChanged = true;
            break;
        }
        case CN_COMMAND:
            if ((wParam >> 16) == 0) {
                sStyle->BGChanged = true;
                Click();
            }
            return 0;
        default:
            break;
        }
    } catch (...) {
        ui::HandlerRaised();
        return 1;
    }
    return TsButtonControl::WndProc(msg, wParam, lParam);
}

TsBitBtn::TsBitBtn(ui::TControl* parent, const std::string& caption) : TsButton(parent, caption, "TsBitBtn") {
    sStyle->ControlKind = KindBitBtn;
}

void TsBitBtn::SetGlyph(const Bitmap24& value) {
    glyph_ = value;
    sStyle->InvalidateOwner();
}

int TsBitBtn::GlyphWidth() {
    return glyph_.Width() >= 1 ? glyph_.Width() / NumGlyphs() : TsButton::GlyphWidth();
}

int TsBitBtn::GlyphHeight() {
    return glyph_.Height() > 0 ? glyph_.Height() : TsButton::GlyphHeight();
}

void TsBitBtn::PaintGlyph() {
    if (glyph_.Width() < 1) {
        TsButton::PaintGlyph();
        return;
    }
    DrawGlyphImage(glyph_, sStyle->CacheBmp, GetGlyphRect(), Blend(), sStyle->IsHot(), DisabledGlyphKind(),
                   Grayed(), Enabled(), NumGlyphs());
}

void ApplyFormButtonLook(TsBitBtn& button, TColor face) {
    ApplyFormButtonStyle(*button.sStyle, face);
    button.SetLayout(TButtonLayout::blGlyphLeft);
    button.SetSpacing(3);
}

void ApplyFormButtonLook(std::initializer_list<TsBitBtn*> buttons, TColor face) {
    for (TsBitBtn* button : buttons)
        ApplyFormButtonLook(*button, face);
}

} // namespace styledbuttons
