#include "simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace modbus_sim {

namespace {

constexpr size_t kMaxRx = 1024; // a line that never pauses is noise, not a request
constexpr size_t kMaxControlLine = 1024;

void Note(const std::string& text) {
    std::fprintf(stderr, "modbus-sim: %s\n", text.c_str());
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Sends what the peer takes now; a line that does not drain loses the rest rather than stall us.
void WriteAll(int fd, const uint8_t* data, size_t length, bool socket) {
    while (length > 0) {
        const ssize_t n = socket ? send(fd, data, length, MSG_NOSIGNAL) : write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Note("line does not take the answer, " + std::to_string(length) + " bytes lost");
            return;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
}

uint16_t Word(const Bytes& frame, size_t at) {
    return static_cast<uint16_t>(frame[at] << 8 | frame[at + 1]);
}

} // namespace

Simulator::Simulator(Options options) : options_(std::move(options)) {}

Simulator::~Simulator() {
    for (auto& slave : slaves_) {
        if (slave.ctx) modbus_free(slave.ctx);
        if (slave.mapping) modbus_mapping_free(slave.mapping);
    }
    for (auto& client : control_clients_)
        CloseFd(client.fd);
    if (link_made_) {
        // Only our own link goes; someone may have replaced it meanwhile.
        char target[256] = {};
        if (readlink(options_.pty_link.c_str(), target, sizeof target - 1) > 0 && pty_path_ == target)
            unlink(options_.pty_link.c_str());
    }
    if (line_fd_ != pty_master_) CloseFd(line_fd_);
    CloseFd(pty_master_);
    CloseFd(pty_hold_);
    CloseFd(listen_fd_);
    CloseFd(control_fd_);
    CloseFd(log_fd_);
    CloseFd(signal_fd_);
    CloseFd(reply_pair_[0]);
    CloseFd(reply_pair_[1]);
}

std::string Simulator::Start() {
    signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0 || (signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC)) < 0)
        return Errno("signalfd");

    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, reply_pair_) != 0 ||
        !SetNonBlocking(reply_pair_[1]))
        return Errno("socketpair");
    for (const SlaveData& data : options_.slaves.Slaves()) {
        Slave slave;
        slave.address = data.address;
        // libmodbus never opens this device: it answers through the socket set below.
        slave.ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
        slave.mapping = NewMapping(data);
        if (!slave.ctx || !slave.mapping)
            return Errno("libmodbus context of slave " + std::to_string(data.address));
        slaves_.push_back(slave);
        modbus_set_slave(slave.ctx, data.address);
        modbus_set_socket(slave.ctx, reply_pair_[0]);
        // libmodbus sleeps this long before some exception answers; a device answers at once.
        modbus_set_response_timeout(slave.ctx, 0, 1);
    }

    if (!options_.write_log.empty()) {
        log_fd_ = open(options_.write_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (log_fd_ < 0) return Errno("write log " + options_.write_log);
    }

    std::string ready;
    if (!options_.pty_link.empty()) {
        if (std::string error = OpenPty(); !error.empty()) return error;
        ready = options_.pty_link;
    } else {
        int port = 0;
        if (std::string error = OpenListener(options_.tcp_port, listen_fd_, port); !error.empty())
            return "line " + error;
        ready = std::to_string(port);
    }
    int control_port = 0;
    if (options_.control_port >= 0)
        if (std::string error = OpenListener(options_.control_port, control_fd_, control_port);
            !error.empty())
            return "control " + error;

    std::printf("READY %s\n", ready.c_str());
    if (control_fd_ >= 0) std::printf("CONTROL %d\n", control_port);
    std::fflush(stdout);
    return {};
}

std::string Simulator::OpenPty() {
    pty_master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty_master_ < 0 || grantpt(pty_master_) != 0 || unlockpt(pty_master_) != 0)
        return Errno("pseudo-terminal");
    const char* name = ptsname(pty_master_);
    if (!name) return Errno("ptsname");
    pty_path_ = name;
    pty_hold_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty_hold_ < 0) return Errno(pty_path_);
    // A fresh terminal echoes and translates line ends; binary frames need a raw line.
    termios tio{};
    if (tcgetattr(pty_hold_, &tio) != 0) return Errno("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(pty_hold_, TCSANOW, &tio) != 0 || !SetNonBlocking(pty_master_)) return Errno("raw mode");

    struct stat st {};
    if (lstat(options_.pty_link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) return options_.pty_link + " exists and is not a symbolic link";
        unlink(options_.pty_link.c_str());
    }
    if (symlink(pty_path_.c_str(), options_.pty_link.c_str()) != 0) return Errno("link " + options_.pty_link);
    link_made_ = true;
    line_fd_ = pty_master_;
    Note("line " + options_.pty_link + " -> " + pty_path_);
    return {};
}

