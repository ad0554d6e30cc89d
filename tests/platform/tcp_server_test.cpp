#include "platform/tcp_server.h"

#include "platform/clock.h"
#include "platform/loopback_test_support.h"
#include "platform/messages.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr uint32_t kDeadline = 5000;

bool WaitUntil(const std::function<bool()>& done, uint32_t ms = kDeadline) {
    return WaitDispatching(done, ms);
}

int ConnectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// What the handlers saw, shared with handlers that may outlive a test's scope.
struct TEvents {
    std::mutex lock;
    std::vector<std::string> log;
    std::atomic<int> disconnects{0};
    void Add(const std::string& s) {
        std::lock_guard<std::mutex> g(lock);
        log.push_back(s);
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> g(lock);
        return log;
    }
    bool Has(const std::string& prefix) {
        for (const std::string& s : Log())
            if (s.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

class TcpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.Bindings.push_back({"127.0.0.1", 0});
        server.OnConnect = [ev = events](TTcpPeer& p) { ev->Add("connect " + p.PeerIP()); };
        server.OnDisconnect = [ev = events](TTcpPeer&) {
            ev->Add("disconnect");
            ++ev->disconnects;
        };
        server.OnException = [ev = events](TTcpPeer&, const std::exception& e) {
            ev->Add(std::string("exception ") + e.what());
        };
    }
    void TearDown() override {
        for (int fd : clients)
            close(fd);
    }
    int Connect() {
        const int fd = ConnectTo(server.BoundPort(0));
        EXPECT_GE(fd, 0);
        clients.push_back(fd);
        return fd;
    }

    std::shared_ptr<TEvents> events = std::make_shared<TEvents>();
    TTcpServer server;
    std::vector<int> clients;
};

} // namespace

TEST_F(TcpServerTest, EventsRunInOrderOnThePeerThreadAndLinesEcho) {
    server.OnExecute = [ev = events](TTcpPeer& p) {
        p.ReadTimeout = 2000;
        std::string line;
        if (!p.ReadLn(line)) return;
        ev->Add("line " + line);
        p.Write("echo " + line + "\r\n");
        if (line == "bye") p.StopAfterPass();
    };
    server.Activate();
    ASSERT_TRUE(server.Active());
    ASSERT_GT(server.BoundPort(0), 0);
    const int fd = Connect();
    // Two lines in one segment, a third split in two.
    ASSERT_TRUE(testsupport::SendPeer(fd, "one\r\ntwo\nby"));
    EXPECT_EQ(testsupport::ReadPeer(fd, 19, 2000), "echo one\r\necho two\r\n");
    ASSERT_TRUE(testsupport::SendPeer(fd, "e\n"));
    EXPECT_EQ(testsupport::ReadPeer(fd, 10, 2000), "echo bye\r\n");
    // The thread stopped after that pass and closed the link.
    EXPECT_EQ(testsupport::ReadPeer(fd, 1, 2000), "");
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 1; }));
    EXPECT_EQ(events->Log(), (std::vector<std::string>{"connect 127.0.0.1", "line one", "line two",
                                                       "line bye", "disconnect"}));
    EXPECT_TRUE(WaitUntil([&] { return server.PeerCount() == 0; }));
}

TEST_F(TcpServerTest, EveryConnectionHasAThreadOfItsOwn) {
    // Each handler waits for the other: with one thread for both this never ends.
    auto inside = std::make_shared<std::atomic<int>>(0);
    auto ports = std::make_shared<std::vector<int32_t>>();
    auto portsLock = std::make_shared<std::mutex>();
    server.OnExecute = [inside, ports, portsLock](TTcpPeer& p) {
        {
            std::lock_guard<std::mutex> g(*portsLock);
            ports->push_back(p.PeerPort());
        }
        ++*inside;
        WaitDispatching([&] { return inside->load() >= 2; }, kDeadline);
        p.Write(inside->load() >= 2 ? "both" : "alone");
        p.StopAfterPass();
    };
    server.Activate();
    const int a = Connect();
    const int b = Connect();
    EXPECT_EQ(testsupport::ReadPeer(a, 4, 3000), "both");
    EXPECT_EQ(testsupport::ReadPeer(b, 4, 3000), "both");
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 2; }));
    std::lock_guard<std::mutex> g(*portsLock);
    ASSERT_EQ(ports->size(), 2u);
    EXPECT_NE((*ports)[0], (*ports)[1]);
}

