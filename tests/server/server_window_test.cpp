// The server window in this process, offscreen, against an exchange area made here as the module
// makes it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <QImage>

#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/threads_list.h"
#include "framework/variable_index.h"
#include "modbus/modbus_driver.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "server/server_globals.h"
#include "server/server_test_support.h"
#include "server/server_window.h"
#include "styledbuttons/button_test_support.h"
#include "ui/control_test_access.h"

namespace fs = std::filesystem;
using framework::Intercom;
using platform::Cp;
using server::TServerWindow;

namespace {

class ServerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               (servertest::UseRunNamespace() + "-window-" + std::to_string(serial++));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "Quillary.cfg", std::ios::binary)
            << "<KESTRAN ThreadOnPort=\"False\" ErrorMngrDisabled=\"False\" GeneralCommandInterval=\"6000\" "
               "AutoRunServer=\"-1\" CheckServerInterval=\"60\" RAPEnabled=\"False\" RAPPort=\"6042\" >\r\n"
               "</KESTRAN>\r\n";
        std::ofstream(dir_ / "Quillary.ini", std::ios::binary) << "[server]\r\ndelay_on_start=0\r\n";
        server::CfgPath = (dir_ / "Quillary.cfg").string();
        server::StartPending = true;

        framework::ServerSlotIndex = 0;
        area_ = framework::TIntercomInterface::Create(4, "Quillary.dat");
        ASSERT_TRUE(area_ && area_->IsOpen());
        Intercom = area_.get();
        host_ = platform::CreateWindowHandle([](platform::HWND, platform::UINT, platform::WPARAM,
                                                platform::LPARAM) -> platform::LRESULT { return 0; });
        area_->OstrolinkaInfo.SetHostWindow(static_cast<int32_t>(host_));
        area_->OstrolinkaInfo.SetName(Cp("Модуль опроса"));
        window_ = std::make_unique<TServerWindow>();
    }
    void TearDown() override {
        window_.reset();
        platform::DestroyWindowHandle(host_);
        Intercom = nullptr;
        area_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    platform::LRESULT Send(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam) {
        return platform::SendMessage(window_->Handle(), msg, wParam, lParam);
    }

    fs::path dir_;
    std::unique_ptr<framework::TIntercomInterface> area_;
    platform::HWND host_ = 0;
    std::unique_ptr<TServerWindow> window_;
};

TEST_F(ServerWindowTest, CreationRegistersAndShowsTheWindowWhenTheTrayIsMissing) {
    EXPECT_EQ(area_->ServerData.GetProcessId(), ::getpid());
    EXPECT_EQ(area_->ServerData.GetWindow(), static_cast<int32_t>(window_->Handle()));
    EXPECT_EQ(area_->ServerData.GetRunFlag(), 1);
    EXPECT_EQ(framework::MonitorWindowHandle.load(), window_->Handle());
    EXPECT_TRUE(window_->GeneralTimer.Enabled());
    EXPECT_EQ(window_->GeneralTimer.Interval(), 1000u);
    EXPECT_TRUE(window_->LockTerminalChkBox.Checked());
    EXPECT_EQ(window_->LogoLabel.Caption(), Cp("Модуль опроса"));
    EXPECT_FALSE(window_->RemoteAccessTabSheet.TabVisible());
    // Offscreen there is no tray: the failure is reported to the module and the window shows.
    EXPECT_TRUE(window_->Visible());
    auto errors = std::make_unique<framework::TServerErrorRegion>();
    area_->ServerErrorList.ReadAll(*errors, false);
    bool reported = false;
    for (int32_t i = 0; i < errors->Count && i < 100; ++i)
        reported |= errors->Records[i].Code == -16;
    EXPECT_TRUE(reported);
    // No devices in the configuration: nothing to choose.
    EXPECT_EQ(window_->DeviceListComboBox.ItemCount(), 0);
    EXPECT_FALSE(window_->DeviceListComboBox.Enabled());
    EXPECT_EQ(framework::SelectedDeviceIndex.load(), -1);
}

