// Loopback TCP peers for tests: a listener on 127.0.0.1 with a port of the system's choice, and
// reads and writes on the accepted sockets with deadlines.
#pragma once

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace testsupport {

struct Listener {
    int fd = -1;
    int port = 0;

    // Not listening: the port is bound but refuses connects.
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
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // The next peer, waiting up to `ms`; -1 when none came.
    int Accept(int ms = 2000) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return -1;
        return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
};

// Reads from a peer socket until `count` bytes came or `ms` passed.
inline std::string ReadPeer(int fd, std::size_t count, int ms) {
    std::string out;
    const uint64_t deadline = platform::MonotonicMs() + ms;
    while (out.size() < count) {
        const uint64_t now = platform::MonotonicMs();
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

inline bool SendPeer(int fd, const std::string& s) {
    return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
}

// Closes with a reset rather than an orderly end.
inline void ResetPeer(int fd) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    close(fd);
}

} // namespace testsupport
