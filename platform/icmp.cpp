#include "platform/icmp.h"

#include "platform/poll_wait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr std::size_t kPayload = 32;
constexpr std::size_t kHeader = 8; // type, code, checksum, identifier, sequence
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequest = 8;

// A distinct sequence per echo, so that concurrent echoes of one process never take each other's
// replies on raw sockets (which all see every ICMP packet).
std::atomic<uint16_t> g_sequence{0};

uint16_t Checksum(const uint8_t* p, std::size_t n) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2)
        sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    if (n & 1) sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

struct Socket {
    int fd = -1;
    bool raw = false;
    ~Socket() {
        if (fd >= 0) close(fd);
    }
};

bool OpenSocket(Socket& s) {
    s.fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    s.raw = s.fd >= 0;
    if (s.fd < 0) s.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    return s.fd >= 0;
}

// The datagram socket's kernel puts the socket's port in the identifier field; replies carry it.
bool Identifier(const Socket& s, uint16_t& id) {
    if (s.raw) {
        id = static_cast<uint16_t>(getpid());
        return true;
    }
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (getsockname(s.fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) return false;
    id = ntohs(local.sin_port);
    return true;
}

// The ICMP message within what recvfrom gave: a raw socket delivers the IP header too.
bool IcmpPart(const Socket& s, const uint8_t* buf, std::size_t n, const uint8_t*& msg, std::size_t& len,
              uint32_t& source) {
    if (!s.raw) {
        msg = buf;
        len = n;
        return true;
    }
    if (n < 20 || (buf[0] >> 4) != 4) return false;
    const std::size_t ihl = static_cast<std::size_t>(buf[0] & 0x0F) * 4;
    if (ihl < 20 || ihl > n || buf[9] != IPPROTO_ICMP) return false;
    std::memcpy(&source, buf + 12, 4);
    msg = buf + ihl;
    len = n - ihl;
    return Checksum(msg, len) == 0;
}

using Clock = std::chrono::steady_clock;
using EchoRequest = uint8_t[kHeader + kPayload];

// A socket ready to send an echo, with the identifier its replies carry.
bool OpenEchoSocket(Socket& s, uint16_t& id) {
    if (!OpenSocket(s)) return false;
    // Binding the datagram socket gives it the identifier before anything is sent.
    if (!s.raw) {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        if (bind(s.fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return false;
    }
    return Identifier(s, id);
}

void BuildEchoRequest(EchoRequest& request, uint16_t id, uint16_t seq) {
    request[0] = kEchoRequest;
    Put16(request + 4, id);
    Put16(request + 6, seq);
    for (std::size_t i = 0; i < kPayload; ++i)
        request[kHeader + i] = static_cast<uint8_t>('a' + i % 23);
    Put16(request + 2, Checksum(request, sizeof request));
}

bool SendEchoRequest(const Socket& s, const EchoRequest& request, in_addr target) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    ssize_t sent;
    do {
        sent =
            sendto(s.fd, request, sizeof request, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof request);
}

// Our own request looped back, others' traffic and forged answers are not replies.
bool IsEchoReply(const uint8_t* msg, std::size_t len, uint32_t source, const EchoRequest& request,
                 in_addr target) {
    return len == sizeof request && msg[0] == kEchoReply && msg[1] == 0 &&
           Get16(msg + 4) == Get16(request + 4) && Get16(msg + 6) == Get16(request + 6) &&
           std::memcmp(msg + kHeader, request + kHeader, kPayload) == 0 && source == target.s_addr;
}

// Reads until the reply to request comes or the deadline passes; false on the deadline and on an
// error report for the echo (unreachable and the like).
bool AwaitEchoReply(const Socket& s, const EchoRequest& request, in_addr target, Clock::time_point deadline,
                    uint32_t& replySource) {
    uint8_t buf[1024];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        short revents = 0;
        if (PollOneUnlessTerminated(s.fd, POLLIN, static_cast<int>(std::min<int64_t>(left, INT32_MAX)),
                                    revents) != 1)
            return false;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            recvfrom(s.fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return false;
        }
        const uint8_t* msg = nullptr;
        std::size_t len = 0;
        uint32_t source = from.sin_addr.s_addr;
        if (!IcmpPart(s, buf, static_cast<std::size_t>(n), msg, len, source)) continue;
        if (!IsEchoReply(msg, len, source, request, target)) continue;
        replySource = source;
        return true;
    }
}

std::string AddressText(uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

} // namespace

int32_t IcmpEcho(const std::string& dottedIPv4, int timeoutMs, std::string* replySource) {
    // inet_pton reads a C string: an embedded NUL would hide trailing junk.
    in_addr target{};
    if (dottedIPv4.find('\0') != std::string::npos || inet_pton(AF_INET, dottedIPv4.c_str(), &target) != 1)
        return -1;
    if (timeoutMs < 0) timeoutMs = 0;

    Socket s;
    uint16_t id = 0;
    if (!OpenEchoSocket(s, id)) return -1;
    EchoRequest request = {};
    BuildEchoRequest(request, id, g_sequence.fetch_add(1, std::memory_order_relaxed));

    const Clock::time_point start = Clock::now();
    if (!SendEchoRequest(s, request, target)) return -1;
    uint32_t source = 0;
    if (!AwaitEchoReply(s, request, target, start + std::chrono::milliseconds(timeoutMs), source)) return -1;
    const auto rtt = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (replySource) *replySource = AddressText(source);
    return static_cast<int32_t>(rtt);
}

} // namespace platform
