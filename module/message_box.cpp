#include "module/message_box.h"

#include <algorithm>

#include "module/module_pictures.h"
#include "platform/text.h"

namespace module {
namespace {

// A text taller than its label makes the box taller, as far as the screen has room.
void FitText(TMessageBoxDialog& dialog) {
    const int grow = std::min(dialog.MessageLabel.TextHeight() - dialog.MessageLabel.Height(),
                              dialog.MaxClientHeight() - dialog.Height());
    if (grow <= 0) return;
    dialog.SetFixedSize(false);
    dialog.SetClientSize(dialog.Width(), dialog.Height() + grow);
    dialog.SetFixedSize(true);
    dialog.MessageLabel.SetHeight(dialog.MessageLabel.Height() + grow);
    dialog.OkBitBtn.SetTop(dialog.OkBitBtn.Top() + grow);
    dialog.CancelBitBtn.SetTop(dialog.CancelBitBtn.Top() + grow);
    dialog.CenterOnScreen();
}

int ShowBox(TMessageBoxDialog& dialog, const std::string& caption, const std::string& text, bool bold,
            bool withCancel) {
    dialog.SetCaption(caption);
    dialog.MessageLabel.SetCaption(text);
    if (!withCancel) {
        dialog.CancelBitBtn.Hide();
        dialog.OkBitBtn.SetCancel(true);
        dialog.OkBitBtn.SetLeft((dialog.Width() - dialog.OkBitBtn.Width()) / 2);
    }
    if (bold) dialog.MessageLabel.SetFontBold(true);
    FitText(dialog);
    return dialog.ShowModal();
}

} // namespace

TMessageBoxDialog::TMessageBoxDialog()
    : QuestionPanel(this), QuestionImage(&QuestionPanel), ErrorImage(this), InformationImage(this),
      MessageLabel(this), OkBitBtn(this, "Да"_cp), CancelBitBtn(this, "Нет"_cp) {
    SetCaption("Внимание"_cp);
    SetClientSize(400, 150);
    SetFixedSize(true);
    QuestionPanel.SetBounds(12, 12, 56, 56);
    QuestionImage.SetBounds(4, 4, 48, 48);
    ShowPicture(QuestionImage, ModulePicture("QuillaryQuestion.bmp"));
    ErrorPicture = ModulePicture("QuillaryError.bmp");
    ShowPicture(ErrorImage, ErrorPicture);
    ShowPicture(InformationImage, ModulePicture("QuillaryInformation.bmp"));
    ErrorImage.Hide();
    InformationImage.Hide();
    MessageLabel.SetBounds(80, 12, 308, 84);
    MessageLabel.SetWordWrap(true);
    MessageLabel.SetCentered(true);
    OkBitBtn.SetBounds(88, 108, 100, 30);
    OkBitBtn.SetModalResult(ui::mrOk);
    OkBitBtn.SetDefault(true);
    CancelBitBtn.SetBounds(212, 108, 100, 30);
    CancelBitBtn.SetModalResult(ui::mrCancel);
    // Escape answers "Нет"; a box without it lets "Да" take Escape (AskBox).
    CancelBitBtn.SetCancel(true);
    styledbuttons::ApplyFormButtonLook({&OkBitBtn, &CancelBitBtn});
    CenterOnScreen();
}

int AskBox(ui::TForm*, const std::string& caption, const std::string& text, bool bold, bool withCancel) {
    TMessageBoxDialog dialog;
    return ShowBox(dialog, caption, text, bold, withCancel);
}

int InfoBox(ui::TForm*, const std::string& caption, const std::string& text, bool bold, bool withCancel) {
    TMessageBoxDialog dialog;
    ShowPicture(dialog.QuestionImage, dialog.ErrorPicture);
    return ShowBox(dialog, caption, text, bold, withCancel);
}

} // namespace module