std::string Simulator::OpenListener(int port, int& fd, int& bound_port) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return Errno("socket");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0)
        return Errno("127.0.0.1:" + std::to_string(port));
    socklen_t length = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    bound_port = ntohs(addr.sin_port);
    return {};
}

void Simulator::AcceptLine() {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    // Like a converter with one connection slot: the newest master takes the line over.
    if (line_fd_ >= 0) Note("new connection replaces the previous one");
    CloseLine();
    line_fd_ = fd;
}

void Simulator::CloseLine() {
    if (line_fd_ >= 0 && line_fd_ != pty_master_) CloseFd(line_fd_);
    rx_.clear();
    pending_.clear();
}

void Simulator::ReadLine() {
    uint8_t buffer[512];
    const ssize_t n = read(line_fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        if (line_fd_ != pty_master_) CloseLine();
        return;
    }
    if (rx_.size() + static_cast<size_t>(n) > kMaxRx) {
        Note("no pause in " + std::to_string(rx_.size() + n) + " bytes, discarded");
        rx_.clear();
    }
    rx_.insert(rx_.end(), buffer, buffer + n);
    last_rx_ = Clock::now();
}

void Simulator::HandleFrame(const Bytes& frame) {
    if (!CrcMatches(frame)) {
        Note("ignored " + std::to_string(frame.size()) + " bytes with a bad CRC: " + ToHex(frame));
        return;
    }
    const int expected = ExpectedRequestLength(frame);
    if (expected != 0 && expected != static_cast<int>(frame.size())) {
        Note("ignored request of " + std::to_string(frame.size()) + " bytes, function " +
             std::to_string(frame[1]) + " takes " + std::to_string(expected));
        return;
    }
    if (faults_.IsOn(Fault::silent) && frame[0] != 0) {
        for (const Slave& slave : slaves_)
            if (slave.address == frame[0]) faults_.Take(Fault::silent);
        return;
    }
    if (frame[0] == 0) {
        // Broadcast: every slave acts, none answers.
        if (faults_.IsOn(Fault::silent)) return;
        for (Slave& slave : slaves_)
            Reply(slave, frame, nullptr);
        LogWrite(frame, {});
        return;
    }
    for (Slave& slave : slaves_) {
        if (slave.address != frame[0]) continue;
        const auto exception = faults_.Take(Fault::exception);
        const Bytes answer = Reply(slave, frame, exception ? &*exception : nullptr);
        LogWrite(frame, answer);
        if (answer.empty()) return;
        auto due = pending_.empty() ? Clock::now() : std::max(Clock::now(), pending_.back().due);
        for (Chunk& chunk : faults_.Shape(answer)) {
            due += std::chrono::milliseconds(chunk.delay_ms);
            pending_.push_back(Pending{std::move(chunk.bytes), due, chunk.drop_after});
        }
        return;
    }
}

Bytes Simulator::Reply(Slave& slave, const Bytes& frame, const FaultState* exception) {
    // libmodbus reads fields at fixed offsets; padding keeps it inside the buffer.
    Bytes request = frame;
    request.resize(std::max<size_t>(frame.size(), MODBUS_RTU_MAX_ADU_LENGTH + 8), 0);
    const int rc =
        exception ? modbus_reply_exception(slave.ctx, request.data(), static_cast<unsigned>(exception->value))
                  : modbus_reply(slave.ctx, request.data(), static_cast<int>(frame.size()), slave.mapping);
    if (rc < 0) Note(std::string("libmodbus did not answer: ") + modbus_strerror(errno));
    Bytes answer;
    uint8_t buffer[512];
    ssize_t n;
    while ((n = read(reply_pair_[1], buffer, sizeof buffer)) > 0)
        answer.insert(answer.end(), buffer, buffer + n);
    return frame[0] == 0 ? Bytes{} : answer;
}

