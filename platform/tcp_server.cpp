#include "platform/tcp_server.h"

#include "platform/clock.h"
#include "platform/poll_wait.h"
#include "platform/text.h"
#include "platform/thread.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

// After the system refused a connection (no descriptors left), listening resumes after a pause, so
// that the listener does not spin.
constexpr int kAcceptBackoffMs = 100;
constexpr std::size_t kReceiveChunk = 65536;

std::atomic<uint64_t> NextPeerId{1};

std::string ErrnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

void AddressOf(const sockaddr_in& a, std::string& ip, int32_t& port) {
    char text[INET_ADDRSTRLEN] = {};
    ip = inet_ntop(AF_INET, &a.sin_addr, text, sizeof text) ? text : "";
    port = ntohs(a.sin_port);
}

void Signal(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
}

// A listening socket for one binding; raises when it cannot be had.
int OpenListener(const TSocketBinding& b, int32_t defaultPort) {
    const int32_t port = b.Port == 0 ? defaultPort : b.Port;
    const std::string where = (b.IP.empty() ? std::string("0.0.0.0") : b.IP) + ":" + IntToStr(port);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (port < 0 || port > 65535 || (!b.IP.empty() && inet_pton(AF_INET, b.IP.c_str(), &a.sin_addr) != 1))
        throw ESocketError("Invalid binding " + where);
    if (b.IP.empty()) a.sin_addr.s_addr = htonl(INADDR_ANY);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw ESocketError(ErrnoText("Cannot open a socket for " + where, errno));
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd, SOMAXCONN) != 0) {
        const int err = errno;
        close(fd);
        throw ESocketError(ErrnoText("Cannot listen on " + where, err));
    }
    return fd;
}

} // namespace

// ---- TTcpPeer ----

TTcpPeer::TTcpPeer(int fd, uint64_t id) : TTcpStream(TFailures::Raise, kReceiveChunk), fd_(fd), id_(id) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) AddressOf(a, peerIP_, peerPort_);
    len = sizeof a;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) AddressOf(a, bindingIP_, bindingPort_);
}

TTcpPeer::~TTcpPeer() {
    Data.reset();
    if (fd_ >= 0) close(fd_);
}

int TTcpPeer::LiveFd() {
    std::lock_guard<std::mutex> guard(lock_);
    return down_ ? -1 : fd_;
}

void TTcpPeer::Disconnect() {
    std::lock_guard<std::mutex> guard(lock_);
    // Shut down, not closed: a read or write of the peer thread in progress wakes and fails, and the
    // number cannot be reused under it.
    if (!down_) shutdown(fd_, SHUT_RDWR);
    down_ = true;
}

bool TTcpPeer::ReadLn(std::string& line, int32_t timeoutMs) {
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(timeoutMs < 0 ? ReadTimeout : timeoutMs);
    const std::size_t longest = MaxLineLength > 0 ? static_cast<std::size_t>(MaxLineLength) : 0;
    std::size_t searched = 0;
    for (;;) {
        const std::size_t lf = input_.find('\n', searched);
        std::size_t length = lf == std::string::npos ? input_.size() : lf;
        if (lf != std::string::npos && length > 0 && input_[length - 1] == '\r') --length;
        // A CR may still come before the LF, so an open line may pass the limit by that one byte.
        if (length > longest + (lf == std::string::npos ? 1 : 0))
            throw ESocketError("Max line length exceeded.");
        if (lf != std::string::npos) {
            line.assign(input_, 0, length);
            input_.erase(0, lf + 1);
            return true;
        }
        searched = input_.size();
        const int left = MsUntil(deadline);
        if (left == 0 || !Connected()) return false;
        ReceiveWithTimeout(left);
    }
}

// ---- TTcpServer ----

// What the listener and the peer threads share with the server; it outlives a server whose
// threads were left running.
struct TTcpServer::TState {
    std::function<void(TTcpPeer&)> OnConnect, OnExecute, OnDisconnect;
    std::function<void(TTcpPeer&, const std::exception&)> OnException;
    std::function<void(const std::exception&)> OnListenException;
    std::vector<int> Listeners; // closed by the listener thread when it ends
    int Wake = -1;
    std::atomic<bool> Stopping{false};

    struct TEntry {
        std::shared_ptr<TTcpPeer> Peer;
        std::unique_ptr<TThread> Thread;
    };
    mutable std::mutex Lock;
    std::vector<TEntry> Peers;

    ~TState() {
        for (int fd : Listeners)
            close(fd);
        if (Wake >= 0) close(Wake);
    }

    void ReportException(TTcpPeer& peer, const std::exception& e) {
        if (!OnException) return;
        try {
            OnException(peer, e);
        } catch (...) {
            // The report of a failure must not end the thread in its turn.
        }
    }

    // Frees the entries whose threads have ended.
    void Reap() {
        std::lock_guard<std::mutex> guard(Lock);
        std::erase_if(Peers, [](const TEntry& e) { return e.Thread->Finished(); });
    }
};

