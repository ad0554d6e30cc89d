// Forms: top-level windows, shown, hidden or modal with a modal result.
//
// Closing (Close, the window's close button, or a close request WM_CLOSE to the form's handle) asks
// OnCloseQuery first. A modal form then ends its loop with mrCancel; any other form runs OnClose, whose
// action decides whether it hides, and closing the application's main form ends the application.
#pragma once

#include "ui/control.h"

#include <exception>
#include <functional>
#include <string>

class QEventLoop;

namespace ui {

constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

enum class TCloseAction { None, Hide };

// The font every form and its controls are laid out for, whatever the desktop or the host sets: a
// family the set-up installs, its size in pixels so that the screen's resolution does not change it.
constexpr const char* FormFontFamily = "DejaVu Sans";
constexpr int FormFontPixels = 12;

class TForm : public TControl {
public:
    TForm();
    ~TForm() override;

    std::string Caption() const;
    void SetCaption(const std::string& caption);
    void SetClientSize(int width, int height);
    // Fixed size, as a dialog.
    void SetFixedSize(bool fixed);
    void CenterOnScreen();
    // The tallest client the form can have with its frame on the screen's work area.
    int MaxClientHeight() const;

    void SetVisible(bool visible) override;
    // Shows the form modally and returns its modal result once it has one. An exception a handler
    // raised inside its loop ends the loop and is thrown from here (HandlerRaised).
    int ShowModal();
    bool Modal() const { return modalLoop_ != nullptr; }
    int ModalResult() const { return modalResult_; }
    // On a modal form a result other than mrNone ends the loop, unless the close query refuses.
    void SetModalResult(int result);
    void Close();

    // Sends the message to the form's controls in turn until one answers non-zero, and returns that
    // answer (0 when none did).
    LRESULT Broadcast(UINT msg, WPARAM wParam, LPARAM lParam);
    // The handle of the control that has the focus in this form; 0 when none has.
    HWND ActiveControl() const;

    // Saves a picture of the form as PNG.
    bool SaveImage(const std::string& path) const;

    std::function<void(bool& canClose)> OnCloseQuery;
    std::function<void(TCloseAction& action)> OnClose;

protected:
    // WM_CLOSE closes the form.
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    // The programs' windows derive from forms: to them the widget is closed; they use the operations.
    using TControl::Widget;
    using TControl::WidgetOf;

    bool CloseQuery();
    void EndModal();
    friend void HandlerRaised();

    QEventLoop* modalLoop_ = nullptr;
    int modalResult_ = mrNone;
    bool modalEnded_ = false;
    bool closing_ = false;
    std::exception_ptr raised_;
};

// The form a control stands on; nullptr when it is on none.
TForm* GetParentForm(const TControl* control);

} // namespace ui
