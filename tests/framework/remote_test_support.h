// A remote session's peer for tests: our end is a TCP client on a loopback listener, the test reads
// what the client was sent at the accepted end.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

#include "framework/remote_request.h"
#include "platform/loopback_test_support.h"
#include "platform/tcp_client.h"

namespace remote_test {

class TLoopbackPeer : public framework::TRemotePeer {
public:
    TLoopbackPeer() {
        client_.Host = "127.0.0.1";
        client_.Port = listener_.port;
        EXPECT_TRUE(client_.Connect(2000));
        client_.OpenWriteBuffer();
        remote_ = listener_.Accept();
        EXPECT_GE(remote_, 0);
    }
    ~TLoopbackPeer() override {
        if (remote_ >= 0) ::close(remote_);
    }

    bool Connected() override { return client_.Connected(); }
    bool Write(std::string_view data) override {
        ++Writes;
        return client_.Write(data);
    }
    bool FlushWriteBuffer() override { return client_.FlushWriteBuffer(); }

    // The far end goes away; our end notices at its next look.
    void DropRemote() {
        testsupport::ResetPeer(remote_);
        remote_ = -1;
    }
    // What reached the far end: count bytes, or what came before the wait ended.
    std::string Received(std::size_t count, int ms = 2000) {
        return testsupport::ReadPeer(remote_, count, ms);
    }

    int Writes = 0;

private:
    testsupport::Listener listener_;
    platform::TTcpClient client_;
    int remote_ = -1;
};

inline framework::TRemoteRequestHeader HeaderOf(const std::string& bytes) {
    framework::TRemoteRequestHeader h{};
    std::memcpy(&h, bytes.data(), sizeof h);
    return h;
}

} // namespace remote_test