TEST_F(ServerWindowTest, StateViewsShowTheRegionValues) {
    area_->OstrolinkaInfo.SetState(2);
    area_->OstrolinkaInfo.SetTransactionId(4321);
    area_->ServerData.SetTransactionId(77);
    window_->RefreshState();
    EXPECT_EQ(window_->DmlNameEdit.Text(), Cp("Модуль опроса"));
    EXPECT_EQ(window_->DmlStateEdit.Text(), Cp("В работе"));
    EXPECT_EQ(window_->DmlTransactionIdEdit.Text(), "4321");
    EXPECT_EQ(window_->DmlTagCounterEdit.Text(), "0");
    EXPECT_EQ(window_->ConfigFileNameEdit.Text(), server::CfgPath);
    EXPECT_EQ(window_->DeviceCountEdit.Text(), "0");
    EXPECT_EQ(window_->ServerTransactionIdEdit.Text(), "77");
    EXPECT_EQ(window_->PIDEdit.Text(), std::to_string(::getpid()));
    EXPECT_EQ(window_->WindowHandleEdit.Text(), std::to_string(window_->Handle()));

    // The high bit is a flag; a value without a text leaves the last one.
    area_->OstrolinkaInfo.SetState(0x80 | 11);
    window_->RefreshState();
    EXPECT_EQ(window_->DmlStateEdit.Text(), Cp("8: Завершение потока."));
    area_->OstrolinkaInfo.SetState(12);
    window_->RefreshState();
    EXPECT_EQ(window_->DmlStateEdit.Text(), Cp("8: Завершение потока."));
}

