// Remote access through the server window's own listener: a driver that switches it on, the window
// made in this process against an exchange area made here, clients on loopback.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/device_thread.h"
#include "framework/intercom.h"
#include "platform/loopback_test_support.h"
#include "platform/text.h"
#include "remote_test_support.h"
#include "server/server_globals.h"
#include "server/server_window.h"
#include "server_test_support.h"

namespace fs = std::filesystem;
using framework::Intercom;
using namespace remotetest;

namespace {

constexpr const char* kDevice = "<device><session DeviceName=\"Pump\" DeviceAddress=\"5\" "
                                "RoutingPrefix=\"DOM\" ReqwestInterval=\"1000000\" "
                                "Enabled=\"TRUE\"/></device>\r\n";

class RemoteAccessWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               (servertest::UseRunNamespace() + "-remote-" + std::to_string(serial++));
        fs::create_directories(dir_);
        savedDriver_ = framework::Driver;
        framework::Driver = &driver_;
        TRemoteDevice::Hold = false;
        TRemoteDevice::Raise = false;
        TRemoteDevice::Requests = 0;

        framework::ServerSlotIndex = 0;
        area_ = framework::TIntercomInterface::Create(4, "Quillary.dat");
        ASSERT_TRUE(area_ && area_->IsOpen());
        Intercom = area_.get();
        host_ = platform::CreateWindowHandle([](platform::HWND, platform::UINT, platform::WPARAM,
                                                platform::LPARAM) -> platform::LRESULT { return 0; });
        area_->OstrolinkaInfo.SetHostWindow(static_cast<int32_t>(host_));
    }
    void TearDown() override {
        TRemoteDevice::Hold = false;
        for (int fd : clients_)
            close(fd);
        window_.reset();
        platform::DestroyWindowHandle(host_);
        Intercom = nullptr;
        area_.reset();
        framework::Driver = savedDriver_;
        framework::RAPEnabled = false;
        framework::RAPPort = 6042;
        framework::ServerClosing = false;
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The window over a configuration with remote access as given; port 0 lets the system choose.
    void MakeWindow(bool enabled, int port = 0) {
        // The root element carries the driver's short name.
        const std::string root = "<" + driver_.GetShortName() +
                                 " ThreadOnPort=\"False\" ErrorMngrDisabled=\"False\" " + "RAPEnabled=\"" +
                                 (enabled ? "True" : "False") + "\" RAPPort=\"" + std::to_string(port) +
                                 "\" >\r\n";
        std::ofstream(dir_ / "Quillary.cfg", std::ios::binary)
            << root << kDevice << "</" << driver_.GetShortName() << ">\r\n";
        std::ofstream(dir_ / "Quillary.ini", std::ios::binary) << "[server]\r\ndelay_on_start=0\r\n";
        server::CfgPath = (dir_ / "Quillary.cfg").string();
        server::StartPending = true;
        framework::ServerClosing = false;
        window_ = std::make_unique<server::TServerWindow>();
        window_->Remote()->Session.LingerMs = 300;
    }
    int Port() const { return window_->RemoteAccessServer.BoundPort(0); }
    int Connect() {
        const int fd = ConnectLoopback(Port());
        if (fd >= 0) clients_.push_back(fd);
        return fd;
    }
    bool Idle() const { return !window_->Remote()->Busy.load(); }
    TReply Exchange(const std::string& request) {
        EXPECT_TRUE(WaitUntil([&] { return Idle(); }));
        const int fd = Connect();
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(testsupport::SendPeer(fd, request));
        return ReadReply(fd);
    }
    std::string Errors() { return servertest::ServerErrors(*area_); }

    TRemoteDriver driver_;
    framework::TDriver* savedDriver_ = nullptr;
    fs::path dir_;
    std::unique_ptr<framework::TIntercomInterface> area_;
    platform::HWND host_ = 0;
    std::unique_ptr<server::TServerWindow> window_;
    std::vector<int> clients_;
};

} // namespace

TEST_F(RemoteAccessWindowTest, TheListenerFollowsTheRunFlagOnEveryAddressAtTheConfiguredPort) {
    MakeWindow(true);
    EXPECT_TRUE(window_->RemoteAccessTabSheet.TabVisible());
    ASSERT_EQ(window_->RemoteAccessServer.Bindings.size(), 1u);
    EXPECT_EQ(window_->RemoteAccessServer.Bindings[0].IP, "0.0.0.0");
    EXPECT_EQ(window_->RemoteAccessServer.Bindings[0].Port, 0);
    EXPECT_FALSE(window_->RemoteAccessServer.Active()); // not before polling starts

    window_->OnGeneralTimer();
    ASSERT_TRUE(window_->RemoteAccessServer.Active());
    ASSERT_GT(Port(), 0);
    const TReply reply = Exchange(Request("", 0, 1, "<TQL><GET_SERVICE_NAME/></TQL>"));
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(reply.body,
              "<TQL>\r\n<GET_SERVICE_NAME name=\"" + platform::Cp("Тестовый сервис") + "\"/>\r\n</TQL>\r\n");

    // The run flag drops: the listener closes with the threads, and the window is asked to close.
    const int port = Port();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    area_->ServerData.SetRunFlag(0);
    window_->OnGeneralTimer();
    EXPECT_FALSE(window_->RemoteAccessServer.Active());
    EXPECT_FALSE(server::ThreadsList->Running.load());
    const int late = ConnectLoopback(port);
    EXPECT_LT(late, 0);
    if (late >= 0) close(late);
}

