#include "platform/serial_port.h"

#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/poll_wait.h"
#include "platform/text.h"

// termios2 gives every rate through BOTHER; <termios.h> cannot be included beside it, so everything
// goes through ioctl.
#include <algorithm>
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr uint32_t kAllBits = 0xFFFFFFFFu;

struct RateCode {
    uint32_t rate;
    tcflag_t code;
};

// Rates with their own code; every other rate goes as BOTHER with the number itself.
constexpr RateCode kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool GetTermios(int fd, termios2& t) {
    return ioctl(fd, TCGETS2, &t) == 0;
}
bool SetTermios(int fd, const termios2& t) {
    return ioctl(fd, TCSETS2, &t) == 0;
}

void MakeRaw(termios2& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads wait in poll(); the line discipline only has to hand over what it has.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

uint32_t RateOf(const termios2& t) {
    const tcflag_t code = t.c_cflag & CBAUD;
    if (code == BOTHER) return t.c_ospeed;
    for (const RateCode& r : kRates)
        if (r.code == code) return r.rate;
    return t.c_ospeed;
}

void SetRate(termios2& t, uint32_t rate) {
    tcflag_t code = BOTHER;
    for (const RateCode& r : kRates)
        if (r.rate == rate) code = r.code;
    // The input rate field stays 0: input follows the output rate.
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
}

// 1 ready, 0 time-out, -1 failure or a line that has gone (hang-up without data).
int WaitFor(int fd, short events, int timeoutMs) {
    short revents = 0;
    const int r = PollOne(fd, events, timeoutMs, revents);
    if (r <= 0) return r;
    return (revents & events) ? 1 : -1;
}

} // namespace

std::string SerialDevicePath(const std::string& portName, const std::string& settingsFile) {
    if (!portName.empty() && portName[0] == '/') return portName;
    if (portName.size() < 4 || !SameText(portName.substr(0, 3), "COM")) return {};
    const std::string digits = portName.substr(3);
    // Only plain port numbers: no sign, blanks, leading zeros or hexadecimal.
    if (digits[0] < '1' || digits[0] > '9') return {};
    for (char c : digits)
        if (c < '0' || c > '9') return {};
    int32_t n = 0;
    if (!TryStrToInt(digits, n)) return {};
    const std::string key = "COM" + IntToStr(n);
    if (!settingsFile.empty()) {
        const std::string mapped = TIniFile(settingsFile).ReadString("ports", key, "");
        if (!mapped.empty()) return mapped;
    }
    return "/dev/ttyS" + IntToStr(static_cast<int64_t>(n) - 1);
}

TSerialPort::~TSerialPort() {
    Close();
}

