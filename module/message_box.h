// The module's question and alarm box.
#pragma once

#include <string>

#include "styledbuttons/pixels/bitmap24.h"
#include "styledbuttons/sbutton.h"
#include "ui/form.h"
#include "ui/std_controls.h"

namespace module {

class TMessageBoxDialog : public ui::TForm {
public:
    TMessageBoxDialog();

    ui::TPanel QuestionPanel;
    ui::TImage QuestionImage;
    // Holders of the other pictures, never shown.
    ui::TImage ErrorImage;
    ui::TImage InformationImage;
    ui::TLabel MessageLabel;
    styledbuttons::TsBitBtn OkBitBtn;
    styledbuttons::TsBitBtn CancelBitBtn;

    // What ErrorImage holds, to be shown in place of the question.
    styledbuttons::Bitmap24 ErrorPicture;
};

// Shows the box modally: 1 for "Да", 2 for "Нет" or closing. The box is modal to the whole
// application and centred on the screen; the parent is the window that asks.
int AskBox(ui::TForm* parent, const std::string& caption, const std::string& text, bool bold,
           bool withCancel);
// The same with the error picture in place of the question.
int InfoBox(ui::TForm* parent, const std::string& caption, const std::string& text, bool bold,
            bool withCancel);

} // namespace module
