// TCP client with the behaviour the connections rely on: connect with a millisecond time-out, an
// input buffer that receives never fail to fill (a time-out or a closed peer just adds nothing), a
// write buffer flushed on request, and sends that never raise SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class TTcpClient {
public:
    TTcpClient() = default;
    ~TTcpClient();
    TTcpClient(const TTcpClient&) = delete;
    TTcpClient& operator=(const TTcpClient&) = delete;

    std::string Host;
    int32_t Port = 0;
    // Default wait of CurrentReadBuffer, in milliseconds.
    int32_t ReadTimeout = 0;

    // Connects to Host:Port within timeoutMs (a name is resolved first). An open link is dropped
    // first. False on any failure or when the time passed.
    bool Connect(int32_t timeoutMs);
    // True while the link is up, and while received bytes remain in the input buffer after the peer
    // closed. Notices a peer that has closed without waiting and without taking any data.
    bool Connected();
    // Drops the link, the input buffer and any unsent writes.
    void Disconnect();

    // Waits up to timeoutMs for data and moves what the socket has, at most RecvBufferSize bytes, into
    // the input buffer. The number of bytes added: 0 on a time-out, a closed peer or no link.
    std::size_t ReceiveWithTimeout(int32_t timeoutMs);
    // Everything in the input buffer, which is left empty.
    std::string TakeInput();
    std::size_t InputSize() const { return input_.size(); }
    // ReceiveWithTimeout(ReadTimeout) while connected, then TakeInput.
    std::string CurrentReadBuffer();

    // Most bytes a single receive moves into the input buffer.
    void SetRecvBufferSize(std::size_t size) { recvBufferSize_ = size == 0 ? 1 : size; }
    std::size_t RecvBufferSize() const { return recvBufferSize_; }

    // With the write buffer open, writes collect until they pass `threshold` bytes (-1: until
    // FlushWriteBuffer); without it they go at once.
    void OpenWriteBuffer(int32_t threshold = -1);
    bool WriteBufferOpen() const { return buffered_; }
    // Sends the collected writes; False when not all of them went.
    bool FlushWriteBuffer();
    // Flushes (when the link is up) and stops collecting; the collected bytes are dropped either way.
    bool CloseWriteBuffer();
    // False when the bytes could not be sent (or, collected, flushed past the threshold).
    bool Write(std::string_view data);

private:
    bool SendAll(std::string_view data);

    int fd_ = -1;
    bool peerClosed_ = false;
    std::string input_;
    std::string output_;
    bool buffered_ = false;
    int32_t threshold_ = -1;
    std::size_t recvBufferSize_ = 32768;
};

} // namespace platform
