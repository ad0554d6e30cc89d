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
#include "framework/intercom_test_support.h"
// The simulator's process helper, built into this test program.
#include "modbus-sim/sim_process.cpp"
#include "platform/child_process_support.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/private_shm.h"
#include "platform/text.h"
#include "server/server_test_support.h"

namespace fs = std::filesystem;
using framework::TIntercomInterface;

namespace {

constexpr int kDeadlineMs = 15000;

// The host window, in a process of its own: made, its handle answered, destroyed when the test
// closes the child's input.
const bool HostRegistered = testchild::RegisterTestChild("host-window", [] {
    const platform::HWND wnd =
        platform::CreateWindowHandle([](platform::HWND, platform::UINT, platform::WPARAM,
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

struct TServerOnShm {
    char Skip[160];
    bool AreaMade;
    int Status; // exit status; -1 not started or not ended in time
    int32_t Ticks;
    int32_t Errors;
};

// A /dev/shm with room for the exchange area but not for the window table: the area made as the
// module makes it, then the server program started against it and waited for.
const bool OnShmRegistered = testchild::RegisterTestChild("server-on-private-shm", [] {
    TServerOnShm out{};
    out.Status = -1;
    const std::string why = privateshm::Enter(768 * 1024, false);
    if (!why.empty()) {
        why.copy(out.Skip, sizeof out.Skip - 1);
        return testchild::Write(testchild::ChildOut, out) ? 0 : 2;
    }
    const auto area = TIntercomInterface::Create(4, "Quillary.dat");
    out.AreaMade = area->IsOpen();
    const char* exe = std::getenv("QUILLARY_SERVER_EXE");
    char* argv[] = {const_cast<char*>(exe), const_cast<char*>("\"unused\""), nullptr};
    pid_t pid = 0;
    if (out.AreaMade && ::posix_spawn(&pid, exe, nullptr, nullptr, argv, environ) == 0) {
        int status = 0;
        if (WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, kDeadlineMs)) {
            out.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    out.Ticks = area->ServerData.GetTransactionId();
    out.Errors = area->ServerErrorList.GetCount();
    return testchild::Write(testchild::ChildOut, out) ? 0 : 2;
});

class ServerProcess : public testchild::TestChild {
public:
    explicit ServerProcess(const fs::path& exe)
        : TestChild((::setenv("QUILLARY_SERVER_EXE", exe.c_str(), 1), "server")) {}
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
        WriteFile("Quillary.cfg",
                  "<KESTRAN ThreadOnPort=\"False\" ErrorMngrDisabled=\"False\" "
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

// Without room for the window table the server ends at once, as without an area: it never has a
// window to register, counts no tick and reports nothing.
TEST_F(ServerProgramTest, WithoutAWindowTableItEndsAtOnceAsWithoutAnArea) {
    ASSERT_FALSE(OnShmRegistered);
    ::setenv("QUILLARY_SERVER_EXE", Exe().c_str(), 1);
    testchild::TestChild child("server-on-private-shm");
    ASSERT_TRUE(child.Started());
    TServerOnShm out{};
    ASSERT_TRUE(child.Receive(out));
    if (out.Skip[0] != '\0') GTEST_SKIP() << "no private /dev/shm for this test: " << out.Skip;
    ASSERT_TRUE(out.AreaMade);
    EXPECT_EQ(out.Status, 0);
    EXPECT_EQ(out.Ticks, 0);
    EXPECT_EQ(out.Errors, 0);
    ASSERT_TRUE(child.WaitExited(kDeadlineMs));
    EXPECT_EQ(child.Reap(), 0);
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
    const platform::HWND newer =
        platform::CreateWindowHandle([](platform::HWND, platform::UINT, platform::WPARAM,
                                        platform::LPARAM) -> platform::LRESULT { return 0; });
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

// ---- polling the simulated field device through the program

// Registers 0..1 read as two words, a coil block as a byte; a word write to register 20 whose
// written value the formula scales.
constexpr const char* kDescription =
    "<EDDV2_Ostrolinka>\r\n"
    "<device name=\"sim\">\r\n"
    " <requestlist>\r\n"
    "  <request name=\"registers\" address=\"0\" size=\"2\" function=\"3\"><datablock>\r\n"
    "   <item type=\"16u\" proc=\"value\" tsaddress=\"1\"/><item type=\"16s\" proc=\"value\" "
    "tsaddress=\"2\"/>\r\n"
    "  </datablock></request>\r\n"
    " </requestlist>\r\n"
    " <commands>\r\n"
    "  <command tsaddress=\"100\" type=\"word\"><set address=\"20\" function=\"6\" "
    "expression=\"%VALUE%*10\"/></command>\r\n"
    " </commands>\r\n"
    "</device>\r\n"
    "</EDDV2_Ostrolinka>\r\n";

enum class TLink { Pty, Tcp };

// The program with one or more Modbus devices of prefix PLC in its configuration, each behind a
// simulator of its own, the host tag library beside it and the host tag database of this test.
class ServerPollingTest : public ServerProgramTest {
protected:
    void SetUp() override {
        ServerProgramTest::SetUp();
        if (HasFatalFailure()) return;
        const char* bin = std::getenv("QUILLARY_BIN");
        fs::copy_file(fs::path(bin) / "libVantorel.so", dir_ / "libVantorel.so",
                      fs::copy_options::overwrite_existing);
        WriteFile("Quillary.edd", kDescription);
        tagdb_ = (dir_ / "tags.tagdb").string();
        ::setenv("OSTROLINKA_TAGDB", tagdb_.c_str(), 1); // the program inherits it
        WriteFile("tags.tagdb", "");
    }
    void TearDown() override {
        sims_.clear();
        ::unsetenv("OSTROLINKA_TAGDB");
        ServerProgramTest::TearDown();
    }

    // A simulator on a pseudo-terminal (its link's path) or on a TCP port (the port).
    std::string StartSim(TLink link, const std::string& holding) {
        const std::string n = std::to_string(sims_.size());
        std::vector<std::string> args;
        if (link == TLink::Pty)
            args = {"--pty", (dir_ / ("tty" + n)).string()};
        else
            args = {"--tcp", "0"};
        for (const std::string& a : {std::string("--holding"), holding, std::string("--holding"),
                                     std::string("20=0"), std::string("--control-port"), std::string("0"),
                                     std::string("--write-log"), (dir_ / ("writes" + n + ".log")).string()})
            args.push_back(a);
        sims_.push_back(std::make_unique<simtest::SimProcess>(args, (dir_ / ("sim" + n + ".err")).string()));
        EXPECT_FALSE(sims_.back()->Ready().empty())
            << simtest::ReadFile((dir_ / ("sim" + n + ".err")).string());
        return sims_.back()->Ready();
    }
    std::string WriteLog(std::size_t sim) const {
        return simtest::ReadFile((dir_ / ("writes" + std::to_string(sim) + ".log")).string());
    }

    // One device's configuration element: on a serial port name, or on a converter's TCP port.
    static std::string Device(const std::string& name, int address, TLink link, const std::string& where,
                              const std::string& extra = "") {
        std::string d =
            "<device><session DeviceName=\"" + name + "\" DeviceAddress=\"" + std::to_string(address) +
            "\" RoutingPrefix=\"PLC\" RequestType=\"sim\" ICMPOnConnect=\"FALSE\" ReqwestInterval=\"20\" "
            "Enabled=\"TRUE\" VarConnectStateName=\"LINK" +
            std::to_string(address) + "\" CommandStateName=\"CMDSTATE" + std::to_string(address) + "\" ";
        if (link == TLink::Pty)
            d += "TypeOfConnection=\"RS232\" RS232Port=\"" + where + "\" TimeOut=\"300\" ";
        else
            d += "TypeOfConnection=\"TCP/IP\" DeviceIPAddress=\"127.0.0.1\" IPPort=\"" + where +
                 "\" TimeOut=\"250\" ";
        return d + extra + "/></device>\r\n";
    }
    void Configure(bool threadOnPort, const std::string& devices, const std::string& ports = "") {
        WriteFile("Quillary.cfg",
                  std::string("<KESTRAN ThreadOnPort=\"") + (threadOnPort ? "True" : "False") +
                      "\" ErrorMngrDisabled=\"False\" GeneralCommandInterval=\"6000\" AutoRunServer=\"-1\" "
                      "CheckServerInterval=\"60\" RAPEnabled=\"False\" RAPPort=\"6042\" >\r\n" +
                      devices + "</KESTRAN>\r\n");
        WriteFile("Quillary.ini", "[server]\r\ndelay_on_start=0\r\n[ports]\r\n" + ports);
    }
    // The area as the module leaves it before it starts the server: the static tags (value at
    // address 1 and the commanded tag at 100 of each device), the dynamic tags registered, the
    // request terminal owned by the first device.
    void PrepareArea(const std::vector<int>& addresses) {
        ASSERT_NO_FATAL_FAILURE(CreateArea());
        int32_t id = 1;
        for (int a : addresses) {
            for (int tag : {1, 100})
                ASSERT_TRUE(area_->DMLVariablesList.Add(intercom_test::MakeInfo(
                    id++, "PLC: DEVICE=" + std::to_string(a) + "; ADDRESS=" + std::to_string(tag), -1)));
            for (const std::string& name : {"LINK" + std::to_string(a), "CMDSTATE" + std::to_string(a)})
                ASSERT_TRUE(area_->DynemicVariablesList.Register(name, false, -1, platform::Now()));
        }
        area_->RequestTerminal.SetOwner(0);
    }

    float StaticValue(int32_t i) const {
        framework::TDMLVariableEntry e{};
        return area_->DMLVariablesList.Read(i, e) ? e.Value : -1000;
    }
    float DynamicValue(const std::string& name) const {
        for (int32_t i = 0; i < area_->DynemicVariablesList.GetCount(); ++i) {
            framework::TDynamicVariableEntry e{};
            if (area_->DynemicVariablesList.Read(i, e) && e.Name.Get() == name) return e.Value;
        }
        return -1000;
    }
    void Publish(int32_t device, int32_t variableId, float value, float old) {
        framework::TCommandRecord c{};
        c.VariableId = variableId;
        c.Domain.Set("PLC");
        c.Device = device;
        c.TagAddress = 100;
        c.Value = value;
        c.OldValue = old;
        framework::TCommandsList& region = area_->CommandsList;
        region.Init();
        region.SetDeviceName("PLC");
        ASSERT_TRUE(region.Add(c));
        ASSERT_TRUE(region.Publish());
    }
    std::string Errors() { return servertest::ServerErrors(*area_); }
    void Stop(ServerProcess& server) {
        area_->ServerData.SetRunFlag(0);
        ASSERT_TRUE(server.WaitExited(kDeadlineMs));
        EXPECT_EQ(server.Reap(), 0);
        EXPECT_TRUE(SlotClear());
    }

    std::string tagdb_;
    std::vector<std::unique_ptr<simtest::SimProcess>> sims_;
};

class ServerPollingByLink : public ServerPollingTest, public ::testing::WithParamInterface<TLink> {};

TEST_P(ServerPollingByLink, ValuesReachTheTagsAndAPublishedWriteIsCarriedOut) {
    const TLink link = GetParam();
    const std::string where = StartSim(link, "0=1234,65535");
    ASSERT_FALSE(where.empty());
    // A serial device is named through the settings file's port map.
    Configure(true, Device("Pump", 1, link, link == TLink::Pty ? "COM1" : where),
              link == TLink::Pty ? "COM1=" + where + "\r\n" : "");
    ASSERT_NO_FATAL_FAILURE(PrepareArea({1}));
    ServerProcess server(Exe());
    ASSERT_NO_FATAL_FAILURE(AwaitRegistration(server));

    // The decoded registers reach the static tag of their routing, read here from our own mapping.
    ASSERT_TRUE(WaitUntil([&] { return StaticValue(0) == 1234.0f; })) << StaticValue(0) << "\n" << Errors();
    EXPECT_EQ(DynamicValue("LINK1"), 0.0f);
    sims_[0]->Command("set holding 0 4321");
    ASSERT_TRUE(WaitUntil([&] { return StaticValue(0) == 4321.0f; }));

    // The owner's terminal: the poll log and the device's parameters. A Modbus device shows its
    // converter address whenever it has a port number, the serial one too (its default 4001).
    ASSERT_TRUE(WaitUntil([&] {
        return intercom_test::TerminalText(area_->RequestTerminal).find("READING OK") != std::string::npos;
    })) << intercom_test::TerminalText(area_->RequestTerminal);
    framework::TTerminalParams params{};
    ASSERT_TRUE(area_->RequestTerminal.ReadParams(0, params));
    EXPECT_EQ(params.PortName.Get(), "127.0.0.1:" + (link == TLink::Pty ? std::string("4001") : where));
    EXPECT_EQ(+params.LinkState, 1);

    // A published batch: taken (2), carried out (3), the write in the device's log, state tag 1.
    Publish(1, 2, 12.0f, 0.0f);
    ASSERT_TRUE(WaitUntil([&] { return area_->CommandsList.GetFlag() == 3; }))
        << +area_->CommandsList.GetFlag();
    EXPECT_NE(WriteLog(0).find("slave=1 function=6 address=20 values=120 result=ok"), std::string::npos)
        << WriteLog(0);
    EXPECT_TRUE(WaitUntil([&] { return DynamicValue("CMDSTATE1") == 1.0f; })) << DynamicValue("CMDSTATE1");
    EXPECT_TRUE(WaitUntil([&] { return StaticValue(1) == 12.0f; }));

    // The device rejects the next one: the tag gets its old value back, the state says why, and
    // the failure is in the server's error list.
    area_->CommandsList.SetFlag(0);
    // Every answer is an exception meanwhile: the polls between would take a one-off fault.
    ASSERT_EQ(sims_[0]->Command("exception 2"), "OK");
    Publish(1, 2, 30.0f, 12.0f);
    ASSERT_TRUE(WaitUntil([&] { return area_->CommandsList.GetFlag() == 3; }));
    ASSERT_EQ(sims_[0]->Command("clear"), "OK");
    EXPECT_TRUE(WaitUntil([&] { return DynamicValue("CMDSTATE1") == 3.0f; })) << DynamicValue("CMDSTATE1");
    EXPECT_TRUE(WaitUntil([&] { return StaticValue(1) == 12.0f; }));
    EXPECT_NE(WriteLog(0).find("values=300 result=exception:2"), std::string::npos) << WriteLog(0);
    EXPECT_TRUE(WaitUntil([&] {
        return Errors().find(platform::Cp("Ошибка обработки команды")) != std::string::npos;
    })) << Errors();
    ASSERT_NO_FATAL_FAILURE(Stop(server));
}

INSTANTIATE_TEST_SUITE_P(Links, ServerPollingByLink, ::testing::Values(TLink::Pty, TLink::Tcp),
                         [](const ::testing::TestParamInfo<TLink>& info) {
                             return info.param == TLink::Pty ? "SerialOnPty" : "TcpConverter";
                         });

TEST_F(ServerPollingTest, TheAccessLockTagInTheHostTagDatabasePausesPolling) {
    const std::string where = StartSim(TLink::Tcp, "0=7,0");
    Configure(false, Device("Pump", 1, TLink::Tcp, where, "VarBlockCommand=\"LOCK1\""));
    WriteFile("tags.tagdb", "id=7\tname=LOCK1\tvalue=1\n");
    ASSERT_NO_FATAL_FAILURE(PrepareArea({1}));
    ServerProcess server(Exe());
    ASSERT_NO_FATAL_FAILURE(AwaitRegistration(server));

    // Locked: the terminal says so pass after pass, and the device's values are not read.
    ASSERT_TRUE(WaitUntil([&] {
        return intercom_test::TerminalText(area_->RequestTerminal) == "Device disabled!!!";
    })) << intercom_test::TerminalText(area_->RequestTerminal);
    const int32_t counter = area_->RequestTerminal.GetCounter();
    ASSERT_TRUE(WaitUntil([&] { return area_->RequestTerminal.GetCounter() > counter + 5; }));
    EXPECT_EQ(StaticValue(0), -1.0f);

    // The host clears the lock: polling resumes.
    WriteFile("tags.tagdb.new", "id=7\tname=LOCK1\tvalue=0\n");
    fs::rename(dir_ / "tags.tagdb.new", dir_ / "tags.tagdb");
    ASSERT_TRUE(WaitUntil([&] { return StaticValue(0) == 7.0f; }))
        << intercom_test::TerminalText(area_->RequestTerminal);
    ASSERT_NO_FATAL_FAILURE(Stop(server));
}

// A configuration the module refuses polls nothing here either, the devices before the slip included;
// the log says why. A device the user switched off never comes up enabled with default settings.
TEST_F(ServerPollingTest, ARefusedConfigurationPollsNothing) {
    const std::string where = StartSim(TLink::Tcp, "0=1234,0");
    const std::string good = Device("Pump", 1, TLink::Tcp, where);
    const std::string switchedOff =
        "<device>note\r\n" + Device("Pump A", 7, TLink::Tcp, where, "Enabled=\"FALSE\"").substr(8);
    for (const std::string& devices : {good + switchedOff, good + "<device x=\"1\">" + good.substr(8)}) {
        SCOPED_TRACE(devices);
        Configure(false, devices);
        ASSERT_NO_FATAL_FAILURE(PrepareArea({1}));
        ServerProcess server(Exe());
        ASSERT_NO_FATAL_FAILURE(AwaitRegistration(server));
        ASSERT_TRUE(WaitUntil([&] {
            return Errors().find(platform::Cp(" не прочитан: ")) != std::string::npos;
        })) << Errors();
        // Its device threads would have polled every 20 ms in the seconds the window counts.
        const int32_t ticks = area_->ServerData.GetTransactionId();
        ASSERT_TRUE(WaitUntil([&] { return area_->ServerData.GetTransactionId() >= ticks + 2; }));
        EXPECT_EQ(area_->RequestTerminal.GetCounter(), 0);
        EXPECT_EQ(StaticValue(0), -1.0f);
        ASSERT_NO_FATAL_FAILURE(Stop(server));
        area_.reset();
        host_.reset();
    }
}

// Devices on COM1, COM2 and COM1 make two threads: each port's line is served, the two devices of
// COM1 one after the other on one line.
TEST_F(ServerPollingTest, DevicesSplitByPortAreAllServed) {
    const std::string com1 = StartSim(TLink::Pty, "0=11,0");
    const std::string com2 = StartSim(TLink::Pty, "0=22,0");
    ASSERT_FALSE(com1.empty() || com2.empty());
    Configure(true,
              Device("A", 1, TLink::Pty, "COM1") + Device("B", 1, TLink::Pty, "COM2") +
                  Device("C", 1, TLink::Pty, "COM1"),
              "COM1=" + com1 + "\r\nCOM2=" + com2 + "\r\n");
    ASSERT_NO_FATAL_FAILURE(PrepareArea({1}));
    ServerProcess server(Exe());
    ASSERT_NO_FATAL_FAILURE(AwaitRegistration(server));
    // Both lines are read: the tag shows one simulator's value, then the other's.
    bool saw11 = false, saw22 = false;
    ASSERT_TRUE(WaitUntil([&] {
        saw11 |= StaticValue(0) == 11.0f;
        saw22 |= StaticValue(0) == 22.0f;
        return saw11 && saw22;
    })) << Errors();
    ASSERT_NO_FATAL_FAILURE(Stop(server));
}

} // namespace
