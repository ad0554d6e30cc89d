// RTU frame helpers and the small parsers shared by the command line, the data file and the
// control channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modbus_sim {

using Bytes = std::vector<uint8_t>;

// CRC-16/MODBUS of the bytes; the low byte goes first on the wire.
uint16_t Crc16(const uint8_t* data, size_t length);
bool CrcMatches(const Bytes& frame);
// Replaces the last two bytes of a frame with the CRC of the rest.
void RewriteCrc(Bytes& frame);

// Length a request of this function must have, CRC included: 0 when the function has no fixed
// layout (libmodbus then answers it), -1 when too few bytes arrived to tell.
int ExpectedRequestLength(const Bytes& frame);

// Decimal or 0x-prefixed hexadecimal integer, optionally negative; nothing else on the text.
std::optional<long> ParseInt(std::string_view text);
// "0A0b ff" style: hexadecimal digit pairs, spaces ignored; at least one byte.
std::optional<Bytes> ParseHex(std::string_view text);
std::string ToHex(const Bytes& bytes);

std::vector<std::string_view> SplitWords(std::string_view line);

} // namespace modbus_sim
