// The module's windows, driven in-process through their handlers and buttons, offscreen: the log
// window, the about box, the message box and the state window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/intercom_test_support.h"
#include "module/about_dialog.h"
#include "module/driver_thread.h"
#include "module/log_window.h"
#include "module/message_box.h"
#include "module/module_init.h"
#include "module/module_log.h"
#include "module/module_pictures.h"
#include "module/terminal_window.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "styledbuttons/button_clicks.h"
#include "ui/application.h"
#include "ui/control_test_access.h"

namespace {

namespace fs = std::filesystem;

QString QtText(const std::string& cp1251) {
    return ui::ToQt(cp1251);
}
// Texts of the windows compared in UTF-8, so that a failure reads.
std::string U(const std::string& cp1251) {
    return platform::Utf8FromCp1251(cp1251);
}

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
QWidget* ButtonOf(QWidget* window, const std::string& caption) {
    return sbtest::ButtonNamed(window, QtText(caption));
}

void SavePicture(QWidget* window, const std::string& name) {
    const char* bin = std::getenv("QUILLARY_BIN");
    const fs::path outputs =
        fs::path(bin ? bin : fs::temp_directory_path().c_str()).parent_path() / "test-output";
    fs::create_directories(outputs);
    EXPECT_TRUE(window->grab().save(QString::fromStdString((outputs / name).string()), "PNG")) << name;
}

// The picture shown by the one visible image of the window.
QImage ShownPicture(QWidget* window) {
    QImage shown;
    int count = 0;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->pixmap().isNull() || !label->isVisible()) continue;
        shown = label->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
        ++count;
    }
    EXPECT_EQ(count, 1);
    return shown;
}

QImage PictureFile(const std::string& name) {
    const styledbuttons::Bitmap24 bitmap = module::ModulePicture(name);
    EXPECT_FALSE(bitmap.Empty()) << name << " lies beside the program";
    return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride(), QImage::Format_BGR888)
        .convertToFormat(QImage::Format_RGB888);
}

class ModuleWindows : public intercom_test::IntercomTest {
protected:
    ModuleWindows() : IntercomTest("modwin") {}
    void SetUp() override {
        IntercomTest::SetUp();
        ui::EnsureApplication();
        framework::ErrorObj = &errors;
        saved_ = framework::Driver;
        framework::Driver = &driver;
    }
    void TearDown() override {
        framework::Driver = saved_;
        framework::Intercom = nullptr;
        area.reset();
        framework::ErrorObj = nullptr;
        IntercomTest::TearDown();
    }
    // The exchange area and three devices, as the state window finds them.
    void CreateArea() {
        for (const char* name : {"Котёл 1", "Котёл 2", "Насосная"})
            driver.DeviceList->AddDevice()->Device->DeviceName = platform::Cp(name);
        area = framework::TIntercomInterface::Create(0, "Quillary.dat");
        ASSERT_TRUE(area && area->IsOpen());
        framework::Intercom = area.get();
    }

    module::TModuleErrorClass errors;
    framework::TDriver driver;
    std::unique_ptr<framework::TIntercomInterface> area;

private:
    framework::TDriver* saved_ = nullptr;
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
        sbtest::ClickButton(ButtonOf(window, "Закрыть"_cp));
        return true;
    });
    EXPECT_TRUE(module::ShowLogWindow(0));
    reporter.join();
    EXPECT_TRUE(answer.Done());
    EXPECT_NE(whileOpen, 0u);
    EXPECT_EQ(framework::LogWindowHandle.load(), 0u);
    // Nobody listens any more: the report is only logged.
    errors.WriteMessage(8, "После"_cp);
    EXPECT_EQ(U(errors.Log->GetText()), "Первая запись: -1\r\nИз другого потока: 7\r\nПосле: 8");
}

TEST_F(ModuleWindows, AboutBoxShowsTheDriversText) {
    TModalDriver answer([&](QWidget* window) {
        bool found = false;
        for (QLabel* label : window->findChildren<QLabel*>())
            found = found || label->text() == QtText(driver.GetAboutText());
        EXPECT_TRUE(found);
        EXPECT_EQ(window->windowTitle(), QtText("О драйвере..."_cp));
        EXPECT_EQ(ShownPicture(window), PictureFile("QuillaryLogo.bmp"));
        SavePicture(window, "module_about_box.png");
        sbtest::ClickButton(ButtonOf(window, "OK"));
        return true;
    });
    EXPECT_TRUE(module::ShowAboutDialog(0));
    EXPECT_TRUE(answer.Done());
}

