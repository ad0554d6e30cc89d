// The base of every form and control: a Qt widget and a handle in the platform window registry, whose
// procedure receives the system's message numbers on the thread of the application.
//
// Controls belong to whoever holds them (usually members of their form). Each one deletes its widget;
// one whose widget went with its parent's becomes inert. A control's procedure may run whenever its
// thread pumps messages, so a class destroys what its procedure touches in its destructor's body,
// not through members that wait for other threads.
#pragma once

#include "platform/messages.h"
#include "ui/application.h"
#include "ui/messages.h"

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <utility>

namespace ui {

using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::UINT;
using platform::WPARAM;

class TControl;
class TPopupMenu;
// The tests' way to a control's widget; only the tests define it.
struct TControlTestAccess;

// A colour value: red in the low byte, then green, then blue.
using TColor = uint32_t;

// The keys held, as key and mouse messages carry them.
int ShiftStateOf(Qt::KeyboardModifiers modifiers);

// The handle of the control a widget belongs to; 0 for a widget of no control.
HWND HandleOf(const QWidget* widget);
// The control a widget belongs to; nullptr for a widget of no control.
TControl* ControlOf(const QWidget* widget);

// A widget made once the application exists, for the constructors of controls.
template <typename W, typename... Args> W* MakeWidget(Args&&... args) {
    EnsureApplication();
    return new W(std::forward<Args>(args)...);
}

class TControl {
public:
    virtual ~TControl();
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    HWND Handle() const { return handle_; }
    TControl* Parent() const { return parent_; }

    virtual void SetVisible(bool visible);
    bool Visible() const;
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    void SetEnabled(bool enabled);
    bool Enabled() const;

    void SetBounds(int left, int top, int width, int height);
    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
    void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
    void SetWidth(int width) { SetBounds(Left(), Top(), width, Height()); }
    void SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }

    void SetFontSize(int points);
    void SetFontBold(bool bold);
    void SetFontColor(TColor color);

    // Paints at once, not at the next turn of the loop.
    void Repaint();
    // Shows the menu where the user asks for a context menu over the control; nullptr removes it. A
    // menu that is destroyed is forgotten.
    void SetPopupMenu(TPopupMenu* menu);

protected:
    // Takes ownership of the widget and places it into the parent's client area.
    TControl(QWidget* widget, TControl* parent);
    // The widget stays behind the library: its controls and the controls derived from them reach it,
    // the programs' windows use the controls' operations.
    QWidget* Widget() const { return widget_.data(); }
    // Another control's widget (a parent's, a header's).
    static QWidget* WidgetOf(const TControl& control) { return control.Widget(); }
    // The window procedure; messages nobody handles answer 0.
    virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Where child controls are placed (a group box's or a page's inside).
    virtual QWidget* ClientWidget() const { return Widget(); }

private:
    friend struct TControlTestAccess;
    QPointer<QWidget> widget_;
    TControl* parent_ = nullptr;
    HWND handle_ = 0;
    QPointer<QMenu> popupMenu_;
    bool popupConnected_ = false;
};

} // namespace ui
