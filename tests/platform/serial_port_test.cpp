#include "platform/serial_port.h"

#include "platform/clock.h"

#include "platform/pty_test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>
#include <string>

using namespace platform;
using testsupport::TestPty;

namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_TRUE(port.Open(pty.slave, ""));
    }
    TestPty pty;
    TSerialPort port;
};

TSerialSettings Line(uint32_t rate, uint8_t size, uint8_t parity, uint8_t stop) {
    TSerialSettings s;
    s.BaudRate = rate;
    s.ByteSize = size;
    s.Parity = parity;
    s.StopBits = stop;
    return s;
}

std::string TempFile(const std::string& text) {
    char name[] = "/tmp/serial_port_test_XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    close(fd);
    return name;
}

} // namespace

TEST(SerialDevicePath, PathsComPortsAndOtherNames) {
    EXPECT_EQ(SerialDevicePath("/dev/ttyUSB3", ""), "/dev/ttyUSB3");
    EXPECT_EQ(SerialDevicePath("COM1", ""), "/dev/ttyS0");
    EXPECT_EQ(SerialDevicePath("com12", "/nonexistent/settings.ini"), "/dev/ttyS11");
    for (const char* bad : {"", "COM", "COM0", "COM01", "COM+1", "COM1x", "COM 1", "LPT1", "ttyS0", "COM$A"})
        EXPECT_EQ(SerialDevicePath(bad, ""), "") << bad;
}

TEST(SerialDevicePath, SettingsFileSectionPortsMapsComNames) {
    const std::string ini = TempFile("[other]\nCOM2=/dev/wrong\n[Ports]\ncom2 = /dev/ttyUSB0\nCOM3=\n");
    EXPECT_EQ(SerialDevicePath("COM2", ini), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("Com2", ini), "/dev/ttyUSB0");
    // An empty value falls back to the standard name.
    EXPECT_EQ(SerialDevicePath("COM3", ini), "/dev/ttyS2");
    EXPECT_EQ(SerialDevicePath("COM4", ini), "/dev/ttyS3");
    std::remove(ini.c_str());
}

TEST(SerialPortOpen, MappedComNameOpensTheDevice) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    const std::string ini = TempFile("[ports]\nCOM7=" + pty.slave + "\n");
    TSerialPort port;
    EXPECT_TRUE(port.Open("COM7", ini));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.DevicePath(), pty.slave);
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Close());
    std::remove(ini.c_str());
}

TEST(SerialPortOpen, MissingDeviceAndNonTerminalFail) {
    TSerialPort port;
    EXPECT_FALSE(port.Open("/dev/does-not-exist-quillary", ""));
    EXPECT_FALSE(port.IsOpen());
    const std::string plain = TempFile("not a terminal");
    EXPECT_FALSE(port.Open(plain, ""));
    EXPECT_FALSE(port.IsOpen());
    std::remove(plain.c_str());
    EXPECT_FALSE(port.Open("LPT1", ""));
    // Nothing works on a closed port, and nothing crashes.
    TSerialSettings s;
    TSerialTimeouts t;
    char b = 0;
    EXPECT_FALSE(port.GetState(s));
    EXPECT_FALSE(port.SetState(Line(9600, 8, 0, 0)));
    EXPECT_FALSE(port.GetTimeouts(t));
    EXPECT_FALSE(port.SetTimeouts(t));
    EXPECT_FALSE(port.Purge(15));
    EXPECT_FALSE(port.SetEventMask(0));
    EXPECT_EQ(port.Read(&b, 1), -1);
    EXPECT_EQ(port.Write(&b, 1), -1);
}

