// The module log window: the error object's log, followed while the window is open.
#pragma once

#include "platform/messages.h"
#include "styledbuttons/sbutton.h"
#include "ui/form.h"
#include "ui/memo.h"
#include "ui/std_controls.h"

namespace module {

class TLogWindow : public ui::TForm {
public:
    TLogWindow();

    void OnCreateDialog();

    ui::TImage LogImage;
    ui::TMemo LogMemo;
    ui::TLabel InfoLabel;
    styledbuttons::TsBitBtn CloseBitBtn;

protected:
    // WM_DRIVERERROR: the error object made a report.
    ui::LRESULT WndProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) override;

private:
    ui::LRESULT WMDriverError();
    void ReloadLog();
};

// Shows the window modally, with LogWindowHandle set to it meanwhile. False, showing nothing, where
// no window can be made on the calling thread.
bool ShowLogWindow(platform::HWND parent);

} // namespace module
