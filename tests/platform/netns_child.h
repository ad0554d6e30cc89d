// Runs test code in a forked child inside a network namespace of its own, so that ICMP
// tests can switch echo answers off or restrict sockets without touching the machine's network.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>

namespace netns {

struct Setup {
    bool ignoreEcho = false;          // the namespace's loopback does not answer echoes
    bool dropNetRaw = false;          // the calling thread loses CAP_NET_RAW (threads it starts too)
    const char* pingGroups = nullptr; // ping_group_range inside the namespace, when given
};

template <class R> struct Outcome {
    bool made = false;
    bool childFailed = false; // crashed or hung: a fault, not a reason to skip
    std::string why;          // when not made
    R result{};
};

inline bool WriteFile(const char* path, const char* text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = write(fd, text, strlen(text));
    close(fd);
    return n == static_cast<ssize_t>(strlen(text));
}

inline bool LoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq ifr{};
    strcpy(ifr.ifr_name, "lo");
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    close(fd);
    return ok;
}

inline bool DropNetRaw() {
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &head, data) != 0) return false;
    const unsigned bit = 1u << (CAP_NET_RAW % 32);
    data[CAP_NET_RAW / 32].effective &= ~bit;
    data[CAP_NET_RAW / 32].permitted &= ~bit;
    data[CAP_NET_RAW / 32].inheritable &= ~bit;
    if (syscall(SYS_capset, &head, data) != 0) return false;
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd >= 0) close(fd);
    return fd < 0;
}

// Whether this process may open any ICMP socket at all (raw, or datagram by ping_group_range).
inline bool IcmpSocketAllowed() {
    for (int type : {SOCK_RAW, SOCK_DGRAM}) {
        const int fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            close(fd);
            return true;
        }
    }
    return false;
}

// Why the namespace could not be prepared, empty when it was.
inline std::string Prepare(const Setup& s) {
    if (unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
    if (!LoopbackUp()) return "cannot bring lo up in the namespace";
    if (s.ignoreEcho && !WriteFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
        return "cannot set icmp_echo_ignore_all in the namespace";
    if (s.pingGroups && !WriteFile("/proc/sys/net/ipv4/ping_group_range", s.pingGroups))
        return "cannot set ping_group_range in the namespace";
    if (s.dropNetRaw && !DropNetRaw()) return "cannot drop CAP_NET_RAW";
    return {};
}

// Forks; the child prepares the namespace, runs body and sends its result back through a pipe. The
// child is killed when it does not answer within the deadline.
template <class R>
Outcome<R> Run(const Setup& setup, const std::function<R()>& body, int deadlineMs = 20000) {
    static_assert(std::is_trivially_copyable_v<R>);
    struct Message {
        char why[160];
        R result;
    };
    Outcome<R> out;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        out.why = "pipe failed";
        return out;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        out.why = "fork failed";
        return out;
    }
    if (pid == 0) {
        close(fds[0]);
        Message m{};
        const std::string why = Prepare(setup);
        if (why.empty())
            m.result = body();
        else
            strncpy(m.why, why.c_str(), sizeof m.why - 1);
        const ssize_t n = write(fds[1], &m, sizeof m);
        _exit(n == static_cast<ssize_t>(sizeof m) ? 0 : 1);
    }
    close(fds[1]);
    Message m{};
    std::size_t got = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (got < sizeof m) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        pollfd p{fds[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        const ssize_t n = read(fds[0], reinterpret_cast<char*>(&m) + got, sizeof m - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fds[0]);
    if (got < sizeof m) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got < sizeof m) {
        out.childFailed = true;
        out.why = "the namespace child gave no answer (status " + std::to_string(status) + ")";
        return out;
    }
    if (m.why[0] != '\0') {
        out.why = m.why;
        return out;
    }
    out.made = true;
    out.result = m.result;
    return out;
}

} // namespace netns

// Fails the test when the child broke, skips it with the reason when no namespace could be made.
#define NETNS_REQUIRE(outcome)                                                                               \
    do {                                                                                                     \
        if ((outcome).childFailed) FAIL() << (outcome).why;                                                  \
        if (!(outcome).made) GTEST_SKIP() << "no network namespace for this test: " << (outcome).why;        \
    } while (0)
