// The names of the shared blocks and the window table in /dev/shm: a table that does not fit is no
// table (never a SIGBUS), and a process that leaves by _exit with its threads still running gives its
// names up so that the last holder removes them.
#include "platform/messages.h"
#include "platform/names.h"
#include "platform/shared_memory.h"

#include "platform/child_process_support.h"
#include "platform/private_shm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

using namespace platform;
using namespace testchild;

namespace {

struct TShmCase {
    uint32_t Size;
    bool Fill;
};

struct TShmOutcome {
    char Skip[160];
    bool Available;
    HWND Handle;
    bool TableLeft;
};

bool TableNamed(const std::string& ns) { return std::filesystem::exists("/dev/shm/" + ns + ".ostrolinka.windows"); }

// In a /dev/shm of its own: whether a window can be had there, and whether a table name is left.
int RunWindowsOnPrivateShm() {
    TShmCase c{};
    if (!Read(ChildIn, c)) return 1;
    TShmOutcome out{};
    const std::string why = privateshm::Enter(c.Size, c.Fill);
    if (!why.empty()) {
        why.copy(out.Skip, sizeof out.Skip - 1);
        return Write(ChildOut, out) ? 0 : 2;
    }
    ::setenv("OSTROLINKA_NAMESPACE", "space", 1);
    out.Available = WindowsAvailable();
    out.Handle = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    out.TableLeft = TableNamed("space");
    return Write(ChildOut, out) ? 0 : 2;
}

// Holds a window and a block of the namespace the test names until its input closes, then leaves as
// a process whose threads still run: the names given up, nothing freed, no exit-time code.
int RunLeavingHolder() {
    char ns[64] = {};
    if (!Read(ChildIn, ns)) return 1;
    ::setenv("OSTROLINKA_NAMESPACE", ns, 1);
    TSharedMemory block;
    if (block.Create("blk", 4096) != TSharedMemoryResult::Ok && block.Open("blk") != TSharedMemoryResult::Ok) return 2;
    const HWND wnd = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    if (wnd == 0 || !Write(ChildOut, wnd)) return 3;
    char eof = 0;
    (void)ReadAll(ChildIn, &eof, 1, 60000);
    ReleaseHeldNames();
    // What a thread still running would do: the mappings are still there.
    block.Data()[0] = 1;
    if (CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }) == 0) ::_exit(4);
    ::_exit(0);
}

const bool registered = RegisterTestChild("windows-on-private-shm", RunWindowsOnPrivateShm) ||
                        RegisterTestChild("leaving-holder", RunLeavingHolder);

TEST(WindowTableSpace, ATableThatDoesNotFitIsNoTableAndLeavesNoName) {
    ASSERT_FALSE(registered);
    const struct {
        const char* what;
        TShmCase shm;
        bool fits;
    } cases[] = {
        {"full", {64 * 1024, true}, false},
        {"room for half the table", {512 * 1024, false}, false},
        {"room for the table", {4 * 1024 * 1024, false}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestChild child("windows-on-private-shm");
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(child.Send(c.shm));
        TShmOutcome out{};
        ASSERT_TRUE(child.Receive(out)) << "the child died (SIGBUS?)";
        if (out.Skip[0] != '\0') GTEST_SKIP() << "no private /dev/shm for this test: " << out.Skip;
        EXPECT_EQ(out.Available, c.fits);
        EXPECT_EQ(out.Handle != 0, c.fits);
        EXPECT_EQ(out.TableLeft, c.fits);
        ASSERT_TRUE(child.WaitExited(DeadlineMs));
        EXPECT_EQ(child.Reap(), 0);
    }
}

void StartLeavingHolder(TestChild& child, const std::string& ns) {
    ASSERT_TRUE(child.Started());
    char name[64] = {};
    ns.copy(name, sizeof name - 1);
    ASSERT_TRUE(child.Send(name));
    HWND wnd = 0;
    ASSERT_TRUE(child.Receive(wnd));
    EXPECT_NE(wnd, 0u);
}

TEST(LeavingWithThreadsRunning, TheLastHolderToLeaveTakesTheNamesAway) {
    const std::string ns = "leaving-" + std::to_string(::getpid());
    const auto named = [&] {
        return std::pair{std::filesystem::exists("/dev/shm/" + ns + ".blk"), TableNamed(ns)};
    };
    TestChild first("leaving-holder"), second("leaving-holder");
    StartLeavingHolder(first, ns);
    StartLeavingHolder(second, ns);
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

} // namespace
