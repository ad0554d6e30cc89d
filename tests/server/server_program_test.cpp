// The server program as the module runs it: a real Quillary.srv against an exchange area that this
// test created, with the host window in another process of the test.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "framework/intercom.h"
#include "platform/child_process_support.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "server/server_test_support.h"

namespace fs = std::filesystem;
using framework::TIntercomInterface;

namespace {

constexpr int kDeadlineMs = 15000;

// The host window, in a process of its own: made, its handle answered, destroyed when the test
// closes the child's input.
const bool HostRegistered = testchild::RegisterTestChild("host-window", [] {
    const platform::HWND wnd = platform::CreateWindowHandle([](platform::HWND, platform::UINT, platform::WPARAM,
                                                               platform::LPARAM) -> platform::LRESULT { return 0; });
    if (!testchild::Write(testchild::ChildOut, wnd)) return 1;
    for (;;) {
        pollfd pfd{testchild::ChildIn, POLLIN, 0};
        if (::poll(&pfd, 1, 20) != 0) break; // input closed
        platform::ProcessMessages();
    }
    platform::DestroyWindowHandle(wnd);
    return 0;
});

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kDeadlineMs) {
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (!done()) {
        if (platform::MonotonicMs() > end) return false;
        ::poll(nullptr, 0, 10);
    }
    return true;
}

// The server program, run in place of a test child so that the child's waits serve it: the child
// turns into the program named by QUILLARY_SERVER_EXE, with the module's (unused) argument.
const bool ServerRegistered = testchild::RegisterTestChild("server", [] {
    ::close(testchild::ChildIn);
    ::close(testchild::ChildOut);
    const char* exe = std::getenv("QUILLARY_SERVER_EXE");
    if (exe == nullptr) return 127;
    char* argv[] = {const_cast<char*>(exe), const_cast<char*>("\"unused\""), nullptr};
    ::execv(exe, argv);
    return 127;
});

class ServerProcess : public testchild::TestChild {
public:
    explicit ServerProcess(const fs::path& exe) : TestChild((::setenv("QUILLARY_SERVER_EXE", exe.c_str(), 1), "server")) {}
};

class ServerProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Each test leaves no area and no server behind, so they may share the run's namespace.
        static std::atomic<int> serial{0};
        const std::string ns = servertest::UseRunNamespace();
        const char* bin = std::getenv("QUILLARY_BIN");
        ASSERT_NE(bin, nullptr) << "QUILLARY_BIN names the folder of the programs";
        dir_ = fs::temp_directory_path() / (ns + "-" + std::to_string(serial++));
        fs::create_directories(dir_);
        // The program looks for its companions beside itself: a private copy has this test's.
        for (const char* file : {"Quillary.srv", "libostroplatform.so"})
            fs::copy_file(fs::path(bin) / file, dir_ / file, fs::copy_options::overwrite_existing);
        WriteFile("Quillary.cfg", "<KESTRAN ThreadOnPort=\"False\" ErrorMngrDisabled=\"False\" "
                                  "GeneralCommandInterval=\"6000\" AutoRunServer=\"-1\" CheckServerInterval=\"60\" "
                                  "RAPEnabled=\"False\" RAPPort=\"6042\" >\r\n</KESTRAN>\r\n");
        WriteFile("Quillary.ini", "[server]\r\ndelay_on_start=0\r\n");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void WriteFile(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    fs::path Exe() const { return dir_ / "Quillary.srv"; }

    // The exchange area as the module makes it, with a live host window.
    void CreateArea() {
        area_ = TIntercomInterface::Create(4, "Quillary.dat");
        ASSERT_TRUE(area_ && area_->IsOpen());
        framework::ServerSlotIndex = 0;
        area_->OstrolinkaInfo.SetName("Test module");
        host_ = std::make_unique<testchild::TestChild>("host-window");
        ASSERT_TRUE(host_->Started());
        ASSERT_TRUE(host_->Receive(hostWindow_));
        ASSERT_TRUE(platform::IsWindow(hostWindow_));
        area_->OstrolinkaInfo.SetHostWindow(static_cast<int32_t>(hostWindow_));
    }
    bool Registered(pid_t pid) const {
        return area_->ServerData.GetProcessId() == pid && area_->ServerData.GetWindow() != 0 &&
               area_->ServerData.GetRunFlag() == 1;
    }
    void AwaitRegistration(ServerProcess& server) {
        ASSERT_TRUE(server.Started());
        ASSERT_TRUE(WaitUntil([&] { return Registered(server.Pid()); }));
    }
    bool SlotClear() const {
        return area_->ServerData.GetProcessId() == 0 && area_->ServerData.GetWindow() == 0 &&
               area_->ServerData.GetRunFlag() == 0;
    }

    fs::path dir_;
    std::unique_ptr<TIntercomInterface> area_;
    std::unique_ptr<testchild::TestChild> host_;
    platform::HWND hostWindow_ = 0;
};

