#include "platform/tcp_stream.h"

#include "platform/clock.h"
#include "platform/poll_wait.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace platform {
namespace {

// A peer that stops reading must not hold a writer for ever.
constexpr uint64_t kSendTimeoutMs = 10000;

} // namespace

void TTcpStream::ResetStream() {
    peerClosed_ = false;
    input_.clear();
    output_.clear();
}

void TTcpStream::Fail(const char* what, int err) {
    peerClosed_ = true;
    if (failures_ == TFailures::Raise) throw ESocketError(std::string(what) + ": " + std::strerror(err));
}

bool TTcpStream::Connected() {
    const int fd = LiveFd();
    if (fd >= 0 && !peerClosed_) {
        // A peek takes nothing, so that a read that follows still finds the data at once.
        char c;
        ssize_t n;
        do {
            n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) peerClosed_ = true;
    }
    return (fd >= 0 && !peerClosed_) || !input_.empty();
}

std::size_t TTcpStream::ReceiveWithTimeout(int32_t timeoutMs) {
    const int fd = LiveFd();
    if (fd < 0 || peerClosed_) return 0;
    short revents = 0;
    const int r = PollOne(fd, POLLIN, timeoutMs > 0 ? timeoutMs : 0, revents);
    if (r < 0) {
        Fail("Socket wait failed", errno);
        return 0;
    }
    if (r == 0) return 0;
    std::string chunk(chunk_, '\0');
    ssize_t n;
    do {
        n = recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        input_.append(chunk.data(), static_cast<std::size_t>(n));
        return static_cast<std::size_t>(n);
    }
    // An orderly close ends the link; only "nothing yet" leaves it up, any other failure ends it too.
    if (n == 0)
        peerClosed_ = true;
    else if (errno != EAGAIN && errno != EWOULDBLOCK)
        Fail("Socket read failed", errno);
    return 0;
}

std::string TTcpStream::TakeInput() {
    std::string out;
    out.swap(input_);
    return out;
}

std::string TTcpStream::CurrentReadBuffer() {
    if (Connected()) ReceiveWithTimeout(ReadTimeout);
    return TakeInput();
}

void TTcpStream::OpenWriteBuffer(int32_t threshold) {
    buffered_ = true;
    threshold_ = threshold;
    output_.clear();
}

bool TTcpStream::FlushWriteBuffer() {
    if (LiveFd() < 0) {
        output_.clear();
        return false;
    }
    std::string pending;
    pending.swap(output_);
    return pending.empty() || SendAll(pending);
}

bool TTcpStream::CloseWriteBuffer() {
    bool ok = true;
    if (buffered_ && !output_.empty() && LiveFd() >= 0) ok = SendAll(output_);
    output_.clear();
    buffered_ = false;
    return ok;
}

bool TTcpStream::Write(std::string_view data) {
    if (LiveFd() < 0) return false;
    if (!buffered_) return SendAll(data);
    output_.append(data);
    if (threshold_ >= 0 && output_.size() > static_cast<std::size_t>(threshold_)) return FlushWriteBuffer();
    return true;
}

bool TTcpStream::SendAll(std::string_view data) {
    const int fd = LiveFd();
    if (fd < 0) return false;
    const uint64_t deadline = MonotonicMs() + kSendTimeoutMs;
    std::size_t sent = 0;
    while (sent < data.size()) {
        // MSG_NOSIGNAL: a peer that has gone gives EPIPE, not a signal that ends the process.
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        short revents = 0;
        const int wait = MsUntil(deadline);
        if (wait == 0 || PollOne(fd, POLLOUT, wait, revents) != 1 ||
            (revents & (POLLERR | POLLHUP | POLLNVAL)))
            return false;
    }
    return true;
}

} // namespace platform