namespace {

class TPeerThread : public TThread {
public:
    TPeerThread(std::shared_ptr<TTcpServer::TState> state, std::shared_ptr<TTcpPeer> peer)
        : state_(std::move(state)), peer_(std::move(peer)) {}

protected:
    void Execute() override {
        TTcpPeer& peer = *peer_;
        TTcpServer::TState& s = *state_;
        try {
            if (s.OnConnect) s.OnConnect(peer);
            while (!peer.StopRequested() && !s.Stopping.load() && peer.Connected()) {
                if (s.OnExecute) {
                    s.OnExecute(peer);
                } else {
                    // Nobody reads: wait for the end of the link, dropping what comes.
                    peer.ReceiveWithTimeout(200);
                    peer.TakeInput();
                }
            }
        } catch (const std::exception& e) {
            s.ReportException(peer, e);
        } catch (...) {
            s.ReportException(peer, ESocketError("Unknown exception in a connection handler."));
        }
        peer.Disconnect();
        try {
            if (s.OnDisconnect) s.OnDisconnect(peer);
        } catch (const std::exception& e) {
            s.ReportException(peer, e);
        } catch (...) {
        }
        Signal(s.Wake);
    }

private:
    std::shared_ptr<TTcpServer::TState> state_;
    std::shared_ptr<TTcpPeer> peer_;
};

class TListenerThread : public TThread {
public:
    explicit TListenerThread(std::shared_ptr<TTcpServer::TState> state) : state_(std::move(state)) {}

protected:
    void Execute() override {
        TTcpServer::TState& s = *state_;
        bool backoff = false;
        while (!s.Stopping.load()) {
            std::vector<pollfd> fds{{s.Wake, POLLIN, 0}};
            if (!backoff)
                for (int fd : s.Listeners)
                    fds.push_back({fd, POLLIN, 0});
            const int r = poll(fds.data(), fds.size(), backoff ? kAcceptBackoffMs : -1);
            backoff = false;
            if (r < 0 && errno != EINTR) {
                Report(ESocketError(ErrnoText("Listener wait failed", errno)));
                backoff = true;
                continue;
            }
            if (fds[0].revents & POLLIN) {
                uint64_t count;
                [[maybe_unused]] const ssize_t n = read(s.Wake, &count, sizeof count);
                s.Reap();
            }
            for (std::size_t i = 1; i < fds.size() && !s.Stopping.load(); ++i)
                if (fds[i].revents & POLLIN) backoff = !AcceptOne(fds[i].fd) || backoff;
        }
    }

private:
    // False when the system could not give a connection for want of resources.
    bool AcceptOne(int listener) {
        TTcpServer::TState& s = *state_;
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            const int err = errno;
            // A connection that went away before it was taken, or nothing left to take.
            if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ECONNABORTED || err == EPROTO)
                return true;
            Report(ESocketError(ErrnoText("Accept failed", err)));
            return false;
        }
        auto peer = std::make_shared<TTcpPeer>(fd, NextPeerId.fetch_add(1));
        auto thread = std::make_unique<TPeerThread>(state_, peer);
        std::lock_guard<std::mutex> guard(s.Lock);
        // Deactivation takes the list under this lock: a peer added after it would be nobody's.
        if (s.Stopping.load() || !thread->Resume()) return true; // the peer closes its socket
        s.Peers.push_back({std::move(peer), std::move(thread)});
        return true;
    }

    void Report(const std::exception& e) {
        if (!state_->OnListenException) return;
        try {
            state_->OnListenException(e);
        } catch (...) {
        }
    }

    std::shared_ptr<TTcpServer::TState> state_;
};

} // namespace

TTcpServer::TTcpServer() = default;

TTcpServer::~TTcpServer() {
    Deactivate();
}

void TTcpServer::Activate() {
    if (state_) return;
    auto state = std::make_shared<TState>();
    state->OnConnect = OnConnect;
    state->OnExecute = OnExecute;
    state->OnDisconnect = OnDisconnect;
    state->OnException = OnException;
    state->OnListenException = OnListenException;
    std::vector<TSocketBinding> bindings = Bindings;
    if (bindings.empty()) bindings.push_back({"", DefaultPort});
    // On a failure the state's destructor closes what was opened.
    for (const TSocketBinding& b : bindings)
        state->Listeners.push_back(OpenListener(b, DefaultPort));
    state->Wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->Wake < 0) throw ESocketError(ErrnoText("Cannot make the listener's wake-up", errno));

    std::vector<int32_t> ports;
    for (int fd : state->Listeners) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ports.push_back(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? ntohs(a.sin_port) : 0);
    }
    auto listener = std::make_unique<TListenerThread>(state);
    if (!listener->Resume()) throw ESocketError("Cannot start the listener thread.");
    listener_ = std::move(listener);
    boundPorts_ = std::move(ports);
    state_ = std::move(state);
}

bool TTcpServer::Deactivate() {
    if (!state_) return true;
    std::shared_ptr<TState> state = std::move(state_);
    boundPorts_.clear();
    const uint64_t deadline = MonotonicMs() + StopTimeoutMs;
    state->Stopping.store(true);
    Signal(state->Wake);

    std::vector<TState::TEntry> peers;
    {
        std::lock_guard<std::mutex> guard(state->Lock);
        peers.swap(state->Peers);
    }
    for (TState::TEntry& e : peers) {
        e.Peer->StopAfterPass();
        e.Peer->Disconnect();
    }
    // Waits dispatch the caller's window messages: a handler may be sending to its window.
    bool allEnded = TThread::Free(std::move(listener_), static_cast<uint32_t>(MsUntil(deadline)));
    for (TState::TEntry& e : peers)
        allEnded = TThread::Free(std::move(e.Thread), static_cast<uint32_t>(MsUntil(deadline))) && allEnded;
    return allEnded;
}

int32_t TTcpServer::BoundPort(std::size_t i) const {
    return i < boundPorts_.size() ? boundPorts_[i] : 0;
}

int32_t TTcpServer::PeerCount() const {
    if (!state_) return 0;
    std::lock_guard<std::mutex> guard(state_->Lock);
    int32_t n = 0;
    for (const TState::TEntry& e : state_->Peers)
        n += e.Thread->Finished() ? 0 : 1;
    return n;
}

} // namespace platform
