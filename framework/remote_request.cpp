#include "framework/remote_request.h"

#include <cstring>

#include "platform/text.h"

namespace framework {

TRemoteRequestHeader NewRemoteRequestHeader() {
    TRemoteRequestHeader h;
    std::memset(&h, 0, sizeof h);
    h.HeaderSize = kRemoteHeaderSize;
    h.Magic[0] = 'K';
    h.Magic[1] = 'V';
    return h;
}

int32_t ParseRemoteRequestHeader(std::string_view received, TRemoteRequestHeader& header) {
    if (received.size() < static_cast<std::size_t>(kRemoteHeaderSize)) return 0;
    std::memcpy(&header, received.data(), sizeof header);
    if (header.HeaderSize != kRemoteHeaderSize || header.Magic[0] != 'K' || header.Magic[1] != 'V')
        return kRemoteBadRequest;
    // The length comes from the client: in 64 bits, and never beyond what a session takes.
    const int64_t total = int64_t{kRemoteHeaderSize} + int64_t{header.PayloadLength};
    if (header.PayloadLength < 0 || total > kMaxRemoteRequest) return kRemoteBadRequest;
    return static_cast<int32_t>(total);
}

void SendRemoteReply(TRemotePeer* peer, const TRemoteRequestHeader& header, const std::string* body,
                     std::string& errorText) {
    errorText = "Соединение с удаленным клиентом разорвано."_cp;
    if (peer == nullptr || !peer->Connected()) return;
    try {
        TRemoteRequestHeader reply = header;
        const std::size_t bodySize = body ? body->size() : 0;
        if (bodySize > static_cast<std::size_t>(INT32_MAX - kRemoteHeaderSize)) {
            errorText = "Ошибка записи в TCP/IP сокет."_cp;
            return;
        }
        reply.PayloadLength = static_cast<int32_t>(bodySize);
        std::string buffer(reinterpret_cast<const char*>(&reply), sizeof reply);
        if (body) buffer += *body;
        if (!peer->Connected()) return;
        // A write that did not go whole is the same failure as one that raised.
        if (!peer->Write(buffer) || !peer->FlushWriteBuffer()) {
            errorText = "Ошибка записи в TCP/IP сокет."_cp;
            return;
        }
        errorText.clear();
    } catch (const std::exception&) {
        errorText = "Ошибка записи в TCP/IP сокет."_cp;
    }
}

} // namespace framework