TEST_F(RemoteAccessWindowTest, RequestsThroughTheListenerAreServedOneSessionAtATime) {
    MakeWindow(true);
    window_->OnGeneralTimer();
    ASSERT_TRUE(window_->RemoteAccessServer.Active());

    // A device request in three segments parks the device's thread and is answered by the device.
    TRemoteDevice::Hold = true;
    const std::string request = Request("dom", kAddress, 7, "PING");
    const int first = Connect();
    for (const auto& [from, length] :
         std::vector<std::pair<std::size_t, std::size_t>>{{0, 150}, {150, 161}, {311, 4}})
        ASSERT_TRUE(testsupport::SendPeer(first, request.substr(from, length)));
    ASSERT_TRUE(WaitUntil([] { return TRemoteDevice::Inside.load(); }));
    EXPECT_TRUE(server::ThreadsList->Thread(0)->Paused.load());

    // Meanwhile a second client is told that the server is busy, and the log stays the session's.
    const std::string log = window_->Remote()->Log.GetText();
    const int second = Connect();
    ASSERT_TRUE(testsupport::SendPeer(second, Request("DOM", kAddress, 7, "two")));
    const TReply busy = ReadReply(second);
    ASSERT_TRUE(busy.complete);
    EXPECT_EQ(+busy.header.Status, -2);
    EXPECT_EQ(+busy.header.ReplyFlag, 1);
    EXPECT_EQ(busy.body, "Server busy!!!");
    EXPECT_EQ(window_->Remote()->Log.GetText(), log);

    // The timer shows the running session's log.
    window_->OnGeneralTimer();
    EXPECT_NE(window_->RemoteAccessMemo.Text().find("Domen name: dom"), std::string::npos);

    TRemoteDevice::Hold = false;
    const TReply reply = ReadReply(first);
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(+reply.header.Status, 0);
    EXPECT_EQ(reply.body, "ECHO:PING");
    EXPECT_TRUE(WaitUntil([&] { return !server::ThreadsList->Thread(0)->PauseRequest.load(); }));
    EXPECT_EQ(TRemoteDevice::Requests.load(), 1);

    // A bad header and a payload length beyond the longest request end the read at once.
    const std::string failed = platform::Cp("Ошибка при чтении данных TCP/IP. Код=-100");
    std::string bad = Request("DOM", kAddress, 7, "x");
    bad[4] = 'Q';
    TReply answer = Exchange(bad);
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(+answer.header.Status, -1);
    EXPECT_NE(answer.body.find(failed), std::string::npos);
    std::string large = Request("DOM", kAddress, 7, "");
    const int32_t length = 65000 - 311 + 1;
    std::memcpy(large.data() + offsetof(TRemoteRequestHeader, PayloadLength), &length, sizeof length);
    const uint64_t start = platform::MonotonicMs();
    answer = Exchange(large);
    ASSERT_TRUE(answer.complete);
    EXPECT_LT(platform::MonotonicMs() - start, 4000u);
    EXPECT_NE(answer.body.find(failed), std::string::npos);
    EXPECT_EQ(TRemoteDevice::Requests.load(), 1);
}

TEST_F(RemoteAccessWindowTest, AListenerThatCannotOpenIsReportedAndPollingGoesOn) {
    testsupport::Listener taken;
    MakeWindow(true, taken.port);
    window_->OnGeneralTimer();
    EXPECT_FALSE(window_->RemoteAccessServer.Active());
    EXPECT_TRUE(server::ThreadsList->Running.load());
    EXPECT_NE(Errors().find("-1 Remote access activating exception: "), std::string::npos) << Errors();
}

TEST_F(RemoteAccessWindowTest, SwitchedOffInTheConfigurationNothingListens) {
    MakeWindow(false);
    EXPECT_FALSE(window_->RemoteAccessTabSheet.TabVisible());
    window_->OnGeneralTimer();
    EXPECT_TRUE(server::ThreadsList->Running.load());
    EXPECT_FALSE(window_->RemoteAccessServer.Active());
}

TEST_F(RemoteAccessWindowTest, ClosingTheWindowEndsARunningSessionAndReleasesItsDevice) {
    MakeWindow(true);
    window_->OnGeneralTimer();
    TRemoteDevice::Hold = true;
    const int fd = Connect();
    ASSERT_TRUE(testsupport::SendPeer(fd, Request("DOM", kAddress, 7, "x")));
    ASSERT_TRUE(WaitUntil([] { return TRemoteDevice::Inside.load(); }));
    // The device lets go once the window has begun to close, as a slow line would.
    std::thread release([] {
        WaitUntil([] { return framework::ServerClosing.load(); });
        TRemoteDevice::Hold = false;
    });
    window_->OnDestroyWindow();
    release.join();
    EXPECT_FALSE(window_->RemoteAccessServer.Active());
    EXPECT_FALSE(server::TServerWindow::ThreadsLeftRunning());
    EXPECT_EQ(server::ThreadsList, nullptr);
    EXPECT_EQ(window_->Remote(), nullptr);
}
