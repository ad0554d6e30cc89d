#include "module/about_dialog.h"

#include "framework/driver.h"
#include "module/module_pictures.h"
#include "module/qt_application.h"
#include "platform/text.h"

namespace module {

TAboutDialog::TAboutDialog() : MsgLabel(this), LogoImage(this), OkBitBtn(this, "OK") {
    SetCaption("О драйвере..."_cp);
    SetClientSize(420, 200);
    SetFixedSize(true);
    MsgLabel.SetBounds(96, 8, 316, 140);
    MsgLabel.SetWordWrap(true);
    LogoImage.SetBounds(16, 16, 64, 64);
    ShowPicture(LogoImage, ModulePicture("QuillaryLogo.bmp"));
    OkBitBtn.SetBounds(155, 160, 110, 30);
    OkBitBtn.SetModalResult(ui::mrOk);
    styledbuttons::ApplyFormButtonLook(OkBitBtn);
    CenterOnScreen();
    OnCreateDialog();
}

void TAboutDialog::OnCreateDialog() {
    if (framework::Driver != nullptr) MsgLabel.SetCaption(framework::Driver->GetAboutText());
}

bool ShowAboutDialog(platform::HWND) {
    if (!UseApplication()) return false;
    TAboutDialog dialog;
    dialog.ShowModal();
    return true;
}

} // namespace module
