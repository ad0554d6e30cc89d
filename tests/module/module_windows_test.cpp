// The module's windows, driven in-process through their handlers and buttons, offscreen: the log
// window, the about box, the message box and the state window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom_test_support.h"
#include "module/about_dialog.h"
#include "module/log_window.h"
#include "module/module_log.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "ui/application.h"

namespace {

namespace fs = std::filesystem;

QString QtText(const std::string& cp1251) { return ui::ToQt(cp1251); }

// Answers the application's modal windows from inside their loops: the step runs on a timer
// whenever a modal window is up, until it answers true. Past the deadline the window is closed, so
// that a test fails rather than hangs.
class TModalDriver {
public:
    explicit TModalDriver(std::function<bool(QWidget*)> step, uint64_t deadlineMs = 15000)
        : step_(std::move(step)), deadline_(platform::MonotonicMs() + deadlineMs) {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    bool Done() const { return done_; }

private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        if (platform::MonotonicMs() > deadline_) {
            ADD_FAILURE() << "the modal window was not answered in time";
            timer_.stop();
            modal->close();
            return;
        }
        if (!step_(modal)) return;
        done_ = true;
        timer_.stop();
    }
    std::function<bool(QWidget*)> step_;
    uint64_t deadline_;
    QTimer timer_;
    bool done_ = false;
};

// The button of that caption on the window.
QAbstractButton* ButtonOf(QWidget* window, const std::string& caption) {
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->text() == QtText(caption)) return b;
    return nullptr;
}

void SavePicture(QWidget* window, const std::string& name) {
    const char* bin = std::getenv("QUILLARY_BIN");
    const fs::path outputs = fs::path(bin ? bin : fs::temp_directory_path().c_str()).parent_path() / "test-output";
    fs::create_directories(outputs);
    EXPECT_TRUE(window->grab().save(QString::fromStdString((outputs / name).string()), "PNG")) << name;
}

class ModuleWindows : public intercom_test::IntercomTest {
protected:
    ModuleWindows() : IntercomTest("modwin") {}
    void SetUp() override {
        IntercomTest::SetUp();
        ui::EnsureApplication();
        framework::ErrorObj = &errors;
    }
    void TearDown() override {
        framework::ErrorObj = nullptr;
        IntercomTest::TearDown();
    }
    module::TModuleErrorClass errors;
};

TEST_F(ModuleWindows, LogWindowFollowsReportsOfAnyThreadWhileItIsOpen) {
    errors.WriteMessage(-1, "Первая запись"_cp);
    std::thread reporter;
    platform::HWND whileOpen = 0;
    TModalDriver answer([&](QWidget* window) {
        auto* memo = window->findChild<QPlainTextEdit*>();
        if (memo == nullptr) return false;
        if (!reporter.joinable()) {
            whileOpen = framework::LogWindowHandle.load();
            EXPECT_EQ(memo->toPlainText(), QtText("Первая запись: -1"_cp));
            // The report waits for the window to take it, which the modal loop does.
            reporter = std::thread([this] { errors.WriteMessage(7, "Из другого потока"_cp); });
            return false;
        }
        if (!memo->toPlainText().endsWith(QtText("Из другого потока: 7"_cp))) return false;
        SavePicture(window, "module_log_window.png");
        ButtonOf(window, "Закрыть"_cp)->click();
        return true;
    });
    EXPECT_TRUE(module::ShowLogWindow(0));
    reporter.join();
    EXPECT_TRUE(answer.Done());
    EXPECT_NE(whileOpen, 0u);
    EXPECT_EQ(framework::LogWindowHandle.load(), 0u);
    // Nobody listens any more: the report is only logged.
    errors.WriteMessage(8, "После"_cp);
    EXPECT_EQ(errors.Log->GetText(), "Первая запись: -1\r\nИз другого потока: 7\r\nПосле: 8"_cp);
}

TEST_F(ModuleWindows, AboutBoxShowsTheDriversText) {
    framework::TDriver driver;
    framework::TDriver* saved = framework::Driver;
    framework::Driver = &driver;
    TModalDriver answer([&](QWidget* window) {
        bool found = false;
        for (QLabel* label : window->findChildren<QLabel*>()) found = found || label->text() == QtText(driver.GetAboutText());
        EXPECT_TRUE(found);
        EXPECT_EQ(window->windowTitle(), QtText("О драйвере..."_cp));
        SavePicture(window, "module_about_box.png");
        ButtonOf(window, "OK")->click();
        return true;
    });
    EXPECT_TRUE(module::ShowAboutDialog(0));
    EXPECT_TRUE(answer.Done());
    framework::Driver = saved;
}

// Widgets live on the application's thread: elsewhere nothing is shown and the call returns at once.
TEST_F(ModuleWindows, NoWindowOnAThreadWithoutTheApplication) {
    bool log = true, about = true;
    std::thread([&] {
        log = module::ShowLogWindow(0);
        about = module::ShowAboutDialog(0);
    }).join();
    EXPECT_FALSE(log);
    EXPECT_FALSE(about);
    EXPECT_EQ(framework::LogWindowHandle.load(), 0u);
}

} // namespace
