#include "ui/application.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "ui/icon.h"
#include "ui/menus.h"
#include "ui/std_controls.h"
#include "ui/timer.h"
#include "ui/tray_icon.h"

#include "control_test_access.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <optional>

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace ui;
using namespace uitest;
using platform::Cp;

namespace {

// A folder of the test's own, removed afterwards.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/ui-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool WritePicture(const std::string& path, const char* format) {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image.save(QString::fromStdString(path), format);
}

TEST(Timers, FireUntilDisabledAndRestartOnChange) {
    TTimer timer;
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    int ticks = 0;
    timer.OnTimer = [&] {
        if (++ticks == 3) timer.SetEnabled(false);
    };
    timer.SetInterval(5);
    timer.SetEnabled(true);
    EXPECT_TRUE(SpinUntil([&] { return ticks >= 3; }));
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(ticks, 3);

    // A raising handler does not stop the timer.
    timer.OnTimer = [&] {
        ++ticks;
        throw std::runtime_error("tick");
    };
    timer.SetEnabled(true);
    EXPECT_TRUE(SpinUntil([&] { return ticks >= 5; }));
}

// Only a wait that serves the loop runs Qt's timers: a window's own handler that waits for its threads
// must not be entered again from inside itself.
TEST(Waits, QtTimersRunOnlyInAWaitThatServesTheLoop) {
    ui::EnsureApplication();
    for (const bool serving : {false, true}) {
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(0);
        {
            std::optional<platform::TWaitsServeLoop> scope;
            if (serving) scope.emplace();
            platform::WaitDispatching([] { return false; }, 50);
        }
        EXPECT_EQ(ticks > 0, serving) << ticks;
    }
}

TEST(Icons, LoadFromPictureFiles) {
    TempDir dir;
    ASSERT_TRUE(WritePicture(dir / "Quillary.ico", "ICO"));
    TIcon icon;
    EXPECT_TRUE(icon.Empty());
    EXPECT_FALSE(icon.LoadFromFile(dir / "missing.ico"));
    EXPECT_TRUE(icon.Empty());
    ASSERT_TRUE(icon.LoadFromFile(dir / "Quillary.ico"));
    EXPECT_FALSE(icon.Empty());
    EXPECT_FALSE(icon.QtIcon().availableSizes().isEmpty());
}

TEST(TrayIcons, FailWhereTheDesktopHasNoTray) {
    TempDir dir;
    ASSERT_TRUE(WritePicture(dir / "tray.png", "PNG"));
    TIcon icon;
    ASSERT_TRUE(icon.LoadFromFile(dir / "tray.png"));
    TForm form;
    TTrayIcon tray(form.Handle(), 1, 1359);
    EXPECT_FALSE(tray.Add(icon, Cp("Сервер")));
    EXPECT_FALSE(tray.Shown());
    EXPECT_FALSE(tray.Add(TIcon(), "x"));
}

TEST(PopupMenus, ItemsRunTheirHandlerWhileEnabled) {
    TForm form;
    TEdit edit(&form);
    TPopupMenu menu;
    int saves = 0;
    TMenuItem& save = menu.Add(Cp("Сохранить в файл..."), [&] { ++saves; });
    EXPECT_EQ(save.Caption(), Cp("Сохранить в файл..."));
    save.Click();
    save.SetEnabled(false);
    save.Click();
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(menu.Count(), 1u);

    // The context menu request over the control shows it.
    edit.SetPopupMenu(&menu);
    form.Show();
    emit uitest::WidgetOf(edit)->customContextMenuRequested(QPoint(2, 2));
    EXPECT_TRUE(menu.Menu()->isVisible());
    menu.Menu()->close();
}

// The file dialog on screen, if any; the active modal widget is not set on every platform.
QFileDialog* OpenFileDialog() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog != nullptr && dialog->isVisible()) return dialog;
    }
    return nullptr;
}

// Answers the next file dialog that opens, as a user would.
void AnswerFileDialog(const std::function<void(QFileDialog&)>& answer, bool& answered) {
    EnsureApplication(); // timers need it
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, &answered] {
        if (auto* dialog = OpenFileDialog()) {
            answered = true;
            poll->stop();
            poll->deleteLater();
            answer(*dialog);
        }
    });
    poll->start(10);
    // Never left behind: a dialog that does not open fails the test, the timer goes with the deadline.
    QTimer::singleShot(DeadlineMs, poll, [poll] {
        poll->stop();
        if (auto* dialog = OpenFileDialog()) dialog->reject();
        poll->deleteLater();
    });
}

TEST(SaveDialogs, ReturnTheChosenNameWithTheDefaultExtension) {
    TempDir dir;
    TSaveDialog dialog;
    dialog.Title = Cp("Сохранить как...");
    dialog.Filter = "Text files|*.txt|All files|*.*";
    dialog.DefaultExt = "txt";
    dialog.FileName = dir / "first.txt";
    QString shownTitle;
    bool answered = false;
    AnswerFileDialog(
        [&](QFileDialog& d) {
            shownTitle = d.windowTitle();
            // Typed as a user does: selectFile leaves the name field alone once it has the focus.
            auto* name = d.findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(dir / "requests"));
            static_cast<QDialog&>(d).accept(); // as the Save button does
        },
        answered);
    ASSERT_TRUE(dialog.Execute());
    EXPECT_TRUE(answered);
    EXPECT_EQ(shownTitle, QString::fromUtf8("Сохранить как..."));
    EXPECT_EQ(dialog.FileName, dir / "requests.txt");

    answered = false;
    AnswerFileDialog([](QFileDialog& d) { d.reject(); }, answered);
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(answered);
    EXPECT_EQ(dialog.FileName, dir / "requests.txt");
}

TEST(SaveDialogs, FilterInQtForm) {
    EXPECT_EQ(QtFilter("Text files|*.txt;*.log|All files|*.*"), "Text files (*.txt *.log);;All files (*.*)");
    EXPECT_EQ(QtFilter("Logs"), "Logs");
    EXPECT_EQ(QtFilter(""), "");
}

TEST(FormPictures, SaveAsPng) {
    TempDir dir;
    TForm form;
    form.SetClientSize(200, 120);
    TLabel label(&form, Cp("Сервер остановлен."));
    label.SetBounds(10, 10, 180, 20);
    form.Show();
    ASSERT_TRUE(form.SaveImage(dir / "form.png"));
    QImage saved(QString::fromStdString(dir / "form.png"));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.width() * 1.0 / saved.height(), 200.0 / 120.0);
    EXPECT_FALSE(form.SaveImage("/nonexistent-dir/form.png"));
}

} // namespace
