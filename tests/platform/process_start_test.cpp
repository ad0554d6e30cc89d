#include "platform/process.h"
#include "platform/process_start.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Field n (1-based) of /proc/pid/stat, counted after the command in parentheses.
long StatField(uint32_t pid, int n) {
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i <= n; ++i)
        rest >> field;
    return std::strtol(field.c_str(), nullptr, 10);
}

class ProcessStart : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("process_start_" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "with blank");
    }
    void TearDown() override { fs::remove_all(dir_); }
    // A script run by the shell; its output appears whole under `name` once it is complete.
    std::vector<std::string> ShellLine(const std::string& script, const std::string& name,
                                       const std::string& shell = "/bin/sh") {
        const std::string out = Out(name).string();
        return {shell, "-c", script + " > '" + out + ".tmp' && mv '" + out + ".tmp' '" + out + "'"};
    }
    fs::path Out(const std::string& name) { return dir_ / "with blank" / name; }
    fs::path dir_;
};

TEST_F(ProcessStart, ProgramRunsWithItsArgumentsAndTheCallersEnvironment) {
    // A folder's name may hold a quote: the program named runs, never one at the name cut there.
    const fs::path shell = dir_ / "dq\"x" / "sh";
    fs::create_directories(shell.parent_path());
    fs::copy_file("/bin/sh", shell);
    std::ofstream(dir_ / "dq") << "#!/bin/sh\ntouch '" << Out("cut").string() << "'\n";
    fs::permissions(dir_ / "dq", fs::perms::owner_all);
    ::setenv("OSTROLINKA_NAMESPACE", ("pstart" + std::to_string(::getpid())).c_str(), 1);
    uint32_t pid = 0;
    ASSERT_TRUE(platform::StartDetachedProcess(
        ShellLine("printf '%s|%s' $OSTROLINKA_NAMESPACE $0", "env", shell.string()), &pid));
    ::unsetenv("OSTROLINKA_NAMESPACE");
    EXPECT_NE(pid, 0u);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(Out("env")); }));
    EXPECT_EQ(ReadText(Out("env")), "pstart" + std::to_string(::getpid()) + "|" + shell.string());
    EXPECT_FALSE(fs::exists(Out("cut")));
}

TEST_F(ProcessStart, ExecFailureIsReportedAsFailure) {
    EXPECT_FALSE(platform::StartDetachedProcess({(dir_ / "no such program").string(), "x"}));
    const fs::path notExecutable = dir_ / "with blank" / "plain.txt";
    std::ofstream(notExecutable) << "text";
    const fs::path noInterpreter = dir_ / "no interpreter";
    std::ofstream(noInterpreter) << "touch started\n";
    fs::permissions(noInterpreter, fs::perms::owner_all);
    // The start says why: the number the program's exec failed with.
    for (const auto& [program, reason] :
         {std::pair{notExecutable, EACCES}, {dir_, EACCES}, {noInterpreter, ENOEXEC}}) {
        int error = 0;
        EXPECT_FALSE(platform::StartDetachedProcess({program.string()}, nullptr, &error));
        EXPECT_EQ(error, reason) << program;
    }
    EXPECT_FALSE(platform::StartDetachedProcess({}));
    // Cut at its zero byte the name would be another program's.
    EXPECT_FALSE(platform::StartDetachedProcess({std::string("/bin/true\0x", 11)}));
}

TEST_F(ProcessStart, ProgramIsNoChildOfTheCallerAndLeavesNoZombie) {
    uint32_t pid = 0;
    ASSERT_TRUE(platform::StartDetachedProcess({"/bin/sleep", "30"}, &pid));
    ASSERT_NE(pid, 0u);
    EXPECT_NE(platform::GetProcessVersion(pid), 0u);
    EXPECT_NE(StatField(pid, 4), static_cast<long>(::getpid())); // parent
    EXPECT_EQ(StatField(pid, 6), static_cast<long>(pid));        // its own session
    // The middle process was reaped by the start itself: no ended child is left to collect.
    EXPECT_LE(::waitpid(-1, nullptr, WNOHANG), 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return platform::GetProcessVersion(pid) == 0; }));

    // A program that ends at once is not left as a zombie of ours either.
    ASSERT_TRUE(platform::StartDetachedProcess({"/bin/true"}, &pid));
    EXPECT_TRUE(WaitFor([&] { return platform::GetProcessVersion(pid) == 0; }));
    EXPECT_LE(::waitpid(-1, nullptr, WNOHANG), 0);
}

TEST_F(ProcessStart, DescriptorsOfTheCallerDoNotReachTheProgram) {
    const int fd = ::open("/dev/null", O_RDONLY); // deliberately without close-on-exec
    ASSERT_GE(fd, 3);
    ASSERT_TRUE(platform::StartDetachedProcess(
        ShellLine("test -e /proc/self/fd/" + std::to_string(fd) + " && echo open || echo closed", "fds")));
    ::close(fd);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(Out("fds")); }));
    EXPECT_EQ(ReadText(Out("fds")), "closed\n");
}

} // namespace
