#include "sim_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace simtest {

uint16_t TestCrc(const Bytes& data) {
    // Bit by bit over the reflected polynomial, as the protocol describes it.
    uint32_t reg = 0xFFFF;
    for (uint8_t byte : data) {
        for (int i = 0; i < 8; ++i) {
            const bool feedback = ((reg ^ (byte >> i)) & 1) != 0;
            reg >>= 1;
            if (feedback) reg ^= 0xA001;
        }
    }
    return static_cast<uint16_t>(reg);
}

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = TestCrc(frame);
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/modbus-sim-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

SimProcess::SimProcess(const std::vector<std::string>& args, const std::string& stderr_path,
                       bool add_lifetime) {
    const char* bin = std::getenv("QUILLARY_BIN");
    const std::string program = std::string(bin ? bin : ".") + "/modbus-sim";
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    if (add_lifetime) {
        all.push_back("--lifetime");
        all.push_back("60");
    }
    all.push_back("--exit-with-parent");

    int in_pipe[2];
    int out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in_pipe[0], STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        if (err >= 0) dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    stdin_fd_ = in_pipe[1];
    stdout_fd_ = out_pipe[0];

    const bool wants_control = std::find(args.begin(), args.end(), "--control-port") != args.end();
    const auto end = Clock::now() + Ms(5000);
    while (ready_.empty() || (wants_control && control_port_ < 0)) {
        const auto line = ReadLine(std::chrono::duration_cast<Ms>(end - Clock::now()));
        if (!line) break;
        if (line->rfind("READY ", 0) == 0) ready_ = line->substr(6);
        if (line->rfind("CONTROL ", 0) == 0) control_port_ = std::atoi(line->c_str() + 8);
    }
}

SimProcess::~SimProcess() {
    if (control_fd_ >= 0) close(control_fd_);
    if (!status_ && pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!WaitExit(Ms(3000))) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (stdin_fd_ >= 0) close(stdin_fd_);
    close(stdout_fd_);
}

std::optional<std::string> SimProcess::ReadLine(Ms timeout) {
    const auto end = Clock::now() + timeout;
    while (true) {
        const size_t newline = stdout_buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = stdout_buffer_.substr(0, newline);
            stdout_buffer_.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<Ms>(end - Clock::now()).count();
        pollfd p{stdout_fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return std::nullopt;
        char buffer[256];
        const ssize_t n = read(stdout_fd_, buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        stdout_buffer_.append(buffer, static_cast<size_t>(n));
    }
}

std::string SimProcess::Command(const std::string& line) {
    if (control_fd_ < 0) {
        control_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(control_port_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (control_port_ < 0 || connect(control_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return "no control connection";
    }
    const std::string text = line + "\n";
    if (send(control_fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
        return "send failed";
    std::string answer;
    const auto end = Clock::now() + Ms(3000);
    while (answer.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<Ms>(end - Clock::now()).count();
        pollfd p{control_fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return "no answer";
        char buffer[256];
        const ssize_t n = read(control_fd_, buffer, sizeof buffer);
        if (n <= 0) return "connection closed";
        answer.append(buffer, static_cast<size_t>(n));
    }
    return answer.substr(0, answer.find('\n'));
}

std::optional<int> SimProcess::WaitExit(Ms timeout) {
    if (status_) return status_;
    int status = 0;
    const bool ended = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) return std::nullopt;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

void SimProcess::CloseStdin() {
    close(stdin_fd_);
    stdin_fd_ = -1;
}

RawLine RawLine::Pty(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return RawLine(fd);
}

RawLine RawLine::Tcp(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        fd = -1;
    }
    return RawLine(fd);
}

RawLine::RawLine(RawLine&& other) noexcept : fd_(other.fd_), closed_(other.closed_) {
    other.fd_ = -1;
}

RawLine::~RawLine() {
    if (fd_ >= 0) close(fd_);
}

void RawLine::Send(const Bytes& bytes) {
    if (fd_ >= 0 && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0 && errno == ENOTSOCK) {
        if (write(fd_, bytes.data(), bytes.size()) < 0) closed_ = true;
    }
}

std::vector<std::pair<Clock::time_point, Bytes>> RawLine::ReceiveReads(size_t count, Ms timeout) {
    std::vector<std::pair<Clock::time_point, Bytes>> reads;
    size_t total = 0;
    const auto end = Clock::now() + timeout;
    while (fd_ >= 0 && total < count && !closed_) {
        const auto left = std::chrono::duration_cast<Ms>(end - Clock::now()).count();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        uint8_t buffer[512];
        const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - total));
        if (n < 0 && errno == EAGAIN) continue;
        if (n <= 0) {
            closed_ = true;
            break;
        }
        reads.emplace_back(Clock::now(), Bytes(buffer, buffer + n));
        total += static_cast<size_t>(n);
    }
    return reads;
}

Bytes RawLine::Receive(size_t count, Ms timeout) {
    Bytes all;
    for (auto& [when, bytes] : ReceiveReads(count, timeout))
        all.insert(all.end(), bytes.begin(), bytes.end());
    return all;
}

} // namespace simtest