// Escape answers "Нет", or "Да" where that is the only button.
TEST_F(ModuleWindows, EscapeAnswersNoOrTheOnlyButton) {
    for (const bool withCancel : {true, false}) {
        TModalDriver answer([](QWidget* window) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(window, &escape);
            return true;
        });
        EXPECT_EQ(module::AskBox(nullptr, "Заголовок"_cp, "Текст"_cp, false, withCancel), withCancel ? 2 : 1);
        EXPECT_TRUE(answer.Done());
    }
}

// The answer of each button and of closing; without the second button the first stands centred;
// the alarm box shows the error picture where the question box shows the question.
TEST_F(ModuleWindows, MessageBoxAnswersAndLayout) {
    struct Case {
        bool info;
        bool withCancel;
        const char* press; // nullptr: the window is closed
        int result;
        const char* picture;
    };
    const Case cases[] = {
        {false, true, "Да", 1, "QuillaryQuestion.bmp"},    {false, true, "Нет", 2, "QuillaryQuestion.bmp"},
        {false, true, nullptr, 2, "QuillaryQuestion.bmp"}, {true, false, "Да", 1, "QuillaryError.bmp"},
        {true, false, nullptr, 2, "QuillaryError.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.info ? "info " : "ask ") + (c.press ? c.press : "close"));
        TModalDriver answer([&](QWidget* window) {
            EXPECT_EQ(window->windowTitle(), QtText("Заголовок"_cp));
            QWidget* yes = ButtonOf(window, "Да"_cp);
            QWidget* no = ButtonOf(window, "Нет"_cp);
            EXPECT_EQ(no->isVisible(), c.withCancel);
            if (!c.withCancel) {
                EXPECT_EQ(yes->x(), (window->width() - yes->width()) / 2);
            }
            for (QLabel* label : window->findChildren<QLabel*>()) {
                if (label->text() == QtText("Текст вопроса"_cp)) {
                    EXPECT_TRUE(label->font().bold());
                }
            }
            EXPECT_EQ(ShownPicture(window), PictureFile(c.picture));
            if (c.press == nullptr) {
                if (c.info) SavePicture(window, "module_message_box.png");
                window->close();
            } else {
                sbtest::ClickButton(ButtonOf(window, platform::Cp(c.press)));
            }
            return true;
        });
        const auto box = c.info ? module::InfoBox : module::AskBox;
        EXPECT_EQ(box(nullptr, "Заголовок"_cp, "Текст вопроса"_cp, true, c.withCancel), c.result);
        EXPECT_TRUE(answer.Done());
    }
}

// Lines of text in a picture: runs of rows with dark pixels; cut when ink touches the top or bottom row.
int TextLines(const QImage& image, bool& cut) {
    int lines = 0;
    bool previous = false;
    for (int y = 0; y < image.height(); ++y) {
        bool ink = false;
        for (int x = 0; x < image.width() && !ink; ++x)
            ink = qGray(image.pixel(x, y)) < 128;
        cut = cut || (ink && (y == 0 || y == image.height() - 1));
        lines += ink && !previous;
        previous = ink;
    }
    return lines;
}

// A text with no place to break its lines is broken inside its words, and the box grows for it as far
// as the screen allows.
TEST_F(ModuleWindows, MessageBoxShowsALongUnbrokenTextWithinTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const int length : {400, 20000}) {
        const std::string text(length, 'W');
        TModalDriver answer([&](QWidget* window) {
            EXPECT_TRUE(screen.contains(window->frameGeometry())) << length;
            for (QLabel* label : window->findChildren<QLabel*>()) {
                if (label->text() != QtText(text) || length > 400) continue; // 20000: more than a screen
                SavePicture(window, "module_message_box_long_text.png");
                bool cut = false;
                const int lines = TextLines(label->grab().toImage(), cut);
                EXPECT_FALSE(cut);
                const int perLine =
                    label->contentsRect().width() / label->fontMetrics().horizontalAdvance('W');
                EXPECT_GE(lines * perLine, length) << lines << " lines";
            }
            sbtest::ClickButton(ButtonOf(window, "Да"_cp));
            return true;
        });
        EXPECT_EQ(module::InfoBox(nullptr, "Внимание"_cp, text, false, false), 1);
        EXPECT_TRUE(answer.Done());
    }
}

