// Serial ports with the semantics the connections rely on: ports named as the original platform names
// them, exclusive open, raw bytes, line settings, read and write time-outs in milliseconds with the
// original meaning, purge, whole writes. Every failure is a result; nothing raises a signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Line settings of an open port. The length field is kept for the callers that fill it in; the port
// ignores it.
struct TSerialSettings {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 0; // 5..8
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half (5-bit bytes only), 2 two
};

// Time-outs in milliseconds. Reads: a total of multiplier x requested bytes + constant; an interval
// limit between two bytes once the first came (0 and all bits set mean none). Interval all bits set
// with both totals 0 returns at once with what is there; interval and multiplier all bits set with a
// constant between waits up to the constant for the first byte and returns what is there then.
// Writes: total of multiplier x bytes + constant. Both totals 0 means no limit.
struct TSerialTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Purge flags: abort and clear of output and input.
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// The device path of a port name: a name beginning with "/" is a path as it stands; "COMn" (n >= 1,
// any letter case) is the value of key COMn in section "ports" of settingsFile when present, else
// /dev/ttyS(n-1). Any other name has no path (empty result).
std::string SerialDevicePath(const std::string& portName, const std::string& settingsFile);

class TSerialPort {
public:
    TSerialPort() = default;
    ~TSerialPort();
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // Opens the port under an exclusive lock that every opener through this class takes, root too,
    // and that ends with the process holding it; then puts it in raw
    // mode. False when the name has no path, the device cannot be opened, is not a terminal or is in
    // use. An open port is closed first.
    bool Open(const std::string& portName, const std::string& settingsFile);
    // False when nothing was open or closing failed.
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& DevicePath() const { return path_; }

    bool GetState(TSerialSettings& settings) const;
    // Fails, changing nothing, on a baud rate of 0, a byte size outside 5..8, a parity above 4, a stop
    // bit value other than 0, 1 and 2, and on the combinations the line cannot do: one and a half stop
    // bits with bytes of 6 to 8 bits, two stop bits with 5-bit bytes.
    bool SetState(const TSerialSettings& settings);
    bool GetTimeouts(TSerialTimeouts& timeouts) const;
    bool SetTimeouts(const TSerialTimeouts& timeouts);
    // The port reports no events; only the empty mask is accepted.
    bool SetEventMask(uint32_t mask);
    bool Purge(uint32_t flags);

    // Up to `count` bytes within the read time-outs; the number read (0 when the time-out passed
    // without data), -1 when the port is closed or the read failed.
    int64_t Read(void* buffer, std::size_t count);
    // All bytes within the write time-out; the number written (fewer when the time-out passed), -1
    // when the port is closed or the write failed before any byte went.
    int64_t Write(const void* data, std::size_t count);

private:
    int fd_ = -1;
    std::string path_;
    TSerialTimeouts timeouts_;
};

} // namespace platform
