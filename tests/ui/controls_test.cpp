#include "ui/application.h"
#include "ui/form.h"
#include "ui/memo.h"
#include "ui/page_control.h"
#include "ui/std_controls.h"
#include "ui/timer.h"

#include "control_test_access.h"
#include "platform/text.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace ui;
using platform::Cp;

namespace {

const std::string CyrillicUtf8 = "Блокировка терминалов Ёё №";

TEST(ControlText, CyrillicRoundTripsAsCp1251AndShowsAsUnicode) {
    const std::string cp = Cp(CyrillicUtf8);
    ASSERT_NE(cp, CyrillicUtf8);
    const QString shown = QString::fromUtf8(CyrillicUtf8.c_str());
    TForm form;
    form.SetCaption(cp);
    TLabel label(&form, cp);
    TEdit edit(&form);
    edit.SetText(cp);
    TCheckBox check(&form, cp);
    TButton button(&form, cp);
    TGroupBox group(&form, cp);
    TComboBox combo(&group);
    combo.AddItem(cp);

    EXPECT_EQ(form.Caption(), cp);
    EXPECT_EQ(label.Caption(), cp);
    EXPECT_EQ(edit.Text(), cp);
    EXPECT_EQ(check.Caption(), cp);
    EXPECT_EQ(button.Caption(), cp);
    EXPECT_EQ(group.Caption(), cp);
    EXPECT_EQ(combo.Item(0), cp);

    EXPECT_EQ(uitest::WidgetOf(form)->windowTitle(), shown);
    EXPECT_EQ(static_cast<QLabel*>(uitest::WidgetOf(label))->text(), shown);
    EXPECT_EQ(static_cast<QLineEdit*>(uitest::WidgetOf(edit))->text(), shown);
    EXPECT_EQ(static_cast<QCheckBox*>(uitest::WidgetOf(check))->text(), shown);
    EXPECT_EQ(static_cast<QPushButton*>(uitest::WidgetOf(button))->text(), shown);
    EXPECT_EQ(static_cast<QGroupBox*>(uitest::WidgetOf(group))->title(), shown);
    EXPECT_EQ(static_cast<QComboBox*>(uitest::WidgetOf(combo))->itemText(0), shown);

    // What the user types beyond cp1251 becomes '?'; the euro sign is in it.
    static_cast<QLineEdit*>(uitest::WidgetOf(edit))->setText(QString::fromUtf8("€ 漢"));
    EXPECT_EQ(edit.Text(), std::string("\x88 ?"));
}

TEST(ControlEvents, RunOnTheUsersDoingOnly) {
    TForm form;
    TEdit edit(&form);
    TCheckBox check(&form);
    TComboBox combo(&form);
    int edits = 0, clicks = 0, changes = 0;
    edit.OnChange = [&] { ++edits; };
    check.OnClick = [&] { ++clicks; };
    combo.OnChange = [&] { ++changes; };

    edit.SetText("a");
    check.SetChecked(true);
    combo.AddItem("one");
    combo.AddItem("two");
    EXPECT_EQ(combo.ItemIndex(), -1) << "adding items selects nothing";
    combo.SetItemIndex(1);
    EXPECT_EQ(combo.ItemIndex(), 1);
    EXPECT_EQ(combo.Text(), "two");
    EXPECT_EQ(edits + clicks + changes, 0);

    static_cast<QCheckBox*>(uitest::WidgetOf(check))->click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(check.Checked());
    static_cast<QLineEdit*>(uitest::WidgetOf(edit))->insert("b");
    EXPECT_EQ(edits, 1);
    emit static_cast<QComboBox*>(uitest::WidgetOf(combo))->activated(0);
    EXPECT_EQ(changes, 1);

    combo.SetItemIndex(5);
    EXPECT_EQ(combo.ItemIndex(), -1);
    EXPECT_EQ(combo.Item(5), "");
    combo.ClearItems();
    EXPECT_EQ(combo.ItemCount(), 0);

    // A disabled button ignores Click.
    TButton button(&form);
    int pressed = 0;
    button.OnClick = [&] { ++pressed; };
    button.SetEnabled(false);
    button.Click();
    button.SetEnabled(true);
    button.Click();
    EXPECT_EQ(pressed, 1);
}

TEST(PageControls, PagesKeepTheirIndexWhenTheirTabIsHidden) {
    TForm form;
    TPageControl pages(&form);
    TTabSheet state(pages, Cp("Состояние"));
    TTabSheet devices(pages, Cp("Устройства"));
    TTabSheet remote(pages, Cp("Удаленный доступ"));
    TPageControl sub(&devices);
    TTabSheet requests(sub, Cp("Запросы"));
    TButton onPage(&requests, "ok");
    onPage.SetModalResult(mrOk);
    EXPECT_EQ(pages.PageCount(), 3);
    EXPECT_EQ(remote.PageIndex(), 2);
    EXPECT_EQ(devices.Caption(), Cp("Устройства"));
    EXPECT_EQ(static_cast<QTabWidget*>(uitest::WidgetOf(pages))->tabText(1), QString::fromUtf8("Устройства"));
    remote.SetTabVisible(false);
    EXPECT_FALSE(remote.TabVisible());
    EXPECT_EQ(remote.PageIndex(), 2);
    pages.SetActivePageIndex(1);
    EXPECT_EQ(pages.ActivePageIndex(), 1);
    pages.SetActivePageIndex(7);
    EXPECT_EQ(pages.ActivePageIndex(), 1);
    // A button on a page of a page still gives the form its modal result.
    EXPECT_EQ(uitest::WidgetOf(onPage)->window(), uitest::WidgetOf(form));
    TTimer timer;
    timer.SetInterval(10);
    timer.OnTimer = [&] { onPage.Click(); };
    timer.SetEnabled(true);
    EXPECT_EQ(form.ShowModal(), mrOk);
}

std::string Shown(const TMemo& memo) {
    return FromQt(static_cast<QPlainTextEdit*>(uitest::WidgetOf(memo))->toPlainText());
}

TEST(Memos, LineAccessStaysInStepWithTheControl) {
    TForm form;
    TMemo memo(&form);
    EXPECT_EQ(memo.Lines().Count(), 0);
    memo.Lines().Add(Cp("(0) Первая"));
    memo.Lines().Add("");
    memo.Lines().Add("third");
    ASSERT_EQ(memo.Lines().Count(), 3);
    EXPECT_EQ(memo.Lines()[0], Cp("(0) Первая"));
    EXPECT_EQ(memo.Lines()[1], "");
    EXPECT_EQ(memo.Lines()[3], "");
    EXPECT_EQ(Shown(memo), Cp("(0) Первая") + "\n\nthird");
    EXPECT_EQ(memo.Text(), Cp("(0) Первая") + "\r\n\r\nthird");
    EXPECT_EQ(memo.Lines().Text(), Cp("(0) Первая") + "\r\n\r\nthird\r\n");

    memo.Lines().Delete(0);
    EXPECT_EQ(Shown(memo), "\nthird");
    memo.Lines().Delete(1);
    EXPECT_EQ(Shown(memo), "");
    EXPECT_EQ(memo.Lines().Count(), 1);
    memo.Lines().Delete(0);
    memo.Lines().Delete(0);
    EXPECT_EQ(memo.Lines().Count(), 0);

    // Any line break splits; a break at the end adds no line.
    memo.SetText("a\r\nb\nc\rd\r\n");
    EXPECT_EQ(memo.Lines().Count(), 4);
    EXPECT_EQ(memo.Lines()[3], "d");
    memo.Lines().Add("e\r\nf");
    EXPECT_EQ(memo.Lines().Count(), 6);
    memo.Lines().Clear();
    EXPECT_EQ(memo.Text(), "");
    EXPECT_EQ(Shown(memo), "");

    // A long log trimmed from the front, line by line.
    for (int i = 0; i < 600; ++i) {
        while (memo.Lines().Count() > 500)
            memo.Lines().Delete(0);
        memo.Lines().Add(std::to_string(i));
    }
    EXPECT_EQ(memo.Lines().Count(), 501);
    EXPECT_EQ(memo.Lines()[0], "99");
    EXPECT_EQ(static_cast<QPlainTextEdit*>(uitest::WidgetOf(memo))->document()->blockCount(), 501);
    EXPECT_EQ(Shown(memo).substr(0, 7), "99\n100\n");
}

TEST(Memos, FollowWhatTheUserTypesAndSaveWithCrLf) {
    TForm form;
    TMemo memo(&form);
    static_cast<QPlainTextEdit*>(uitest::WidgetOf(memo))->setPlainText(QString::fromUtf8("один\nдва\n"));
    ASSERT_EQ(memo.Lines().Count(), 3);
    EXPECT_EQ(memo.Lines()[1], Cp("два"));
    EXPECT_EQ(memo.Lines()[2], "");

    memo.SetText(Cp("строка 1\r\nline 2"));
    char path[] = "/tmp/memo-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_TRUE(memo.Lines().SaveToFile(path));
    std::ifstream in(path, std::ios::binary);
    std::stringstream read;
    read << in.rdbuf();
    EXPECT_EQ(read.str(), Cp("строка 1\r\nline 2\r\n"));
    std::remove(path);
    EXPECT_FALSE(memo.Lines().SaveToFile("/nonexistent-dir/x.txt"));
}

// A log's memo keeps its scroll bar while every line fits, and shows its newest lines on request.
TEST(Memos, KeepTheirScrollBarAndScrollToTheEnd) {
    TForm form;
    TMemo log(&form);
    log.SetBounds(0, 0, 100, 100);
    log.ShowVerticalScrollBar();
    form.Show();
    QScrollBar* bar = static_cast<QPlainTextEdit*>(uitest::WidgetOf(log))->verticalScrollBar();
    std::string lines;
    for (int i = 0; i < 200; ++i)
        lines += std::to_string(i) + "\r\n";
    for (const std::string& text : {std::string("one line"), lines}) {
        const bool scrolls = text == lines;
        log.SetText(text);
        ASSERT_TRUE(uitest::SpinUntil([&] { return (bar->maximum() > 0) == scrolls; })) << scrolls;
        EXPECT_TRUE(bar->isVisible());
        EXPECT_EQ(bar->value(), 0);
        log.ScrollToEnd();
        EXPECT_EQ(bar->value(), bar->maximum());
    }
}

TEST(Memos, SplitLines) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), V{});
    EXPECT_EQ(SplitLines("\r\n"), V{""});
    EXPECT_EQ(SplitLines("\n\r"), (V{"", ""}));
    EXPECT_EQ(SplitLines("x\r\r\ny"), (V{"x", "", "y"}));
}

} // namespace
