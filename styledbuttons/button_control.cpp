#include "styledbuttons/button_control.h"

#include "styledbuttons/pixels/frames.h"
#include "styledbuttons/pixels/mixing.h"
#include "styledbuttons/pixels/shadow.h"
#include "styledbuttons/pixels/utils.h"
#include "ui/application.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <QPointer>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace styledbuttons {

namespace {

constexpr unsigned DT_EXPANDTABS = 0x40;

TColor FromQColor(const QColor& c) {
    return RGB(c.red(), c.green(), c.blue());
}

// Whole pixels that hold the text's advance: rounded down, a line laid out in that width would break
// before its last word.
int TextWidth(const QFont& font, const QString& text) {
    return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

} // namespace

// ---- TFadeTimer

TFadeTimer::TFadeTimer(TsButtonControl& owner) : owner_(owner) {
    OnTimer = [this] { FadeTimerTick(); };
    SetFadeMode(0);
}

void TFadeTimer::SetFadeMode(uint8_t mode) {
    fadeMode_ = mode;
    SetEnabled(mode != 0);
}

void TFadeTimer::StartFadeIn() {
    StartFade(1, owner_.sStyle->FadingIntervalIn());
}

void TFadeTimer::StartFadeOut() {
    StartFade(2, owner_.sStyle->FadingIntervalOut());
}

void TFadeTimer::StartFade(uint8_t mode, int32_t interval) {
    TsActiveBGStyle& style = *owner_.sStyle;
    if (!style.FadingEnabled()) return;
    // The weight of a frame divides by the iterations: without one there is nothing to fade.
    if (style.FadingIterations() < 1) {
        style.InvalidateOwner();
        return;
    }
    owner_.fadeBitmap_ = style.CacheBmp;
    owner_.RepaintCachedImage();
    // Until the first frame the window keeps showing the look before the change.
    owner_.frameImage_ = owner_.fadeBitmap_;
    if (mode == 1) owner_.FadeStep = 1;
    SetEnabled(false);
    SetInterval(static_cast<uint32_t>(std::max(interval, 1)));
    SetFadeMode(mode);
}

void TFadeTimer::FadeTimerTick() {
    CheckFadeEnd();
    switch (fadeMode_) {
    case 1:
        FadeStep(true);
        break;
    case 2:
        FadeStep(false);
        break;
    default:
        SetEnabled(false);
        break;
    }
}

void TFadeTimer::CheckFadeEnd() {
    if (owner_.Destroying() || ui::Application().Terminated()) {
        SetFadeMode(0);
        return;
    }
    const int32_t iterations = owner_.sStyle->FadingIterations();
    int32_t& step = owner_.FadeStep;
    if (!owner_.sStyle->FadingEnabled() || iterations < 1 || iterations < step || step < 0) {
        if (step > iterations)
            --step;
        else if (step < 0)
            ++step;
        SetFadeMode(0);
        owner_.frameImage_ = Bitmap24();
        owner_.sStyle->BGChanged = true;
        owner_.Repaint();
    }
}

void TFadeTimer::FadeStep(bool fadeIn) {
    if (owner_.Destroying()) return;
    struct Advance {
        int32_t& step;
        bool in;
        ~Advance() { step += in ? 1 : -1; }
    } advance{owner_.FadeStep, fadeIn};
    const Bitmap24& cache = owner_.sStyle->CacheBmp;
    const int w = owner_.FadeStep * 255 / owner_.sStyle->FadingIterations();
    Bitmap24 frame = fadeIn ? owner_.fadeBitmap_ : cache;
    MixBitmaps(frame, fadeIn ? cache : owner_.fadeBitmap_, 255 - w);
    owner_.frameImage_ = std::move(frame);
    owner_.Repaint();
}

// ---- TsButtonControl

TsButtonControl::TsButtonControl(ui::TControl* parent, const std::string& caption,
                                 const std::string& className)
    : ui::TCustomControl(parent), className_(className) {
    SetBounds(Left(), Top(), 84, 22);
    sStyle = std::make_unique<TsActiveBGStyle>(this);
    sStyle->ControlKind = KindButtonControl;
    SetTabStop(false);
    FadeTimer = std::make_unique<TFadeTimer>(*this);
    SetCaption(caption);
    creating_ = false;
    sStyle->BindSkin();
}

TsButtonControl::~TsButtonControl() {
    destroying_ = true;
    actionLink_.reset();
    if (FadeTimer) FadeTimer->SetEnabled(false);
    FadeTimer.reset();
    fadeBitmap_ = Bitmap24();
    sStyle.reset();
}

void TsButtonControl::SetMargin(int32_t value) {
    if (value == margin_) return;
    margin_ = value;
    sStyle->BGChanged = true;
    Invalidate();
}

void TsButtonControl::SetNumGlyphs(int32_t value) {
    value = std::max(value, 1);
    if (value == numGlyphs_) return;
    numGlyphs_ = value;
    sStyle->InvalidateOwner();
}

void TsButtonControl::SetImages(TImageList* value) {
    images_ = TImageListRef(value);
    sStyle->InvalidateOwner();
}

void TsButtonControl::SetImagesGrayed(TImageList* value) {
    imagesGrayed_ = TImageListRef(value);
    sStyle->InvalidateOwner();
}

void TsButtonControl::SetImagesDisabled(TImageList* value) {
    imagesDisabled_ = TImageListRef(value);
    sStyle->InvalidateOwner();
}

namespace {
// Stores a changed value and repaints the owner.
template <typename T> void Store(T& field, T value, TsGenStyle& style) {
    if (field == value) return;
    field = value;
    style.InvalidateOwner();
}
} // namespace

void TsButtonControl::SetDisabledGlyphKind(TsDisabledGlyphKind value) {
    Store(disabledGlyphKind_, value, *sStyle);
}
void TsButtonControl::SetAlignment(TAlignment value) {
    Store(alignment_, value, *sStyle);
}
void TsButtonControl::SetDisabledKind(TsDisabledKind value) {
    Store(disabledKind_, value, *sStyle);
}
void TsButtonControl::SetShowCaption(bool value) {
    Store(showCaption_, value, *sStyle);
}
void TsButtonControl::SetSpacing(int32_t value) {
    Store(spacing_, value, *sStyle);
}
void TsButtonControl::SetAutoSize(bool value) {
    Store(autoSize_, value, *sStyle);
}
void TsButtonControl::SetGrayed(bool value) {
    Store(grayed_, value, *sStyle);
}
void TsButtonControl::SetBlend(int32_t value) {
    Store(blend_, std::clamp(value, 0, 100), *sStyle);
}

void TsButtonControl::SetBevelWidth(int32_t value) {
    bevelWidth_ = value;
    sStyle->InvalidateOwner();
}

void TsButtonControl::SetLayout(TButtonLayout value) {
    layout_ = value;
    sStyle->InvalidateOwner();
}

void TsButtonControl::SetImageIndex(int32_t value) {
    imageIndex_ = value;
    sStyle->InvalidateOwner();
}

void TsButtonControl::SetPressed(bool value) {
    if (!value) pressKey_ = 0;
    if (value == pressed_) return;
    pressed_ = value;
    sStyle->InvalidateOwner();
}

TColor TsButtonControl::ParentColor() const {
    const ui::TControl* parent = Parent();
    const QWidget* widget = parent ? WidgetOf(*parent) : nullptr;
    if (!widget) return clBtnFace;
    return FromQColor(widget->palette().color(QPalette::Window));
}

void TsButtonControl::RepaintParent() {
    if (QWidget* parent = Parent() ? WidgetOf(*Parent()) : nullptr) parent->update();
}

void TsButtonControl::StartFade(bool fadeIn) {
    if (!FadeTimer) return;
    if (fadeIn)
        FadeTimer->StartFadeIn();
    else
        FadeTimer->StartFadeOut();
}

void TsButtonControl::Invalidate() {
    if (HasParent() && !destroying_) AdjustSize();
    TCustomControl::Invalidate();
}

TCanvas TsButtonControl::CacheCanvas() {
    const QWidget* w = Widget();
    // The font's own colour in every state: a disabled caption is drawn as an enabled one and only
    // the tint of the whole image greys it, so that it stays readable on the face.
    return TCanvas{sStyle->CacheBmp, w ? w->font() : QFont(),
                   w ? FromQColor(w->palette().color(QPalette::Active, QPalette::WindowText)) : clBlack};
}

// ---- Layout

TImageList* TsButtonControl::CurrentImageList() const {
    if (Enabled()) return ImagesGrayed() && !sStyle->IsHot() ? ImagesGrayed() : Images();
    return ImagesDisabled() ? ImagesDisabled() : Images();
}

int TsButtonControl::GlyphWidth() {
    const TImageList* list = CurrentImageList();
    return list && imageIndex_ >= 0 ? list->Width() : 0;
}

int TsButtonControl::GlyphHeight() {
    const TImageList* list = CurrentImageList();
    return list && imageIndex_ >= 0 ? list->Height() : 0;
}

int TsButtonControl::MaxTextWidth() {
    if (!showCaption_) return 0;
    const int textWidth = TextWidth(CacheCanvas().Font, ui::ToQt(Caption()));
    const int W = Width(), M = margin_, GW = GlyphWidth();
    if (layout_ == TButtonLayout::blGlyphTop || layout_ == TButtonLayout::blGlyphBottom)
        return std::min(textWidth, W - 2 * M);
    const int s = GW > 0 && !Caption().empty() ? spacing_ : 0;
    return std::min(textWidth + s, W - GW - 2 * M - s);
}

TPoint TsButtonControl::GetTextExtent() {
    if (!showCaption_) return {0, 0};
    // As the platform measures wrapped text: the widest line's advance, and the lines' height.
    QString text = ui::ToQt(Caption());
    text.replace(QLatin1String("&&"), QLatin1String("\x01"))
        .remove(QLatin1Char('&'))
        .replace(QLatin1Char('\x01'), QLatin1Char('&'));
    const QFont font = CacheCanvas().Font;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    const QFontMetrics metrics(font);
    layout.beginLayout();
    int width = 0, lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(MaxTextWidth());
        QString part = text.mid(line.textStart(), line.textLength());
        while (!part.isEmpty() && part.back().isSpace())
            part.chop(1);
        width = std::max(width, TextWidth(font, part));
        ++lines;
    }
    layout.endLayout();
    return {width, std::max(lines, 1) * metrics.height()};
}

