#include "module/log_window.h"

#include "framework/driver_error.h"
#include "module/module_pictures.h"
#include "module/qt_application.h"
#include "platform/text.h"

namespace module {

TLogWindow::TLogWindow() : LogImage(this), LogMemo(this), InfoLabel(this), CloseBitBtn(this, "Закрыть"_cp) {
    SetCaption("Журнал работы драйвера..."_cp);
    SetClientSize(560, 400);
    SetFixedSize(true);
    LogImage.SetBounds(8, 4, 48, 48);
    ShowPicture(LogImage, ModulePicture("QuillaryLog.bmp"));
    InfoLabel.SetBounds(64, 8, 488, 40);
    InfoLabel.SetWordWrap(true);
    InfoLabel.SetCaption(
        "Сообщения драйвера о его работе и об ошибках с момента его загрузки. Новые сообщения "
        "появляются в журнале, пока окно открыто."_cp);
    LogMemo.SetBounds(8, 56, 544, 296);
    LogMemo.SetReadOnly(true);
    LogMemo.ShowVerticalScrollBar();
    CloseBitBtn.SetBounds(442, 362, 110, 30);
    CloseBitBtn.SetModalResult(ui::mrCancel);
    styledbuttons::ApplyFormButtonLook(CloseBitBtn);
    CenterOnScreen();
    OnCreateDialog();
}

void TLogWindow::OnCreateDialog() {
    ReloadLog();
}

void TLogWindow::ReloadLog() {
    framework::TDriverErrorClass* errors = framework::ErrorObj;
    if (errors == nullptr) return;
    LogMemo.SetText(errors->Log->GetText());
    // The newest report is the one to see.
    LogMemo.ScrollToEnd();
}

ui::LRESULT TLogWindow::WMDriverError() {
    ReloadLog();
    return 0;
}

ui::LRESULT TLogWindow::WndProc(ui::UINT msg, ui::WPARAM wParam, ui::LPARAM lParam) {
    if (msg == framework::WM_DRIVERERROR) return WMDriverError();
    return TForm::WndProc(msg, wParam, lParam);
}

bool ShowLogWindow(platform::HWND) {
    if (!UseApplication()) return false;
    TLogWindow window;
    // No line is sent to the window once it is gone, however its loop ends.
    const struct TForget {
        ~TForget() { framework::LogWindowHandle = 0; }
    } forget;
    framework::LogWindowHandle = window.Handle();
    window.ShowModal();
    return true;
}

} // namespace module