TEST_F(TcpServerTest, ReadsWaitAtMostTheTimeOutAndReportTheBindingAndThePeer) {
    struct TSeen {
        std::atomic<int> phase{0};
        std::string first, second, binding;
        int32_t bindingPort = 0;
        bool stillConnected = false;
    };
    auto seen = std::make_shared<TSeen>();
    server.OnExecute = [seen](TTcpPeer& p) {
        p.ReadTimeout = 100;
        seen->first = p.CurrentReadBuffer(); // nothing comes: an empty read, the link stays
        seen->stillConnected = p.Connected();
        seen->binding = p.BindingIP();
        seen->bindingPort = p.BindingPort();
        seen->phase = 1;
        p.ReadTimeout = 3000;
        while (seen->second.size() < 5 && p.Connected())
            seen->second += p.CurrentReadBuffer();
        seen->phase = 2;
        p.StopAfterPass();
    };
    server.Activate();
    const int fd = Connect();
    ASSERT_TRUE(WaitUntil([&] { return seen->phase == 1; }));
    EXPECT_EQ(seen->first, "");
    EXPECT_TRUE(seen->stillConnected);
    EXPECT_EQ(seen->binding, "127.0.0.1");
    EXPECT_EQ(seen->bindingPort, server.BoundPort(0));
    ASSERT_TRUE(testsupport::SendPeer(fd, "ab"));
    ASSERT_TRUE(testsupport::SendPeer(fd, "cde"));
    ASSERT_TRUE(WaitUntil([&] { return seen->phase == 2; }));
    EXPECT_EQ(seen->second, "abcde");
}

TEST_F(TcpServerTest, ALineBeyondTheLongestEndsTheConnectionWithAnException) {
    server.OnExecute = [ev = events](TTcpPeer& p) {
        p.MaxLineLength = 8;
        p.ReadTimeout = 2000;
        std::string line;
        if (p.ReadLn(line)) ev->Add("line " + line);
    };
    server.Activate();
    const int fd = Connect();
    ASSERT_TRUE(testsupport::SendPeer(fd, "12345678\r\n1234567890"));
    EXPECT_EQ(testsupport::ReadPeer(fd, 1, 3000), ""); // closed by the server
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 1; }));
    const auto log = events->Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "line 12345678");
    EXPECT_EQ(log[2], "exception Max line length exceeded.");
}

TEST_F(TcpServerTest, WritesCollectInTheBufferUntilFlushed) {
    auto go = std::make_shared<std::atomic<bool>>(false);
    auto results = std::make_shared<std::vector<bool>>();
    server.OnExecute = [go, results](TTcpPeer& p) {
        p.OpenWriteBuffer(10);
        results->push_back(p.Write("abc"));
        WaitDispatching([&] { return go->load(); }, kDeadline);
        results->push_back(p.Write("defghijk")); // passes the threshold: all of it goes
        results->push_back(p.Write("lm"));
        WaitDispatching([&] { return !go->load(); }, kDeadline);
        results->push_back(p.CloseWriteBuffer());
        p.StopAfterPass();
    };
    server.Activate();
    const int fd = Connect();
    EXPECT_EQ(testsupport::ReadPeer(fd, 1, 200), "");
    *go = true;
    EXPECT_EQ(testsupport::ReadPeer(fd, 11, 3000), "abcdefghijk");
    *go = false;
    EXPECT_EQ(testsupport::ReadPeer(fd, 2, 3000), "lm");
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 1; }));
    EXPECT_EQ(*results, (std::vector<bool>{true, true, true, true}));
}

TEST_F(TcpServerTest, AGonePeerFailsWritesWithoutASignal) {
    auto writes = std::make_shared<std::atomic<int>>(0);
    auto failed = std::make_shared<std::atomic<bool>>(false);
    auto armed = std::make_shared<std::atomic<bool>>(false);
    server.OnExecute = [writes, failed, armed](TTcpPeer& p) {
        *armed = true;
        const std::string block(65536, 'x');
        while (!failed->load() && *writes < 1000) {
            if (!p.Write(block)) *failed = true;
            ++*writes;
        }
        p.StopAfterPass();
    };
    server.Activate();
    const int fd = Connect();
    ASSERT_TRUE(WaitUntil([&] { return armed->load(); }));
    testsupport::ResetPeer(fd);
    clients.clear();
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 1; }));
    EXPECT_TRUE(failed->load()); // and the process is still here: no SIGPIPE
    EXPECT_LT(writes->load(), 1000);
}

TEST_F(TcpServerTest, AResetDuringAReadRaisesButAnOrderlyCloseDoesNot) {
    auto reading = std::make_shared<std::atomic<int>>(0);
    server.OnExecute = [reading](TTcpPeer& p) {
        p.ReadTimeout = 3000;
        ++*reading;
        p.CurrentReadBuffer();
        p.StopAfterPass();
    };
    server.Activate();
    const int a = Connect();
    ASSERT_TRUE(WaitUntil([&] { return reading->load() == 1; }));
    close(a);
    clients.clear();
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 1; }));
    EXPECT_FALSE(events->Has("exception"));
    const int b = Connect();
    ASSERT_TRUE(WaitUntil([&] { return reading->load() == 2; }));
    testsupport::ResetPeer(b);
    clients.clear();
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 2; }));
    EXPECT_TRUE(events->Has("exception Socket read failed"));
}

