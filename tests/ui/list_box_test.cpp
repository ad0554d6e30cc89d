#include "ui/form.h"
#include "ui/list_box.h"
#include "ui/std_controls.h"

#include "control_test_access.h"
#include "platform/text.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QMouseEvent>

using namespace ui;
using platform::Cp;

namespace {

struct TwoColumnList {
    TForm form;
    TLabel nameHeader{&form, Cp("Параметр:")};
    TLabel valueHeader{&form, Cp("Значение:")};
    TListBox list{&form};
    TwoColumnList() {
        form.SetClientSize(320, 200);
        nameHeader.SetBounds(30, 0, 80, 16);
        valueHeader.SetBounds(160, 0, 80, 16);
        list.SetBounds(10, 20, 300, 170);
        list.SetTwoColumns(nameHeader, valueHeader);
    }
    QListWidget* Widget() const { return static_cast<QListWidget*>(uitest::WidgetOf(list)); }
    // A row of the list's picture, in the list's coordinates.
    QRect Row(int index) const {
        const QRect r = Widget()->visualItemRect(Widget()->item(index));
        return r.translated(Widget()->viewport()->pos());
    }
};

bool AnyPixel(const QImage& image, QRect area, const std::function<bool(QColor)>& test) {
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixelColor(x, y))) return true;
    return false;
}

TEST(ListBoxes, TwoColumnRowsAreNavyWhenSelectedAndSplitUnderTheHeaders) {
    TwoColumnList t;
    t.list.BeginUpdate();
    t.list.AddItem(Cp("Имя") + "\x08" + "WWW");
    t.list.AddItem(std::string("\x08") + "WWW");
    t.list.AddItem("no split");
    t.list.EndUpdate();
    t.list.SetItemIndex(0);
    t.form.Show();
    ASSERT_EQ(t.list.ItemCount(), 3);
    EXPECT_EQ(t.list.Item(1), "\x08WWW");

    const QImage image = t.Widget()->grab().toImage();
    const QColor navy(0, 0, 128), white(Qt::white);
    const int nameX = 30 - 10, valueX = 160 - 10; // header x in the list's coordinates
    const QRect row0 = t.Row(0), row1 = t.Row(1);
    ASSERT_GT(row0.height(), 4);
    EXPECT_EQ(image.pixelColor(row0.left() + 1, row0.center().y()), navy);
    EXPECT_EQ(image.pixelColor(row1.left() + 1, row1.center().y()), white);
    // The name starts at the first header, the value at the second.
    auto isNotNavy = [&](QColor c) { return c != navy; };
    auto isNotWhite = [&](QColor c) { return c != white; };
    EXPECT_FALSE(
        AnyPixel(image, QRect(row0.left(), row0.top(), nameX - row0.left(), row0.height()), isNotNavy));
    EXPECT_TRUE(AnyPixel(image, QRect(nameX, row0.top(), valueX - nameX, row0.height()), isNotNavy));
    EXPECT_TRUE(AnyPixel(image, QRect(valueX, row0.top(), 60, row0.height()), isNotNavy));
    EXPECT_FALSE(
        AnyPixel(image, QRect(row1.left(), row1.top(), valueX - row1.left(), row1.height()), isNotWhite));
    EXPECT_TRUE(AnyPixel(image, QRect(valueX, row1.top(), 60, row1.height()), isNotWhite));
    // Text is centred vertically: as much row above the glyphs as below, give or take the descent.
    int top = row1.bottom(), bottom = row1.top();
    for (int y = row1.top(); y <= row1.bottom(); ++y)
        if (AnyPixel(image, QRect(valueX, y, 60, 1), isNotWhite))
            top = std::min(top, y), bottom = std::max(bottom, y);
    EXPECT_LE(std::abs((top - row1.top()) - (row1.bottom() - bottom)), 3);

    // A name and a value far longer than a screen show 1,024 characters each; the item stays whole.
    const std::string longRow = Cp("Имя") + std::string(100000, 'N') + "\x08" + std::string(100000, 'W');
    t.list.SetItem(1, longRow);
    EXPECT_EQ(t.list.Item(1), longRow);
    const QString shown = t.Widget()->item(1)->text();
    EXPECT_EQ(shown, QString::fromUtf8("Имя") + QString(1021, 'N') + QChar(8) + QString(1024, 'W'))
        << shown.left(10).toStdString() << " ... " << shown.size() << " characters";
}

TEST(ListBoxes, EventsRunOnTheUsersDoingOnly) {
    TwoColumnList t;
    int changes = 0, doubleClicks = 0;
    t.list.OnChange = [&] { ++changes; };
    t.list.OnDblClick = [&] { ++doubleClicks; };
    for (const char* item : {"a", "b", "c"})
        t.list.AddItem(item);
    t.list.SetItemIndex(2);
    t.list.DeleteItem(2);
    t.list.SetItemIndex(9);
    EXPECT_EQ(t.list.ItemIndex(), -1);
    t.form.Show();
    EXPECT_EQ(changes, 0);

    t.Widget()->setCurrentRow(1); // as a key or a click does
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(t.list.ItemIndex(), 1);
    const QPoint at = t.Widget()->visualItemRect(t.Widget()->item(0)).center();
    for (QEvent::Type type :
         {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick}) {
        QMouseEvent event(type, at, t.Widget()->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(t.Widget()->viewport(), &event);
    }
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_EQ(t.list.ItemIndex(), 0);
    EXPECT_EQ(changes, 2);
    t.list.ClearItems();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(t.list.ItemIndex(), -1);
}

} // namespace
