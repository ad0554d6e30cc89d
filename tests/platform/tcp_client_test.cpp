#include "platform/tcp_client.h"

#include "platform/clock.h"

#include "platform/loopback_test_support.h"

#include <gtest/gtest.h>

#include <csignal>

#include <memory>
#include <string>
#include <vector>

using namespace platform;
using namespace testsupport;

namespace {

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
        while (client.InputSize() < count && MonotonicMs() < deadline)
            client.ReceiveWithTimeout(50);
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

    ASSERT_TRUE(SendPeer(peer, "first"));
    ASSERT_TRUE(WaitInput(5, 2000));
    ASSERT_TRUE(SendPeer(peer, "second"));
    ASSERT_TRUE(WaitInput(11, 2000));
    EXPECT_EQ(client.TakeInput(), "firstsecond");
    EXPECT_EQ(client.InputSize(), 0u);
    EXPECT_EQ(client.TakeInput(), "");
}

TEST_F(TcpClientTest, ConnectedTestTakesNoData) {
    // Loopback delivers within the send, so the bytes wait in the socket when the test runs.
    ASSERT_TRUE(SendPeer(peer, "abc"));
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.InputSize(), 0u);
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(client.ReceiveWithTimeout(2000), 3u);
    EXPECT_LT(MonotonicMs() - start, 1000u);
    EXPECT_EQ(client.TakeInput(), "abc");
}

TEST_F(TcpClientTest, PeerThatClosedLeavesItsDataAndNeverFails) {
    ASSERT_TRUE(SendPeer(peer, std::string("\x01\x03\x00", 3)));
    close(peer);
    peer = -1;
    ASSERT_TRUE(WaitInput(3, 2000));
    // Received bytes keep the link "connected" until they are taken.
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.TakeInput(), std::string("\x01\x03\x00", 3));
    const uint64_t deadline = MonotonicMs() + 2000;
    while (client.Connected() && MonotonicMs() < deadline)
        client.ReceiveWithTimeout(20);
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
    ASSERT_TRUE(SendPeer(peer, block));
    ASSERT_TRUE(WaitInput(25, 2000));
    EXPECT_EQ(client.TakeInput(), block);
    ASSERT_TRUE(SendPeer(peer, block));
    // Each single receive is bounded by the size.
    const uint64_t deadline = MonotonicMs() + 2000;
    std::size_t n = 0;
    while (n == 0 && MonotonicMs() < deadline)
        n = client.ReceiveWithTimeout(50);
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
    struct sigaction dfl {
    }, old{};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);
    ResetPeer(peer);
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
    ASSERT_TRUE(SendPeer(peer, "left over"));
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
