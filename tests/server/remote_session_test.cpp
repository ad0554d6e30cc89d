#include "server/remote_session.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/device_list.h"
#include "framework/device_property_list.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "platform/clock.h"
#include "platform/loopback_test_support.h"
#include "platform/messages.h"
#include "platform/tcp_server.h"
#include "platform/text.h"
#include "remote_test_support.h"
#include "server_test_support.h"

using framework::TRemoteRequestHeader;
using server::TRemoteSession;
using namespace remotetest;

namespace {

// The server's session in a test process: the driver, one parked-able device thread, the session
// on a loopback TCP server, and the error object that takes its reports.
class RemoteSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        servertest::UseRunNamespace();
        // The program's own driver and error object, when the test program has them, come back after.
        savedDriver = framework::Driver;
        savedErrors = framework::ErrorObj;
        framework::Driver = &driver;
        framework::ErrorObj = &errors;
        TRemoteDevice::Hold = false;
        TRemoteDevice::Raise = false;
        TRemoteDevice::Requests = 0;
        framework::TDevice& d = *driver.DeviceList->AddDevice()->Device;
        Set(d, "DeviceName", "Pump");
        Set(d, "DeviceAddress", std::to_string(kAddress));
        Set(d, "RoutingPrefix", "DOM");
        Set(d, "ReqwestInterval", "1000000");
        Set(d, "Enabled", "TRUE");
        threads = driver.CreateThreadsList();
        threads->CreateThreads(driver.DeviceList.get(), false);
        threads->ResumeAll();

        session.LingerMs = 300;
        server.Bindings.push_back({"127.0.0.1", 0});
        session.Attach(server);
        server.Activate();
    }
    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "session log:\n%s\nerrors:\n%s\n",
                         platform::Utf8FromCp1251(log.GetText()).c_str(),
                         platform::Utf8FromCp1251(errors.Log->GetText()).c_str());
        TRemoteDevice::Hold = false;
        for (int fd : clients)
            close(fd);
        server.Deactivate();
        threads.reset();
        framework::ErrorObj = savedErrors;
        framework::Driver = savedDriver;
    }

    int Connect() {
        const int fd = ConnectLoopback(server.BoundPort(0));
        EXPECT_GE(fd, 0);
        clients.push_back(fd);
        return fd;
    }
    // One session after the other: the last must have let go of the server.
    TReply Exchange(const std::string& request) {
        EXPECT_TRUE(WaitUntil([&] { return !busy.load(); }));
        const int fd = Connect();
        EXPECT_TRUE(testsupport::SendPeer(fd, request));
        return ReadReply(fd);
    }
    framework::TDeviceThread& Thread() { return *threads->Thread(0); }
    static std::size_t Count(const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    framework::TDriver* savedDriver = nullptr;
    framework::TDriverErrorClass* savedErrors = nullptr;
    TRemoteDriver driver;
    framework::TDriverErrorClass errors;
    std::unique_ptr<framework::TThreadsList> threads;
    framework::TTerminalDataClass log;
    std::atomic<bool> busy{false};
    TRemoteSession session{log, busy, [this] { return threads.get(); }};
    platform::TTcpServer server;
    std::vector<int> clients;
};

} // namespace

