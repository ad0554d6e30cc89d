#include "platform/process_start.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/shared_memory.h"

extern char** environ;

namespace platform {

namespace {

void WriteWord(int fd, const int32_t& word) {
    WriteAll(fd, std::string_view(reinterpret_cast<const char*>(&word), sizeof word));
}

// Reads until size bytes came or the writer closed; the count read.
std::size_t ReadFull(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, p + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// What the grandchild tells the caller through the pipe: its pid first, then errno when exec failed.
// The pipe closes on exec, so a pid alone means the program runs.
[[noreturn]] void RunGrandchild(int reportFd, char** argv) {
    ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP) ::signal(sig, SIG_DFL);
    }
    const int32_t pid = static_cast<int32_t>(::getpid());
    WriteWord(reportFd, pid);
    // Descriptors the caller did not mark close-on-exec must not reach the program either.
    const long maxFd = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 65536); ++fd) {
        if (fd != reportFd) ::close(fd);
    }
    ::execve(argv[0], argv, environ);
    const int32_t error = errno;
    WriteWord(reportFd, error);
    ExitReleasingNames(127);
}

} // namespace

bool StartDetachedProcess(const std::vector<std::string>& arguments, uint32_t* processId, int* error) {
    const auto fail = [error](int number) {
        if (error != nullptr) *error = number;
        return false;
    };
    if (arguments.empty() || arguments[0].empty()) return fail(ENOENT);
    // A zero byte would end the argument early: a cut program name names another program.
    for (const std::string& a : arguments)
        if (a.find('\0') != std::string::npos) return fail(EINVAL);
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return fail(errno);
    const pid_t child = ::fork();
    if (child < 0) {
        const int number = errno;
        ::close(report[0]);
        ::close(report[1]);
        return fail(number);
    }
    if (child == 0) {
        // The middle process only forks once more and ends, so that the program is adopted by init.
        ::close(report[0]);
        const pid_t grandchild = ::fork();
        if (grandchild == 0) RunGrandchild(report[1], argv.data());
        if (grandchild < 0) {
            const int32_t number = errno;
            WriteWord(report[1], 0);
            WriteWord(report[1], number);
        }
        ExitReleasingNames(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int32_t words[2] = {0, 0};
    const std::size_t got = ReadFull(report[0], words, sizeof words);
    ::close(report[0]);
    // A pid alone means the program runs; a failed exec or fork sends its errno after a word; with
    // nothing at all the middle process died before it could say.
    if (got != sizeof words[0]) return fail(got == sizeof words ? words[1] : ECHILD);
    if (processId != nullptr) *processId = static_cast<uint32_t>(words[0]);
    return true;
}

} // namespace platform