TRect TsButtonControl::GetGlyphRect() {
    const int W = Width(), H = Height(), M = margin_, S = spacing_;
    const int GW = GlyphWidth(), GH = GlyphHeight();
    const TPoint text = GetTextExtent();
    const int TW = text.X, TH = text.Y;
    const int g = showCaption_ && !Caption().empty() && GW > 0 ? S : 0;
    const int x0 = (W - GW - g - TW) / 2 - M;
    const int y0 = (H - GH - g - TH) / 2 - M;
    int L = 0, T = (H - GH) / 2;
    switch (layout_) {
    case TButtonLayout::blGlyphLeft:
        L = alignment_ == TAlignment::taLeftJustify    ? M
            : alignment_ == TAlignment::taRightJustify ? M + 2 * x0
                                                       : M + x0;
        break;
    case TButtonLayout::blGlyphRight:
        L = alignment_ == TAlignment::taLeftJustify    ? W - M - 2 * x0 - g - GW
            : alignment_ == TAlignment::taRightJustify ? W - GW - M
                                                       : (W - GW + g + TW) / 2;
        break;
    case TButtonLayout::blGlyphTop:
        L = (W - GW) / 2;
        T = M + y0;
        break;
    case TButtonLayout::blGlyphBottom:
        L = (W - GW) / 2;
        T = H - M - y0 - GH;
        break;
    }
    const int P = pressed_ ? 1 : 0;
    return {L + P, T + P, L + P + GW, T + P + GH};
}