TEST_F(RemoteSessionTest, ADeviceRequestSplitAcrossSegmentsIsServedWithItsThreadParked) {
    const std::string request = Request("dom", kAddress, 7, "PING");
    const int fd = Connect();
    // Three segments: inside the header, at its end, inside the payload.
    for (const auto& [from, length] :
         std::vector<std::pair<std::size_t, std::size_t>>{{0, 100}, {100, 211}, {311, 2}, {313, 2}}) {
        ASSERT_TRUE(testsupport::SendPeer(fd, request.substr(from, length)));
    }
    const TReply reply = ReadReply(fd);
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(+reply.header.Status, 0);
    EXPECT_EQ(reply.body, "ECHO:PING");
    EXPECT_EQ(+reply.header.DeviceAddress, kAddress);
    EXPECT_EQ(TRemoteDevice::Requests.load(), 1);
    // The connection is held a while, then closed; the thread polls again.
    const uint64_t replied = platform::MonotonicMs();
    EXPECT_EQ(testsupport::ReadPeer(fd, 1, 5000), "");
    EXPECT_GE(platform::MonotonicMs() - replied + 50, session.LingerMs);
    EXPECT_TRUE(WaitUntil([&] { return !Thread().PauseRequest.load() && !Thread().Paused.load(); }));
    EXPECT_TRUE(WaitUntil([&] { return !busy.load(); }));
    const std::string text = log.GetText();
    EXPECT_NE(text.find("Remote client address: 127.0.0.1"), std::string::npos);
    EXPECT_NE(text.find("Server port: " + platform::IntToStr(server.BoundPort(0))), std::string::npos);
    EXPECT_NE(text.find("Domen name: dom\r\nDevice address: 5\r\nRequest code: 7"), std::string::npos);
    EXPECT_NE(text.find("device served"), std::string::npos);
    EXPECT_TRUE(WaitUntil([&] { return log.GetText().find("Disconnected") != std::string::npos; }));
}

TEST_F(RemoteSessionTest, ASecondClientGetsTheBusyReplyAndLeavesTheRunningSessionsLogAlone) {
    TRemoteDevice::Hold = true;
    const int first = Connect();
    ASSERT_TRUE(testsupport::SendPeer(first, Request("DOM", kAddress, 7, "one")));
    ASSERT_TRUE(WaitUntil([] { return TRemoteDevice::Inside.load(); }));
    const std::string before = log.GetText();
    ASSERT_NE(before.find("Device address: 5"), std::string::npos);

    // Several at once: none of them starts a session of its own.
    std::vector<int> others;
    for (int i = 0; i < 3; ++i)
        others.push_back(Connect());
    for (int fd : others)
        ASSERT_TRUE(testsupport::SendPeer(fd, Request("DOM", kAddress, 7, "two")));
    for (int fd : others) {
        const TReply busyReply = ReadReply(fd);
        ASSERT_TRUE(busyReply.complete);
        EXPECT_EQ(+busyReply.header.Status, -2);
        EXPECT_EQ(+busyReply.header.ReplyFlag, 1);
        EXPECT_EQ(busyReply.body, "Server busy!!!");
        EXPECT_EQ(testsupport::ReadPeer(fd, 1, 3000), ""); // closed at once
    }
    EXPECT_EQ(TRemoteDevice::Requests.load(), 1);
    // Their connects and disconnects did not touch the log of the session that runs.
    EXPECT_EQ(log.GetText(), before);

    TRemoteDevice::Hold = false;
    const TReply reply = ReadReply(first);
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(reply.body, "ECHO:one");
    EXPECT_EQ(testsupport::ReadPeer(first, 1, 5000), "");
    ASSERT_TRUE(WaitUntil([&] { return log.GetText().find("Disconnected") != std::string::npos; }));
    EXPECT_EQ(Count(log.GetText(), "Disconnecting..."), 1u);
    EXPECT_EQ(log.GetText().rfind(before, 0), 0u);
}

TEST_F(RemoteSessionTest, ABadHeaderEndsTheReadAtOnceWithItsCode) {
    std::string request = Request("DOM", kAddress, 7, "x");
    const int32_t size = 300;
    std::memcpy(request.data(), &size, sizeof size);
    const uint64_t start = platform::MonotonicMs();
    TReply reply = Exchange(request);
    ASSERT_TRUE(reply.complete);
    EXPECT_LT(platform::MonotonicMs() - start, 4000u); // not the 5 s of the read's time-out
    EXPECT_EQ(+reply.header.Status, -1);
    const std::string failed = platform::Cp("Ошибка при чтении данных TCP/IP. Код=-100");
    EXPECT_NE(reply.body.find(failed), std::string::npos);
    EXPECT_NE(reply.body.find("/------ Client and Server params -------/"), std::string::npos);

    request = Request("DOM", kAddress, 7, "x");
    request[5] = 'W';
    reply = Exchange(request);
    ASSERT_TRUE(reply.complete);
    EXPECT_NE(reply.body.find(failed), std::string::npos);
    EXPECT_EQ(TRemoteDevice::Requests.load(), 0);
    EXPECT_FALSE(Thread().PauseRequest.load());
}