void Simulator::LogWrite(const Bytes& frame, const Bytes& answer) {
    const int function = frame[1];
    if (log_fd_ < 0 || (function != 5 && function != 6 && function != 15 && function != 16)) return;
    std::string values;
    auto add = [&values](long v) { values += (values.empty() ? "" : ",") + std::to_string(v); };
    const uint16_t address = Word(frame, 2);
    if (function == 5) {
        const uint16_t v = Word(frame, 4);
        add(v == 0xFF00 ? 1 : v);
    } else if (function == 6) {
        add(Word(frame, 4));
    } else {
        const size_t count = Word(frame, 4);
        const size_t bytes = frame[6];
        for (size_t i = 0; function == 15 && i < count && i < bytes * 8; ++i)
            add((frame[7 + i / 8] >> (i % 8)) & 1);
        for (size_t i = 0; function == 16 && i < count && i < bytes / 2; ++i)
            add(Word(frame, 7 + 2 * i));
    }
    std::string result = "ok";
    if (frame[0] == 0)
        result = "broadcast";
    else if (answer.size() >= 3 && (answer[1] & 0x80))
        result = "exception:" + std::to_string(answer[2]);
    const std::string line = "slave=" + std::to_string(frame[0]) + " function=" + std::to_string(function) +
                             " address=" + std::to_string(address) + " values=" + values +
                             " result=" + result + "\n";
    if (write(log_fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        Note(Errno("write log"));
}

void Simulator::SendDue(Clock::time_point now) {
    while (!pending_.empty() && pending_.front().due <= now) {
        Pending chunk = std::move(pending_.front());
        pending_.pop_front();
        if (line_fd_ < 0) continue;
        WriteAll(line_fd_, chunk.bytes.data(), chunk.bytes.size(), line_fd_ != pty_master_);
        if (chunk.drop_after) CloseLine();
    }
}

void Simulator::AcceptControl() {
    const int fd = accept4(control_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) control_clients_.push_back(ControlClient{fd, {}});
}

bool Simulator::ReadControl(ControlClient& client) {
    char buffer[512];
    const ssize_t n = read(client.fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) return false;
    client.input.append(buffer, static_cast<size_t>(n));
    size_t end;
    while (!stop_ && (end = client.input.find('\n')) != std::string::npos) {
        const std::string reply = Execute(client.input.substr(0, end)) + "\n";
        client.input.erase(0, end + 1);
        WriteAll(client.fd, reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), true);
    }
    if (client.input.size() > kMaxControlLine) {
        const std::string reply = "ERR line too long\n";
        WriteAll(client.fd, reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), true);
        return false;
    }
    return true;
}

std::string Simulator::Execute(const std::string& line) {
    const auto words = SplitWords(line);
    if (words.empty()) return "ERR empty command";
    std::string reply;
    if (faults_.Command(words, listen_fd_ >= 0, reply)) return reply;
    if (words[0] == "set") return SetValue(words);
    if (words[0] == "clear" && words.size() == 1) {
        faults_.Clear();
        return "OK";
    }
    if (words[0] == "quit" && words.size() == 1) {
        Note("told to quit");
        stop_ = true;
        return "OK";
    }
    return "ERR unknown command '" + line + "'";
}

std::string Simulator::SetValue(const std::vector<std::string_view>& words) {
    Table table;
    if ((words.size() != 4 && words.size() != 5) || !TableFromName(words[1], table))
        return "ERR usage: set coils|discrete|holding|input ADDRESS VALUE [SLAVE]";
    const auto address = ParseInt(words[2]);
    const auto value = ParseInt(words[3]);
    const auto slave_address =
        words.size() == 5 ? ParseInt(words[4]) : std::optional<long>(slaves_[0].address);
    if (!address || !value || !slave_address) return "ERR bad number in set";
    const bool bits = table == Table::coils || table == Table::discrete;
    if (bits ? (*value != 0 && *value != 1) : (*value < -32768 || *value > 65535))
        return "ERR value " + std::to_string(*value) + " does not fit the " + TableName(table) + " table";
    for (Slave& slave : slaves_) {
        if (slave.address != *slave_address) continue;
        const int index = MappingIndex(slave.mapping, table, *address);
        if (index < 0)
            return "ERR address " + std::to_string(*address) + " is outside the " + TableName(table) +
                   " table of slave " + std::to_string(slave.address);
        modbus_mapping_t& m = *slave.mapping;
        switch (table) {
        case Table::coils:
            m.tab_bits[index] = static_cast<uint8_t>(*value);
            break;
        case Table::discrete:
            m.tab_input_bits[index] = static_cast<uint8_t>(*value);
            break;
        case Table::holding:
            m.tab_registers[index] = static_cast<uint16_t>(*value);
            break;
        case Table::input:
            m.tab_input_registers[index] = static_cast<uint16_t>(*value);
            break;
        }
        return "OK";
    }
    return "ERR no slave " + std::to_string(*slave_address);
}

