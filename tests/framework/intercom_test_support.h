// Helpers of the exchange area tests: a namespace per test process, a raw reader of the block that
// knows the offsets by itself, and a second process to drive.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "framework/intercom_regions.h"
#include "hostapi/variables_library.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"
#include "platform/text.h"

extern char** environ;

namespace intercom_test {

// A terminal's text, read under its lock; empty when the lock is not had in time.
inline std::string TerminalText(const framework::TTerminalClass& terminal) {
    std::string text;
    terminal.TryReadText(framework::LockTimeout, text);
    return text;
}

// Region starts for n static tags, as the layout tables give them.
constexpr std::size_t kStatus = 0;
constexpr std::size_t kSlots = 777;
constexpr std::size_t kStatic = 9641;
constexpr std::size_t Errors(std::size_t n) {
    return 9905 + 777 * n;
}
constexpr std::size_t Dynamic(std::size_t n) {
    return 37393 + 777 * n;
}
constexpr std::size_t Commands(std::size_t n) {
    return 301077 + 777 * n;
}
constexpr std::size_t Terminal(std::size_t n, int t) {
    return 310661 + 777 * n + 56816 * static_cast<std::size_t>(t);
}
constexpr std::size_t Total(std::size_t n) {
    return 481109 + 777 * n;
}

// Gives this test process names of its own, also for the processes it starts.
inline std::string UseOwnNamespace(const char* tag) {
    static int serial = 0;
    const std::string ns =
        std::string(tag) + "-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    ::setenv("OSTROLINKA_NAMESPACE", ns.c_str(), 1);
    return ns;
}

// Tests of the area: names of their own, and the slot index the initialised processes use.
class IntercomTest : public ::testing::Test {
protected:
    explicit IntercomTest(const char* tag) : tag_(tag) {}
    void SetUp() override {
        UseOwnNamespace(tag_);
        framework::ServerSlotIndex = 0;
    }
    void TearDown() override { framework::ServerSlotIndex = -1; }

private:
    const char* tag_;
};

// The block seen as bytes, without the project's wrappers.
class TRawBlock {
public:
    bool Open(const std::string& name) { return mem_.Open(name) == platform::TSharedMemoryResult::Ok; }
    std::size_t Size() const { return mem_.Size(); }
    uint8_t* At(std::size_t off) const { return mem_.Data() + off; }

    template <class T> T Get(std::size_t off) const {
        T v;
        std::memcpy(&v, At(off), sizeof v);
        return v;
    }
    template <class T> void Put(std::size_t off, T v) { std::memcpy(At(off), &v, sizeof v); }
    int32_t I32(std::size_t off) const { return Get<int32_t>(off); }
    uint8_t U8(std::size_t off) const { return *At(off); }
    std::string Short(std::size_t off) const {
        return std::string(reinterpret_cast<char*>(At(off + 1)), *At(off));
    }
    bool IsStamp(std::size_t off) const {
        if (std::memcmp(At(off), "\x0AOstrolinka", 11) != 0) return false;
        for (std::size_t i = 11; i < 256; ++i)
            if (*At(off + i) != 0) return false;
        return true;
    }

private:
    platform::TSharedMemory mem_;
};

inline hostapi::TVLVariableInfo MakeInfo(int32_t id, const std::string& routing, float value = 0) {
    hostapi::TVLVariableInfo info{};
    info.VariableId = id;
    platform::SetFieldText(info.Name, "TAG" + std::to_string(id));
    platform::SetFieldText(info.Routing, routing);
    info.Value = value;
    return info;
}

// A second process: the intercom_peer program, driven line by line.
class TPeer {
public:
    TPeer() = default;
    TPeer(const TPeer&) = delete;
    TPeer& operator=(const TPeer&) = delete;
    ~TPeer() { Kill(); }

    bool Start() {
        const char* bin = std::getenv("QUILLARY_BIN");
        const std::string path = std::string(bin ? bin : ".") + "/intercom_peer";
        ::signal(SIGPIPE, SIG_IGN); // a peer that died must fail the test, not end it
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        const int rc = ::posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        toPeer_ = in[1];
        fromPeer_ = out[0];
        if (rc != 0) pid_ = -1;
        return rc == 0;
    }

    // Sends one command and waits (at most 15 s) for one answer line; empty on time-out.
    std::string Ask(const std::string& command) {
        Send(command);
        return ReadLine();
    }

    void Send(const std::string& command) {
        const std::string line = command + "\n";
        if (::write(toPeer_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return;
    }

    std::string ReadLine(int timeoutMs = 15000) {
        const uint64_t deadline = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs);
        for (;;) {
            const std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const uint64_t now = platform::MonotonicMs();
            if (now >= deadline) return {};
            pollfd p{fromPeer_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(deadline - now)) != 1) return {};
            char chunk[512];
            const ssize_t n = ::read(fromPeer_, chunk, sizeof chunk);
            if (n <= 0) return {};
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Ends the peer by "quit" and waits for it; false when it did not end in time.
    bool Quit() {
        Send("quit");
        return Wait(15000);
    }

    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        Wait(15000);
    }

private:
    bool Wait(int timeoutMs) {
        const uint64_t deadline = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs);
        while (pid_ > 0) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            if (platform::MonotonicMs() >= deadline) return false;
            platform::Sleep(1);
        }
        if (toPeer_ >= 0) ::close(toPeer_);
        if (fromPeer_ >= 0) ::close(fromPeer_);
        toPeer_ = fromPeer_ = -1;
        return true;
    }

    pid_t pid_ = -1;
    int toPeer_ = -1;
    int fromPeer_ = -1;
    std::string buffer_;
};

} // namespace intercom_test
