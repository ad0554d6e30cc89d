// The simulated device: owns the line end the master talks to, frames requests by silence, lets
// libmodbus answer them and sends the answers, bent by the faults switched on.
#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include <modbus.h>

#include "faults.h"
#include "slave_data.h"

namespace modbus_sim {

struct Options {
    std::string pty_link;  // pty mode when not empty
    int tcp_port = -1;     // TCP mode when >= 0
    int control_port = -1; // no control channel when < 0
    int gap_ms = 10;       // silence that ends a request frame
    int animate_ms = 0;    // 0: values stay as set
    std::string write_log;
    long lifetime_s = 0; // 0: no limit
    bool exit_on_stdin_eof = false;
    SlaveSet slaves;
};

class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens everything and prints the READY (and CONTROL) lines. Error text, or empty.
    std::string Start();
    // Serves until told to stop; the process exit code.
    int Run();

private:
    using Clock = std::chrono::steady_clock;

    struct Slave {
        int address = 0;
        modbus_t* ctx = nullptr;
        modbus_mapping_t* mapping = nullptr;
    };
    struct Pending {
        Bytes bytes;
        Clock::time_point due;
        bool drop_after = false;
    };
    struct ControlClient {
        int fd = -1;
        std::string input;
    };

    std::string OpenPty();
    std::string OpenListener(int port, int& fd, int& bound_port);
    void AcceptLine();
    void ReadLine();
    void CloseLine();
    void HandleFrame(const Bytes& frame);
    Bytes Reply(Slave& slave, const Bytes& frame, const FaultState* exception);
    void LogWrite(const Bytes& frame, const Bytes& answer);
    void SendDue(Clock::time_point now);
    void AcceptControl();
    bool ReadControl(ControlClient& client);
    std::string Execute(const std::string& line);
    std::string SetValue(const std::vector<std::string_view>& words);
    void Animate();

    Options options_;
    std::vector<Slave> slaves_;
    Faults faults_;
    int reply_pair_[2] = {-1, -1}; // libmodbus writes its answers into [0], we read them from [1]
    int signal_fd_ = -1;
    int pty_master_ = -1;
    int pty_hold_ = -1; // keeps the slave end open, so the master never sees a hang-up
    std::string pty_path_;
    bool link_made_ = false;
    int listen_fd_ = -1;
    int line_fd_ = -1; // the pty master, or the accepted TCP connection
    int control_fd_ = -1;
    std::vector<ControlClient> control_clients_;
    int log_fd_ = -1;
    Bytes rx_;
    Clock::time_point last_rx_;
    std::deque<Pending> pending_;
    bool stop_ = false;
};

} // namespace modbus_sim
