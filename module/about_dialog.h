// The about box: the driver's own text beside its logo.
#pragma once

#include "platform/messages.h"
#include "styledbuttons/sbutton.h"
#include "ui/form.h"
#include "ui/std_controls.h"

namespace module {

class TAboutDialog : public ui::TForm {
public:
    TAboutDialog();

    void OnCreateDialog();

    ui::TLabel MsgLabel;
    ui::TImage LogoImage;
    styledbuttons::TsBitBtn OkBitBtn;
};

// Shows the box modally; false, showing nothing, where no window can be made on the calling thread.
bool ShowAboutDialog(platform::HWND parent);

} // namespace module
