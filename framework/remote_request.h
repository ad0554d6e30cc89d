// Remote access messages: a fixed 311-byte header, then the payload whose length it gives. A reply
// repeats the request's header with the replying code's status fields and the body's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/intercom_layout.h"

namespace framework {

#pragma pack(push, 1)
struct TRemoteRequestHeader {
    int32_t HeaderSize; // always 311
    char Magic[2];      // "KV"
    uint8_t Reserved6[4];
    TShortString Domain;   // routing prefix of the addressed device
    int32_t DeviceAddress; // below 1: the server itself (service request)
    int32_t RequestCode;   // kServiceRequest; others go to the device
    int32_t Status;        // reply: kRemoteOk, kRemoteFailed, kRemoteBusy
    int32_t Status2;       // reply: kRemoteOk, kRemoteBadServiceHeader
    uint8_t Reserved282[4];
    uint8_t ReplyFlag; // 1 in the busy reply
    uint8_t Reserved287[16];
    int32_t PayloadLength;
    uint8_t Reserved307[4];
};
#pragma pack(pop)
static_assert(sizeof(TRemoteRequestHeader) == 311);
static_assert(offsetof(TRemoteRequestHeader, Magic) == 4);
static_assert(offsetof(TRemoteRequestHeader, Reserved6) == 6);
static_assert(offsetof(TRemoteRequestHeader, Domain) == 10);
static_assert(offsetof(TRemoteRequestHeader, DeviceAddress) == 266);
static_assert(offsetof(TRemoteRequestHeader, RequestCode) == 270);
static_assert(offsetof(TRemoteRequestHeader, Status) == 274);
static_assert(offsetof(TRemoteRequestHeader, Status2) == 278);
static_assert(offsetof(TRemoteRequestHeader, Reserved282) == 282);
static_assert(offsetof(TRemoteRequestHeader, ReplyFlag) == 286);
static_assert(offsetof(TRemoteRequestHeader, Reserved287) == 287);
static_assert(offsetof(TRemoteRequestHeader, PayloadLength) == 303);
static_assert(offsetof(TRemoteRequestHeader, Reserved307) == 307);

constexpr int32_t kRemoteHeaderSize = 311;
// The request code of a service request, which the server answers itself.
constexpr int32_t kServiceRequest = 1;
// The status fields of a reply.
constexpr int32_t kRemoteOk = 0;
constexpr int32_t kRemoteFailed = -1;
constexpr int32_t kRemoteBusy = -2;
constexpr int32_t kRemoteBadServiceHeader = -3; // Status2
// The longest request a session takes, header included.
constexpr int32_t kMaxRemoteRequest = 65000;
// ReadRemoteRequest's answer for a gone peer or a header that is not valid.
constexpr int32_t kRemoteBadRequest = -100;

// The connection of one remote session, as the session's TCP peer offers it.
class TRemotePeer {
public:
    virtual ~TRemotePeer() = default;
    virtual bool Connected() = 0;
    // False when not everything could be written or flushed.
    virtual bool Write(std::string_view data) = 0;
    virtual bool FlushWriteBuffer() = 0;
};

// A header with the size, magic letters and zero elsewhere.
TRemoteRequestHeader NewRemoteRequestHeader();

// Reads the header at the front of received bytes. 0 while fewer than 311 bytes are there;
// kRemoteBadRequest for a wrong size field or magic, or a payload length below 0 or beyond the
// longest request; else the length of the whole request (311 + payload length).
int32_t ParseRemoteRequestHeader(std::string_view received, TRemoteRequestHeader& header);

// Sends header (PayloadLength := the body's size) and body in one write. errorText is empty on
// success, else the reason.
void SendRemoteReply(TRemotePeer* peer, const TRemoteRequestHeader& header, const std::string* body,
                     std::string& errorText);

} // namespace framework
