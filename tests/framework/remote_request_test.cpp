#include "framework/remote_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "remote_test_support.h"

using namespace framework;
using remote_test::HeaderOf;
using remote_test::TLoopbackPeer;

namespace {

std::string Bytes(const TRemoteRequestHeader& h) {
    return std::string(reinterpret_cast<const char*>(&h), sizeof h);
}

TRemoteRequestHeader RequestWithPayload(int32_t length) {
    TRemoteRequestHeader h = NewRemoteRequestHeader();
    h.Domain.Set("PLC");
    h.DeviceAddress = 3;
    h.RequestCode = 7;
    h.PayloadLength = length;
    return h;
}

TEST(RemoteRequestHeader, ALengthIsKnownOnlyOnceTheWholeHeaderIsThere) {
    const std::string bytes = Bytes(RequestWithPayload(120)) + std::string(120, 'x');
    TRemoteRequestHeader h{};
    EXPECT_EQ(ParseRemoteRequestHeader(std::string_view(bytes).substr(0, 310), h), 0);
    EXPECT_EQ(ParseRemoteRequestHeader(std::string_view(bytes).substr(0, 311), h), 431);
    EXPECT_EQ(h.Domain.Get(), "PLC");
    EXPECT_EQ(+h.DeviceAddress, 3);
    EXPECT_EQ(ParseRemoteRequestHeader(bytes, h), 431);
}

TEST(RemoteRequestHeader, WrongSizeOrMagicIsRefused) {
    TRemoteRequestHeader h = RequestWithPayload(0);
    h.HeaderSize = 312;
    TRemoteRequestHeader out{};
    EXPECT_EQ(ParseRemoteRequestHeader(Bytes(h), out), kRemoteBadRequest);
    h = RequestWithPayload(0);
    h.Magic[1] = 'W';
    EXPECT_EQ(ParseRemoteRequestHeader(Bytes(h), out), kRemoteBadRequest);
    EXPECT_EQ(ParseRemoteRequestHeader(Bytes(RequestWithPayload(0)), out), 311);
}

// A client's length is never trusted: negative, beyond what a session takes, or so large that a
// 32-bit sum would wrap.
TEST(RemoteRequestHeader, PayloadLengthsOutsideTheSessionLimitAreRefused) {
    TRemoteRequestHeader out{};
    for (int32_t bad : {-1, -311, INT32_MIN, 65000 - 311 + 1, INT32_MAX, INT32_MAX - 310})
        EXPECT_EQ(ParseRemoteRequestHeader(Bytes(RequestWithPayload(bad)), out), kRemoteBadRequest) << bad;
    EXPECT_EQ(ParseRemoteRequestHeader(Bytes(RequestWithPayload(65000 - 311)), out), 65000);
}

TEST(RemoteReply, WithoutBodyIsTheHeaderAloneWithLengthZero) {
    TLoopbackPeer peer;
    std::string error = "x";
    SendRemoteReply(&peer, RequestWithPayload(55), nullptr, error);
    EXPECT_EQ(error, "");
    const std::string got = peer.Received(400, 300);
    ASSERT_EQ(got.size(), 311u);
    EXPECT_EQ(+HeaderOf(got).PayloadLength, 0);
}

TEST(RemoteReply, CarriesTheRequestHeaderWithItsStatusAndTheBodyInOneWrite) {
    TLoopbackPeer peer;
    TRemoteRequestHeader h = RequestWithPayload(9999);
    h.Status = -2;
    h.ReplyFlag = 1;
    h.Reserved287[3] = 0x5A; // reserved bytes go back as they came
    const std::string body(120, 'b');
    std::string error;
    SendRemoteReply(&peer, h, &body, error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(peer.Writes, 1);
    const std::string got = peer.Received(431);
    ASSERT_EQ(got.size(), 431u);
    TRemoteRequestHeader expected = h;
    expected.PayloadLength = 120;
    EXPECT_EQ(got.substr(0, 311), Bytes(expected));
    EXPECT_EQ(got.substr(311), body);
}

TEST(RemoteReply, APeerThatLeftGetsNothingAndTheTextSaysSo) {
    TLoopbackPeer peer;
    peer.DropRemote();
    ASSERT_TRUE(platform::WaitDispatching([&] { return !peer.Connected(); }, 5000));
    std::string error;
    const std::string body = "abc";
    SendRemoteReply(&peer, RequestWithPayload(0), &body, error);
    EXPECT_EQ(error, "Соединение с удаленным клиентом разорвано."_cp);
    EXPECT_EQ(peer.Writes, 0);
}

// A write that did not go out is a failure, not a reply sent.
class TFailingPeer : public TRemotePeer {
public:
    bool Connected() override { return true; }
    bool Write(std::string_view) override { return false; }
    bool FlushWriteBuffer() override { return true; }
};

TEST(RemoteReply, AFailedWriteIsReported) {
    TFailingPeer peer;
    std::string error;
    SendRemoteReply(&peer, RequestWithPayload(0), nullptr, error);
    EXPECT_EQ(error, "Ошибка записи в TCP/IP сокет."_cp);
}

} // namespace