TEST_F(RemoteSessionTest, APayloadLengthBeyondTheLongestRequestOrBelowZeroIsRefused) {
    const std::string failed = platform::Cp("Ошибка при чтении данных TCP/IP. Код=-100");
    for (const int32_t length : {65000 - 311 + 1, -1, INT32_MAX}) {
        std::string request = Request("DOM", kAddress, 7, "");
        std::memcpy(request.data() + offsetof(TRemoteRequestHeader, PayloadLength), &length, sizeof length);
        const uint64_t start = platform::MonotonicMs();
        const TReply reply = Exchange(request);
        ASSERT_TRUE(reply.complete) << length;
        EXPECT_LT(platform::MonotonicMs() - start, 4000u) << length;
        EXPECT_NE(reply.body.find(failed), std::string::npos) << length;
    }
    EXPECT_EQ(TRemoteDevice::Requests.load(), 0);
    // The longest request that is allowed still goes through.
    const std::string payload(65000 - 311, 'p');
    const TReply reply = Exchange(Request("DOM", kAddress, 7, payload));
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(+reply.header.Status, 0);
    EXPECT_EQ(reply.body, "ECHO:" + payload);
}

TEST_F(RemoteSessionTest, TheServiceNameRequestIsAnsweredWithoutParkingAThread) {
    const TReply reply = Exchange(Request("", 0, 1, "  <TQL><GET_SERVICE_NAME/><FOO/></TQL> "));
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(+reply.header.Status, 0);
    EXPECT_EQ(+reply.header.Status2, 0);
    EXPECT_EQ(reply.body, "<TQL>\r\n<GET_SERVICE_NAME name=\"" + platform::Cp("Тестовый сервис") +
                              "\"/>\r\n<ERROR Message=\"Unknoun command!\"/>\r\n</TQL>\r\n");
    EXPECT_FALSE(Thread().PauseRequest.load());
    EXPECT_EQ(TRemoteDevice::Requests.load(), 0);
}

TEST_F(RemoteSessionTest, AnUnknownDeviceOrAFailedRequestIsAnsweredWithTheLog) {
    TReply reply = Exchange(Request("DOM", 9, 7, "x"));
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(+reply.header.Status, -1);
    EXPECT_NE(reply.body.find(platform::Cp("Устройство не найдено или недоступно.")), std::string::npos);
    EXPECT_NE(reply.body.find("Device address: 9"), std::string::npos);

    // A device that raises inside the request: no reply is owed, but its thread must poll again.
    TRemoteDevice::Raise = true;
    ASSERT_TRUE(WaitUntil([&] { return !busy.load(); }));
    const int fd = Connect();
    ASSERT_TRUE(testsupport::SendPeer(fd, Request("DOM", kAddress, 7, "x")));
    EXPECT_EQ(testsupport::ReadPeer(fd, 1, 8000), "");
    EXPECT_EQ(TRemoteDevice::Requests.load(), 1);
    EXPECT_TRUE(WaitUntil([&] { return !Thread().PauseRequest.load() && !Thread().Paused.load(); }));
    EXPECT_TRUE(WaitUntil([&] { return !busy.load(); }));
}

