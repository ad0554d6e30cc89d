#include "platform/messages_ipc.h"

#include "platform/clock.h"
#include "platform/names.h"
#include "platform/poll_wait.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace platform::ipc {
namespace {

constexpr uint32_t PostMagic = 0x4F50534Du; // "MSPO"
constexpr uint32_t HandOverMs = 1000;

// One post on the wire. Both ends are the same build, but the layout is still pinned down.
struct PostDatagram {
    uint32_t magic;
    uint32_t wnd;
    uint32_t msg;
    uint32_t reserved;
    uint64_t wParam;
    int64_t lParam;
};
static_assert(sizeof(PostDatagram) == 32);
static_assert(offsetof(PostDatagram, wnd) == 4);
static_assert(offsetof(PostDatagram, msg) == 8);
static_assert(offsetof(PostDatagram, wParam) == 16);
static_assert(offsetof(PostDatagram, lParam) == 24);

// The abstract address of a process's receiver; false when the name does not fit.
bool ReceiverAddress(pid_t pid, sockaddr_un& addr, socklen_t& len) {
    const std::string name = NamespacedName("ostrolinka.win." + std::to_string(pid));
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (name.size() + 1 > sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path + 1, name.data(), name.size()); // sun_path[0] == 0: abstract
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

// Abstract sockets have no file permissions, so a post is taken only from a process of our own user.
void Receive(int fd) {
    const uid_t me = ::geteuid();
    for (;;) {
        PostDatagram d{};
        iovec iov{&d, sizeof d};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr m{};
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd, &m, MSG_CMSG_CLOEXEC);
        if (got < 0) {
            if (errno == EINTR || errno == ENOMEM || errno == ENOBUFS) continue;
            return;
        }
        bool fromUs = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
                c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
                ucred cred{};
                std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
                fromUs = cred.uid == me;
            }
        }
        if (!fromUs || got != static_cast<ssize_t>(sizeof d) || (m.msg_flags & MSG_TRUNC) != 0 ||
            d.magic != PostMagic) {
            continue;
        }
        PostLocalMessage(d.wnd, d.msg, static_cast<WPARAM>(d.wParam), static_cast<LPARAM>(d.lParam));
    }
}

struct Receiver {
    std::mutex mu;
    pid_t pid = 0; // the process the socket was bound for; a forked child binds its own
    int fd = -1;
};

Receiver& TheReceiver() {
    static Receiver* receiver = new Receiver(); // its thread runs until the process ends
    return *receiver;
}

} // namespace

bool StartPostReceiver() {
    Receiver& r = TheReceiver();
    std::lock_guard lock(r.mu);
    const pid_t me = ::getpid();
    if (r.pid == me) return r.fd >= 0;
    if (r.fd >= 0) ::close(r.fd); // the parent's socket, inherited through fork; its thread stayed there
    r.pid = me;
    r.fd = -1;
    sockaddr_un addr{};
    socklen_t len = 0;
    if (!ReceiverAddress(me, addr, len)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return false;
    }
    try {
        std::thread(Receive, fd).detach();
    } catch (...) {
        ::close(fd);
        return false;
    }
    r.fd = fd;
    return true;
}

bool PostToProcess(pid_t owner, HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    sockaddr_un addr{};
    socklen_t len = 0;
    if (owner <= 0 || !ReceiverAddress(owner, addr, len)) return false;
    const PostDatagram d{PostMagic, wnd, msg, 0, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)};
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool sent = false;
    // Connected, so that poll tells when the receiver's queue has room again.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) {
        const uint64_t deadline = MonotonicMs() + HandOverMs;
        for (;;) {
            const ssize_t put = ::send(fd, &d, sizeof d, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (put == static_cast<ssize_t>(sizeof d)) {
                sent = true;
                break;
            }
            if (put < 0 && errno == EINTR) continue;
            if (put >= 0 || errno != EAGAIN) break;
            short revents = 0;
            if (PollOne(fd, POLLOUT, MsUntil(deadline), revents) <= 0) break;
        }
    }
    ::close(fd);
    return sent;
}

} // namespace platform::ipc
