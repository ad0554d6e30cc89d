#include "ui/form.h"
#include "ui/std_controls.h"

#include "control_test_access.h"
#include "platform/text.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include <cctype>

using namespace ui;
using platform::Cp;

namespace {

void Key(QWidget* widget, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
}

TEST(EditKeyFilter, SeesEveryTypedPastedOrDroppedCharacterButNotTextSetByCode) {
    TForm form;
    TEdit edit(&form);
    auto* line = static_cast<QLineEdit*>(uitest::WidgetOf(edit));
    std::string seen;
    bool dropBackspace = false;
    edit.OnKeyPress = [&](char& key) {
        seen += key;
        if (key == 8) {
            if (dropBackspace) key = 0;
        } else if (key == 'u') {
            key = 'U'; // a key may also be replaced
        } else if (!std::isdigit(static_cast<unsigned char>(key))) {
            key = 0;
        }
    };
    edit.SetText(Cp("я1"));
    EXPECT_EQ(edit.Text(), Cp("я1"));
    EXPECT_EQ(seen, "");

    Key(line, Qt::Key_5, "5");
    Key(line, Qt::Key_A, "a");
    Key(line, Qt::Key_U, "u");
    Key(line, 0, QString::fromUtf8("я"));
    EXPECT_EQ(edit.Text(), Cp("я15U"));
    EXPECT_EQ(seen, Cp("5auя"));
    Key(line, Qt::Key_Backspace, "\b");
    EXPECT_EQ(edit.Text(), Cp("я15"));
    dropBackspace = true;
    Key(line, Qt::Key_Backspace, "\b");
    EXPECT_EQ(edit.Text(), Cp("я15"));

    seen.clear();
    QApplication::clipboard()->setText(QString::fromUtf8("2x,3б4"));
    line->paste();
    EXPECT_EQ(edit.Text(), Cp("я15234"));
    EXPECT_EQ(seen, Cp("2x,3б4")) << "each pasted character once";
    line->setCursorPosition(1);
    line->insert("u9.");
    EXPECT_EQ(edit.Text(), Cp("яU915234"));
    line->selectAll();
    line->insert("xy");
    Key(line, Qt::Key_A, "a");
    EXPECT_EQ(edit.Text(), Cp("яU915234")) << "nothing let through: the selection stays";
    EXPECT_EQ(line->selectedText(), line->text());
}

TEST(SpinEdits, StayWithinTheirRangeAndChangeOnTheUsersDoingOnly) {
    TForm form;
    TSpinEdit spin(&form);
    int changes = 0;
    spin.OnChange = [&] { ++changes; };
    spin.SetRange(1, 65535);
    spin.SetValue(70000);
    EXPECT_EQ(spin.Value(), 65535);
    spin.SetValue(0);
    EXPECT_EQ(spin.Value(), 1);
    EXPECT_EQ(changes, 0);
    auto* box = static_cast<QSpinBox*>(uitest::WidgetOf(spin));
    box->stepUp();
    EXPECT_EQ(spin.Value(), 2);
    EXPECT_EQ(changes, 1);
    // Typed and not yet confirmed: read as it stands, clamped.
    box->findChild<QLineEdit*>()->setText("99999");
    EXPECT_EQ(spin.Value(), 65535);
    EXPECT_EQ(spin.MinValue(), 1);
    EXPECT_EQ(spin.MaxValue(), 65535);
}

TEST(PanelsAndImages, ShowTheirColourAndPixels) {
    TForm form;
    TPanel panel(&form, "WWW");
    panel.SetBounds(0, 0, 120, 40);
    panel.SetFontSize(20);
    panel.SetFontBold(true);
    panel.SetFontColor(128); // dark red: red in the low byte
    const QImage shot = uitest::WidgetOf(panel)->grab().toImage();
    bool darkRed = false;
    for (int y = 0; y < shot.height() && !darkRed; ++y)
        for (int x = 0; x < shot.width() && !darkRed; ++x)
            darkRed = shot.pixelColor(x, y) == QColor(128, 0, 0);
    EXPECT_TRUE(darkRed);

    TImage image(&form);
    image.SetBounds(0, 50, 10, 10);
    EXPECT_TRUE(image.Empty());
    // Two rows of two pixels, blue-green-red, with padding between the rows.
    const uint8_t bgr[] = {255, 0, 0, 0, 255, 0, 0xEE, 0xEE, 0, 0, 255, 10, 20, 30};
    image.SetPicture(2, 2, 8, bgr);
    EXPECT_FALSE(image.Empty());
    const QImage picture = uitest::WidgetOf(image)->grab().toImage();
    EXPECT_EQ(picture.pixelColor(0, 0), QColor(0, 0, 255));
    EXPECT_EQ(picture.pixelColor(1, 0), QColor(0, 255, 0));
    EXPECT_EQ(picture.pixelColor(0, 1), QColor(255, 0, 0));
    EXPECT_EQ(picture.pixelColor(1, 1), QColor(30, 20, 10));
    image.SetPicture(0, 0, 0, nullptr);
    EXPECT_TRUE(image.Empty());
}

TEST(DefaultButtons, EnterInTheFormClicksTheEnabledDefaultButton) {
    TForm form;
    TEdit edit(&form);
    TButton ok(&form, "OK");
    form.Show();
    ok.SetModalResult(mrOk);
    int clicks = 0;
    ok.OnClick = [&] { ++clicks; };
    Key(uitest::WidgetOf(edit), Qt::Key_Return, "\r");
    EXPECT_EQ(clicks, 0) << "no default button yet";
    ok.SetDefault(true);
    ok.SetEnabled(false);
    Key(uitest::WidgetOf(edit), Qt::Key_Return, "\r");
    EXPECT_EQ(clicks, 0) << "disabled";
    ok.SetEnabled(true);
    QTimer::singleShot(0, uitest::WidgetOf(edit), [&] { Key(uitest::WidgetOf(edit), Qt::Key_Return, "\r"); });
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(clicks, 1);
}

} // namespace
