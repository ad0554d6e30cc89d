#include "ui/control.h"

#include "ui/application.h"
#include "ui/menus.h"

namespace ui {

namespace {
constexpr const char* HandleProperty = "ostroHandle";
constexpr const char* ControlProperty = "ostroControl";
} // namespace

int ShiftStateOf(Qt::KeyboardModifiers modifiers) {
    return (modifiers & Qt::ShiftModifier ? ssShift : 0) | (modifiers & Qt::AltModifier ? ssAlt : 0) |
           (modifiers & Qt::ControlModifier ? ssCtrl : 0);
}

HWND HandleOf(const QWidget* widget) {
    return widget != nullptr ? widget->property(HandleProperty).value<HWND>() : 0;
}

TControl* ControlOf(const QWidget* widget) {
    return widget != nullptr
               ? reinterpret_cast<TControl*>(widget->property(ControlProperty).value<quintptr>())
               : nullptr;
}

TControl::TControl(QWidget* widget, TControl* parent) : widget_(widget), parent_(parent) {
    EnsureApplication();
    if (parent != nullptr && parent->ClientWidget() != nullptr) {
        widget->setParent(parent->ClientWidget());
        widget->show(); // a child shows with its parent, as a visible control does
    }
    handle_ = platform::CreateWindowHandle(
        [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) { return WndProc(msg, wParam, lParam); });
    widget->setProperty(HandleProperty, QVariant::fromValue(handle_));
    widget->setProperty(ControlProperty, QVariant::fromValue(reinterpret_cast<quintptr>(this)));
}

TControl::~TControl() {
    platform::DestroyWindowHandle(handle_);
    delete widget_.data();
}

LRESULT TControl::WndProc(UINT, WPARAM, LPARAM) {
    return 0;
}

void TControl::SetVisible(bool visible) {
    if (widget_) widget_->setVisible(visible);
}

// The control's own flag, as for a control on a form that is not shown yet.
bool TControl::Visible() const {
    return widget_ && !widget_->isHidden();
}

void TControl::SetEnabled(bool enabled) {
    if (widget_) widget_->setEnabled(enabled);
}

bool TControl::Enabled() const {
    return widget_ && widget_->isEnabled();
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (widget_) widget_->setGeometry(left, top, width, height);
}

int TControl::Left() const {
    return widget_ ? widget_->x() : 0;
}
int TControl::Top() const {
    return widget_ ? widget_->y() : 0;
}
int TControl::Width() const {
    return widget_ ? widget_->width() : 0;
}
int TControl::Height() const {
    return widget_ ? widget_->height() : 0;
}

void TControl::SetFontSize(int points) {
    if (!widget_ || points <= 0) return;
    QFont font = widget_->font();
    font.setPointSize(points);
    widget_->setFont(font);
}

void TControl::SetFontBold(bool bold) {
    if (!widget_) return;
    QFont font = widget_->font();
    font.setBold(bold);
    widget_->setFont(font);
}

void TControl::SetFontColor(TColor color) {
    if (!widget_) return;
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::WindowText, QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
    palette.setColor(QPalette::Text, palette.color(QPalette::WindowText));
    widget_->setPalette(palette);
}

void TControl::Repaint() {
    if (widget_) widget_->repaint();
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu != nullptr ? menu->Menu() : nullptr;
    if (!widget_) return;
    widget_->setContextMenuPolicy(menu != nullptr ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
    if (popupConnected_) return;
    popupConnected_ = true;
    QObject::connect(widget_.data(), &QWidget::customContextMenuRequested, widget_.data(),
                     [this](const QPoint& pos) {
                         if (popupMenu_ && widget_) popupMenu_->popup(widget_->mapToGlobal(pos));
                     });
}

} // namespace ui