TRect TsButtonControl::GetCaptionRect() {
    const int W = Width(), H = Height(), M = margin_, S = spacing_;
    const int GW = GlyphWidth(), GH = GlyphHeight();
    const TPoint text = GetTextExtent();
    const int TW = text.X, TH = text.Y;
    const bool side = layout_ == TButtonLayout::blGlyphLeft || layout_ == TButtonLayout::blGlyphRight;
    const int g = (side ? GW > 0 : GH > 0) && !Caption().empty() ? S : 0;
    const int gl = GW > 0 ? S : 0;
    TRect r;
    if (side) {
        const int cx = (W - GW - g - TW) / 2 - M;
        const int t = (H - TH) / 2;
        r.Top = t;
        r.Bottom = H - t;
        if (layout_ == TButtonLayout::blGlyphLeft) {
            textPosition_ = 0;
            switch (alignment_) {
            case TAlignment::taLeftJustify:
                r.Left = GW + M + gl, r.Right = W - M - 2 * cx;
                break;
            case TAlignment::taRightJustify:
                r.Left = GW + 2 * cx + M + gl, r.Right = W - M;
                break;
            case TAlignment::taCenter:
                r.Left = GW + M + cx + gl, r.Right = W - M - cx;
                break;
            }
        } else {
            textPosition_ = 2;
            const int left = alignment_ == TAlignment::taLeftJustify    ? M
                             : alignment_ == TAlignment::taRightJustify ? 2 * cx + M
                                                                        : M + cx;
            r.Left = left;
            r.Right = left + TW;
        }
    } else {
        const int cy = (H - GH - g - TH) / 2 - M;
        const int l = (W - TW) / 2;
        r.Left = l;
        r.Right = W - l;
        textPosition_ = 1;
        if (layout_ == TButtonLayout::blGlyphTop) {
            r.Top = GH + M + cy + g;
            r.Bottom = H - cy - M;
        } else {
            r.Top = M + cy;
            r.Bottom = H - cy - M - GH - g;
        }
    }
    const int P = pressed_ ? 1 : 0;
    return {r.Left - 1 + P, r.Top + P, r.Right + 2 + P, r.Bottom + P};
}

