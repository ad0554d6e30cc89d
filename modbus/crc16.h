// CRC-16 of Modbus RTU frames.
#pragma once

#include <cstdint>

namespace modbus {

// The CRC of the first `length` bytes with its two bytes exchanged (high byte = CRC low byte), so that
// writing it high byte first puts the CRC low byte first on the wire. Length 0 gives 0xFFFF.
uint16_t CalcCrc16(const void* data, uint16_t length);

} // namespace modbus
