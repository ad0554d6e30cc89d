// ICMP echo for the connections' reachability test.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// One echo with 32 bytes of payload to a dotted IPv4 address ("a.b.c.d", four decimal numbers 0..255
// without leading zeros; no name is looked up). Uses a raw socket where allowed and the unprivileged
// ICMP datagram socket otherwise. Returns the round-trip time in milliseconds, or -1 on any failure
// (malformed address, no socket, send error, no matching reply within timeoutMs). When replySource
// is given and a reply came, it receives the reply's source address in dotted form.
int32_t IcmpEcho(const std::string& dottedIPv4, int timeoutMs, std::string* replySource = nullptr);

} // namespace platform
