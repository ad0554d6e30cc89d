// The window table in a /dev/shm without room for it: no table and no handle, never a SIGBUS at the
// first handle, and no name left behind.
#include "platform/messages.h"

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

const bool registered = RegisterTestChild("windows-on-private-shm", RunWindowsOnPrivateShm);

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

} // namespace