void TsButtonControl::AdjustSize() {
    if (pressed_ || creating_) return;
    int width = Width(), height = Height();
    const int GW = GlyphWidth(), GH = GlyphHeight();
    if (autoSize_ && (GH != 0 || showCaption_)) {
        const int hh = GH + 2 * bevelWidth_, ww = GW + 2 * bevelWidth_, M = margin_;
        const QFont font = CacheCanvas().Font;
        const QFontMetrics metrics(font);
        if (showCaption_) {
            const int textWidth = TextWidth(font, ui::ToQt(Caption()));
            const int textHeight = metrics.height();
            const int s = ww > 0 && !Caption().empty() ? spacing_ : 0;
            if (layout_ == TButtonLayout::blGlyphLeft || layout_ == TButtonLayout::blGlyphRight) {
                height = std::max(hh, textHeight) + 2 * M;
                width = ww + s + textWidth + 2 * M;
            } else {
                width = std::max(ww, textWidth) + 2 * M;
                height = s + hh + textHeight + 2 * M;
            }
        } else {
            height = hh + 2 * M;
            width = ww + 2 * M;
        }
    }
    if (width != Width() || height != Height()) SetBounds(Left(), Top(), width, height);
}

// ---- Painting

void TsButtonControl::PaintMaskedFrame() {
    sStyle->PaintMaskedFrame();
}

void TsButtonControl::PaintFace() {
    sStyle->PaintFrame();
    PaintGlyph();
    TRect r = GetCaptionRect();
    const QFontMetrics metrics(CacheCanvas().Font);
    int position = textPosition_;
    // A caption of more than one line is centred whatever the layout.
    if (HeightOf(r) > metrics.height() + 6) position = 1;
    if (showCaption_ && !Caption().empty())
        DrawCaption(r, static_cast<unsigned>(position) | DT_EXPANDTABS | DT_WORDBREAK);
    if (ShowsFocusFrame() && Focused()) {
        const int m = FocusFrameMargin();
        DrawDottedFrame(sStyle->CacheBmp, TRect{r.Left - m, r.Top - m, r.Right + m, r.Bottom + m});
    }
}

void TsButtonControl::DrawCaption(TRect rect, unsigned flags) {
    TCanvas canvas = CacheCanvas();
    DrawCaptionText(canvas, Caption(), true, sStyle->IsHot(), sStyle->SkinIndex, flags, rect);
}

void TsButtonControl::PaintGlyph() {
    TImageList* list = CurrentImageList();
    if (!list || imageIndex_ < 0) return;
    const bool normal = Enabled() || list == ImagesDisabled();
    const bool grey = grayed_ && list == Images();
    const TRect r = GetGlyphRect();
    Bitmap24 glyph(list->Width(), list->Height());
    glyph.Fill(list->BkColor.value_or(0xFF00FF));
    list->Draw(glyph, imageIndex_);
    // Drawn as a bitmap glyph is, so that the transparent colour is taken after any greying too.
    DrawGlyphImage(glyph, sStyle->CacheBmp, r, blend_, sStyle->IsHot(), disabledGlyphKind_, grey, normal, 1);
}

void TsButtonControl::PaintDisabledEffect(const TBackgroundCache& background) {
    Bitmap24& image = sStyle->CacheBmp;
    if (disabledKind_ & dkGrayed) MakeGrayscale(image);
    if (!(disabledKind_ & dkBlended)) return;
    if (background.Ready && background.Bmp) {
        const int x = Left() + background.X, y = Top() + background.Y;
        BlendBitmapByFactor(image, 0, 0, 0xFF000000, 0.5,
                            TRect{x, y, x + image.Width() - 1, y + image.Height() - 1}, *background.Bmp);
    } else {
        TintRectByMask(image, TRect{0, 0, image.Width(), image.Height()}, 50, 0, 0,
                       ColorToRGB(ParentColor()));
    }
}

