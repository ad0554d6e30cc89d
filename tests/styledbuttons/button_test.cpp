// The styled buttons on real (offscreen) widgets: layout, mouse, keys through the form, the disabled
// look, fading and the window region.
#include "styledbuttons/sbutton.h"

#include "platform/text.h"
#include "ui/application.h"
#include "ui/control_test_access.h"
#include "ui/form.h"
#include "ui/std_controls.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

#include <cmath>
#include <memory>

using namespace styledbuttons;

namespace {

// Opens what the tests look at.
class ProbeButton : public TsBitBtn {
public:
    using TsBitBtn::PaintDisabledEffect;
    using TsBitBtn::TsBitBtn;
};

void Mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint at) {
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Key(QWidget* w, QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
         const QString& text = {}) {
    QKeyEvent e(type, key, mods, text);
    QApplication::sendEvent(w, &e);
}

void Tap(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    Key(w, QEvent::KeyPress, key, mods, text);
    Key(w, QEvent::KeyRelease, key, mods, text);
}

// Counts the Enter presses that reach a widget.
class ReturnCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Return) ++count;
        return false;
    }
};

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = std::make_unique<ui::TForm>();
        form_->SetClientSize(300, 200);
        form_->Show();
        // Painting at once needs a window on the screen.
        ASSERT_TRUE(uitest::SpinUntil([&] {
            return uitest::WidgetOf(*form_)->windowHandle() != nullptr &&
                   uitest::WidgetOf(*form_)->windowHandle()->isExposed();
        }));
    }
    std::unique_ptr<ui::TForm> form_;
};

Bitmap24 Filled(int w, int h, TColor c) {
    Bitmap24 b(w, h);
    b.Fill(c);
    return b;
}

TEST_F(ButtonTest, LayoutOfCaptionAndGlyph) {
    TsBitBtn b(form_.get(), "Caption");
    b.SetBounds(0, 0, 84, 22);
    const QFontMetrics fm(uitest::WidgetOf(b)->font());
    // The whole pixels that hold the text: a caption is never narrower than its advance.
    const auto textWidth = [&](const char* text) {
        return static_cast<int>(
            std::ceil(QFontMetricsF(uitest::WidgetOf(b)->font()).horizontalAdvance(text)));
    };
    const int TW = textWidth("Caption"), TH = fm.height();
    // No glyph, centred: the caption box around the text, one pixel further while pressed.
    const TRect plain{(84 - TW) / 2 - 1, (22 - TH) / 2, 84 - (84 - TW) / 2 + 2, 22 - (22 - TH) / 2};
    TRect r = b.GetCaptionRect();
    EXPECT_EQ((std::array{r.Left, r.Top, r.Right, r.Bottom}),
              (std::array{plain.Left, plain.Top, plain.Right, plain.Bottom}));
    b.SetPressed(true);
    r = b.GetCaptionRect();
    EXPECT_EQ((std::array{r.Left, r.Top}), (std::array{plain.Left + 1, plain.Top + 1}));
    b.SetPressed(false);

    // A 16 x 16 glyph on the left: glyph and caption side by side, 3 pixels apart, centred together.
    b.SetGlyph(Filled(16, 16, clBlack));
    const int x0 = (84 - 16 - 3 - TW) / 2;
    TRect g = b.GetGlyphRect();
    EXPECT_EQ((std::array{g.Left, g.Top, g.Right, g.Bottom}), (std::array{x0, 3, x0 + 16, 19}));
    r = b.GetCaptionRect();
    EXPECT_EQ(r.Left, 16 + x0 + 3 - 1);
    EXPECT_EQ(b.TextPosition(), 0);

    // Glyph on top of a 40 high button: the glyph above the caption, both centred.
    b.SetBounds(0, 0, 84, 40);
    b.SetLayout(TButtonLayout::blGlyphTop);
    const int y0 = (40 - 16 - 3 - TH) / 2;
    g = b.GetGlyphRect();
    EXPECT_EQ((std::array{g.Left, g.Top}), (std::array{34, y0}));
    r = b.GetCaptionRect();
    EXPECT_EQ(r.Top, 16 + y0 + 3);
    EXPECT_EQ(b.TextPosition(), 1);

    // Two glyphs side by side: each is half the bitmap.
    b.SetGlyph(Filled(32, 16, clBlack));
    b.SetNumGlyphs(2);
    g = b.GetGlyphRect();
    EXPECT_EQ(g.Right - g.Left, 16);
    b.SetNumGlyphs(0);
    EXPECT_EQ(b.NumGlyphs(), 1);

    // AutoSize without a glyph: bevel on both sides, the spacing and the text.
    TsBitBtn a(form_.get(), "Auto sized");
    a.SetAutoSize(true);
    a.Invalidate();
    EXPECT_EQ(a.Width(), 4 + 3 + textWidth("Auto sized"));
    EXPECT_EQ(a.Height(), std::max(4, fm.height()));
}

