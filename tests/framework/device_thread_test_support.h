// Helpers of the device thread tests: a protocol of their own over a pseudo-terminal with the device
// played on the master side, the driver that makes such devices, and the host tag database file.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "device_test_support.h"
#include "framework/connection.h"
#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/tag_routing.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/pty_test_support.h"

namespace thread_test {

constexpr uint32_t kDeadline = 10000;

inline bool WaitUntil(const std::function<bool()>& done, uint32_t ms = kDeadline) {
    return platform::WaitDispatching(done, ms);
}

// Read frame 'R' address, answer 'r' address n; write frame 'W' address value, answer 'w' address
// (done) or 'x' address (rejected). Every answer is queued under the routing prefix, address 100.
class TLineTestDevice : public framework::TDevice {
public:
    void BuildReadRequest(framework::TOstrolinkaConnection*, int32_t index, std::string& frame,
                          framework::TTerminalDataClass*, bool& needAnswer) override {
        frame = index == 0 ? std::string{'R', static_cast<char>(DeviceAddress)} : "";
        needAnswer = true;
    }
    int32_t ParseReadResponse(framework::TOstrolinkaConnection*, int32_t, framework::TTerminalDataClass*,
                              framework::TReceiveVariables* received, const std::string& answer) override {
        if (answer.size() != 3 || answer[0] != 'r') return -9;
        received->Add(RoutingPrefix, DeviceAddress, static_cast<float>(static_cast<uint8_t>(answer[2])), "",
                      100);
        return 0;
    }
    void BuildWriteRequest(framework::TOstrolinkaConnection*, int32_t index, std::string& frame,
                           framework::TTerminalDataClass*, bool& needAnswer, framework::TReceiveVariables*,
                           const framework::TCommandRecord& command) override {
        frame = index == 0
                    ? std::string{'W', static_cast<char>(DeviceAddress), static_cast<char>(command.Value)}
                    : "";
        needAnswer = true;
    }
    int32_t ParseWriteResponse(framework::TOstrolinkaConnection*, int32_t, framework::TTerminalDataClass*,
                               framework::TReceiveVariables*, const std::string& answer,
                               const framework::TCommandRecord&) override {
        return !answer.empty() && answer[0] == 'w' ? 0 : -1;
    }
    void BeforePoll(framework::TReceiveVariables*) override { ++Passes; }
    void AccessLockChanged(bool, framework::TReceiveVariables*) override { ++LockChanges; }

    std::atomic<int> Passes{0};
    std::atomic<int> LockChanges{0};
};

class TPtyList : public framework::TDeviceList {
public:
    std::unique_ptr<framework::TOstrolinkaConnection>
    CreateConnection(framework::TDevicePropertyList* p) override {
        return std::make_unique<framework::TRS232_Connection>(p);
    }
};

class TLineDriver : public framework::TDriver {
public:
    TLineDriver() { DeviceList = CreateDeviceList(); }
    std::unique_ptr<framework::TDevice> CreateDevice() override {
        return std::make_unique<TLineTestDevice>();
    }
    std::unique_ptr<framework::TDeviceList> CreateDeviceList() override {
        return std::make_unique<TPtyList>();
    }
    bool IsSingleDeviceMode() override { return Single; }
    bool Single = false;
};

// The field devices behind the line: answers reads with a count of the reads of that address, and
// writes as told. Writes may be held until the test lets them through.
class TResponder {
public:
    enum class TWrites { Done, Rejected, Silent };

    explicit TResponder(const testsupport::TestPty& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~TResponder() {
        stop_ = true;
        thread_.join();
    }
    int Reads(int address) const { return reads_[address & 0xFF].load(); }
    int Writes() const { return writes_.load(); }
    std::atomic<TWrites> WriteAnswer{TWrites::Done};
    std::atomic<bool> HoldWrites{false};

private:
    void Run() {
        std::string in;
        while (!stop_) {
            pollfd p{pty_.master, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1) {
                char buf[256];
                const ssize_t n = ::read(pty_.master, buf, sizeof buf);
                if (n > 0) in.append(buf, static_cast<std::size_t>(n));
            }
            while (!in.empty()) {
                if (in[0] == 'R' && in.size() >= 2) {
                    const int a = static_cast<uint8_t>(in[1]);
                    const int count = ++reads_[a];
                    pty_.Send(std::string{'r', in[1], static_cast<char>(count & 0x7F)});
                    in.erase(0, 2);
                } else if (in[0] == 'W' && in.size() >= 3) {
                    while (HoldWrites.load() && !stop_)
                        platform::Sleep(1);
                    ++writes_;
                    const TWrites how = WriteAnswer.load();
                    if (how != TWrites::Silent)
                        pty_.Send(std::string{how == TWrites::Done ? 'w' : 'x', in[1]});
                    in.erase(0, 3);
                } else if (in[0] != 'R' && in[0] != 'W') {
                    in.erase(0, 1);
                } else {
                    break;
                }
            }
        }
    }

    const testsupport::TestPty& pty_;
    std::atomic<bool> stop_{false};
    std::atomic<int> reads_[256] = {};
    std::atomic<int> writes_{0};
    std::thread thread_;
};

// The host tag database of the test process: OSTROLINKA_TAGDB names it, lines are replaced whole.
class TTagDatabase {
public:
    explicit TTagDatabase(const std::string& file) : file_(file) {
        ::setenv("OSTROLINKA_TAGDB", file.c_str(), 1);
    }
    ~TTagDatabase() { ::unsetenv("OSTROLINKA_TAGDB"); }
    // Each version a new file with a later time than the last, as the host's writers do: the library
    // sees changes by identity, size and times, and two versions written within the same tick of the
    // file clock would otherwise look alike.
    void Write(const std::string& lines) {
        const std::string temp = file_ + ".tmp";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << lines;
        }
        ++version_;
        const timespec at[2] = {{1000000 + version_, 0}, {1000000 + version_, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, temp.c_str(), at, 0), 0);
        ASSERT_EQ(std::rename(temp.c_str(), file_.c_str()), 0);
    }

private:
    std::string file_;
    time_t version_ = 0;
};

inline void Set(framework::TDevice& d, const std::string& name, const std::string& value) {
    d.Properties->SetProperty(name, value, framework::TPropertyType::Text);
    d.ApplyProperties();
}

} // namespace thread_test
