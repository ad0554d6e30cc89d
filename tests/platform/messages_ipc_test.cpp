#include "platform/messages.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/window_table.h"

#include "platform/child_process_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace platform;
using namespace testchild;

namespace {

constexpr UINT WM_SERVERLOG = 1246;
constexpr UINT WM_DESTROYSECOND = 0x401;

struct Received {
    HWND wnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

struct ChildWindows {
    HWND first;
    HWND second;
};

// Two windows that report every message to the test; a request on the first destroys the second, a
// close request on the first ends the child.
int RunPostTarget() {
    bool closed = false;
    HWND second = 0;
    const HWND first = CreateWindowHandle([&](HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_DESTROYSECOND) DestroyWindowHandle(second);
        if (msg == WM_CLOSE) closed = true;
        Write(ChildOut, Received{wnd, msg, wParam, lParam});
        return 0;
    });
    second = CreateWindowHandle([](HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        Write(ChildOut, Received{wnd, msg, wParam, lParam});
        return 0;
    });
    if (first == 0 || second == 0 || !Write(ChildOut, ChildWindows{first, second})) return 1;
    if (!WaitDispatching([&] { return closed; }, 60000)) return 2;
    DestroyWindowHandle(first);
    return 0;
}

// Attaches the window table while it may, then posts as another user.
int RunForeignPoster() {
    HWND target = 0;
    if (!Read(ChildIn, target) || WindowTable::Instance() == nullptr) return 1;
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 2;
    return PostMessage(target, WM_SERVERLOG, 666, 0) ? 0 : 3;
}

// Takes a window in the namespace the test names, holds it until its input closes, then leaves
// through a normal exit.
int RunTableHolder() {
    char ns[64] = {};
    if (!Read(ChildIn, ns)) return 1;
    ::setenv("OSTROLINKA_NAMESPACE", ns, 1);
    const HWND wnd = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    if (wnd == 0 || !Write(ChildOut, wnd)) return 2;
    char eof = 0;
    (void)ReadAll(ChildIn, &eof, 1, 60000);
    std::exit(0);
}

// Holds a window and a block of the namespace the test names until its input closes, then leaves as
// a process whose threads still run: the names given up, nothing freed, no exit-time code.
int RunLeavingHolder() {
    char ns[64] = {};
    if (!Read(ChildIn, ns)) return 1;
    ::setenv("OSTROLINKA_NAMESPACE", ns, 1);
    TSharedMemory block;
    if (block.Create("blk", 4096) != TSharedMemoryResult::Ok && block.Open("blk") != TSharedMemoryResult::Ok)
        return 2;
    const HWND wnd = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    if (wnd == 0 || !Write(ChildOut, wnd)) return 3;
    char eof = 0;
    (void)ReadAll(ChildIn, &eof, 1, 60000);
    ExitReleasingNames(0);
}

const bool registered = RegisterTestChild("post-target", RunPostTarget) ||
                        RegisterTestChild("foreign-poster", RunForeignPoster) ||
                        RegisterTestChild("table-holder", RunTableHolder) ||
                        RegisterTestChild("leaving-holder", RunLeavingHolder);

bool TableExists(const std::string& ns) {
    return std::filesystem::exists("/dev/shm/" + ns + ".ostrolinka.windows");
}

void StartHolder(TestChild& child, const std::string& ns) {
    ASSERT_TRUE(child.Started());
    char name[64] = {};
    ns.copy(name, sizeof name - 1);
    ASSERT_TRUE(child.Send(name));
    HWND wnd = 0;
    ASSERT_TRUE(child.Receive(wnd));
    EXPECT_NE(wnd, 0u);
}

TEST(CrossProcessPosts, IntegersReachTheOwnerAndEndWithItsWindows) {
    ASSERT_FALSE(registered);
    TestChild child("post-target");
    ASSERT_TRUE(child.Started());
    ChildWindows windows{};
    ASSERT_TRUE(child.Receive(windows));
    EXPECT_TRUE(IsWindow(windows.first));
    EXPECT_TRUE(IsWindow(windows.second));
    EXPECT_NE(GetProcessVersion(static_cast<uint32_t>(child.Pid())), 0u);

    // Full-width values in both directions of the sign survive the trip.
    const WPARAM bigW = ~static_cast<WPARAM>(0) - 7;
    const LPARAM negativeL = INTPTR_MIN + 3;
    ASSERT_TRUE(PostMessage(windows.second, WM_SERVERLOG, bigW, negativeL));
    ASSERT_TRUE(PostMessage(windows.first, WM_DESTROYSECOND, 1, -1));
    Received got{};
    ASSERT_TRUE(child.Receive(got));
    EXPECT_EQ(got.wnd, windows.second);
    EXPECT_EQ(got.msg, WM_SERVERLOG);
    EXPECT_EQ(got.wParam, bigW);
    EXPECT_EQ(got.lParam, negativeL);
    ASSERT_TRUE(child.Receive(got));
    EXPECT_EQ(got.wnd, windows.first);
    EXPECT_EQ(got.msg, WM_DESTROYSECOND);
    EXPECT_EQ(got.wParam, 1u);
    EXPECT_EQ(got.lParam, -1);

    // A destroyed window of a live process takes nothing.
    EXPECT_FALSE(IsWindow(windows.second));
    EXPECT_FALSE(PostMessage(windows.second, WM_SERVERLOG, 0, 0));

    ASSERT_TRUE(PostMessage(windows.first, WM_CLOSE, 0, 0));
    ASSERT_TRUE(child.Receive(got));
    EXPECT_EQ(got.msg, WM_CLOSE);
    ASSERT_TRUE(child.WaitExited(DeadlineMs));

    // Ended but not reaped: a zombie, which counts as dead, and so do its windows.
    EXPECT_EQ(GetProcessVersion(static_cast<uint32_t>(child.Pid())), 0u);
    EXPECT_FALSE(IsWindow(windows.first));
    EXPECT_FALSE(PostMessage(windows.first, WM_CLOSE, 0, 0));
    EXPECT_EQ(child.Reap(), 0);
    EXPECT_EQ(GetProcessVersion(static_cast<uint32_t>(child.Pid())), 0u);
}

TEST(CrossProcessPosts, PostsFromAnotherUserAreDropped) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to post as another user";
    TestChild target("post-target");
    ASSERT_TRUE(target.Started());
    ChildWindows windows{};
    ASSERT_TRUE(target.Receive(windows));
    {
        TestChild foreign("foreign-poster");
        ASSERT_TRUE(foreign.Started());
        ASSERT_TRUE(foreign.Send(windows.first));
        ASSERT_TRUE(foreign.WaitExited(DeadlineMs));
        ASSERT_EQ(foreign.Reap(), 0) << "the foreign post was handed over";
    }
    // The receiver takes datagrams in order, so had the foreign one been queued it would come first.
    ASSERT_TRUE(PostMessage(windows.first, WM_CLOSE, 0, 0));
    Received got{};
    ASSERT_TRUE(target.Receive(got));
    EXPECT_EQ(got.msg, WM_CLOSE);
    EXPECT_NE(got.wParam, 666u);
    ASSERT_TRUE(target.WaitExited(DeadlineMs));
    EXPECT_EQ(target.Reap(), 0);
}

