#include "ui/custom_control.h"

#include "ui/application.h"
#include "ui/form.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace ui {

namespace {

// The virtual key of a Qt key: letters, digits and space are their own codes.
WPARAM VirtualKeyOf(int key) {
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Tab:
        return VK_TAB;
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    case Qt::Key_Alt:
        return VK_MENU;
    default:
        return key >= 0x20 && key <= 0x7E ? static_cast<WPARAM>(key) : static_cast<WPARAM>(key & 0xFFFF);
    }
}

int MouseShift(const QMouseEvent* e) {
    int shift = ShiftStateOf(e->modifiers());
    if (e->buttons() & Qt::LeftButton) shift |= ssLeft;
    if (e->buttons() & Qt::RightButton) shift |= ssRight;
    if (e->buttons() & Qt::MiddleButton) shift |= ssMiddle;
    return shift;
}

} // namespace

// Turns Qt's events into the control's messages. Painting goes straight to Paint, on a widget that
// is never erased first. Events that come while the control is not yet made or already gone get Qt's
// own handling.
class CustomWidget : public QWidget {
public:
    CustomWidget() {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    void Attach(TCustomControl* control) { control_ = control; }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!control_) return;
        QPainter painter(this);
        RunHandler([&] { control_->Paint(painter); });
    }
    void mousePressEvent(QMouseEvent* e) override {
        Mouse(e, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        Mouse(e, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_MBUTTONDOWN);
    }
    void mouseReleaseEvent(QMouseEvent* e) override { Mouse(e, WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP); }
    void mouseMoveEvent(QMouseEvent* e) override {
        const QPoint p = e->position().toPoint();
        Send(WM_MOUSEMOVE, MouseShift(e), MakeMousePos(p.x(), p.y()));
    }
    void enterEvent(QEnterEvent*) override { Send(CM_MOUSEENTER, 0, 0); }
    void leaveEvent(QEvent*) override { Send(CM_MOUSELEAVE, 0, 0); }
    void focusInEvent(QFocusEvent*) override {
        Send(CM_ENTER, 0, 0);
        Send(WM_SETFOCUS, 0, 0);
    }
    void focusOutEvent(QFocusEvent*) override {
        Send(CM_EXIT, 0, 0);
        Send(WM_KILLFOCUS, 0, 0);
    }
    void keyPressEvent(QKeyEvent* e) override {
        const int shift = ShiftStateOf(e->modifiers());
        QPointer<QWidget> alive(this);
        Send(WM_KEYDOWN, VirtualKeyOf(e->key()), shift);
        RunHandler([&] {
            const std::string typed = FromQt(e->text());
            if (alive && typed.size() == 1 && static_cast<uint8_t>(typed[0]) >= 0x20 && (shift & ssCtrl) == 0)
                Send(WM_CHAR, static_cast<uint8_t>(typed[0]), shift);
        });
    }
    void keyReleaseEvent(QKeyEvent* e) override {
        if (!e->isAutoRepeat()) Send(WM_KEYUP, VirtualKeyOf(e->key()), ShiftStateOf(e->modifiers()));
    }
    void resizeEvent(QResizeEvent*) override { Send(WM_SIZE, 0, MakeMousePos(width(), height())); }
    void moveEvent(QMoveEvent*) override { Send(WM_MOVE, 0, MakeMousePos(x(), y())); }
    void showEvent(QShowEvent*) override { Send(CM_VISIBLECHANGED, 1, 0); }
    void hideEvent(QHideEvent*) override { Send(CM_VISIBLECHANGED, 0, 0); }
    void changeEvent(QEvent* e) override {
        if (e->type() == QEvent::EnabledChange) Send(CM_ENABLEDCHANGED, 0, 0);
        if (e->type() == QEvent::FontChange) Send(WM_FONTCHANGE, 0, 0);
        QWidget::changeEvent(e);
    }

private:
    void Send(UINT msg, WPARAM wParam, LPARAM lParam) {
        if (control_) control_->Dispatch(msg, wParam, lParam);
    }
    void Mouse(QMouseEvent* e, UINT left, UINT right, UINT middle) {
        const UINT msg = e->button() == Qt::LeftButton     ? left
                         : e->button() == Qt::RightButton  ? right
                         : e->button() == Qt::MiddleButton ? middle
                                                           : 0;
        if (msg == 0) return;
        const QPoint p = e->position().toPoint();
        Send(msg, MouseShift(e) | (msg == WM_LBUTTONDBLCLK ? ssDouble : 0), MakeMousePos(p.x(), p.y()));
    }

    TCustomControl* control_ = nullptr;
};

TCustomControl::TCustomControl(TControl* parent) : TControl(MakeWidget<CustomWidget>(), parent) {
    static_cast<CustomWidget*>(Widget())->Attach(this);
    SetTabStop(false);
}

TCustomControl::~TCustomControl() {
    if (Widget()) static_cast<CustomWidget*>(Widget())->Attach(nullptr);
}

void TCustomControl::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    // What assistive tools (and tests) read of a control that draws its text itself.
    if (Widget()) Widget()->setAccessibleName(ToQt(caption));
    Dispatch(CM_TEXTCHANGED, 0, 0);
}

void TCustomControl::SetTabStop(bool value) {
    if (Widget()) Widget()->setFocusPolicy(value ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TCustomControl::TabStop() const {
    return Widget() && (Widget()->focusPolicy() & Qt::TabFocus) != 0;
}

bool TCustomControl::Focused() const {
    return Widget() && Widget()->hasFocus();
}

void TCustomControl::SetFocus() {
    if (CanFocus()) Widget()->setFocus(Qt::OtherFocusReason);
}

bool TCustomControl::CanFocus() const {
    return Widget() && Widget()->isVisible() && Widget()->isEnabled();
}

void TCustomControl::SetRegion(const std::optional<QRegion>& region) {
    if (!Widget()) return;
    if (region)
        Widget()->setMask(*region);
    else
        Widget()->clearMask();
}

void TCustomControl::Invalidate() {
    if (Widget()) Widget()->update();
}

LRESULT TCustomControl::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        return WndProc(msg, wParam, lParam);
    } catch (...) {
        HandlerRaised();
        return 1;
    }
}

LRESULT TCustomControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    const int x = MouseX(lParam), y = MouseY(lParam), shift = static_cast<int>(wParam);
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        MouseDown(TMouseButton::mbLeft, shift, x, y);
        return 0;
    case WM_RBUTTONDOWN:
        MouseDown(TMouseButton::mbRight, shift, x, y);
        return 0;
    case WM_MBUTTONDOWN:
        MouseDown(TMouseButton::mbMiddle, shift, x, y);
        return 0;
    case WM_LBUTTONUP:
        MouseUp(TMouseButton::mbLeft, shift, x, y);
        return 0;
    case WM_RBUTTONUP:
        MouseUp(TMouseButton::mbRight, shift, x, y);
        return 0;
    case WM_MBUTTONUP:
        MouseUp(TMouseButton::mbMiddle, shift, x, y);
        return 0;
    case WM_CHAR:
        if (TForm* form = GetParentForm(this)) return form->Broadcast(CM_DIALOGCHAR, wParam, lParam);
        return 0;
    default:
        return TControl::WndProc(msg, wParam, lParam);
    }
}

void TCustomControl::Paint(QPainter&) {}

void TCustomControl::MouseDown(TMouseButton, int, int, int) {}
void TCustomControl::MouseUp(TMouseButton, int, int, int) {}

} // namespace ui