// The byte is shared with the module: each state it records by name reads on the server as that stage.
TEST(ModuleStateTexts, EachRecordedStateShowsItsStage) {
    const struct {
        framework::TDriverState state;
        const char* text;
    } cases[] = {
        {framework::dsNotSet, "Неизвестно"},
        {framework::dsInitialized, "Инициализация"},
        {framework::dsRunning, "В работе"},
        {framework::dsStopped, "Остановлен"},
        {framework::dsPassStart, "1: Начало цикла"},
        {framework::dsCommands, "2: Обработка команд"},
        {framework::dsCommandPublish, "3: Передача команд"},
        {framework::dsDynamicTags, "4: Динам. теги"},
        {framework::dsStaticTags, "5: Чтение параметров"},
        {framework::dsServerErrors, "6: Обработка ошибок"},
        {framework::dsPassEnd, "7: Конец цикла потока."},
        {framework::dsLoopEnded, "8: Завершение потока."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(server::ModuleStateText(c.state), Cp(c.text)) << int(c.state);
}

TEST_F(ServerWindowTest, LogMemoKeepsTheLast501Lines) {
    for (int i = 0; i < 600; ++i) {
        const std::string text = "line " + std::to_string(i);
        EXPECT_EQ(Send(server::WM_SERVERLOG, static_cast<platform::WPARAM>(i - 5),
                       reinterpret_cast<platform::LPARAM>(text.c_str())),
                  0);
    }
    const auto& lines = window_->LogMemo.Lines();
    ASSERT_EQ(lines.Count(), 501);
    EXPECT_EQ(lines[0], "(94) line 99");
    EXPECT_EQ(lines[500], "(594) line 599");

    // The error object's reports arrive the same way.
    framework::ErrorObj->WriteMessage(-3, Cp("Проверка"));
    EXPECT_EQ(lines.Count(), 501);
    EXPECT_EQ(lines[500], "(-3) " + Cp("Проверка"));

    // Hidden, the window does not collect the log.
    window_->Hide();
    Send(server::WM_SERVERLOG, 1, reinterpret_cast<platform::LPARAM>("hidden"));
    EXPECT_EQ(lines[500], "(-3) " + Cp("Проверка"));
    window_->ClearLogBitBtn.Click();
    EXPECT_EQ(lines.Count(), 0);
}

TEST_F(ServerWindowTest, TerminalsFollowUpdatesOnlyWhileUnlocked) {
    framework::SetPollTraces("poll A", "cycle 1", "time 1", "link 1");
    framework::SetCommandTrace("command A");
    EXPECT_EQ(Send(framework::WM_TERMINALUPDATE, 0, 0), 0);
    EXPECT_EQ(Send(framework::WM_TERMINALUPDATE, 1, 0), 0);
    EXPECT_EQ(window_->RequestsMemo.Text(), "");
    EXPECT_EQ(window_->CommandsMemo.Text(), "");
    EXPECT_EQ(window_->LinkStateEdit.Text(), "-------");

    window_->LockTerminalChkBox.SetChecked(false);
    Send(framework::WM_TERMINALUPDATE, 0, 0);
    EXPECT_EQ(window_->RequestsMemo.Text(), "poll A");
    EXPECT_EQ(window_->RequestCycleEdit.Text(), "cycle 1");
    EXPECT_EQ(window_->RequestTimeOutEdit.Text(), "time 1");
    EXPECT_EQ(window_->LinkStateEdit.Text(), "link 1");
    // A poll update leaves the command view alone, and the other way round.
    EXPECT_EQ(window_->CommandsMemo.Text(), "");
    framework::SetPollTraces("poll B", "cycle 2", "time 2", "link 2");
    Send(framework::WM_TERMINALUPDATE, 1, 0);
    EXPECT_EQ(window_->CommandsMemo.Text(), "command A");
    EXPECT_EQ(window_->RequestsMemo.Text(), "poll A");

    window_->LockTerminalChkBox.SetChecked(true);
    Send(framework::WM_TERMINALUPDATE, 0, 0);
    EXPECT_EQ(window_->RequestsMemo.Text(), "poll A");

    // Once closing, nothing follows any more.
    window_->LockTerminalChkBox.SetChecked(false);
    framework::ServerClosing = true;
    Send(framework::WM_TERMINALUPDATE, 0, 0);
    EXPECT_EQ(window_->RequestsMemo.Text(), "poll A");
    framework::ServerClosing = false;
}

TEST_F(ServerWindowTest, TimerCountsTheSlotThroughWrapAndStartsTheThreads) {
    ASSERT_NE(server::ThreadsList, nullptr);
    area_->ServerData.SetTransactionId(65535);
    window_->OnGeneralTimer();
    EXPECT_EQ(area_->ServerData.GetTransactionId(), 65536);
    EXPECT_FALSE(server::StartPending.load());
    EXPECT_TRUE(server::ThreadsList->Running.load());
    window_->OnGeneralTimer();
    EXPECT_EQ(area_->ServerData.GetTransactionId(), 0);
    window_->OnGeneralTimer();
    EXPECT_EQ(area_->ServerData.GetTransactionId(), 1);

    // Closing: the timer does nothing.
    framework::ServerClosing = true;
    window_->OnGeneralTimer();
    EXPECT_EQ(area_->ServerData.GetTransactionId(), 1);
    framework::ServerClosing = false;
}

TEST_F(ServerWindowTest, DestructionDropsTheRunFlagOnlyInItsOwnSlot) {
    window_->OnDestroyWindow();
    EXPECT_TRUE(framework::ServerClosing.load());
    EXPECT_EQ(framework::MonitorWindowHandle.load(), 0u);
    EXPECT_EQ(area_->ServerData.GetRunFlag(), 0);
    EXPECT_EQ(server::ThreadsList, nullptr);
    EXPECT_EQ(framework::ErrorObj, nullptr);
    EXPECT_FALSE(TServerWindow::ThreadsLeftRunning());
    EXPECT_EQ(window_->LogoLabel.Caption(), "Server stopped.");
    window_.reset();

    // A newer server took the slot: a window that goes keeps its hands off it.
    framework::ServerClosing = false;
    server::StartPending = true;
    window_ = std::make_unique<TServerWindow>();
    area_->ServerData.SetProcessId(static_cast<int32_t>(::getpid()) + 1);
    window_.reset();
    EXPECT_EQ(area_->ServerData.GetRunFlag(), 1);
    EXPECT_FALSE(server::ClearOwnSlot());
    EXPECT_EQ(area_->ServerData.GetWindow() != 0, true);
}

// A device thread that ignores the request to stop until the test lets it go.
class StuckThread : public framework::TDeviceThread {
public:
    explicit StuckThread(framework::TDeviceList* source) : TDeviceThread(source, false) {}
    std::atomic<bool> Release{false};

protected:
    void Execute() override {
        while (!Release.load())
            platform::Sleep(5);
    }
};

TEST_F(ServerWindowTest, AThreadThatDoesNotStopKeepsEverythingItMayUse) {
    ASSERT_NE(server::ThreadsList, nullptr);
    framework::TDeviceList none;
    auto* stuck = new StuckThread(&none);
    server::ThreadsList->Insert(stuck);
    ASSERT_TRUE(stuck->Resume());
    framework::TThreadsList* list = server::ThreadsList;
    framework::TDriverErrorClass* errors = framework::ErrorObj;
    framework::TVariableIndex* index = framework::VariableIndex;

    window_->OnDestroyWindow();
    EXPECT_TRUE(TServerWindow::ThreadsLeftRunning());
    EXPECT_EQ(server::ThreadsList, list);
    EXPECT_EQ(framework::ErrorObj, errors);
    EXPECT_EQ(framework::VariableIndex, index);
    EXPECT_EQ(area_->ServerData.GetRunFlag(), 0);

    // Let it go and free what was kept, as the program never gets to do.
    stuck->Release = true;
    ASSERT_TRUE(stuck->WaitFor(5000));
    delete server::ThreadsList;
    server::ThreadsList = nullptr;
    delete framework::VariableIndex;
    framework::VariableIndex = nullptr;
    delete framework::ErrorObj;
    framework::ErrorObj = nullptr;
}

TEST_F(ServerWindowTest, PictureOfTheWindowRendersItsTexts) {
    area_->OstrolinkaInfo.SetState(2);
    window_->RefreshState();
    const char* bin = std::getenv("QUILLARY_BIN");
    const fs::path outputs =
        fs::path(bin ? bin : fs::temp_directory_path().c_str()).parent_path() / "test-output";
    fs::create_directories(outputs);
    const fs::path png = outputs / "server_window.png";
    ASSERT_TRUE(window_->SaveImage(png.string()));
    QImage picture(QString::fromStdString(png.string()));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), window_->Width());
    EXPECT_EQ(picture.height(), window_->Height());
    // More than a blank form: the texts left dark pixels on the light background.
    int dark = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qGray(picture.pixel(x, y)) < 80) ++dark;
    EXPECT_GT(dark, 500);
}