void Simulator::Animate() {
    for (Slave& slave : slaves_)
        for (int i = 0; i < slave.mapping->nb_input_registers; ++i)
            ++slave.mapping->tab_input_registers[i];
}

int Simulator::Run() {
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(options_.lifetime_s);
    const auto animate_period = std::chrono::milliseconds(options_.animate_ms);
    auto next_animate = start + animate_period;
    const auto gap = std::chrono::milliseconds(options_.gap_ms);

    enum Kind { kSignal, kStdin, kListen, kLine, kControl, kClient };
    std::vector<pollfd> fds;
    std::vector<std::pair<Kind, size_t>> kinds;
    while (!stop_) {
        auto now = Clock::now();
        auto wake = now + std::chrono::hours(1);
        if (!rx_.empty()) wake = std::min(wake, last_rx_ + gap);
        if (!pending_.empty()) wake = std::min(wake, pending_.front().due);
        if (options_.animate_ms > 0) wake = std::min(wake, next_animate);
        if (options_.lifetime_s > 0) wake = std::min(wake, end);
        // Round up, so that a wake-up never comes early and spins.
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(std::max(wake - now, Clock::duration::zero()));

        fds.clear();
        kinds.clear();
        auto watch = [&](int fd, Kind kind, size_t index = 0) {
            fds.push_back(pollfd{fd, POLLIN, 0});
            kinds.emplace_back(kind, index);
        };
        watch(signal_fd_, kSignal);
        if (options_.exit_on_stdin_eof) watch(STDIN_FILENO, kStdin);
        if (listen_fd_ >= 0) watch(listen_fd_, kListen);
        if (line_fd_ >= 0) watch(line_fd_, kLine);
        if (control_fd_ >= 0) watch(control_fd_, kControl);
        for (size_t i = 0; i < control_clients_.size(); ++i)
            watch(control_clients_[i].fd, kClient, i);

        if (poll(fds.data(), fds.size(), static_cast<int>(wait.count())) < 0 && errno != EINTR) {
            Note(Errno("poll"));
            return 1;
        }
        bool clients_closed = false;
        for (size_t i = 0; i < fds.size() && !stop_; ++i) {
            if (fds[i].revents == 0) continue;
            switch (kinds[i].first) {
            case kSignal: {
                signalfd_siginfo info{};
                if (read(signal_fd_, &info, sizeof info) > 0)
                    Note(std::string("stopped by ") + strsignal(static_cast<int>(info.ssi_signo)));
                stop_ = true;
                break;
            }
            case kStdin: {
                char buffer[256];
                const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
                if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                    Note("standard input closed");
                    stop_ = true;
                }
                break;
            }
            case kListen:
                AcceptLine();
                break;
            case kLine:
                // A line that has just been replaced or dropped is not read any more.
                if (fds[i].fd == line_fd_) ReadLine();
                break;
            case kControl:
                AcceptControl();
                break;
            case kClient: {
                ControlClient& client = control_clients_[kinds[i].second];
                if (!ReadControl(client)) {
                    CloseFd(client.fd);
                    clients_closed = true;
                }
                break;
            }
            }
        }
        if (clients_closed) std::erase_if(control_clients_, [](const ControlClient& c) { return c.fd < 0; });

        now = Clock::now();
        if (!rx_.empty() && now - last_rx_ >= gap) {
            const Bytes frame = std::move(rx_);
            rx_.clear();
            HandleFrame(frame);
        }
        SendDue(now);
        if (options_.animate_ms > 0 && now >= next_animate) {
            Animate();
            next_animate = now + animate_period;
        }
        if (options_.lifetime_s > 0 && now >= end) {
            Note("lifetime of " + std::to_string(options_.lifetime_s) + " s is over");
            stop_ = true;
        }
    }
    return 0;
}

} // namespace modbus_sim
