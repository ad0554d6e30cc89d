#include "modbus/frame_stream.h"

#include "modbus/crc16.h"

#include <bit>
#include <cstring>
#include <exception>

namespace modbus {

void TFrameStream::SetSize(std::size_t size) {
    data_.resize(size, '\0');
    if (position_ > size) position_ = size;
}

void TFrameStream::Write(const void* bytes, std::size_t count) {
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, bytes, count);
    position_ += count;
}

bool TFrameStream::Read(void* bytes, std::size_t count) {
    if (Left() < count) return false;
    std::memcpy(bytes, data_.data() + position_, count);
    position_ += count;
    return true;
}

void FrameWriteByte(TFrameStream& stream, uint8_t value) {
    stream.Write(&value, 1);
}

void FrameWriteWord(TFrameStream& stream, uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    stream.Write(bytes, 2);
}

bool FrameAppendCrc(TFrameStream& stream) {
    try {
        const std::string copy = stream.Bytes();
        // The length is taken as 16 bits, as frames never come near that.
        const uint16_t crc = CalcCrc16(copy.data(), static_cast<uint16_t>(copy.size()));
        stream.SetPosition(copy.size());
        FrameWriteWord(stream, crc);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool FrameReadByte(TFrameStream* stream, uint8_t& b) {
    b = 0;
    return stream != nullptr && stream->Read(&b, 1);
}

bool FrameReadWord(TFrameStream* stream, uint16_t& w) {
    w = 0;
    uint8_t high = 0, low = 0;
    if (!FrameReadByte(stream, high)) return false;
    FrameReadByte(stream, low);
    w = static_cast<uint16_t>((high << 8) | low);
    return true;
}

bool FrameReadLong(TFrameStream* stream, uint32_t& value, bool firstWordHigh) {
    value = 0;
    uint16_t first = 0, second = 0;
    if (!FrameReadWord(stream, first) || !FrameReadWord(stream, second)) return false;
    value = firstWordHigh ? (uint32_t{first} << 16) | second : (uint32_t{second} << 16) | first;
    return true;
}

bool FrameReadSingle(TFrameStream* stream, float& value, bool firstWordHigh) {
    value = 0;
    uint32_t bits = 0;
    if (!FrameReadLong(stream, bits, firstWordHigh)) return false;
    value = std::bit_cast<float>(bits);
    return true;
}

} // namespace modbus
