// TCP server: listening bindings, one peer thread per accepted connection running the connect,
// execute and disconnect events, exception events for a peer and for the listener. Deactivation
// closes the listeners and the peers and waits for their threads with a bound; a peer thread still
// inside a handler then is left to end by itself and is never freed while it runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/tcp_stream.h"

namespace platform {

class TThread;

struct TSocketBinding {
    std::string IP;   // dotted IPv4; empty means every address
    int32_t Port = 0; // 0: the server's default port
};

// Whatever a handler attaches to its connection; freed with the connection at the latest.
class TPeerData {
public:
    virtual ~TPeerData() = default;
};

// One accepted connection, as the handlers of its peer thread see it. Only that thread reads and
// writes it; Disconnect may come from the server as well.
class TTcpPeer : public TTcpStream {
public:
    TTcpPeer(int fd, uint64_t id);
    ~TTcpPeer() override;

    // A number of its own for each connection of the process.
    uint64_t Id() const { return id_; }
    // Ends the link: later reads find nothing, writes fail. The socket itself is closed when the
    // peer thread is done with it.
    void Disconnect();

    // A line ended by LF (a CR before it is dropped), waiting up to timeoutMs (negative: ReadTimeout)
    // in all. False on a time-out or a closed link, the bytes so far staying buffered. A line longer
    // than MaxLineLength raises, so that a peer cannot make us buffer without end.
    bool ReadLn(std::string& line, int32_t timeoutMs = -1);

    // The far end and our end of the link.
    const std::string& PeerIP() const { return peerIP_; }
    int32_t PeerPort() const { return peerPort_; }
    const std::string& BindingIP() const { return bindingIP_; }
    int32_t BindingPort() const { return bindingPort_; }

    // Ends the peer thread after the handler's current pass.
    void StopAfterPass() { stop_.store(true, std::memory_order_release); }
    bool StopRequested() const { return stop_.load(std::memory_order_acquire); }

    int32_t MaxLineLength = 16384;
    std::unique_ptr<TPeerData> Data;

protected:
    // The socket while the link is up, -1 after Disconnect.
    int LiveFd() override;

private:
    const int fd_;
    const uint64_t id_;
    std::mutex lock_; // orders Disconnect from the server against the thread's use
    bool down_ = false;
    std::atomic<bool> stop_{false};
    std::string peerIP_, bindingIP_;
    int32_t peerPort_ = 0, bindingPort_ = 0;
};

class TTcpServer {
public:
    TTcpServer();
    // Deactivates.
    ~TTcpServer();
    TTcpServer(const TTcpServer&) = delete;
    TTcpServer& operator=(const TTcpServer&) = delete;

    // Without bindings the server listens on every address at DefaultPort.
    std::vector<TSocketBinding> Bindings;
    int32_t DefaultPort = 0;
    // How long Deactivate waits for the peer threads and the listener, in all.
    uint32_t StopTimeoutMs = 5000;

    // Handlers are taken when the server is activated; they run on the peer threads (the listen
    // exception on the listener's). A handler's exception goes to OnException and ends the link.
    std::function<void(TTcpPeer&)> OnConnect;
    std::function<void(TTcpPeer&)> OnExecute;
    std::function<void(TTcpPeer&)> OnDisconnect;
    std::function<void(TTcpPeer&, const std::exception&)> OnException;
    std::function<void(const std::exception&)> OnListenException;

    // Opens every binding and starts listening; raises ESocketError (nothing left open) when one
    // cannot be opened. Active already: nothing.
    void Activate();
    // Closes the listeners and every connection and waits for their threads, at most StopTimeoutMs.
    // Those that did not end are left to free themselves: false then, since a handler may still run
    // and use what it was given. Inactive: true.
    bool Deactivate();
    bool Active() const { return state_ != nullptr; }
    // The port binding i listens on while active (the system's choice when it asked for 0); 0 else.
    int32_t BoundPort(std::size_t i) const;
    // Connections whose peer threads have not yet ended.
    int32_t PeerCount() const;

    struct TState;

private:
    std::shared_ptr<TState> state_;
    std::unique_ptr<TThread> listener_;
    std::vector<int32_t> boundPorts_;
};

} // namespace platform