TEST_F(ButtonTest, MouseClicksOnlyOnALeftReleaseInside) {
    TsBitBtn b(form_.get(), "Press");
    b.SetBounds(10, 10, 84, 22);
    int clicks = 0;
    b.OnClick = [&] { ++clicks; };
    QWidget* w = uitest::WidgetOf(b);
    w->repaint();
    const Bitmap24 normal = b.sStyle->CacheBmp;

    Mouse(w, QEvent::MouseButtonPress, Qt::LeftButton, {5, 5});
    EXPECT_TRUE(b.Pressed());
    EXPECT_NE(b.sStyle->CacheBmp, normal) << "the press repaints at once";
    Mouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, {5, 5});
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(b.Pressed());

    Mouse(w, QEvent::MouseButtonPress, Qt::LeftButton, {5, 5});
    Mouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, {120, 5});
    EXPECT_EQ(clicks, 1) << "released outside";

    Mouse(w, QEvent::MouseButtonPress, Qt::RightButton, {5, 5});
    EXPECT_FALSE(b.Pressed());
    Mouse(w, QEvent::MouseButtonRelease, Qt::RightButton, {5, 5});
    EXPECT_EQ(clicks, 1) << "right button";

    // A Shift tap while the mouse holds the button is no click of its own.
    Mouse(w, QEvent::MouseButtonPress, Qt::LeftButton, {5, 5});
    Tap(w, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_TRUE(b.Pressed());
    Mouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, {5, 5});
    EXPECT_EQ(clicks, 2);
}

