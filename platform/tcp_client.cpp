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

// One non-blocking connect; the socket on success, -1 otherwise.
int ConnectOne(const addrinfo& ai, bool limited, uint64_t deadline) {
    const int fd = socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, ai.ai_addr, ai.ai_addrlen) == 0) return fd;
    if (errno == EINPROGRESS) {
        short revents = 0;
        int wait = limited ? MsUntil(deadline) : -1;
        if (wait != 0 && PollOneUnlessTerminated(fd, POLLOUT, wait, revents) == 1) {
            int err = 0;
            socklen_t len = sizeof(err);
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) return fd;
        }
    }
    close(fd);
    return -1;
}

} // namespace

TTcpClient::~TTcpClient() {
    Disconnect();
}

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
    ResetStream();
    return fd_ >= 0;
}

void TTcpClient::Disconnect() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    ResetStream();
}

} // namespace platform
