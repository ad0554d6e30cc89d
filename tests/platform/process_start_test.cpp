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
    // A shell line run by /bin/sh; its output appears whole under `name` once it is complete.
    std::string ShellLine(const std::string& script, const std::string& name) {
        const fs::path out = dir_ / "with blank" / name;
        return "\"/bin/sh\" \"-c\" \"" + script + " > '" + out.string() + ".tmp' && mv '" + out.string() +
               ".tmp' '" + out.string() + "'\"";
    }
    fs::path Out(const std::string& name) { return dir_ / "with blank" / name; }
    fs::path dir_;
};

TEST(CommandLine, QuotedArgumentsKeepBlanksAndUnquotedOnesEndAtThem) {
    EXPECT_EQ(platform::SplitCommandLine("\"/opt/a b/Quillary.srv\" \"/etc/my cfg/Quillary.cfg\""),
              (std::vector<std::string>{"/opt/a b/Quillary.srv", "/etc/my cfg/Quillary.cfg"}));
    EXPECT_EQ(platform::SplitCommandLine("  prog  x \"\" y "),
              (std::vector<std::string>{"prog", "x", "", "y"}));
    EXPECT_TRUE(platform::SplitCommandLine("\"/bin/true").empty());
    EXPECT_TRUE(platform::SplitCommandLine("   ").empty());
}

TEST_F(ProcessStart, ProgramRunsWithItsArgumentsAndTheCallersEnvironment) {
    ::setenv("OSTROLINKA_NAMESPACE", ("pstart" + std::to_string(::getpid())).c_str(), 1);
    uint32_t pid = 0;
    ASSERT_TRUE(
        platform::StartDetachedProcess(ShellLine("printf '%s|%s' $OSTROLINKA_NAMESPACE $0", "env"), &pid));
    ::unsetenv("OSTROLINKA_NAMESPACE");
    EXPECT_NE(pid, 0u);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(Out("env")); }));
    EXPECT_EQ(ReadText(Out("env")), "pstart" + std::to_string(::getpid()) + "|/bin/sh");
}

TEST_F(ProcessStart, ExecFailureIsReportedAsFailure) {
    EXPECT_FALSE(platform::StartDetachedProcess("\"" + (dir_ / "no such program").string() + "\" \"x\""));
    const fs::path notExecutable = dir_ / "with blank" / "plain.txt";
    std::ofstream(notExecutable) << "text";
    EXPECT_FALSE(platform::StartDetachedProcess("\"" + notExecutable.string() + "\""));
    EXPECT_FALSE(platform::StartDetachedProcess(""));
    EXPECT_FALSE(platform::StartDetachedProcess("\"/bin/true"));
}

TEST_F(ProcessStart, ProgramIsNoChildOfTheCallerAndLeavesNoZombie) {
    uint32_t pid = 0;
    ASSERT_TRUE(platform::StartDetachedProcess("\"/bin/sleep\" \"30\"", &pid));
    ASSERT_NE(pid, 0u);
    EXPECT_NE(platform::GetProcessVersion(pid), 0u);
    EXPECT_NE(StatField(pid, 4), static_cast<long>(::getpid())); // parent
    EXPECT_EQ(StatField(pid, 6), static_cast<long>(pid));        // its own session
    // The middle process was reaped by the start itself: no ended child is left to collect.
    EXPECT_LE(::waitpid(-1, nullptr, WNOHANG), 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return platform::GetProcessVersion(pid) == 0; }));

    // A program that ends at once is not left as a zombie of ours either.
    ASSERT_TRUE(platform::StartDetachedProcess("\"/bin/true\"", &pid));
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
