// The base of controls that paint themselves: a widget without a background of its own whose events
// reach the control's window procedure as the system's message numbers, through one dispatch.
#pragma once

#include "ui/control.h"

#include <QRegion>

#include <optional>
#include <string>

class QPainter;

namespace ui {

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TCustomControl : public TControl {
public:
    explicit TCustomControl(TControl* parent);
    ~TCustomControl() override;

    const std::string& Caption() const { return caption_; }
    // A change notifies the control with CM_TEXTCHANGED.
    void SetCaption(const std::string& caption);
    void SetTabStop(bool value);
    bool TabStop() const;
    bool Focused() const;
    void SetFocus();
    bool CanFocus() const;
    // The window takes a copy; none is the whole rectangle.
    void SetRegion(const std::optional<QRegion>& region);
    void Invalidate();

    // Runs the window procedure; an exception raised there ends here and the message counts as
    // handled.
    LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    // Mouse messages go to MouseDown and MouseUp; a character, which these controls do not take,
    // goes to the form as a dialog character.
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    virtual void Paint(QPainter& canvas);
    virtual void MouseDown(TMouseButton button, int shift, int x, int y);
    virtual void MouseUp(TMouseButton button, int shift, int x, int y);

private:
    friend class CustomWidget;
    std::string caption_;
};

} // namespace ui