framework::TTerminalParams Params(const std::string& port, uint8_t linkState, int32_t frequency,
                                  int32_t interval) {
    framework::TTerminalParams p{};
    p.PortName.Set(port);
    p.LinkState = linkState;
    p.Frequency = frequency;
    p.Interval = interval;
    return p;
}

QColor TextColour(const ui::TControl& control) {
    return uitest::WidgetOf(control)->palette().color(QPalette::WindowText);
}

TEST_F(ModuleWindows, StateWindowShowsTheTraceOfTheSelectedDeviceOnly) {
    ASSERT_NO_FATAL_FAILURE(CreateArea());
    framework::TTerminalClass& requests = area->RequestTerminal;
    framework::TTerminalClass& commands = area->CommandsTerminal;
    // What the server traced for another window's choice.
    requests.SetOwner(2);
    requests.WriteText("Насосная: старый опрос"_cp);
    commands.WriteText("Команда 1"_cp);

    module::TTerminalWindow window;
    EXPECT_EQ(requests.GetOwner(), 0);
    ASSERT_EQ(window.DeviceListBox.ItemCount(), 3);
    EXPECT_EQ(U(window.DeviceListBox.Item(1)), "Котёл 2");
    EXPECT_TRUE(window.DeviceListBox.Enabled());
    EXPECT_EQ(window.DeviceListBox.ItemIndex(), 0);
    EXPECT_TRUE(window.Timer.Enabled());
    EXPECT_EQ(window.TerminalMemo.Text(), "") << "the third device's trace is not the first one's";
    EXPECT_EQ(U(window.CommandsTerminalMemo.Text()), "Команда 1");

    // The server traces the first device: the memo and the panels follow each new text.
    requests.WriteParams(0, Params("COM3", 1, 1000, 35));
    requests.WriteText("Котёл 1: (01)(03)"_cp);
    window.OnUpdateByTimer();
    EXPECT_EQ(U(window.TerminalMemo.Text()), "Котёл 1: (01)(03)");
    EXPECT_EQ(window.PortNamePanel.Caption(), "COM3");
    EXPECT_EQ(window.FrequensyPanel.Caption(), "1000");
    EXPECT_EQ(window.IntervalPanel.Caption(), "35");
    EXPECT_EQ(window.ConnectionStatePanel.Caption(), "Ok");
    EXPECT_EQ(TextColour(window.ConnectionStatePanel), QColor(0, 0, 0));
    requests.WriteParams(0, Params("COM3", 0, 3000, 1000));
    requests.WriteText("Котёл 1: нет ответа"_cp);
    window.OnUpdateByTimer();
    EXPECT_EQ(U(window.TerminalMemo.Text()), "Котёл 1: нет ответа");
    EXPECT_EQ(window.ConnectionStatePanel.Caption(), "Lost");
    EXPECT_EQ(TextColour(window.ConnectionStatePanel), QColor(128, 0, 0));
    EXPECT_EQ(window.FrequensyPanel.Caption(), "3000");
    SavePicture(uitest::WidgetOf(window), "module_state_window.png");

    // Another device: the server is told, and the first one's trace is gone until the server
    // writes the new one's.
    window.DeviceListBox.SetItemIndex(1);
    window.OnSelectController();
    EXPECT_EQ(requests.GetOwner(), 1);
    EXPECT_EQ(window.TerminalMemo.Text(), "");
    EXPECT_EQ(window.ConnectionStatePanel.Caption(), "");
    window.OnUpdateByTimer();
    EXPECT_EQ(window.TerminalMemo.Text(), "");
    EXPECT_EQ(window.PortNamePanel.Caption(), "");
    requests.WriteParams(1, Params("COM4", 1, 500, 20));
    requests.WriteText("Котёл 2: (02)(03)"_cp);
    window.OnUpdateByTimer();
    EXPECT_EQ(U(window.TerminalMemo.Text()), "Котёл 2: (02)(03)");
    EXPECT_EQ(window.PortNamePanel.Caption(), "COM4");

    // A trace of a device that is not the selected one is not shown.
    requests.SetOwner(2);
    requests.WriteText("Насосная: (03)(03)"_cp);
    window.OnUpdateByTimer();
    EXPECT_EQ(window.TerminalMemo.Text(), "");
    commands.WriteText("Команда 2"_cp);
    window.OnUpdateByTimer();
    EXPECT_EQ(U(window.CommandsTerminalMemo.Text()), "Команда 2");
}