TEST_F(ServerProgramTest, WithoutConfigurationOrExchangeAreaItEndsAtOnce) {
    // No exchange area.
    {
        ServerProcess server(Exe());
        ASSERT_TRUE(server.Started());
        ASSERT_TRUE(server.WaitExited(kDeadlineMs));
        EXPECT_EQ(server.Reap(), 0);
    }
    // An area, but no configuration file: the slot stays untouched.
    CreateArea();
    fs::remove(dir_ / "Quillary.cfg");
    ServerProcess server(Exe());
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(server.WaitExited(kDeadlineMs));
    EXPECT_EQ(server.Reap(), 0);
    EXPECT_TRUE(SlotClear());
}

TEST_F(ServerProgramTest, RegistersCountsAndLeavesWhenTheRunFlagDrops) {
    CreateArea();
    ServerProcess server(Exe());
    ASSERT_NO_FATAL_FAILURE(AwaitRegistration(server));
    EXPECT_TRUE(platform::IsWindow(static_cast<platform::HWND>(area_->ServerData.GetWindow())));

    // The one-second timer counts the slot's transaction id.
    const int32_t first = area_->ServerData.GetTransactionId();
    ASSERT_TRUE(WaitUntil([&] { return area_->ServerData.GetTransactionId() >= first + 2; }));
    EXPECT_FALSE(server.WaitExited(0));

    const platform::HWND serverWindow = static_cast<platform::HWND>(area_->ServerData.GetWindow());
    area_->ServerData.SetRunFlag(0);
    ASSERT_TRUE(server.WaitExited(kDeadlineMs));
    EXPECT_EQ(server.Reap(), 0);
    EXPECT_TRUE(SlotClear());
    EXPECT_FALSE(platform::IsWindow(serverWindow));
}

TEST_F(ServerProgramTest, ASecondServerEndsAtOnceWithoutTouchingTheSlot) {
    CreateArea();
    ServerProcess first(Exe());
    ASSERT_NO_FATAL_FAILURE(AwaitRegistration(first));
    const int32_t window = area_->ServerData.GetWindow();

    ServerProcess second(Exe());
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(second.WaitExited(kDeadlineMs));
    EXPECT_EQ(second.Reap(), 0);
    EXPECT_EQ(area_->ServerData.GetProcessId(), first.Pid());
    EXPECT_EQ(area_->ServerData.GetWindow(), window);
    EXPECT_EQ(area_->ServerData.GetRunFlag(), 1);
    EXPECT_FALSE(first.WaitExited(0));

    area_->ServerData.SetRunFlag(0);
    ASSERT_TRUE(first.WaitExited(kDeadlineMs));
    EXPECT_EQ(first.Reap(), 0);
}

TEST_F(ServerProgramTest, ClosesSoonAfterTheHostWindowIsDestroyed) {
    CreateArea();
    ServerProcess server(Exe());
    ASSERT_NO_FATAL_FAILURE(AwaitRegistration(server));

    host_->CloseInput();
    ASSERT_TRUE(host_->WaitExited(kDeadlineMs));
    ASSERT_FALSE(platform::IsWindow(hostWindow_));
    const uint64_t gone = platform::MonotonicMs();
    ASSERT_TRUE(server.WaitExited(kDeadlineMs));
    // One tick of the one-second timer, with room for a loaded machine.
    EXPECT_LT(platform::MonotonicMs() - gone, 3000u);
    EXPECT_EQ(server.Reap(), 0);
    EXPECT_TRUE(SlotClear());
}

TEST_F(ServerProgramTest, LeavesASlotThatANewerServerTookOver) {
    CreateArea();
    ServerProcess server(Exe());
    ASSERT_NO_FATAL_FAILURE(AwaitRegistration(server));

    // A newer server (this test) registers while the old one still runs; then the host goes.
    const platform::HWND newer = platform::CreateWindowHandle(
        [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) -> platform::LRESULT { return 0; });
    ASSERT_NE(newer, 0u);
    area_->ServerData.SetProcessId(static_cast<int32_t>(::getpid()));
    area_->ServerData.SetWindow(static_cast<int32_t>(newer));
    host_->CloseInput();
    ASSERT_TRUE(server.WaitExited(kDeadlineMs));
    EXPECT_EQ(server.Reap(), 0);

    EXPECT_EQ(area_->ServerData.GetProcessId(), ::getpid());
    EXPECT_EQ(area_->ServerData.GetWindow(), static_cast<int32_t>(newer));
    EXPECT_EQ(area_->ServerData.GetRunFlag(), 1);
    platform::DestroyWindowHandle(newer);
}

} // namespace
