#include "platform/tcp_client.h"

#include "platform/clock.h"
#include "platform/poll_wait.h"
#include "platform/text.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

// A peer that stops reading must not hold a writer for ever.
constexpr uint64_t kSendTimeoutMs = 10000;

// One non-blocking connect; the socket on success, -1 otherwise.
int ConnectOne(const addrinfo& ai, bool limited, uint64_t deadline) {
    const int fd = socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, ai.ai_addr, ai.ai_addrlen) == 0) return fd;
    if (errno == EINPROGRESS) {
        short revents = 0;
        int wait = limited ? MsUntil(deadline) : -1;
        if (wait != 0 && PollOne(fd, POLLOUT, wait, revents) == 1) {
            int err = 0;
            socklen_t len = sizeof(err);
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) return fd;
        }
    }
    close(fd);
    return -1;
}

} // namespace

TTcpClient::~TTcpClient() { Disconnect(); }

bool TTcpClient::Connect(int32_t timeoutMs) {
    Disconnect();
    if (Host.empty() || Host.find('\0') != std::string::npos || Port < 0 || Port > 65535) return false;
    // Zero or less leaves the limit to the system's own connect time-out.
    const bool limited = timeoutMs > 0;
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(limited ? timeoutMs : 0);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(Host.c_str(), IntToStr(Port).c_str(), &hints, &list) != 0) return false;
    for (addrinfo* ai = list; ai != nullptr && fd_ < 0; ai = ai->ai_next) {
        if (limited && MsUntil(deadline) == 0) break;
        fd_ = ConnectOne(*ai, limited, deadline);
    }
    freeaddrinfo(list);
    peerClosed_ = false;
    return fd_ >= 0;
}

bool TTcpClient::Connected() {
    if (fd_ >= 0 && !peerClosed_) {
        // A peek takes nothing, so that a receive that follows still finds the data at once.
        char c;
        ssize_t n;
        do {
            n = recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) peerClosed_ = true;
    }
    return (fd_ >= 0 && !peerClosed_) || !input_.empty();
}

void TTcpClient::Disconnect() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    peerClosed_ = false;
    input_.clear();
    output_.clear();
}

std::size_t TTcpClient::ReceiveWithTimeout(int32_t timeoutMs) {
    if (fd_ < 0 || peerClosed_) return 0;
    short revents = 0;
    const int r = PollOne(fd_, POLLIN, timeoutMs > 0 ? timeoutMs : 0, revents);
    if (r < 0) {
        peerClosed_ = true;
        return 0;
    }
    if (r == 0) return 0;
    std::string chunk(recvBufferSize_, '\0');
    ssize_t n;
    do {
        n = recv(fd_, chunk.data(), chunk.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        input_.append(chunk.data(), static_cast<std::size_t>(n));
        return static_cast<std::size_t>(n);
    }
    // An orderly close (0) and a reset both end the link; only "nothing yet" leaves it up.
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) peerClosed_ = true;
    return 0;
}

std::string TTcpClient::TakeInput() {
    std::string out;
    out.swap(input_);
    return out;
}

std::string TTcpClient::CurrentReadBuffer() {
    if (Connected()) ReceiveWithTimeout(ReadTimeout);
    return TakeInput();
}

void TTcpClient::OpenWriteBuffer(int32_t threshold) {
    buffered_ = true;
    threshold_ = threshold;
    output_.clear();
}

bool TTcpClient::FlushWriteBuffer() {
    if (fd_ < 0) {
        output_.clear();
        return false;
    }
    std::string pending;
    pending.swap(output_);
    return pending.empty() || SendAll(pending);
}

bool TTcpClient::CloseWriteBuffer() {
    bool ok = true;
    if (buffered_ && fd_ >= 0 && !output_.empty()) ok = SendAll(output_);
    output_.clear();
    buffered_ = false;
    return ok;
}

bool TTcpClient::Write(std::string_view data) {
    if (fd_ < 0) return false;
    if (!buffered_) return SendAll(data);
    output_.append(data);
    if (threshold_ >= 0 && output_.size() > static_cast<std::size_t>(threshold_)) return FlushWriteBuffer();
    return true;
}

bool TTcpClient::SendAll(std::string_view data) {
    const uint64_t deadline = MonotonicMs() + kSendTimeoutMs;
    std::size_t sent = 0;
    while (sent < data.size()) {
        // MSG_NOSIGNAL: a peer that has gone gives EPIPE, not a signal that ends the process.
        const ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        short revents = 0;
        const int wait = MsUntil(deadline);
        if (wait == 0 || PollOne(fd_, POLLOUT, wait, revents) != 1 || (revents & (POLLERR | POLLNVAL)))
            return false;
    }
    return true;
}

} // namespace platform