TEST_F(ButtonTest, FormOffersEnterAndEscapeToItsPushButtons) {
    ui::TEdit edit(form_.get());
    edit.SetBounds(0, 0, 100, 20);
    TsBitBtn ok(form_.get(), "OK"), cancel(form_.get(), "Cancel"), other(form_.get(), "&Other");
    ok.SetBounds(0, 40, 75, 25);
    cancel.SetBounds(80, 40, 75, 25);
    other.SetBounds(160, 40, 75, 25);
    ok.SetDefault(true);
    ok.SetModalResult(ui::mrOk);
    cancel.SetCancel(true);
    int okClicks = 0, cancelClicks = 0, otherClicks = 0;
    ok.OnClick = [&] { ++okClicks; };
    cancel.OnClick = [&] { ++cancelClicks; };
    other.OnClick = [&] { ++otherClicks; };
    ReturnCounter seen;
    uitest::WidgetOf(edit)->installEventFilter(&seen);
    uitest::WidgetOf(*form_)->activateWindow();
    uitest::WidgetOf(edit)->setFocus();
    ASSERT_TRUE(uitest::SpinUntil([&] { return uitest::WidgetOf(edit)->hasFocus(); }));
    EXPECT_TRUE(ok.ActiveDefault());

    Key(uitest::WidgetOf(edit), QEvent::KeyPress, Qt::Key_Return);
    EXPECT_EQ(okClicks, 1);
    EXPECT_EQ(seen.count, 0) << "the focused control never saw the Enter the default button took";
    EXPECT_EQ(form_->ModalResult(), ui::mrOk);
    EXPECT_FALSE(ok.Pressed());

    Key(uitest::WidgetOf(edit), QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(okClicks, 1) << "Ctrl+Enter";
    EXPECT_EQ(seen.count, 1);

    Key(uitest::WidgetOf(edit), QEvent::KeyPress, Qt::Key_Escape);
    EXPECT_EQ(cancelClicks, 1);
    EXPECT_EQ(form_->ModalResult(), 0) << "a modal result of 0 is given to the form too";

    // Alt and the caption's accelerator clicks that button at once.
    Key(uitest::WidgetOf(edit), QEvent::KeyPress, Qt::Key_O, Qt::AltModifier, "o");
    EXPECT_EQ(otherClicks, 1);

    // Focus on a push button that is not the default makes it the one Enter clicks.
    other.SetFocus();
    ASSERT_TRUE(uitest::SpinUntil([&] { return other.Focused(); }));
    EXPECT_FALSE(ok.ActiveDefault());
    EXPECT_TRUE(other.ActiveDefault());
    Key(uitest::WidgetOf(other), QEvent::KeyPress, Qt::Key_Return);
    EXPECT_EQ(otherClicks, 2);
    EXPECT_EQ(okClicks, 1);
    Key(uitest::WidgetOf(other), QEvent::KeyPress, Qt::Key_O, Qt::AltModifier, "o");
    EXPECT_EQ(otherClicks, 3);
    EXPECT_FALSE(other.Pressed()) << "an accelerator leaves no button down";

    // Space presses the focused button; its release clicks, a Shift release does not.
    Key(uitest::WidgetOf(other), QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    EXPECT_TRUE(other.Pressed());
    Key(uitest::WidgetOf(other), QEvent::KeyRelease, Qt::Key_Shift);
    EXPECT_EQ(otherClicks, 3);
    Key(uitest::WidgetOf(other), QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
    EXPECT_EQ(otherClicks, 4);
    EXPECT_FALSE(other.Pressed());

    uitest::WidgetOf(edit)->setFocus();
    ASSERT_TRUE(uitest::SpinUntil([&] { return ok.ActiveDefault(); }));
}

TEST_F(ButtonTest, ActionAndImageListAreFollowedAndForgottenWhenTheyGo) {
    TsBitBtn b(form_.get());
    auto list = std::make_unique<TImageList>(16, 16);
    ASSERT_TRUE(list->Add(Filled(16, 16, clBlack)));
    auto action = std::make_unique<TAction>();
    action->SetCaption("Run");
    action->Images = list.get();
    int runs = 0;
    action->OnExecute = [&] { ++runs; };
    b.SetAction(action.get());
    EXPECT_EQ(b.Caption(), "Run");
    action->SetCaption("Go");
    action->SetImageIndex(0);
    EXPECT_EQ(b.Caption(), "Go");
    EXPECT_EQ(b.Images(), list.get());
    const TRect g = b.GetGlyphRect();
    EXPECT_EQ(g.Right - g.Left, 16);
    b.Click();
    EXPECT_EQ(runs, 1);

    list.reset();
    EXPECT_EQ(b.Images(), nullptr);
    const TRect none = b.GetGlyphRect();
    EXPECT_EQ(none.Right - none.Left, 0);
    action.reset();
    EXPECT_EQ(b.Action(), nullptr);
    b.Click();
    EXPECT_EQ(runs, 1);
}

TEST_F(ButtonTest, AButtonFreedByItsOwnClickIsLeftAlone) {
    auto b = std::make_unique<TsBitBtn>(form_.get(), "Gone");
    b->SetDefault(true);
    b->OnClick = [&] { b.reset(); };
    Key(uitest::WidgetOf(*form_), QEvent::KeyPress, Qt::Key_Return);
    EXPECT_EQ(b, nullptr);
}

TEST_F(ButtonTest, DisabledLookTintsTowardThePlainParentOnce) {
    struct Case {
        QColor parent;
        uint8_t before, after;
    };
    // (v * 127 + parent * 128) div 256: 50 % transparency is weight 127 of 255.
    for (const Case c : {Case{QColor(192, 192, 192), 200, 195}, Case{QColor(255, 255, 255), 255, 254}}) {
        QPalette palette = uitest::WidgetOf(*form_)->palette();
        palette.setColor(QPalette::Window, c.parent);
        uitest::WidgetOf(*form_)->setPalette(palette);
        ProbeButton b(form_.get(), "Off");
        b.sStyle->CacheBmp.Fill(RGB(c.before, c.before, c.before));
        b.PaintDisabledEffect(EmptyBackgroundCache);
        EXPECT_EQ(b.sStyle->CacheBmp.Pixel(40, 10), RGB(c.after, c.after, c.after));
    }
    // Painted over and over, a disabled button keeps one look, also while a fade runs.
    ProbeButton b(form_.get(), "Off");
    b.sStyle->BtnEffects.Fading.Enabled = true;
    b.SetEnabled(false);
    uitest::WidgetOf(b)->repaint();
    const Bitmap24 once = b.sStyle->CacheBmp;
    uitest::WidgetOf(b)->repaint();
    EXPECT_EQ(b.sStyle->CacheBmp, once);
    b.FadeTimer->StartFadeIn();
    uitest::WidgetOf(b)->repaint();
    uitest::WidgetOf(b)->repaint();
    EXPECT_EQ(b.sStyle->CacheBmp, once);
}

TEST_F(ButtonTest, DisabledCaptionIsTheFontColourTintedHalfwayTowardTheParent) {
    struct Case {
        QColor font, disabledText, parent;
        TColor darkest; // each channel (font * 127 + parent * 128) div 256
    };
    const Case cases[] = {
        {QColor(0, 0, 0), QColor(190, 190, 190), QColor(239, 239, 239), RGB(119, 119, 119)},
        {QColor(0, 0, 128), QColor(200, 200, 200), QColor(192, 192, 192), RGB(96, 96, 159)},
        {QColor(128, 0, 0), QColor(0, 0, 0), QColor(255, 255, 255), RGB(191, 127, 127)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.font.name().toStdString());
        QPalette parent = uitest::WidgetOf(*form_)->palette();
        parent.setColor(QPalette::Window, c.parent);
        uitest::WidgetOf(*form_)->setPalette(parent);
        TsBitBtn b(form_.get(), "III");
        ApplyFormButtonLook(b);
        b.SetBounds(10, 10, 75, 25);
        QWidget* w = uitest::WidgetOf(b);
        QPalette own = w->palette();
        own.setColor(QPalette::WindowText, c.font);
        own.setColor(QPalette::Disabled, QPalette::WindowText, c.disabledText);
        w->setPalette(own);
        QFont font = w->font();
        font.setPixelSize(16); // stems wide enough to hold pixels of the font colour itself
        font.setBold(true);
        w->setFont(font);
        b.SetEnabled(false);
        w->repaint();
        const Bitmap24& image = b.sStyle->CacheBmp;
        const TRect r = b.GetCaptionRect();
        TColor darkest = clWhite;
        auto sum = [](TColor v) { return RedOf(v) + GreenOf(v) + BlueOf(v); };
        for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, image.Height()); ++y)
            for (int x = std::max(r.Left, 0); x < std::min(r.Right, image.Width()); ++x)
                if (sum(image.Pixel(x, y)) < sum(darkest)) darkest = image.Pixel(x, y);
        EXPECT_EQ(darkest, c.darkest) << RedOf(darkest) << "," << GreenOf(darkest) << "," << BlueOf(darkest);
    }
}

TEST_F(ButtonTest, CaptionIsPaintedOnlyWhenShown) {
    // Tall letters: a hidden caption's box is a single row at the middle, where they would show.
    const std::string text = platform::Cp("ЙЁ|Ü");
    TsBitBtn shown(form_.get(), text), hidden(form_.get(), text), empty(form_.get(), "");
    hidden.SetShowCaption(false);
    int top = 0;
    for (TsBitBtn* b : {&shown, &hidden, &empty}) {
        ApplyFormButtonLook(*b); // no fade, which would show the last look for a while
        b->SetTop(top += 30);    // a covered widget is not painted
        uitest::WidgetOf(*b)->clearFocus();
        uitest::WidgetOf(*b)->repaint();
    }
    EXPECT_NE(shown.sStyle->CacheBmp, empty.sStyle->CacheBmp);
    EXPECT_EQ(hidden.sStyle->CacheBmp, empty.sStyle->CacheBmp);
}

TEST_F(ButtonTest, FadeFramesMixTheTwoLooksByStep) {
    TsBitBtn b(form_.get(), "Fade");
    b.sStyle->BtnEffects.Fading.Enabled = true;
    uitest::WidgetOf(b)->repaint();
    const TColor normal = b.sStyle->CacheBmp.Pixel(40, 2);
    b.SetDefault(true); // the active default button is hot
    b.FadeTimer->StartFadeIn();
    const TColor hot = b.sStyle->CacheBmp.Pixel(40, 2);
    ASSERT_NE(normal, hot);
    // A frame's channel is round((255 - w) / 256 * (from - to) + to).
    auto frame = [](TColor from, TColor to, int w) {
        const double x = (255 - w) / 256.0;
        auto mix = [&](int a, int b) { return static_cast<uint8_t>(std::nearbyint(x * (a - b) + b)); };
        return RGB(mix(RedOf(from), RedOf(to)), mix(GreenOf(from), GreenOf(to)),
                   mix(BlueOf(from), BlueOf(to)));
    };
    // What the window shows now.
    auto shown = [&b] {
        const QColor c = uitest::WidgetOf(b)->grab().toImage().pixelColor(40, 2);
        return RGB(c.red(), c.green(), c.blue());
    };
    for (int w : {51, 102, 153, 204, 255}) {
        b.FadeTimer->FadeTimerTick();
        EXPECT_EQ(shown(), frame(normal, hot, w)) << w;
    }
    b.FadeTimer->FadeTimerTick();
    EXPECT_EQ(b.FadeTimer->FadeMode(), 0);
    EXPECT_EQ(b.FadeStep, 5);

    b.SetDefault(false);
    b.FadeTimer->StartFadeOut();
    for (int w : {255, 204, 153, 102, 51, 0}) {
        b.FadeTimer->FadeTimerTick();
        EXPECT_EQ(shown(), frame(normal, hot, w)) << w;
    }
    b.FadeTimer->FadeTimerTick();
    EXPECT_EQ(b.FadeTimer->FadeMode(), 0);
    EXPECT_EQ(b.FadeStep, 0);

    // No iterations, no fade; and a fade whose iterations drop to 0 ends at its next tick.
    b.sStyle->BtnEffects.Fading.Iterations = 0;
    b.FadeTimer->StartFadeIn();
    EXPECT_EQ(b.FadeTimer->FadeMode(), 0);
    b.sStyle->BtnEffects.Fading.Iterations = 5;
    b.FadeTimer->StartFadeIn();
    b.sStyle->BtnEffects.Fading.Iterations = 0;
    b.FadeTimer->FadeTimerTick();
    EXPECT_EQ(b.FadeTimer->FadeMode(), 0);
}

TEST_F(ButtonTest, RegionCutsTheMaskCornersOutOfTheWindow) {
    QPalette palette = uitest::WidgetOf(*form_)->palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    uitest::WidgetOf(*form_)->setPalette(palette);
    uitest::WidgetOf(*form_)->setAutoFillBackground(true);
    TsBitBtn b(form_.get(), "Cut");
    b.sStyle->BtnEffects.MaskedBorders.SetPredefined(TsPredefinedBorders::pdBorder2);
    b.SetBounds(20, 30, 84, 22);
    uitest::WidgetOf(b)->repaint();
    const QImage shot = uitest::WidgetOf(*form_)->grab().toImage();
    EXPECT_EQ(shot.pixelColor(20, 30), QColor(255, 0, 0)) << "the corner belongs to the parent";
    EXPECT_EQ(shot.pixelColor(20 + 83, 30 + 21), QColor(255, 0, 0));
    EXPECT_NE(shot.pixelColor(20 + 1, 30), QColor(255, 0, 0)) << "the button beside it";
    EXPECT_NE(shot.pixelColor(20 + 42, 30 + 11), QColor(255, 0, 0));
}

} // namespace
