// A memory stream over the bytes of one frame, and the byte and word readers and writers of frames.
//
// Words go out high byte first. A word read needs one byte only: with a single byte left it is that
// byte as the high byte and 0 as the low byte, since replies cut short still decode that far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace modbus {

class TFrameStream {
public:
    TFrameStream() = default;
    explicit TFrameStream(std::string bytes) : data_(std::move(bytes)) {}

    std::size_t Size() const { return data_.size(); }
    std::size_t Position() const { return position_; }
    void SetPosition(std::size_t position) { position_ = position < data_.size() ? position : data_.size(); }
    // Cuts or extends (with zeros) the stream; the position stays within it.
    void SetSize(std::size_t size);
    std::size_t Left() const { return data_.size() - position_; }

    // Writes at the position, overwriting or extending.
    void Write(const void* bytes, std::size_t count);
    // False and nothing read when fewer than `count` bytes are left.
    bool Read(void* bytes, std::size_t count);

    const std::string& Bytes() const { return data_; }
    // The bytes from the position to the end.
    std::string Rest() const { return data_.substr(position_); }

private:
    std::string data_;
    std::size_t position_ = 0;
};

void FrameWriteByte(TFrameStream& stream, uint8_t value);
void FrameWriteWord(TFrameStream& stream, uint16_t value);
// Appends the CRC of the whole content; false when that raised.
bool FrameAppendCrc(TFrameStream& stream);

// B := 0; false when there is no stream or no byte left.
bool FrameReadByte(TFrameStream* stream, uint8_t& b);
// W := 0; false when there is no stream or no byte left.
bool FrameReadWord(TFrameStream* stream, uint16_t& w);
// Two word reads; `firstWordHigh` says which half the first word of the data is.
bool FrameReadLong(TFrameStream* stream, uint32_t& value, bool firstWordHigh);
bool FrameReadSingle(TFrameStream* stream, float& value, bool firstWordHigh);

} // namespace modbus
