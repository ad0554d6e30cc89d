// What the remote access tests share: a driver that switches remote access on, a device that
// answers requests, requests built here and replies read byte by byte from a plain socket.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "framework/device.h"
#include "framework/device_list.h"
#include "framework/device_property_list.h"
#include "framework/driver.h"
#include "framework/remote_request.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/text.h"

namespace remotetest {

using framework::TRemoteRequestHeader;

inline constexpr uint32_t kDeadline = 10000;
inline constexpr int32_t kAddress = 5;

inline bool WaitUntil(const std::function<bool()>& done, uint32_t ms = kDeadline) {
    return platform::WaitDispatching(done, ms);
}

// A device that serves remote requests: it answers "ECHO:" and the payload, noting whether its
// thread was parked. It can be held inside the request, or made to raise there.
class TRemoteDevice : public framework::TDevice {
public:
    bool Poll(framework::TDeviceList*, framework::TReceiveVariables*) override {
        ++Polls;
        return true;
    }
    void DoExternalRequest(framework::TRemotePeer* peer, const TRemoteRequestHeader& header,
                           std::string& reply, framework::TTerminalDataClass* log,
                           const std::string* stream) override {
        ++Requests;
        Inside = true;
        WaitUntil([] { return !Hold.load(); });
        Inside = false;
        if (Raise) throw std::runtime_error("device failed");
        if (log) log->AddLine("device served");
        TRemoteRequestHeader answer = header;
        answer.Status = 0;
        const std::string body =
            "ECHO:" + (stream ? stream->substr(framework::kRemoteHeaderSize) : std::string());
        framework::SendRemoteReply(peer, answer, &body, reply);
    }

    static inline std::atomic<int> Polls{0};
    static inline std::atomic<int> Requests{0};
    static inline std::atomic<bool> Inside{false};
    static inline std::atomic<bool> Hold{false};
    static inline std::atomic<bool> Raise{false};
};

// Remote access is off in the protocol driver of the system: this one switches it on.
class TRemoteDriver : public framework::TDriver {
public:
    bool SupportsRemoteAccess() override { return true; }
    std::unique_ptr<framework::TDevice> CreateDevice() override { return std::make_unique<TRemoteDevice>(); }
    void GetDeviceInfo(framework::TDeviceInfoRecord& info) override {
        TDriver::GetDeviceInfo(info);
        std::memset(info.Title, 0, sizeof info.Title);
        const std::string title = platform::Cp("Тестовый сервис");
        std::memcpy(info.Title, title.data(), title.size());
    }
};

inline void Set(framework::TDevice& d, const std::string& name, const std::string& value) {
    d.Properties->SetProperty(name, value, framework::TPropertyType::Text);
    d.ApplyProperties();
}

inline std::string Request(const std::string& domain, int32_t address, int32_t code,
                           const std::string& payload) {
    TRemoteRequestHeader h = framework::NewRemoteRequestHeader();
    h.Domain.Set(domain);
    h.DeviceAddress = address;
    h.RequestCode = code;
    h.PayloadLength = static_cast<int32_t>(payload.size());
    return std::string(reinterpret_cast<const char*>(&h), sizeof h) + payload;
}

// Exactly count bytes, or what came before the wait ended: the reply's parts are read one by one.
inline std::string ReadExactly(int fd, std::size_t count, int ms) {
    std::string out;
    const uint64_t deadline = platform::MonotonicMs() + static_cast<uint64_t>(ms);
    while (out.size() < count) {
        const uint64_t now = platform::MonotonicMs();
        pollfd p{fd, POLLIN, 0};
        if (now >= deadline || poll(&p, 1, static_cast<int>(deadline - now)) != 1) break;
        std::string chunk(count - out.size(), '\0');
        const ssize_t n = recv(fd, chunk.data(), chunk.size(), 0);
        if (n <= 0) break;
        out.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return out;
}

struct TReply {
    bool complete = false;
    TRemoteRequestHeader header{};
    std::string body;
};

// A client on loopback with its segments sent at once; -1 when nothing listens there.
inline int ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

// The reply's header and body, complete when both came whole within ms.
inline TReply ReadReply(int fd, int ms = 8000) {
    TReply r;
    const std::string head = ReadExactly(fd, sizeof r.header, ms);
    if (head.size() != sizeof r.header) return r;
    std::memcpy(&r.header, head.data(), sizeof r.header);
    if (r.header.PayloadLength < 0) return r;
    r.body = ReadExactly(fd, static_cast<std::size_t>(r.header.PayloadLength), ms);
    r.complete = r.body.size() == static_cast<std::size_t>(r.header.PayloadLength);
    return r;
}

} // namespace remotetest
