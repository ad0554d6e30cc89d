#include "framework/tcp_connection.h"

#include "connection_test_support.h"
#include "platform/clock.h"
#include "platform/loopback_test_support.h"
#include "platform/netns_child.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <vector>

using namespace framework;
using namespace testsupport;
using platform::MonotonicMs;

namespace {

// A converter in TCP server mode: takes one connection, waits for a request of `requestLength`
// bytes, then sends each piece after its delay, and closes when the test ends.
class TcpDevice {
public:
    struct Piece {
        uint32_t delayMs;
        std::string bytes;
    };
    TcpDevice(std::size_t requestLength, std::vector<Piece> pieces)
        : thread_([this, requestLength, pieces = std::move(pieces)] {
              peer_ = server.Accept(5000);
              if (peer_ < 0) return;
              if (requestLength > 0) request_ = ReadPeer(peer_, requestLength, 5000);
              for (const Piece& p : pieces) {
                  platform::Sleep(p.delayMs);
                  SendPeer(peer_, p.bytes);
              }
          }) {}
    ~TcpDevice() {
        Join();
        if (peer_ >= 0) close(peer_);
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    const std::string& Request() {
        Join();
        return request_;
    }
    // An orderly close, or a reset.
    void ClosePeer(bool reset = false) {
        Join();
        if (peer_ >= 0) reset ? ResetPeer(peer_) : static_cast<void>(close(peer_));
        peer_ = -1;
    }

    Listener server;

private:
    int peer_ = -1;
    std::string request_;
    std::thread thread_;
};

void FillProps(TDevicePropertyList& p, int port, bool icmp = false) {
    p.SetProperty("DeviceIPAddress", "127.0.0.1", TPropertyType::Text);
    p.SetProperty("IPPort", platform::IntToStr(port), TPropertyType::Integer);
    p.SetProperty("ICMPOnConnect", icmp ? "TRUE" : "FALSE", TPropertyType::Boolean);
}

} // namespace

TEST(TCPConnection, FieldsDefaultsAndSettingsChanged) {
    TDevicePropertyList empty;
    TTCPConnection d(&empty);
    EXPECT_EQ(d.IPAddress, "");
    EXPECT_EQ(d.IPPort, 502);
    EXPECT_EQ(d.TimeOut, 1000);
    EXPECT_EQ(d.PINGTimeOut, 500);
    EXPECT_TRUE(d.ICMPOnConnect);
    EXPECT_TRUE(d.CloseConnectionFlag);
    EXPECT_TRUE(d.CloseAfterPoll());
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.Kind(), TConnectionKind::TCP);
    EXPECT_EQ(TTCPBadLineConnection(&empty).Kind(), TConnectionKind::TCPBadLine);
    // A missing IPPort compares as -1, so it never matches the 502 the link was made with.
    EXPECT_TRUE(d.SettingsChanged(&empty));

    TDevicePropertyList p;
    FillProps(p, 4001);
    p.SetProperty("CloseConnection", "FALSE", TPropertyType::Boolean);
    p.SetProperty("TimeOut", "300", TPropertyType::Integer);
    TTCPConnection c(&p);
    EXPECT_FALSE(c.CloseAfterPoll());
    EXPECT_FALSE(c.SettingsChanged(&p));
    TTerminalDataClass log;
    c.LogConnecting(&log);
    EXPECT_EQ(LogLines(log), Trace({"Connecting to 127.0.0.1 to port 4001"}));
    const std::pair<const char*, const char*> changes[] = {
        {"DeviceIPAddress", "127.0.0.2"}, {"IPPort", "4002"}, {"TimeOut", "301"}};
    for (const auto& [name, value] : changes) {
        TDevicePropertyList q;
        q.Assign(p);
        q.SetProperty(name, value, TPropertyType::Text);
        EXPECT_TRUE(c.SettingsChanged(&q)) << name;
    }
    TDevicePropertyList q;
    q.Assign(p);
    q.SetProperty("CloseConnection", "TRUE", TPropertyType::Boolean);
    EXPECT_FALSE(c.SettingsChanged(&q));
    EXPECT_TRUE(c.SettingsChanged(nullptr));
}

TEST(TCPConnection, ICMPCheckLines) {
    if (!netns::IcmpSocketAllowed()) GTEST_SKIP() << "no ICMP socket may be opened here: the echo needs one";
    TTerminalDataClass log;
    TDevicePropertyList p;
    FillProps(p, 1, true);
    TTCPConnection reachable(&p);
    EXPECT_TRUE(reachable.CheckICMP(&log));
    EXPECT_EQ(LogLines(log), Trace({"127.0.0.1: " + "ICMP запрос прошел успешно!"_cp}));

    log.Clear();
    p.SetProperty("DeviceIPAddress", "localhost", TPropertyType::Text); // names are not looked up
    TTCPConnection named(&p);
    EXPECT_FALSE(named.CheckICMP(&log));
    EXPECT_EQ(LogLines(log),
              Trace({"localhost: " + "Ошибка контроля связи по протоколу ICMP. Устройство не доступно."_cp}));

    log.Clear();
    p.SetProperty("DeviceIPAddress", "", TPropertyType::Text);
    TTCPConnection blank(&p);
    EXPECT_FALSE(blank.CheckICMP(&log));
    EXPECT_FALSE(blank.Open(&log));
    EXPECT_EQ(LogLines(log),
              Trace({"IP адрес не определен или не верен."_cp, "IP адрес не определен или не верен."_cp}));
    EXPECT_EQ(blank.Client, nullptr);

    // Switched off: no ping and no line.
    log.Clear();
    p.SetProperty("ICMPOnConnect", "FALSE", TPropertyType::Boolean);
    TTCPConnection off(&p);
    EXPECT_TRUE(off.CheckICMP(&log));
    EXPECT_TRUE(LogLines(log).empty());
}