// With "Отключить" ticked both terminals stand still while a window beside it follows the server;
// unticked, they catch up.
TEST_F(ModuleWindows, StateWindowFreezesBothTerminalsWhileDisabled) {
    ASSERT_NO_FATAL_FAILURE(CreateArea());
    module::TTerminalWindow frozen;
    auto* box = static_cast<QCheckBox*>(uitest::WidgetOf(frozen.TerminalDisabledCheckBox));
    box->click();
    EXPECT_FALSE(frozen.Timer.Enabled());
    module::TTerminalWindow live;
    area->RequestTerminal.WriteText("Опрос"_cp);
    area->CommandsTerminal.WriteText("Команда"_cp);
    const auto caughtUp = [](const module::TTerminalWindow& w) {
        return w.TerminalMemo.Text() == "Опрос"_cp && w.CommandsTerminalMemo.Text() == "Команда"_cp;
    };
    const uint64_t deadline = platform::MonotonicMs() + 15000;
    while (!caughtUp(live) && platform::MonotonicMs() < deadline)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ASSERT_TRUE(caughtUp(live));
    EXPECT_EQ(frozen.TerminalMemo.Text(), "");
    EXPECT_EQ(frozen.CommandsTerminalMemo.Text(), "");
    box->click();
    EXPECT_TRUE(frozen.Timer.Enabled());
    while (!caughtUp(frozen) && platform::MonotonicMs() < deadline)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_TRUE(caughtUp(frozen));
}

// A window of a thread that takes no messages: a report sent to it holds the reporter.
class TDeafWindow {
public:
    TDeafWindow() {
        std::promise<platform::HWND> made;
        auto handle = made.get_future();
        thread_ = std::thread([this, &made] {
            made.set_value(
                platform::CreateWindowHandle([](platform::HWND, platform::UINT, platform::WPARAM,
                                                platform::LPARAM) -> platform::LRESULT { return 0; }));
            release_.get_future().wait();
        });
        Handle = handle.get();
    }
    // Its thread ends and its window with it: what was sent to it answers 0.
    void Release() {
        if (!thread_.joinable()) return;
        release_.set_value();
        thread_.join();
    }
    ~TDeafWindow() { Release(); }
    platform::HWND Handle = 0;

private:
    std::promise<void> release_;
    std::thread thread_;
};

// Answers "Да" to every box of the restart, noting its text; done once `last` boxes were answered.
std::function<bool(QWidget*)> AnswerYes(std::vector<std::string>& asked, std::size_t last = SIZE_MAX) {
    return [&asked, last](QWidget* box) {
        for (QLabel* label : box->findChildren<QLabel*>())
            if (!label->text().isEmpty()) asked.push_back(label->text().toStdString());
        sbtest::ClickButton(ButtonOf(box, "Да"_cp));
        return asked.size() == last;
    };
}

const std::string question = "Вы уверены в том, что вам необходимо перезапустить поток драйвера?";
const std::string failure =
    "Возникла критическая ошибка при перезапуске потока. Перезапустите сервер OSTROLINKA.";

