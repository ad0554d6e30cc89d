// A pseudo-terminal made by a test: the code under test opens the slave side, the test plays the
// device on the master side. The test also keeps its own slave descriptor, opened before any
// exclusive open, to look at the slave's input queue.
#pragma once

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

namespace testsupport {

struct TestPty {
    int master = -1;
    int watch = -1;
    std::string slave;

    TestPty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        char name[128] = {};
        if (ptsname_r(master, name, sizeof(name)) != 0) return;
        slave = name;
        watch = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~TestPty() {
        CloseWatch();
        CloseMaster();
    }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    bool Ok() const { return master >= 0 && watch >= 0 && !slave.empty(); }
    void CloseWatch() {
        if (watch >= 0) close(watch);
        watch = -1;
    }
    // Hangs the line up for the slave side.
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }

    // The master side reports the slave's line settings.
    termios2 Settings() const {
        termios2 t{};
        EXPECT_EQ(ioctl(master, TCGETS2, &t), 0);
        return t;
    }
    bool Send(const std::string& s) const {
        return write(master, s.data(), s.size()) == static_cast<ssize_t>(s.size());
    }
    // What the slave wrote, waiting up to `ms` for `count` bytes.
    std::string Receive(std::size_t count, int ms) const {
        std::string out;
        const uint64_t deadline = platform::MonotonicMs() + ms;
        while (out.size() < count) {
            const uint64_t now = platform::MonotonicMs();
            if (now >= deadline) break;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(deadline - now)) <= 0) break;
            char buf[4096];
            const ssize_t n = read(master, buf, sizeof(buf));
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    // Bytes waiting in the slave's input queue.
    int Pending() const {
        int n = -1;
        EXPECT_EQ(ioctl(watch, FIONREAD, &n), 0);
        return n;
    }
    bool WaitPending(int count, int ms) const {
        const uint64_t deadline = platform::MonotonicMs() + ms;
        while (Pending() != count) {
            if (platform::MonotonicMs() >= deadline) return false;
            poll(nullptr, 0, 1);
        }
        return true;
    }
};

} // namespace testsupport