TEST(TCPConnection, OpenWithICMPThenCloseLogsItsTwoLines) {
    if (!netns::IcmpSocketAllowed()) GTEST_SKIP() << "no ICMP socket may be opened here: the echo needs one";
    TcpDevice device(0, {});
    TDevicePropertyList p;
    FillProps(p, device.server.port, true);
    TTCPConnection c(&p);
    TTerminalDataClass log;
    ASSERT_TRUE(c.Open(&log));
    EXPECT_TRUE(c.IsOpen());
    EXPECT_EQ(LogLines(log), Trace({"127.0.0.1: " + "ICMP запрос прошел успешно!"_cp}));
    log.Clear();
    EXPECT_TRUE(c.Close(&log));
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.Client, nullptr);
    EXPECT_EQ(LogLines(log), Trace({"Disconnect started...", "Disconnected"}));
    // Without a client only the first line.
    log.Clear();
    EXPECT_TRUE(c.Close(&log));
    EXPECT_EQ(LogLines(log), Trace({"Disconnect started..."}));
    EXPECT_TRUE(c.Close(nullptr));
}

TEST(TCPConnection, RefusedConnectLeavesNoClient) {
    Listener closed(0, false);
    TDevicePropertyList p;
    FillProps(p, closed.port);
    p.SetProperty("TimeOut", "500", TPropertyType::Integer);
    TTCPConnection c(&p);
    TTerminalDataClass log;
    EXPECT_FALSE(c.Open(&log));
    EXPECT_EQ(c.Client, nullptr);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_TRUE(LogLines(log).empty());
    std::string data = "x";
    EXPECT_EQ(c.Read(50, data, &log), 0);
    EXPECT_EQ(data, "");
    EXPECT_EQ(c.Write("abc", &log), TTCPConnection::kWriteFailed);
    EXPECT_EQ(c.Write("abc", &log), -15);
}

// A port outside 1..65535 opens nothing: cut to 16 bits it would reach the listener below.
TEST(TCPConnection, APortOutsideItsLimitsConnectsNowhere) {
    Listener device;
    for (const int port : {device.port + 65536, device.port + 2 * 65536, device.port - 65536, 0}) {
        TDevicePropertyList p;
        FillProps(p, port);
        TTCPConnection c(&p);
        EXPECT_FALSE(c.Open(nullptr)) << port;
        EXPECT_EQ(c.Client, nullptr) << port;
    }
    EXPECT_LT(device.Accept(0), 0);
}

TEST(TCPConnection, AnswerInTwoSegmentsGivesTheFirstOnly) {
    TcpDevice device(3, {{0, "first"}, {200, "second"}});
    TDevicePropertyList p;
    FillProps(p, device.server.port);
    TTCPConnection c(&p);
    ASSERT_TRUE(c.Open(nullptr));
    TTerminalDataClass log;
    EXPECT_EQ(c.Write("req", &log), 3);
    std::string data;
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(c.Read(1000, data, &log), 5);
    EXPECT_LT(MonotonicMs() - start, 190u);
    EXPECT_EQ(data, "first");
    EXPECT_EQ(c.Read(1000, data, &log), 6);
    EXPECT_EQ(data, "second");
    EXPECT_EQ(device.Request(), "req");
    EXPECT_TRUE(LogLines(log).empty());
}

TEST(TCPConnection, BadLineCollectsForTheWholeTimeOut) {
    TcpDevice device(3, {{0, "first"}, {150, "second"}});
    TDevicePropertyList p;
    FillProps(p, device.server.port);
    TTCPBadLineConnection c(&p);
    ASSERT_TRUE(c.Open(nullptr));
    EXPECT_EQ(c.Write("req", nullptr), 3);
    std::string data;
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(c.Read(400, data, nullptr), 11);
    const uint64_t took = MonotonicMs() - start;
    EXPECT_EQ(data, "firstsecond");
    EXPECT_GE(took, 400u);
    EXPECT_LT(took, 400u + 20u + 100u + 500u);
}

TEST(TCPConnection, SilentOrClosedPeerGivesZeroAfterTheTimeOut) {
    for (bool badLine : {false, true}) {
        TcpDevice device(0, {});
        TDevicePropertyList p;
        FillProps(p, device.server.port);
        std::unique_ptr<TTCPConnection> c =
            badLine ? std::make_unique<TTCPBadLineConnection>(&p) : std::make_unique<TTCPConnection>(&p);
        ASSERT_TRUE(c->Open(nullptr));
        std::string data;
        uint64_t start = MonotonicMs();
        EXPECT_EQ(c->Read(150, data, nullptr), 0);
        EXPECT_GE(MonotonicMs() - start, 150u);
        EXPECT_EQ(data, "");

        device.ClosePeer();
        start = MonotonicMs();
        EXPECT_EQ(c->Read(150, data, nullptr), 0);
        const uint64_t took = MonotonicMs() - start;
        EXPECT_GE(took, 150u);
        EXPECT_LT(took, 150u + 1000u);
    }
}

TEST(TCPConnection, WriteToAPeerThatHasGoneGivesMinus15WithoutASignal) {
    struct sigaction dfl {
    }, old{};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);
    TcpDevice device(0, {});
    TDevicePropertyList p;
    FillProps(p, device.server.port);
    TTCPConnection c(&p);
    ASSERT_TRUE(c.Open(nullptr));
    device.ClosePeer(true);
    int32_t result = 0;
    const uint64_t deadline = MonotonicMs() + 3000;
    while (result != -15 && MonotonicMs() < deadline)
        result = c.Write("frame", nullptr);
    EXPECT_EQ(result, -15);
    sigaction(SIGPIPE, &old, nullptr);
}