TEST_F(ServerWindowTest, PicturesOfTheStyledButtonsInTheirStates) {
    const std::vector<QImage> pictures =
        sbtest::SaveButtonStates(*window_,
                                 {&window_->OkBitBtn, &window_->ReloadBitBtn, &window_->ClearLogBitBtn,
                                  &window_->SaveRemoteTerminalBitBtn},
                                 "server_window_buttons");
    EXPECT_TRUE(sbtest::FourDistinctPictures(pictures));
}

TEST_F(ServerWindowTest, PicturesOfTheSilverButtonsOnTheLogAndRemotePages) {
    struct Page {
        ui::TTabSheet& sheet;
        styledbuttons::TsBitBtn& button;
        const char* stem;
    };
    // The remote page shows only with remote access; it is shown here for its picture.
    window_->RemoteAccessTabSheet.SetTabVisible(true);
    for (const Page& p : {Page{window_->LogTabSheet, window_->ClearLogBitBtn, "server_window_log_buttons"},
                          Page{window_->RemoteAccessTabSheet, window_->SaveRemoteTerminalBitBtn,
                               "server_window_remote_buttons"}}) {
        SCOPED_TRACE(p.stem);
        window_->PageControl.SetActivePageIndex(p.sheet.PageIndex());
        ASSERT_TRUE(uitest::WidgetOf(p.button)->isVisible());
        EXPECT_TRUE(sbtest::FourDistinctPictures(sbtest::SaveButtonStates(*window_, {&p.button}, p.stem)));
    }
}

} // namespace
