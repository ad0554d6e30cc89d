// A child process of a test program: /proc/self/exe again, with QUILLARY_TEST_CHILD naming the role it
// plays instead of running the tests. The child reads the test's messages on fd 3 and answers on fd 4.
//
// In the test program:   const bool registered = RegisterTestChild("role", [] { ...; return 0; });
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testchild {

// A pid just given and free again: the kernel gives it anew only once it has gone round all the others,
// so a test may take it for a process that is gone.
inline pid_t FreedPid() {
    char name[] = "/bin/true";
    char* argv[] = {name, nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, name, nullptr, nullptr, argv, environ) != 0) return 0;
    ::waitpid(pid, nullptr, 0);
    return pid;
}

constexpr int ChildIn = 3;
constexpr int ChildOut = 4;
constexpr int DeadlineMs = 10000;

inline bool ReadAll(int fd, void* data, size_t size, int timeoutMs = DeadlineMs) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t got = ::read(fd, p, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

inline bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

template <typename T> bool Read(int fd, T& value) {
    return ReadAll(fd, &value, sizeof value);
}
template <typename T> bool Write(int fd, const T& value) {
    return WriteAll(fd, &value, sizeof value);
}

// Runs `body` and ends the process with its result when this process was started in `role`.
inline bool RegisterTestChild(const char* role, const std::function<int()>& body) {
    const char* mine = std::getenv("QUILLARY_TEST_CHILD");
    if (mine != nullptr && std::strcmp(mine, role) == 0) {
        const int code = body();
        std::fflush(nullptr);
        ::_exit(code);
    }
    return false;
}

class TestChild {
public:
    explicit TestChild(const std::string& role) {
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0) return;
        if (::pipe2(fromChild, O_CLOEXEC) != 0) {
            ::close(toChild[0]);
            ::close(toChild[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // Moved above 4 first, so that placing them on 3 and 4 cannot overwrite one with the other.
        const int childIn = ::fcntl(toChild[0], F_DUPFD_CLOEXEC, 10);
        const int childOut = ::fcntl(fromChild[1], F_DUPFD_CLOEXEC, 10);
        posix_spawn_file_actions_adddup2(&actions, childIn, ChildIn);
        posix_spawn_file_actions_adddup2(&actions, childOut, ChildOut);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "QUILLARY_TEST_CHILD=", 20) != 0) env.emplace_back(*e);
        }
        env.push_back("QUILLARY_TEST_CHILD=" + role);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        char self[] = "/proc/self/exe";
        char* argv[] = {self, nullptr};
        const int spawned = posix_spawn(&pid_, self, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(childIn);
        ::close(childOut);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
        if (spawned != 0) pid_ = 0;
        if (pid_ != 0) pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    }
    ~TestChild() {
        CloseInput();
        if (out_ >= 0) ::close(out_);
        if (pid_ != 0 && !reaped_) {
            if (!WaitExited(DeadlineMs)) ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (pidfd_ >= 0) ::close(pidfd_);
    }
    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;

    bool Started() const { return pid_ != 0 && pidfd_ >= 0; }
    pid_t Pid() const { return pid_; }

    template <typename T> bool Send(const T& value) { return Write(in_, value); }
    template <typename T> bool Receive(T& value) { return Read(out_, value); }
    void CloseInput() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
    }

    // True once the child has ended; it stays a zombie until Reap.
    bool WaitExited(int timeoutMs) {
        pollfd pfd{pidfd_, POLLIN, 0};
        for (;;) {
            const int ready = ::poll(&pfd, 1, timeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            return ready == 1;
        }
    }
    // The exit status, -1 when it did not exit normally.
    int Reap() {
        int status = 0;
        if (reaped_ || ::waitpid(pid_, &status, 0) != pid_) return -1;
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    int pidfd_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool reaped_ = false;
};

} // namespace testchild