TEST_F(RemoteSessionTest, NoCompleteRequestWithinTheTimeOutIsAnsweredWithItsCode) {
    const std::string request = Request("DOM", kAddress, 7, "abc");
    const TReply reply = Exchange(request.substr(0, 312));
    ASSERT_TRUE(reply.complete);
    EXPECT_EQ(+reply.header.Status, -1);
    EXPECT_NE(reply.body.find(platform::Cp("Ошибка при чтении данных TCP/IP. Код=-101")), std::string::npos);
    EXPECT_EQ(TRemoteDevice::Requests.load(), 0);
}

// ---- reading requests on a connection of our own

namespace {

// A loopback pair: our end as the server's peer, the client's socket for the test.
struct TPeerPair {
    TPeerPair() {
        client = ConnectLoopback(listener.port);
        EXPECT_GE(client, 0);
        accepted = listener.Accept();
        EXPECT_GE(accepted, 0);
        peer = std::make_unique<platform::TTcpPeer>(accepted, 1);
        peer->ReadTimeout = 5000;
        peer->Data = std::make_unique<server::TRemoteRequestBuffer>();
    }
    ~TPeerPair() {
        if (client >= 0) close(client);
    }
    // Sends the pieces one by one, each only once the one before has been taken from the socket.
    void SendInPieces(const std::vector<std::string>& pieces) {
        for (const std::string& p : pieces) {
            WaitUntil([&] {
                int queued = 0;
                return ioctl(accepted, FIONREAD, &queued) == 0 && queued == 0;
            });
            testsupport::SendPeer(client, p);
        }
    }
    server::TRemoteRequestBuffer& Buffer() { return static_cast<server::TRemoteRequestBuffer&>(*peer->Data); }

    testsupport::Listener listener;
    int client = -1;
    int accepted = -1;
    std::unique_ptr<platform::TTcpPeer> peer;
};

// The platform layer takes its namespace once: the run's, also when these tests come first.
class ReadRemoteRequest : public ::testing::Test {
protected:
    void SetUp() override { servertest::UseRunNamespace(); }
};

} // namespace

TEST_F(ReadRemoteRequest, PiecesAreAssembledAndWhatFollowsWaitsForTheNextRead) {
    TPeerPair pair;
    const std::string first = Request("DOM", 1, 7, "0123456789");
    const std::string second = Request("DOM", 2, 8, "abc");
    std::thread sender([&] {
        pair.SendInPieces({first.substr(0, 5), first.substr(5, 306), first.substr(311, 4),
                           first.substr(315) + second.substr(0, 200)});
    });
    std::string stream;
    TRemoteRequestHeader header{};
    EXPECT_EQ(server::ReadRemoteRequest(*pair.peer, 5000, stream, header), 321);
    sender.join();
    EXPECT_EQ(stream, first);
    EXPECT_EQ(+header.DeviceAddress, 1);
    EXPECT_EQ(pair.Buffer().Leftover, second.substr(0, 200));

    testsupport::SendPeer(pair.client, second.substr(200));
    EXPECT_EQ(server::ReadRemoteRequest(*pair.peer, 5000, stream, header), 314);
    EXPECT_EQ(stream, second);
    EXPECT_EQ(+header.RequestCode, 8);
    EXPECT_EQ(pair.Buffer().Leftover, "");
}

TEST_F(ReadRemoteRequest, AGonePeerOrAMissingBufferEndsTheRead) {
    std::string stream = "old";
    TRemoteRequestHeader header{};
    {
        TPeerPair pair;
        pair.peer->Data.reset();
        EXPECT_EQ(server::ReadRemoteRequest(*pair.peer, 1000, stream, header), framework::kRemoteBadRequest);
        EXPECT_EQ(stream, "");
    }
    {
        TPeerPair pair;
        testsupport::SendPeer(pair.client, Request("DOM", 1, 7, "abc").substr(0, 50));
        close(pair.client);
        pair.client = -1;
        EXPECT_EQ(server::ReadRemoteRequest(*pair.peer, 5000, stream, header), framework::kRemoteBadRequest);
    }
}
