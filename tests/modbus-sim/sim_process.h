// Runs the real modbus-sim program and talks to it: control connection, raw line ends.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The request or answer with its CRC appended, computed here independently of the simulator.
Bytes WithCrc(Bytes frame);
uint16_t TestCrc(const Bytes& data);

// A scratch folder removed with its files at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
// Polls the condition until it holds or the time is up.
template <class F> bool WaitUntil(F condition, Ms timeout);

class SimProcess {
public:
    // Starts modbus-sim with the arguments plus a lifetime, so that a crashed test leaves nothing.
    SimProcess(const std::vector<std::string>& args, const std::string& stderr_path,
               bool add_lifetime = true);
    ~SimProcess();

    // The value of the READY line, or empty when the program ended or said nothing in time.
    const std::string& Ready() const { return ready_; }
    // Sends one control command and returns the answer line.
    std::string Command(const std::string& line);
    // The exit status once the process ended within the time, else nothing.
    std::optional<int> WaitExit(Ms timeout);
    void CloseStdin();

private:
    std::optional<std::string> ReadLine(Ms timeout);

    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    int stdout_fd_ = -1;
    int control_fd_ = -1;
    int control_port_ = -1;
    std::string stdout_buffer_;
    std::string ready_;
    std::optional<int> status_;
};

// One end of a line as a raw byte stream: the pty link opened in raw mode, or a TCP connection.
class RawLine {
public:
    static RawLine Pty(const std::string& path);
    static RawLine Tcp(int port);
    RawLine(RawLine&& other) noexcept;
    ~RawLine();

    bool IsOpen() const { return fd_ >= 0; }
    void Send(const Bytes& bytes);
    // Reads until count bytes came, the peer closed or the time is up.
    Bytes Receive(size_t count, Ms timeout);
    // The same, keeping the bytes of each read with the time it returned.
    std::vector<std::pair<Clock::time_point, Bytes>> ReceiveReads(size_t count, Ms timeout);
    bool PeerClosed() const { return closed_; }

private:
    explicit RawLine(int fd) : fd_(fd) {}
    int fd_ = -1;
    bool closed_ = false;
};

template <class F> bool WaitUntil(F condition, Ms timeout) {
    const auto end = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(Ms(5));
    }
    return true;
}

} // namespace simtest
