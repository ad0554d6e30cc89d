#include "platform/tcp_client.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

using namespace platform;

namespace {

// A listening socket on 127.0.0.1 with a port of the system's choice.
struct Listener {
    int fd = -1;
    int port = 0;

    explicit Listener(int backlog = 8, bool listening = true) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        socklen_t len = sizeof(a);
        EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port = ntohs(a.sin_port);
        if (listening) {
            EXPECT_EQ(listen(fd, backlog), 0);
        }
    }
    ~Listener() {
        if (fd >= 0) close(fd);
    }
    // The next peer, waiting up to `ms`; -1 when none came.
    int Accept(int ms = 2000) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return -1;
        return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
};

// Reads from a peer socket until `count` bytes came or `ms` passed.
std::string ReadPeer(int fd, std::size_t count, int ms) {
    std::string out;
    const uint64_t deadline = MonotonicMs() + ms;
    while (out.size() < count) {
        const uint64_t now = MonotonicMs();
        if (now >= deadline) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(deadline - now)) != 1) break;
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

void SendPeer(int fd, const std::string& s) {
    ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), static_cast<ssize_t>(s.size()));
}

class TcpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        client.Host = "127.0.0.1";
        client.Port = server.port;
        ASSERT_TRUE(client.Connect(1000));
        peer = server.Accept();
        ASSERT_GE(peer, 0);
    }
    void TearDown() override {
        if (peer >= 0) close(peer);
    }
    // Waits until the client has buffered `count` bytes.
    bool WaitInput(std::size_t count, int ms) {
        const uint64_t deadline = MonotonicMs() + ms;
        while (client.InputSize() < count && MonotonicMs() < deadline) client.ReceiveWithTimeout(50);
        return client.InputSize() >= count;
    }
    Listener server;
    TTcpClient client;
    int peer = -1;
};

} // namespace

TEST(TcpClientConnect, RefusedAndUnresolvableTargetsFailQuickly) {
    Listener closed(0, false); // bound, not listening: connects are refused
    TTcpClient client;
    client.Host = "127.0.0.1";
    client.Port = closed.port;
    uint64_t start = MonotonicMs();
    EXPECT_FALSE(client.Connect(3000));
    EXPECT_LT(MonotonicMs() - start, 2000u);
    EXPECT_FALSE(client.Connected());
    client.Host = "";
    EXPECT_FALSE(client.Connect(100));
    client.Host = "127.0.0.1";
    client.Port = 70000;
    EXPECT_FALSE(client.Connect(100));
    // Nothing on a link that never came up fails loudly.
    EXPECT_FALSE(client.Write("x"));
    EXPECT_EQ(client.ReceiveWithTimeout(10), 0u);
    EXPECT_EQ(client.CurrentReadBuffer(), "");
    EXPECT_FALSE(client.FlushWriteBuffer());
}

TEST(TcpClientConnect, ConnectGivesUpAtItsTimeOut) {
    // A listener whose queue is full drops further handshakes, so a connect waits: it must end at
    // the time-out. Earlier connects fill the queue.
    Listener full(0);
    std::vector<std::unique_ptr<TTcpClient>> fillers;
    bool timedOut = false;
    for (int i = 0; i < 8 && !timedOut; ++i) {
        auto c = std::make_unique<TTcpClient>();
        c->Host = "127.0.0.1";
        c->Port = full.port;
        const uint64_t start = MonotonicMs();
        const bool ok = c->Connect(200);
        const uint64_t took = MonotonicMs() - start;
        if (!ok) {
            timedOut = true;
            EXPECT_GE(took, 195u);
            EXPECT_LT(took, 200u + 1000u);
        }
        fillers.push_back(std::move(c));
    }
    EXPECT_TRUE(timedOut);
}

TEST(TcpClientConnect, HostNamesAreResolved) {
    Listener server;
    TTcpClient client;
    client.Host = "localhost";
    client.Port = server.port;
    ASSERT_TRUE(client.Connect(2000));
    EXPECT_TRUE(client.Connected());
    const int peer = server.Accept();
    EXPECT_GE(peer, 0);
    close(peer);
}

TEST_F(TcpClientTest, ReceiveTakesWhatCameAndTimesOutWithoutFailing) {
    EXPECT_TRUE(client.Connected());
    uint64_t start = MonotonicMs();
    EXPECT_EQ(client.ReceiveWithTimeout(60), 0u);
    EXPECT_GE(MonotonicMs() - start, 59u);
    EXPECT_TRUE(client.Connected());

    SendPeer(peer, "first");
    ASSERT_TRUE(WaitInput(5, 2000));
    SendPeer(peer, "second");
    ASSERT_TRUE(WaitInput(11, 2000));
    EXPECT_EQ(client.TakeInput(), "firstsecond");
    EXPECT_EQ(client.InputSize(), 0u);
    EXPECT_EQ(client.TakeInput(), "");
}