TEST_F(TcpServerTest, AHandlerExceptionIsReportedAndEndsOnlyItsConnection) {
    auto count = std::make_shared<std::atomic<int>>(0);
    server.OnExecute = [count](TTcpPeer& p) {
        if (++*count == 1) throw ESocketError("handler failed");
        p.Write("fine");
        p.StopAfterPass();
    };
    server.Activate();
    const int a = Connect();
    EXPECT_EQ(testsupport::ReadPeer(a, 1, 3000), "");
    ASSERT_TRUE(WaitUntil([&] { return events->disconnects == 1; }));
    EXPECT_TRUE(events->Has("exception handler failed"));
    const int b = Connect();
    EXPECT_EQ(testsupport::ReadPeer(b, 4, 3000), "fine");
}

TEST_F(TcpServerTest, DeactivateClosesListenerAndPeersAndWaitsForTheirThreads) {
    auto reading = std::make_shared<std::atomic<int>>(0);
    server.OnExecute = [reading](TTcpPeer& p) {
        p.ReadTimeout = 60000;
        ++*reading;
        p.CurrentReadBuffer(); // woken by the server's close, not by the time-out
    };
    server.Activate();
    const int port = server.BoundPort(0);
    const int a = Connect();
    const int b = Connect();
    ASSERT_TRUE(WaitUntil([&] { return reading->load() == 2; }));
    EXPECT_EQ(server.PeerCount(), 2);
    const uint64_t start = MonotonicMs();
    EXPECT_TRUE(server.Deactivate());
    EXPECT_LT(MonotonicMs() - start, 3000u);
    EXPECT_FALSE(server.Active());
    EXPECT_TRUE(server.Deactivate());         // inactive: nothing left
    EXPECT_EQ(events->disconnects.load(), 2); // both ran before Deactivate returned
    EXPECT_EQ(testsupport::ReadPeer(a, 1, 2000), "");
    EXPECT_EQ(testsupport::ReadPeer(b, 1, 2000), "");
    const int late = ConnectTo(port);
    EXPECT_LT(late, 0);
    if (late >= 0) close(late);
    // And it listens again on the same binding.
    server.Bindings[0].Port = port;
    server.Activate();
    EXPECT_EQ(server.BoundPort(0), port);
    const int c = Connect();
    EXPECT_TRUE(WaitUntil([&] { return reading->load() == 3; }));
    (void)c;
}

TEST_F(TcpServerTest, AThreadStuckInItsHandlerIsLeftToEndByItself) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto inside = std::make_shared<std::atomic<bool>>(false);
    server.OnExecute = [release, inside](TTcpPeer& p) {
        *inside = true;
        while (!release->load())
            Sleep(1); // deaf to the server's close
        p.StopAfterPass();
    };
    server.StopTimeoutMs = 200;
    server.Activate();
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return inside->load(); }));
    const int32_t before = TThread::AbandonedRunning();
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(server.Deactivate()); // its owner must keep what the handler uses
    EXPECT_LT(MonotonicMs() - start, 2000u);
    EXPECT_EQ(TThread::AbandonedRunning(), before + 1);
    EXPECT_EQ(events->disconnects.load(), 0);
    *release = true;
    // It finishes its events on its own and frees itself.
    EXPECT_TRUE(WaitUntil([&] { return TThread::AbandonedRunning() == before; }));
    EXPECT_EQ(events->disconnects.load(), 1);
}

TEST(TcpServerActivate, ABindingThatCannotListenRaisesAndLeavesNothingOpen) {
    testsupport::Listener taken;
    TTcpServer server;
    server.Bindings.push_back({"127.0.0.1", 0});
    server.Bindings.push_back({"127.0.0.1", taken.port});
    EXPECT_THROW(server.Activate(), ESocketError);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.BoundPort(0), 0);
    server.Bindings = {{"127.0.0.300", 0}};
    EXPECT_THROW(server.Activate(), ESocketError);
    server.Bindings = {{"127.0.0.1", 70000}};
    EXPECT_THROW(server.Activate(), ESocketError);
    // The default port serves a binding without one.
    server.Bindings = {{"127.0.0.1", 0}};
    server.DefaultPort = taken.port;
    EXPECT_THROW(server.Activate(), ESocketError);
    EXPECT_FALSE(server.Active());
}