TEST(SerialPortOpen, SecondOpenFailsUntilTheFirstCloses) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    TSerialPort first, second;
    ASSERT_TRUE(first.Open(pty.slave, ""));
    // Also as root, which the terminal's own exclusive flag does not stop.
    EXPECT_FALSE(second.Open(pty.slave, ""));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(first.IsOpen());
    EXPECT_TRUE(first.Close());
    EXPECT_TRUE(second.Open(pty.slave, ""));
    ASSERT_TRUE(second.Close());

    // A holder killed while another keeps the line open (the test's descriptor) leaves nothing that
    // keeps the next one out, whoever runs it: not even the exclusive flag, which root would pass.
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) ::_exit(first.Open(pty.slave, "") ? 0 : 1);
    int status = -1, exclusive = -1;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(ioctl(pty.watch, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_TRUE(second.Open(pty.slave, ""));
}

TEST_F(SerialPortTest, OpenSetsRawMode) {
    const termios2 t = pty.Settings();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    // Bytes pass unchanged in both directions: no CR/LF translation, no echo.
    ASSERT_TRUE(pty.Send(std::string("\r\n\x03\x11\x13\xff", 6)));
    TSerialTimeouts to;
    to.ReadTotalTimeoutConstant = 1000;
    ASSERT_TRUE(port.SetTimeouts(to));
    char buf[6] = {};
    ASSERT_EQ(port.Read(buf, 6), 6);
    EXPECT_EQ(std::string(buf, 6), std::string("\r\n\x03\x11\x13\xff", 6));
    EXPECT_EQ(pty.Receive(1, 30), "");
    ASSERT_EQ(port.Write("\n\r", 2), 2);
    EXPECT_EQ(pty.Receive(2, 1000), "\n\r");
}

TEST_F(SerialPortTest, EveryPickListRateReachesTheLine) {
    for (uint32_t rate : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u,
                          57600u, 115200u, 128000u, 256000u}) {
        ASSERT_TRUE(port.SetState(Line(rate, 8, 0, 0))) << rate;
        const termios2 t = pty.Settings();
        EXPECT_EQ(t.c_ospeed, rate);
        EXPECT_EQ(t.c_ispeed, rate);
        TSerialSettings back;
        ASSERT_TRUE(port.GetState(back));
        EXPECT_EQ(back.BaudRate, rate);
    }
    // Rates without a code of their own go as a number.
    ASSERT_TRUE(port.SetState(Line(14400, 8, 0, 0)));
    EXPECT_EQ(pty.Settings().c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
}

TEST_F(SerialPortTest, ParityKindAndStopBitsReachTheLine) {
    // A pseudo-terminal always reports 8-bit bytes without parity enable; what it keeps tells odd
    // from even and mark/space from plain parity, and one stop bit from more.
    struct Case {
        uint8_t size, parity, stop;
        tcflag_t flags;
    };
    const Case cases[] = {
        {8, 0, 0, 0},
        {7, 1, 0, PARODD},
        {7, 2, 2, CSTOPB},
        {8, 3, 0, CMSPAR | PARODD},
        {8, 4, 2, CMSPAR | CSTOPB},
        {6, 0, 2, CSTOPB},
        {5, 0, 1, CSTOPB}, // one and a half with 5-bit bytes
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(port.SetState(Line(9600, c.size, c.parity, c.stop))) << int(c.size) << int(c.parity);
        EXPECT_EQ(pty.Settings().c_cflag & (PARODD | CMSPAR | CSTOPB), c.flags)
            << int(c.size) << " " << int(c.parity) << " " << int(c.stop);
        TSerialSettings back;
        ASSERT_TRUE(port.GetState(back));
        EXPECT_EQ(back.StopBits != 0, c.stop != 0);
        EXPECT_EQ(back.BaudRate, 9600u);
    }
}

TEST_F(SerialPortTest, SettingsTheLineCannotDoFailAndChangeNothing) {
    ASSERT_TRUE(port.SetState(Line(19200, 7, 2, 0)));
    const termios2 before = pty.Settings();
    const TSerialSettings bad[] = {
        Line(9600, 8, 0, 1), Line(9600, 7, 0, 1), Line(9600, 6, 0, 1), // 1.5 stop bits need 5-bit bytes
        Line(9600, 5, 0, 2),                                           // and 5-bit bytes cannot have two
        Line(9600, 4, 0, 0), Line(9600, 9, 0, 0), Line(9600, 8, 5, 0), Line(9600, 8, 0, 3), Line(0, 8, 0, 0),
    };
    for (const TSerialSettings& s : bad) {
        EXPECT_FALSE(port.SetState(s))
            << s.BaudRate << " " << int(s.ByteSize) << " " << int(s.Parity) << " " << int(s.StopBits);
        const termios2 now = pty.Settings();
        EXPECT_EQ(now.c_cflag, before.c_cflag);
        EXPECT_EQ(now.c_ospeed, before.c_ospeed);
    }
}

TEST_F(SerialPortTest, ReadWaitsMultiplierTimesBytesPlusConstant) {
    TSerialTimeouts t;
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    t.ReadTotalTimeoutMultiplier = 10;
    t.ReadTotalTimeoutConstant = 25;
    ASSERT_TRUE(port.SetTimeouts(t));
    TSerialTimeouts back;
    ASSERT_TRUE(port.GetTimeouts(back));
    EXPECT_EQ(back.ReadTotalTimeoutConstant, 25u);

    char buf[8];
    uint64_t start = MonotonicMs();
    EXPECT_EQ(port.Read(buf, 1), 0);
    uint64_t took = MonotonicMs() - start;
    EXPECT_GE(took, 35u);
    EXPECT_LT(took, 35u + 500u);

    // Fewer bytes than asked: what came, once the total for 4 bytes (65 ms) has passed.
    ASSERT_TRUE(pty.Send("ab"));
    ASSERT_TRUE(pty.WaitPending(2, 2000));
    start = MonotonicMs();
    EXPECT_EQ(port.Read(buf, 4), 2);
    took = MonotonicMs() - start;
    EXPECT_GE(took, 65u);
    EXPECT_LT(took, 65u + 500u);
    EXPECT_EQ(std::string(buf, 2), "ab");

    // Enough bytes: no waiting for the time-out.
    ASSERT_TRUE(pty.Send("x"));
    ASSERT_TRUE(pty.WaitPending(1, 2000));
    t.ReadTotalTimeoutConstant = 5000;
    ASSERT_TRUE(port.SetTimeouts(t));
    start = MonotonicMs();
    EXPECT_EQ(port.Read(buf, 1), 1);
    EXPECT_LT(MonotonicMs() - start, 2000u);
    EXPECT_EQ(buf[0], 'x');
}

TEST_F(SerialPortTest, IntervalAndImmediateModes) {
    char buf[16];
    // Interval only: the read ends the interval after the last byte.
    TSerialTimeouts t;
    t.ReadIntervalTimeout = 60;
    ASSERT_TRUE(port.SetTimeouts(t));
    ASSERT_TRUE(pty.Send("abc"));
    uint64_t start = MonotonicMs();
    EXPECT_EQ(port.Read(buf, sizeof(buf)), 3);
    uint64_t took = MonotonicMs() - start;
    EXPECT_GE(took, 60u);
    EXPECT_LT(took, 60u + 1000u);

    // All bits set with no totals: at once, with whatever is there.
    t = TSerialTimeouts{};
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    ASSERT_TRUE(port.SetTimeouts(t));
    start = MonotonicMs();
    EXPECT_EQ(port.Read(buf, 1), 0);
    EXPECT_LT(MonotonicMs() - start, 20u);

    // Interval and multiplier all bits set: the first byte is awaited up to the constant.
    t.ReadTotalTimeoutMultiplier = 0xFFFFFFFFu;
    t.ReadTotalTimeoutConstant = 80;
    ASSERT_TRUE(port.SetTimeouts(t));
    start = MonotonicMs();
    EXPECT_EQ(port.Read(buf, 4), 0);
    took = MonotonicMs() - start;
    EXPECT_GE(took, 80u);
    EXPECT_LT(took, 80u + 500u);
    ASSERT_TRUE(pty.Send("q"));
    ASSERT_TRUE(pty.WaitPending(1, 2000));
    EXPECT_EQ(port.Read(buf, 4), 1);
    EXPECT_EQ(buf[0], 'q');
}

TEST_F(SerialPortTest, PurgeDropsWaitingInput) {
    ASSERT_TRUE(pty.Send("stale"));
    ASSERT_TRUE(pty.WaitPending(5, 2000));
    EXPECT_TRUE(port.Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_EQ(pty.Pending(), 0);
    TSerialTimeouts t;
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    ASSERT_TRUE(port.SetTimeouts(t));
    char buf[8];
    EXPECT_EQ(port.Read(buf, sizeof(buf)), 0);
    EXPECT_FALSE(port.Purge(0x10));
    // Only the empty event mask is accepted: no events are ever reported.
    EXPECT_TRUE(port.SetEventMask(0));
    EXPECT_FALSE(port.SetEventMask(1));
}

TEST_F(SerialPortTest, WholeWritesAndLargeFrames) {
    TSerialTimeouts t;
    t.WriteTotalTimeoutMultiplier = 1;
    t.WriteTotalTimeoutConstant = 50;
    t.ReadTotalTimeoutConstant = 100;
    ASSERT_TRUE(port.SetTimeouts(t));
    std::string frame;
    for (int i = 0; i < 3000; ++i)
        frame.push_back(static_cast<char>(i * 7));
    EXPECT_EQ(port.Write(frame.data(), frame.size()), static_cast<int64_t>(frame.size()));
    EXPECT_EQ(pty.Receive(frame.size(), 3000), frame);
    EXPECT_EQ(port.Write("", 0), 0);
}

TEST_F(SerialPortTest, WriteStopsAtItsTimeOutWhenTheLineIsBlocked) {
    // Nobody reads the master side: the line fills up, and the write reports how much went.
    TSerialTimeouts t;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 100;
    ASSERT_TRUE(port.SetTimeouts(t));
    const std::string big(1 << 20, 'z');
    const uint64_t start = MonotonicMs();
    const int64_t n = port.Write(big.data(), big.size());
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int64_t>(big.size()));
    EXPECT_LT(MonotonicMs() - start, 100u + 1000u);
}

TEST(SerialPortLine, ReadAndWriteFailOnceTheOtherSideIsGone) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    pty.CloseWatch();
    TSerialPort port;
    ASSERT_TRUE(port.Open(pty.slave, ""));
    TSerialTimeouts t;
    t.ReadTotalTimeoutConstant = 5000;
    ASSERT_TRUE(port.SetTimeouts(t));
    pty.CloseMaster();
    char buf[4];
    const uint64_t start = MonotonicMs();
    EXPECT_EQ(port.Read(buf, 4), -1);
    EXPECT_LT(MonotonicMs() - start, 2000u);
    EXPECT_EQ(port.Write("a", 1), -1);
}
