#include "modbus/crc16.h"

namespace modbus {

uint16_t CalcCrc16(const void* data, uint16_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint16_t crc = 0xFFFF;
    for (uint16_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return static_cast<uint16_t>((crc >> 8) | ((crc & 0xFF) << 8));
}

} // namespace modbus