void TsButtonControl::RepaintCachedImage() {
    const TBackgroundCache background = sStyle->GetParentBackground();
    sStyle->PaintBackground(sStyle->CacheBmp);
    PaintFace();
    // Only a freshly painted image is tinted, so the tint never adds up.
    if (!Enabled()) PaintDisabledEffect(background);
}

void TsButtonControl::Paint(QPainter& canvas) {
    if (destroying_ || !HasParent() || !sStyle) return;
    Bitmap24* shown = &sStyle->CacheBmp;
    if (FadeTimer && FadeTimer->Enabled() && sStyle->FadingEnabled()) {
        // A fade shows its frames; the cached image is the look it fades to and stays as it is.
        if (!frameImage_.Empty()) shown = &frameImage_;
    } else if (sStyle->BGChanged) {
        sStyle->ResizeCache();
        RepaintCachedImage();
    }
    const QImage image = ImageOf(*shown);
    if (!image.isNull()) canvas.drawImage(0, 0, image);
}

// ---- Messages

bool TsButtonControl::ProcessMessagesAlive() {
    const QPointer<QWidget> alive(Widget());
    ui::Application().ProcessMessages();
    return !alive.isNull();
}

void TsButtonControl::StopFading() {
    if (!sStyle->FadingEnabled()) return;
    FadeTimer->SetFadeMode(0);
    FadeStep = sStyle->FadingIterations() - 1;
}

void TsButtonControl::Click() {
    if (OnClick)
        OnClick();
    else if (actionLink_)
        actionLink_->Action().Execute();
}

void TsButtonControl::SetHint(const std::string& value) {
    hint_ = value;
    if (Widget()) Widget()->setToolTip(ui::ToQt(value));
}

void TsButtonControl::SetAction(TAction* action) {
    actionLink_.reset();
    if (!action) return;
    actionLink_ = std::make_unique<TsButtonActionLink>(*this, *action);
    ActionChange(*action, false);
}

void TsButtonControl::ActionChange(TAction& action, bool checkDefaults) {
    if (!Images() && action.Images && action.Images->Count() > 0) SetImages(action.Images);
    if (action.ImageIndex() != imageIndex_) SetImageIndex(action.ImageIndex());
    if (checkDefaults) return;
    if (Caption() != action.Caption()) {
        SetCaption(action.Caption());
        sStyle->InvalidateOwner();
    }
    if (hint_ != action.Hint()) SetHint(action.Hint());
}

void TsButtonControl::MouseDown(ui::TMouseButton button, int shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(button, shift, x, y);
    StopFading();
    if (button != ui::TMouseButton::mbLeft || !Enabled() || pressed_) return;
    SetPressed(true);
    sStyle->BGChanged = true;
    Repaint();
}

void TsButtonControl::MouseUp(ui::TMouseButton button, int shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(button, shift, x, y);
    FadeStep = sStyle->FadingIterations() - 1;
    FadeTimer->SetEnabled(false);
    if (button != ui::TMouseButton::mbLeft || !Enabled()) return;
    sStyle->BGChanged = true;
    SetPressed(false);
    const QPointer<QWidget> alive(Widget());
    if (x >= 0 && y >= 0 && x < Width() && y < Height()) Click();
    if (!alive) return;
    try {
        Repaint();
    } catch (...) {
    }
}

platform::LRESULT TsButtonControl::WndProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
    // Messages that come while the style is made or after it went reach the library alone.
    if (!sStyle) return TCustomControl::WndProc(msg, wParam, lParam);
    try {
        if (msg == ui::CM_TEXTCHANGED) {
            sStyle->BGChanged = true;
            sStyle->InvalidateOwner();
        }
        if (msg == CM_EXIT) SetPressed(false);
        TStyleMessage message{msg, wParam, lParam, 0};
        sStyle->StyleMessageHandler(message);
        switch (msg) {
        case ui::WM_ERASEBKGND:
            return 1;
        case CM_MOUSEENTER:
            if (OnMouseEnter) OnMouseEnter();
            break;
        case CM_MOUSELEAVE:
            if (OnMouseLeave) OnMouseLeave();
            break;
        default:
            break;
        }
        const platform::LRESULT result = TCustomControl::WndProc(msg, wParam, lParam);
        return message.Result != 0 ? message.Result : result;
    } catch (...) {
        ui::HandlerRaised();
        return 1;
    }
}

} // namespace styledbuttons
