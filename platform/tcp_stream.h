// The buffers of one TCP link, as the client and the server's peers both use them: an input buffer
// that receives fill, a write buffer flushed on request, and sends that never raise SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// What the server's side raises: a binding that cannot listen, a socket failure on a peer, a line
// too long.
class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TTcpStream {
public:
    virtual ~TTcpStream() = default;
    TTcpStream(const TTcpStream&) = delete;
    TTcpStream& operator=(const TTcpStream&) = delete;

    // True while the link is up, and while received bytes remain in the input buffer after the peer
    // closed. Notices a peer that has closed without waiting and without taking any data.
    bool Connected();

    // Waits up to timeoutMs for data and moves what the socket has, at most one chunk, into the input
    // buffer. The number of bytes added: 0 on a time-out, a closed peer or no link. A failing wait or
    // read ends the link, and raises ESocketError where the owner asked for it.
    std::size_t ReceiveWithTimeout(int32_t timeoutMs);
    // Everything in the input buffer, which is left empty.
    std::string TakeInput();
    std::size_t InputSize() const { return input_.size(); }
    // ReceiveWithTimeout(ReadTimeout) while connected, then TakeInput.
    std::string CurrentReadBuffer();

    // With the write buffer open, writes collect until they pass `threshold` bytes (-1: until
    // FlushWriteBuffer); without it they go at once.
    void OpenWriteBuffer(int32_t threshold = -1);
    bool WriteBufferOpen() const { return buffered_; }
    // Sends the collected writes; False when not all of them went or there is no link.
    bool FlushWriteBuffer();
    // Flushes (when the link is up) and stops collecting; the collected bytes are dropped either way.
    bool CloseWriteBuffer();
    // False when the bytes could not be sent (or, collected, flushed past the threshold), or there
    // is no link.
    bool Write(std::string_view data);

    // Default wait of CurrentReadBuffer, in milliseconds.
    int32_t ReadTimeout = 0;

protected:
    // What a failing wait or read does besides ending the link.
    enum class TFailures { Quiet, Raise };
    TTcpStream(TFailures failures, std::size_t chunk) : failures_(failures), chunk_(chunk) {}

    // The socket while the link is up, -1 otherwise.
    virtual int LiveFd() = 0;
    // A new link (or none): nothing received, nothing pending, the peer not known to have closed.
    void ResetStream();
    void SetChunk(std::size_t chunk) { chunk_ = chunk == 0 ? 1 : chunk; }
    std::size_t Chunk() const { return chunk_; }

    std::string input_;

private:
    bool SendAll(std::string_view data);
    // Ends the link; raises when the owner asked for it.
    void Fail(const char* what, int err);

    const TFailures failures_;
    std::size_t chunk_;
    bool peerClosed_ = false;
    std::string output_;
    bool buffered_ = false;
    int32_t threshold_ = -1;
};

} // namespace platform