TEST(ProcessVersion, LiveProcessesOnly) {
    EXPECT_NE(GetProcessVersion(static_cast<uint32_t>(::getpid())), 0u);
    EXPECT_EQ(GetProcessVersion(0), GetProcessVersion(static_cast<uint32_t>(::getpid())));
    EXPECT_EQ(GetProcessVersion(0x80000000u), 0u);
    EXPECT_EQ(GetProcessVersion(0xFFFFFFFFu), 0u);
}

TEST(CrossProcessPosts, PostToOwnDestroyedWindowIsNotSentAnywhere) {
    const HWND wnd = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    ASSERT_NE(wnd, 0u);
    ASSERT_TRUE(PostMessage(wnd, WM_SERVERLOG, 0, 0));
    ASSERT_TRUE(DestroyWindowHandle(wnd));
    EXPECT_FALSE(PostMessage(wnd, WM_SERVERLOG, 0, 0));
}

} // namespace

TEST(WindowTableLifetime, TheLastProcessToLeaveTakesTheTableAway) {
    ASSERT_FALSE(registered);
    const std::string ns = "wtable-" + std::to_string(::getpid());
    {
        TestChild first("table-holder"), second("table-holder");
        StartHolder(first, ns);
        StartHolder(second, ns);
        EXPECT_TRUE(TableExists(ns));
        first.CloseInput();
        ASSERT_TRUE(first.WaitExited(DeadlineMs));
        EXPECT_EQ(first.Reap(), 0);
        EXPECT_TRUE(TableExists(ns)) << "taken away while another process still holds it";
        second.CloseInput();
        ASSERT_TRUE(second.WaitExited(DeadlineMs));
        EXPECT_EQ(second.Reap(), 0);
        EXPECT_FALSE(TableExists(ns));
    }
    {
        // A killed holder cannot clean up; the next one to leave does.
        TestChild killed("table-holder");
        StartHolder(killed, ns);
        ::kill(killed.Pid(), SIGKILL);
        ASSERT_TRUE(killed.WaitExited(DeadlineMs));
        killed.Reap();
        EXPECT_TRUE(TableExists(ns));
        TestChild next("table-holder");
        StartHolder(next, ns);
        next.CloseInput();
        ASSERT_TRUE(next.WaitExited(DeadlineMs));
        EXPECT_EQ(next.Reap(), 0);
        EXPECT_FALSE(TableExists(ns));
    }
}

// A process that leaves by _exit with its threads still running (as a server whose device thread
// did not stop) frees nothing, yet gives the names up: the last holder to leave removes them.
TEST(WindowTableLifetime, HoldersLeavingWithThreadsRunningGiveTheNamesToTheLast) {
    ASSERT_FALSE(registered);
    const std::string ns = "leaving-" + std::to_string(::getpid());
    const auto named = [&] {
        return std::pair{std::filesystem::exists("/dev/shm/" + ns + ".blk"), TableExists(ns)};
    };
    TestChild first("leaving-holder"), second("leaving-holder");
    StartHolder(first, ns);
    StartHolder(second, ns);
    EXPECT_EQ(named(), std::pair(true, true));
    first.CloseInput();
    ASSERT_TRUE(first.WaitExited(DeadlineMs));
    EXPECT_EQ(first.Reap(), 0);
    EXPECT_EQ(named(), std::pair(true, true)) << "taken away while another process still holds them";
    second.CloseInput();
    ASSERT_TRUE(second.WaitExited(DeadlineMs));
    EXPECT_EQ(second.Reap(), 0);
    EXPECT_EQ(named(), std::pair(false, false));
}