TEST_F(TcpClientTest, PeerThatClosedLeavesItsDataAndNeverFails) {
    SendPeer(peer, std::string("\x01\x03\x00", 3));
    close(peer);
    peer = -1;
    ASSERT_TRUE(WaitInput(3, 2000));
    // Received bytes keep the link "connected" until they are taken.
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.TakeInput(), std::string("\x01\x03\x00", 3));
    const uint64_t deadline = MonotonicMs() + 2000;
    while (client.Connected() && MonotonicMs() < deadline) client.ReceiveWithTimeout(20);
    EXPECT_FALSE(client.Connected());
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(client.ReceiveWithTimeout(500), 0u);
    EXPECT_LT(MonotonicMs() - start, 400u);
    EXPECT_EQ(client.CurrentReadBuffer(), "");
}

TEST_F(TcpClientTest, ReceiveMovesAtMostTheReceiveBufferSize) {
    client.SetRecvBufferSize(10);
    EXPECT_EQ(client.RecvBufferSize(), 10u);
    const std::string block(25, 'k');
    SendPeer(peer, block);
    ASSERT_TRUE(WaitInput(25, 2000));
    EXPECT_EQ(client.TakeInput(), block);
    SendPeer(peer, block);
    // Each single receive is bounded by the size.
    const uint64_t deadline = MonotonicMs() + 2000;
    std::size_t n = 0;
    while (n == 0 && MonotonicMs() < deadline) n = client.ReceiveWithTimeout(50);
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 10u);
}

TEST_F(TcpClientTest, BufferedWritesGoOutOnlyWhenFlushed) {
    client.OpenWriteBuffer();
    EXPECT_TRUE(client.WriteBufferOpen());
    EXPECT_TRUE(client.Write("ab"));
    EXPECT_TRUE(client.Write("cd"));
    EXPECT_EQ(ReadPeer(peer, 1, 50), "");
    EXPECT_TRUE(client.FlushWriteBuffer());
    EXPECT_EQ(ReadPeer(peer, 4, 2000), "abcd");
    // Closing the buffer sends what is left and writes go straight out afterwards.
    EXPECT_TRUE(client.Write("ef"));
    EXPECT_TRUE(client.CloseWriteBuffer());
    EXPECT_FALSE(client.WriteBufferOpen());
    EXPECT_EQ(ReadPeer(peer, 2, 2000), "ef");
    EXPECT_TRUE(client.Write("gh"));
    EXPECT_EQ(ReadPeer(peer, 2, 2000), "gh");
    // A threshold sends once it is passed.
    client.OpenWriteBuffer(3);
    EXPECT_TRUE(client.Write("123"));
    EXPECT_EQ(ReadPeer(peer, 1, 50), "");
    EXPECT_TRUE(client.Write("4"));
    EXPECT_EQ(ReadPeer(peer, 4, 2000), "1234");
}

TEST_F(TcpClientTest, SendToAPeerThatHasGoneRaisesNoSignal) {
    // The default action of SIGPIPE ends the process; the test survives only without the signal.
    struct sigaction dfl {}, old{};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);
    linger hard{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard)); // close with a reset
    close(peer);
    peer = -1;
    bool failed = false;
    const uint64_t deadline = MonotonicMs() + 3000;
    while (!failed && MonotonicMs() < deadline) {
        failed = !client.Write("ping");
        if (!failed) poll(nullptr, 0, 1);
    }
    EXPECT_TRUE(failed);
    client.OpenWriteBuffer();
    EXPECT_TRUE(client.Write("more"));
    EXPECT_FALSE(client.FlushWriteBuffer());
    sigaction(SIGPIPE, &old, nullptr);
}

TEST_F(TcpClientTest, DisconnectDropsLinkAndBufferedInput) {
    SendPeer(peer, "left over");
    ASSERT_TRUE(WaitInput(9, 2000));
    client.Disconnect();
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.InputSize(), 0u);
    // The peer sees the close.
    EXPECT_EQ(ReadPeer(peer, 1, 2000), "");
    // And the client can connect again.
    ASSERT_TRUE(client.Connect(1000));
    EXPECT_TRUE(client.Connected());
}