// The restart never frees a module thread that does not end, and starts no second one beside it:
// the operator is told and may try again; once the old thread ended, a new one is started.
TEST_F(ModuleWindows, RestartKeepsAThreadThatDoesNotEndAndStartsNoSecond) {
    ASSERT_NO_FATAL_FAILURE(CreateArea());
    TDeafWindow deaf;
    framework::LogWindowHandle = deaf.Handle;
    // Without the module's lists each pass reports, and the report waits on the deaf window.
    module::DriverThread = new module::TDriverThread;
    ASSERT_TRUE(module::DriverThread->Resume());
    module::TDriverThread* const stuck = module::DriverThread;
    // Logged, then sent: once the report is in the log the thread is held.
    ASSERT_TRUE(platform::WaitDispatching(
        [&] { return errors.Log->GetText().find(": -28") != std::string::npos; }, 15000));
    ASSERT_EQ(module::RunningThreadCount.load(), 1);

    module::TTerminalWindow window;
    window.ThreadWaitMs = 200;
    std::vector<std::string> asked;
    const auto answerBoxes = AnswerYes(asked, 2);
    {
        TModalDriver answer(answerBoxes);
        window.ResumeThreadBitBtn.Click();
        EXPECT_TRUE(answer.Done());
    }
    EXPECT_EQ(asked, (std::vector<std::string>{question, failure}));
    EXPECT_EQ(module::DriverThread, stuck);
    EXPECT_EQ(module::RunningThreadCount.load(), 1);
    EXPECT_TRUE(window.ResumeThreadBitBtn.Enabled());

    // The old thread gets through and ends, as it was told: now the restart starts a new one.
    framework::LogWindowHandle = 0;
    deaf.Release();
    ASSERT_TRUE(platform::WaitDispatching([] { return module::RunningThreadCount.load() == 0; }, 15000));
    module::StartAttempts = 5;
    const int32_t checkInterval = framework::CheckServerInterval.exchange(2);
    asked.clear();
    {
        TModalDriver answer(answerBoxes);
        window.ResumeThreadBitBtn.Click();
        EXPECT_FALSE(answer.Done()) << "no failure to report";
    }
    EXPECT_EQ(asked, (std::vector<std::string>{question}));
    ASSERT_NE(module::DriverThread, nullptr);
    EXPECT_TRUE(platform::WaitDispatching([] { return module::RunningThreadCount.load() == 1; }, 15000));
    // The new thread may start the server at its first check: the last start was a check interval ago.
    EXPECT_EQ(module::StartAttempts.load(), 0);
    const uint64_t since = platform::MonotonicMs() - module::LastServerStart.load();
    EXPECT_GE(since, 2000u);
    EXPECT_LT(since, 10000u);
    framework::CheckServerInterval = checkInterval;
    EXPECT_TRUE(window.ResumeThreadBitBtn.Enabled());
    EXPECT_TRUE(platform::TThread::Free(std::unique_ptr<platform::TThread>(module::DriverThread), 15000));
    module::DriverThread = nullptr;
    EXPECT_EQ(module::RunningThreadCount.load(), 0);
}