bool TSerialPort::Open(const std::string& portName, const std::string& settingsFile) {
    Close();
    const std::string path = SerialDevicePath(portName, settingsFile);
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    // Non-blocking, so that opening never waits for carrier and reads and writes wait in poll().
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios2 t{};
    bool ok = GetTermios(fd, t);
    // The lock on the device node keeps out other servers, root's too, and ends with its holder.
    // The terminal's exclusive flag is not set: a holder killed would leave it on a line that
    // another process keeps open, and the server started in its place could not open its port.
    ok = ok && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (ok) {
        MakeRaw(t);
        ok = SetTermios(fd, t);
    }
    if (!ok) {
        close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    timeouts_ = TSerialTimeouts{};
    return true;
}

bool TSerialPort::Close() {
    if (fd_ < 0) return false;
    // The descriptor is released even when close() reports an error, so it is never used again.
    const int r = close(fd_);
    fd_ = -1;
    path_.clear();
    return r == 0 || errno == EINTR;
}

bool TSerialPort::GetState(TSerialSettings& settings) const {
    termios2 t{};
    if (fd_ < 0 || !GetTermios(fd_, t)) return false;
    settings.BaudRate = RateOf(t);
    switch (t.c_cflag & CSIZE) {
    case CS5:
        settings.ByteSize = 5;
        break;
    case CS6:
        settings.ByteSize = 6;
        break;
    case CS7:
        settings.ByteSize = 7;
        break;
    default:
        settings.ByteSize = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        settings.Parity = 0;
    else if (t.c_cflag & CMSPAR)
        settings.Parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
        settings.Parity = (t.c_cflag & PARODD) ? 1 : 2;
    // With 5-bit bytes the second stop bit is one and a half.
    if (!(t.c_cflag & CSTOPB))
        settings.StopBits = 0;
    else
        settings.StopBits = settings.ByteSize == 5 ? 1 : 2;
    return true;
}

bool TSerialPort::SetState(const TSerialSettings& settings) {
    if (fd_ < 0) return false;
    if (settings.BaudRate == 0 || settings.ByteSize < 5 || settings.ByteSize > 8 || settings.Parity > 4 ||
        settings.StopBits > 2)
        return false;
    if (settings.StopBits == 1 && settings.ByteSize != 5) return false;
    if (settings.StopBits == 2 && settings.ByteSize == 5) return false;
    termios2 t{};
    if (!GetTermios(fd_, t)) return false;
    SetRate(t, settings.BaudRate);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= kSizes[settings.ByteSize - 5];
    switch (settings.Parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (settings.StopBits != 0) t.c_cflag |= CSTOPB;
    return SetTermios(fd_, t);
}

bool TSerialPort::GetTimeouts(TSerialTimeouts& timeouts) const {
    if (fd_ < 0) return false;
    timeouts = timeouts_;
    return true;
}

bool TSerialPort::SetTimeouts(const TSerialTimeouts& timeouts) {
    if (fd_ < 0) return false;
    timeouts_ = timeouts;
    return true;
}

bool TSerialPort::SetEventMask(uint32_t mask) {
    return fd_ >= 0 && mask == 0;
}

bool TSerialPort::Purge(uint32_t flags) {
    if (fd_ < 0 || (flags & ~static_cast<uint32_t>(0xF)) != 0) return false;
    const bool out = flags & (PURGE_TXABORT | PURGE_TXCLEAR);
    const bool in = flags & (PURGE_RXABORT | PURGE_RXCLEAR);
    if (!out && !in) return true;
    const int which = out && in ? TCIOFLUSH : (out ? TCOFLUSH : TCIFLUSH);
    return ioctl(fd_, TCFLSH, which) == 0;
}

int64_t TSerialPort::Read(void* buffer, std::size_t count) {
    if (fd_ < 0) return -1;
    if (count == 0) return 0;
    const TSerialTimeouts& t = timeouts_;
    const bool immediate = t.ReadIntervalTimeout == kAllBits && t.ReadTotalTimeoutMultiplier == 0 &&
                           t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == kAllBits && t.ReadTotalTimeoutMultiplier == kAllBits &&
                           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kAllBits;
    const bool useTotal =
        !immediate && !firstByte && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0);
    const bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kAllBits;

    const uint64_t start = MonotonicMs();
    uint64_t totalDeadline = std::numeric_limits<uint64_t>::max();
    if (useTotal)
        totalDeadline =
            start + static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
    else if (firstByte)
        totalDeadline = start + t.ReadTotalTimeoutConstant;
    const bool unlimited = !useTotal && !firstByte;

    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    uint64_t lastByte = start;
    for (;;) {
        const ssize_t n = read(fd_, out + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            lastByte = MonotonicMs();
            if (got == count || firstByte) return static_cast<int64_t>(got);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // End of file on a terminal is a hang-up: the other side has gone.
        if (n == 0 || errno != EAGAIN) return got > 0 ? static_cast<int64_t>(got) : -1;
        if (immediate) return static_cast<int64_t>(got);

        uint64_t deadline = totalDeadline;
        if (useInterval && got > 0) deadline = std::min(deadline, lastByte + t.ReadIntervalTimeout);
        int wait = -1;
        if (!unlimited || (useInterval && got > 0)) {
            wait = MsUntil(deadline);
            if (wait == 0) return static_cast<int64_t>(got);
        }
        const int r = WaitFor(fd_, POLLIN, wait);
        if (r < 0) return got > 0 ? static_cast<int64_t>(got) : -1;
    }
}

int64_t TSerialPort::Write(const void* data, std::size_t count) {
    if (fd_ < 0) return -1;
    if (count == 0) return 0;
    const TSerialTimeouts& t = timeouts_;
    const bool limited = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * count +
                              t.WriteTotalTimeoutConstant;
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = write(fd_, in + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return sent > 0 ? static_cast<int64_t>(sent) : -1;
        int wait = -1;
        if (limited) {
            wait = MsUntil(deadline);
            if (wait == 0) break;
        }
        const int r = WaitFor(fd_, POLLOUT, wait);
        if (r < 0) return sent > 0 ? static_cast<int64_t>(sent) : -1;
    }
    return static_cast<int64_t>(sent);
}

} // namespace platform
