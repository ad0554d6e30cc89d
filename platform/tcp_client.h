// TCP client with the behaviour the connections rely on: connect with a millisecond time-out, an
// input buffer that receives never fail to fill (a time-out or a closed peer just adds nothing), a
// write buffer flushed on request, and sends that never raise SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/tcp_stream.h"

namespace platform {

class TTcpClient : public TTcpStream {
public:
    TTcpClient() : TTcpStream(TFailures::Quiet, 32768) {}
    ~TTcpClient() override;

    std::string Host;
    int32_t Port = 0;

    // Connects to Host:Port within timeoutMs (a name is resolved first). An open link is dropped
    // first. False on any failure or when the time passed.
    bool Connect(int32_t timeoutMs);
    // Drops the link, the input buffer and any unsent writes.
    void Disconnect();

    // Most bytes a single receive moves into the input buffer.
    void SetRecvBufferSize(std::size_t size) { SetChunk(size); }
    std::size_t RecvBufferSize() const { return Chunk(); }

protected:
    int LiveFd() override { return fd_; }

private:
    int fd_ = -1;
};

} // namespace platform
