// A device thread asked to stop while it waits for a device leaves the wait soon, however long the
// configured time-out, read delay or reread count: a server's stop must not hang on a silent device.
#include "framework/tcp_connection.h"
#include "framework/threads_list.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "device_test_support.h"
#include "device_thread_test_support.h"
#include "platform/loopback_test_support.h"
#include "platform/pty_test_support.h"

using namespace framework;
using thread_test::Set;
using thread_test::TLineTestDevice;
using thread_test::WaitUntil;

namespace {

enum class TLink { Serial, Tcp, TcpBadLine };
// What the device does with the poll's request: nothing, one unusable byte and then nothing, or
// (TCP) never takes the connection because its accept queue is full.
enum class TPeer { Silent, GarbageOnce, QueueFull };

class TLinkList : public TDeviceList {
public:
    explicit TLinkList(TLink link) : link_(link) {}
    std::unique_ptr<TOstrolinkaConnection> CreateConnection(TDevicePropertyList* p) override {
        if (link_ == TLink::Serial) return std::make_unique<TRS232_Connection>(p);
        if (link_ == TLink::Tcp) return std::make_unique<TTCPConnection>(p);
        return std::make_unique<TTCPBadLineConnection>(p);
    }

private:
    TLink link_;
};

class TLinkDriver : public TDriver {
public:
    explicit TLinkDriver(TLink link) : link_(link) { DeviceList = CreateDeviceList(); }
    std::unique_ptr<TDevice> CreateDevice() override { return std::make_unique<TLineTestDevice>(); }
    std::unique_ptr<TDeviceList> CreateDeviceList() override { return std::make_unique<TLinkList>(link_); }

private:
    TLink link_;
};

// A socket of this process in SYN_SENT towards the port: a connect that waits for an answer.
bool ConnectWaiting(int port) {
    char remote[16];
    std::snprintf(remote, sizeof remote, ":%04X", port);
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, rem, state;
        fields >> slot >> local >> rem >> state;
        if (rem.size() > 5 && rem.substr(rem.size() - 5) == remote && state == "02") return true;
    }
    return false;
}

struct TWaitCase {
    const char* Name;
    TLink Link;
    TPeer Peer;
    int32_t TimeOut;
    int32_t ReadDelay;
    int32_t Rereads;
};

class DeviceThreadWaits : public ::testing::TestWithParam<TWaitCase> {};

TEST_P(DeviceThreadWaits, AStopEndsTheWaitWhateverItsLength) {
    const TWaitCase& c = GetParam();
    device_test::TErrorScope errors;
    TLinkDriver driver(c.Link);
    Driver = &driver;
    testsupport::TestPty pty;
    testsupport::Listener converter(c.Peer == TPeer::QueueFull ? 0 : 8);
    ASSERT_TRUE(pty.Ok());

    TDevice& d = *driver.DeviceList->AddDevice()->Device;
    Set(d, "DeviceAddress", "3");
    Set(d, "RoutingPrefix", "PLC");
    Set(d, "RS232Port", pty.slave);
    Set(d, "DeviceIPAddress", "127.0.0.1");
    Set(d, "IPPort", c.Link == TLink::Serial ? "0" : std::to_string(converter.port));
    Set(d, "ICMPOnConnect", "FALSE");
    Set(d, "TimeOut", std::to_string(c.TimeOut));
    Set(d, "ReqwestInterval", "0");
    Set(d, "Enabled", "TRUE");
    auto threads = driver.CreateThreadsList();
    threads->CreateThreads(driver.DeviceList.get(), false);
    TDeviceThread& thread = *threads->Thread(0);
    TDevice& served = *thread.Devices->Device(0);
    served.ReadDelay = c.ReadDelay;
    served.RereadCount = c.Rereads;

    int filler = -1;
    if (c.Peer == TPeer::QueueFull) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(converter.port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    threads->ResumeAll();

    // The thread is in the wait once the device has the request (or the connect is under way).
    int peer = -1;
    const std::string request{'R', '\x03'};
    if (c.Peer == TPeer::QueueFull) {
        ASSERT_TRUE(WaitUntil([&] { return ConnectWaiting(converter.port); }));
    } else if (c.Link == TLink::Serial) {
        ASSERT_EQ(pty.Receive(2, thread_test::kDeadline), request);
        if (c.Peer == TPeer::GarbageOnce) {
            ASSERT_TRUE(pty.Send("?"));
        }
    } else {
        peer = converter.Accept(thread_test::kDeadline);
        ASSERT_GE(peer, 0);
        ASSERT_EQ(testsupport::ReadPeer(peer, 2, thread_test::kDeadline), request);
        if (c.Peer == TPeer::GarbageOnce) {
            ASSERT_TRUE(testsupport::SendPeer(peer, "?"));
        }
    }

    // Well within the bound of the termination wait, which would otherwise give the thread up.
    const uint64_t asked = platform::MonotonicMs();
    threads->TerminateAll();
    EXPECT_TRUE(thread.Finished()) << "still waiting " << platform::MonotonicMs() - asked
                                   << " ms after the stop";
    threads.reset();
    if (peer >= 0) ::close(peer);
    if (filler >= 0) ::close(filler);
    Driver = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Waits, DeviceThreadWaits,
    ::testing::Values(TWaitCase{"SerialRead", TLink::Serial, TPeer::Silent, INT_MAX, 0, 0},
                      TWaitCase{"SerialReadDelay", TLink::Serial, TPeer::Silent, 100, INT_MAX, 0},
                      TWaitCase{"SerialRereads", TLink::Serial, TPeer::GarbageOnce, 20, 0, INT_MAX},
                      TWaitCase{"TcpRead", TLink::Tcp, TPeer::Silent, INT_MAX, 0, 0},
                      TWaitCase{"TcpRereads", TLink::Tcp, TPeer::GarbageOnce, 20, 0, INT_MAX},
                      TWaitCase{"TcpBadLineRead", TLink::TcpBadLine, TPeer::Silent, INT_MAX, 0, 0},
                      TWaitCase{"TcpConnect", TLink::Tcp, TPeer::QueueFull, INT_MAX, 0, 0}),
    [](const ::testing::TestParamInfo<TWaitCase>& info) { return std::string(info.param.Name); });

} // namespace