// The host's handlers run during the module's waits for its thread, its loop served meanwhile. One
// that shuts the module down leaves the wait nothing freed to touch, no thread is started over what
// it freed, and nothing the ending thread uses is freed or replaced under it. A click of the restart
// while it waits does nothing; a run while the stop waits is refused.
TEST_F(ModuleWindows, AShutdownDuringTheModulesWaitsIsSafe) {
    const fs::path dir = fs::temp_directory_path() / ("modwin-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    module::TDrvInitRecord record{};
    std::memcpy(record.Directory, dir.c_str(), dir.string().size());
    struct Case {
        const char* name;
        std::function<void()> wait;
        std::function<void()> handler;
    };
    const auto shutDown = [] { EXPECT_EQ(module::DoneModule(), 0); };
    module::TTerminalWindow* restarting = nullptr;
    std::vector<std::string> asked;
    const Case cases[] = {
        {"restart",
         [&] {
             module::TTerminalWindow window;
             restarting = &window;
             TModalDriver answer(AnswerYes(asked));
             window.ResumeThreadBitBtn.Click();
         },
         [&] {
             restarting->ResumeThreadBitBtn.Click();
             shutDown();
         }},
        {"stop", [] { EXPECT_EQ(module::StopModule(), 0); }, shutDown},
        {"run during the stop",
         [&] {
             EXPECT_EQ(module::StopModule(), 0);
             EXPECT_EQ(framework::Intercom->ServerData.GetRunFlag(), 0);
             shutDown();
         },
         [] { EXPECT_EQ(module::RunModule(), -5); }},
        {"shutdown", shutDown,
         [&record] {
             EXPECT_EQ(module::InitModule(record), -4);
             EXPECT_EQ(module::DoneModule(), -5);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        framework::ErrorObj = nullptr; // the module makes its own
        ASSERT_EQ(module::InitModule(record), 0);
        // A server error copied into the log is reported to a window that takes no messages.
        TDeafWindow deaf;
        framework::LogWindowHandle = deaf.Handle;
        framework::Intercom->ServerErrorList.Add(-9, "held");
        ASSERT_TRUE(platform::WaitDispatching(
            [] { return framework::ErrorObj->Log->GetText().find("held") != std::string::npos; }, 15000));
        bool handled = false;
        QTimer host;
        host.setInterval(50);
        QObject::connect(&host, &QTimer::timeout, [&] {
            if (handled || QApplication::activeModalWidget() != nullptr) return;
            handled = true;
            framework::LogWindowHandle = 0;
            deaf.Release();
            c.handler();
        });
        host.start();
        c.wait();
        host.stop();
        EXPECT_TRUE(handled);
        EXPECT_FALSE(module::IsDriverInitialized());
        EXPECT_EQ(module::DriverThread, nullptr) << "a thread was started over the freed module";
        EXPECT_EQ(module::RunningThreadCount.load(), 0);
        EXPECT_EQ(framework::Intercom, nullptr);
    }
    EXPECT_EQ(asked, (std::vector<std::string>{question, failure})) << "the restart was entered again";
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// A refresh of the state window runs on the host's thread and waits there briefly only. Over lock
// bytes that random bytes left taken, or while other module code holds the lock takers (and may be
// freeing a dead server's locks), it gives up, shows nothing and takes no lock byte; once the locks
// are free the terminals show again.
TEST_F(ModuleWindows, StateWindowRefreshGivesUpOnLocksItCannotHave) {
    for (const bool randomBytes : {true, false}) {
        SCOPED_TRACE(randomBytes ? "random bytes over the area" : "lock takers held elsewhere");
        ASSERT_NO_FATAL_FAILURE(CreateArea());
        intercom_test::TRawBlock raw;
        ASSERT_TRUE(raw.Open("Quillary.dat"));
        const std::size_t locks[] = {intercom_test::Terminal(0, 0) + 8, intercom_test::Terminal(0, 1) + 8};
        if (randomBytes) {
            std::mt19937 random(21);
            for (std::size_t i = 0; i < raw.Size(); ++i)
                *raw.At(i) = static_cast<uint8_t>(random() | 1);
            area->RequestTerminal.SetOwner(1);
        } else {
            // Left taken by a server that died: the holder of the takers may be freeing them.
            for (std::size_t lock : locks)
                *raw.At(lock) = 2;
        }
        // The other side keeps the locks until told, or 30 s at most, then lets them go.
        std::promise<void> held, release;
        std::atomic<bool> holding{true};
        std::thread holder([&] {
            std::unique_lock<std::timed_mutex> takers(module::RegionLockTakers, std::defer_lock);
            if (!randomBytes) takers.lock();
            held.set_value();
            release.get_future().wait_for(std::chrono::seconds(30));
            holding = false;
            for (std::size_t lock : locks)
                *raw.At(lock) = 0;
        });
        held.get_future().wait();
        auto window = std::make_unique<module::TTerminalWindow>(); // refreshes at once
        window->OnUpdateByTimer();
        EXPECT_TRUE(holding.load()) << "the refresh waited for the locks to be let go";
        EXPECT_EQ(window->TerminalMemo.Text() + window->CommandsTerminalMemo.Text(), "");
        if (!randomBytes) {
            for (std::size_t lock : locks)
                EXPECT_EQ(raw.U8(lock), 2) << "a lock byte was taken without the takers";
        }
        release.set_value();
        holder.join();
        window->OnUpdateByTimer();
        area->RequestTerminal.WriteText("Опрос"_cp);
        area->CommandsTerminal.WriteText("Команда"_cp);
        window->OnUpdateByTimer();
        EXPECT_EQ(U(window->TerminalMemo.Text()), "Опрос");
        EXPECT_EQ(U(window->CommandsTerminalMemo.Text()), "Команда");
        window.reset();
        framework::Intercom = nullptr;
        area.reset();
    }
}

// Widgets live on the application's thread: elsewhere nothing is shown and the call returns at once.
TEST_F(ModuleWindows, NoWindowOnAThreadWithoutTheApplication) {
    ASSERT_NO_FATAL_FAILURE(CreateArea());
    bool log = true, about = true, state = true;
    std::thread([&] {
        log = module::ShowLogWindow(0);
        about = module::ShowAboutDialog(0);
        state = module::ShowTerminalWindow(0);
    }).join();
    EXPECT_FALSE(log);
    EXPECT_FALSE(about);
    EXPECT_FALSE(state);
    EXPECT_EQ(area->RequestTerminal.GetOwner(), -1) << "no window was made";
    EXPECT_EQ(framework::LogWindowHandle.load(), 0u);
}

} // namespace
