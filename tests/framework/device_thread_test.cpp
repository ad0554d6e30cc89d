#include "framework/threads_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "device_test_support.h"
#include "device_thread_test_support.h"
#include "framework/intercom.h"
#include "framework/variable_index.h"
#include "platform/text.h"
#include "remote_test_support.h"

using namespace framework;
using device_test::TAreaScope;
using device_test::TErrorScope;
using device_test::TTempDir;
using thread_test::Set;
using thread_test::TLineDriver;
using thread_test::TLineTestDevice;
using thread_test::TResponder;
using thread_test::TTagDatabase;
using thread_test::WaitUntil;

namespace {

constexpr int32_t kAddress = 3;

// A server process in miniature: the exchange area with two static tags of device PLC 3 (the read
// value at address 100, the written tag at 200), the dynamic tags the module registers at its start,
// the tag index, the error object, the driver, a pseudo-terminal line with its field devices.
class DeviceThreads : public ::testing::Test {
protected:
    DeviceThreads() : area(2), db(dir.File("tags.tagdb")) {}

    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_TRUE(
            area.Area->DMLVariablesList.Add(intercom_test::MakeInfo(1, "PLC: DEVICE=3; ADDRESS=100")));
        ASSERT_TRUE(
            area.Area->DMLVariablesList.Add(intercom_test::MakeInfo(2, "PLC: DEVICE=3; ADDRESS=200")));
        for (const char* name : {"LINK3", "CMDSTATE3"})
            ASSERT_TRUE(area.Area->DynemicVariablesList.Register(name, false, -1, platform::Now()));
        ASSERT_TRUE(index.Build());
        VariableIndex = &index;
        Driver = &driver;
        db.Write("");
    }
    void TearDown() override {
        threads.reset(); // stops the threads before what they use goes
        VariableIndex = nullptr;
        Driver = nullptr;
        MonitorWindowHandle = 0;
        SelectedDeviceIndex = -1;
    }

    TLineTestDevice& AddDevice(const std::string& name, int32_t address, const std::string& port) {
        TDeviceRecord* r = driver.DeviceList->AddDevice();
        TDevice& d = *r->Device;
        Set(d, "DeviceName", name);
        Set(d, "DeviceAddress", std::to_string(address));
        Set(d, "RoutingPrefix", "PLC");
        Set(d, "RS232Port", port);
        Set(d, "RS232BaudRate", "19200");
        Set(d, "IPPort", "0");
        Set(d, "ICMPOnConnect", "FALSE");
        Set(d, "TimeOut", "300");
        Set(d, "ReqwestInterval", "10");
        Set(d, "Enabled", "TRUE");
        Set(d, "VarConnectStateName", "LINK" + std::to_string(address));
        Set(d, "CommandStateName", "CMDSTATE" + std::to_string(address));
        d.ListIndex = driver.DeviceList->Count() - 1; // as the configuration file sets it
        return static_cast<TLineTestDevice&>(d);
    }
    TLineTestDevice& AddLineDevice() { return AddDevice("Pump", kAddress, pty.slave); }

    void Start(bool byPort = true) {
        threads = driver.CreateThreadsList();
        threads->CreateThreads(driver.DeviceList.get(), byPort);
        threads->ResumeAll();
    }
    TLineTestDevice& Served(int32_t thread = 0, int32_t i = 0) {
        return static_cast<TLineTestDevice&>(*threads->Thread(thread)->Devices->Device(i));
    }

    float StaticValue(int32_t i) {
        TDMLVariableEntry e{};
        return area.Area->DMLVariablesList.Read(i, e) ? e.Value : std::numeric_limits<float>::quiet_NaN();
    }
    static TCommandRecord Write(float value, float old) {
        TCommandRecord c{};
        c.VariableId = 2;
        c.Domain.Set("PLC");
        c.Device = kAddress;
        c.TagAddress = 200;
        c.Value = value;
        c.OldValue = old;
        return c;
    }
    void Publish(const std::vector<TCommandRecord>& commands) {
        TCommandsList& region = area.Area->CommandsList;
        region.Init();
        region.SetDeviceName(commands.front().Domain.Get());
        for (const TCommandRecord& c : commands)
            region.Add(c);
        ASSERT_TRUE(region.Publish());
    }
    uint8_t Flag() { return area.Area->CommandsList.GetFlag(); }

    TTempDir dir;
    TAreaScope area;
    TErrorScope errors;
    TTagDatabase db;
    TVariableIndex index;
    TLineDriver driver;
    testsupport::TestPty pty;
    std::unique_ptr<TThreadsList> threads;
};

TEST_F(DeviceThreads, ThreadsSplitByPortNameInOrderOfFirstAppearance) {
    AddDevice("A", 1, "COM1");
    AddDevice("B", 2, "COM2");
    AddDevice("C", 4, "COM1");
    AddDevice("D", 5, "com1"); // names differ: another port
    threads = driver.CreateThreadsList();
    threads->CreateThreads(driver.DeviceList.get(), true);
    ASSERT_EQ(threads->Count(), 3);
    const auto names = [&](int32_t t) {
        std::string s;
        for (int32_t i = 0; i < threads->Thread(t)->Devices->Count(); ++i)
            s += threads->Thread(t)->Devices->Device(i)->DeviceName;
        return s;
    };
    EXPECT_EQ(names(0), "AC");
    EXPECT_EQ(names(1), "B");
    EXPECT_EQ(names(2), "D");
    EXPECT_EQ(driver.DeviceList->Count(), 4); // the master list is only copied

    threads = driver.CreateThreadsList();
    threads->CreateThreads(driver.DeviceList.get(), false);
    ASSERT_EQ(threads->Count(), 1);
    EXPECT_EQ(names(0), "ABCD");
    EXPECT_EQ(threads->Thread(0)->FindThreadDevice("plc", 4)->DeviceName, "C");
    EXPECT_EQ(threads->Thread(0)->FindThreadDevice("", 4), nullptr);
    EXPECT_EQ(threads->Thread(0)->FindThreadDevice("PLC", 0), nullptr);
}

TEST_F(DeviceThreads, PollsReachTheStaticTagsTheTraceAndTheOwnersTerminal) {
    AddLineDevice();
    area.Area->RequestTerminal.SetOwner(0);
    std::atomic<int> pollUpdates{0};
    const platform::HWND wnd = platform::CreateWindowHandle(
        [&](platform::HWND, platform::UINT msg, platform::WPARAM w, platform::LPARAM) -> platform::LRESULT {
            if (msg == WM_TERMINALUPDATE && w == 0) ++pollUpdates;
            return 0;
        });
    MonitorWindowHandle = wnd;
    SelectedDeviceIndex = 0;
    TResponder line(pty);
    Start();
    // The window thread keeps dispatching while it waits, as the server's does.
    ASSERT_TRUE(WaitUntil([&] { return line.Reads(kAddress) >= 3 && pollUpdates.load() >= 3; }));
    EXPECT_TRUE(WaitUntil([&] { return StaticValue(0) >= 2; }));
    const TTraceTexts traces = GetTraceTexts();
    EXPECT_EQ(traces.LinkText, "True");
    EXPECT_NE(traces.RequestTrace.find("---- END DATA READING.... ----"), std::string::npos);
    EXPECT_EQ(area.DynamicValue("LINK3"), 0.0f); // link restored

    ASSERT_TRUE(WaitUntil([&] {
        return intercom_test::TerminalText(area.Area->RequestTerminal)
                   .find("---- END DATA READING.... ----") != std::string::npos;
    }));
    TTerminalParams params{};
    ASSERT_TRUE(area.Area->RequestTerminal.ReadParams(0, params));
    EXPECT_EQ(params.PortName.Get(), pty.slave);
    EXPECT_EQ(+params.LinkState, 1);
    EXPECT_GE(+params.Frequency, 10);
    threads->TerminateAll();
    EXPECT_FALSE(threads->Running.load());
    EXPECT_FALSE(threads->Thread(0)->Running.load());
    platform::DestroyWindowHandle(wnd);
}

// The record's last-poll time is the wall clock; the clock set back by a day must not stop polling.
TEST_F(DeviceThreads, TheWallClockSetBackDoesNotDelayPolls) {
    AddLineDevice();
    TResponder line(pty);
    threads = driver.CreateThreadsList();
    threads->CreateThreads(driver.DeviceList.get(), true);
    threads->Thread(0)->Devices->Record(0)->LastPoll = platform::Now() + 1.0;
    threads->ResumeAll();
    EXPECT_TRUE(WaitUntil([&] { return line.Reads(kAddress) >= 2; }));
}

TEST_F(DeviceThreads, ABatchIsTakenExecutedOnePerPassAndAcknowledgedAfterTheLast) {
    // A held write stays held until let go, however late this thread looks.
    Set(AddLineDevice(), "TimeOut", "10000");
    TResponder line(pty);
    line.HoldWrites = true;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return line.Reads(kAddress) >= 1; }));
    Publish({Write(7, 5), Write(9, 7)});
    ASSERT_TRUE(WaitUntil([&] { return Flag() == csTaken; }));
    // The thread fills its list just after taking the batch: the first is running once one is left.
    EXPECT_TRUE(WaitUntil([&] { return threads->Thread(0)->Commands->Count() == 1; }));
    EXPECT_EQ(line.Writes(), 0);
    line.HoldWrites = false;
    ASSERT_TRUE(WaitUntil([&] { return Flag() == csDone; }));
    EXPECT_EQ(line.Writes(), 2);
    EXPECT_EQ(area.DynamicValue("CMDSTATE3"), 1.0f);
    EXPECT_TRUE(WaitUntil([&] { return StaticValue(1) == 9.0f; })); // flushed with the next poll
    const std::string trace = Served().CommandLog->GetText();
    EXPECT_NE(trace.find("Command is successful procesed."), std::string::npos);
    EXPECT_NE(trace.find("Время на обслуживание команды "_cp), std::string::npos);
    threads.reset(); // while the line still answers: a read without it waits out the long time-out
}

TEST_F(DeviceThreads, AFailedCommandPutsTheOldValueBackAndSaysWhy) {
    AddLineDevice();
    TResponder line(pty);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return line.Reads(kAddress) >= 1; }));

    line.WriteAnswer = TResponder::TWrites::Rejected;
    Publish({Write(40, 11)});
    ASSERT_TRUE(WaitUntil([&] { return Flag() == csDone; }));
    EXPECT_EQ(area.DynamicValue("CMDSTATE3"), 3.0f);
    EXPECT_TRUE(WaitUntil([&] { return StaticValue(1) == 11.0f; }));
    EXPECT_NE(Served().CommandLog->GetText().find("Command not supported."), std::string::npos);

    line.WriteAnswer = TResponder::TWrites::Silent;
    area.Area->CommandsList.Init();
    Publish({Write(41, 12)});
    ASSERT_TRUE(WaitUntil([&] { return Flag() == csDone; }));
    EXPECT_EQ(area.DynamicValue("CMDSTATE3"), 2.0f);
    EXPECT_TRUE(WaitUntil([&] { return StaticValue(1) == 12.0f; }));
    EXPECT_NE(Served().CommandLog->GetText().find("No connection to device."), std::string::npos);
    const std::string failed = "Ошибка обработки команды (Адрес=-1)."_cp;
    EXPECT_NE(errors.Errors.Log->GetText().find(failed), std::string::npos);
}

TEST_F(DeviceThreads, ACommandForNoDeviceOfTheThreadIsDroppedAndTheBatchStillDone) {
    driver.Single = true; // commands are readdressed to OSTROLINKA 1, which is no device here
    AddLineDevice();
    TResponder line(pty);
    Start();
    Publish({Write(7, 5)});
    ASSERT_TRUE(WaitUntil([&] { return Flag() == csDone; }));
    EXPECT_EQ(line.Writes(), 0);
    EXPECT_NE(errors.Errors.Log->GetText().find("Неизвестное имя сегмента для команды."_cp),
              std::string::npos);
}

TEST_F(DeviceThreads, TheAccessLockTagParksPollingAndReleasesIt) {
    TLineTestDevice& master = AddLineDevice();
    Set(master, "VarBlockCommand", " LOCK3 ");
    area.Area->RequestTerminal.SetOwner(0);
    db.Write("id=7\tname=LOCK3\tvalue=1\n");
    TResponder line(pty);
    Start();
    TLineTestDevice& d = Served();
    ASSERT_TRUE(WaitUntil(
        [&] { return intercom_test::TerminalText(area.Area->RequestTerminal) == "Device disabled!!!"; }));
    const int passes = d.Passes.load();
    ASSERT_TRUE(WaitUntil([&] { return d.Passes.load() > passes + 5; }));
    EXPECT_EQ(line.Reads(kAddress), 0);
    EXPECT_EQ(d.LockChanges.load(), 1);

    db.Write("id=7\tname=LOCK3\tvalue=0.4\n");
    ASSERT_TRUE(WaitUntil([&] { return line.Reads(kAddress) >= 2; }));
    EXPECT_EQ(d.LockChanges.load(), 2);

    // A value that is no number keeps the device as it is.
    db.Write("id=7\tname=LOCK3\tvalue=nan\n");
    const int reads = line.Reads(kAddress);
    EXPECT_TRUE(WaitUntil([&] { return line.Reads(kAddress) >= reads + 3; }));
    EXPECT_EQ(d.LockChanges.load(), 2);
}

// A device whose poll never ends, whatever the thread is asked.
class TStuckDevice : public TLineTestDevice {
public:
    bool Poll(TDeviceList*, TReceiveVariables*) override {
        Entered = true;
        while (!Release.load())
            platform::Sleep(1);
        return true;
    }
    ~TStuckDevice() override { (*Freed) = true; }
    inline static std::atomic<bool> Entered{false};
    inline static std::atomic<bool> Release{false};
    inline static std::atomic<bool>* Freed = nullptr;
};

class TStuckDriver : public TLineDriver {
public:
    TStuckDriver() { DeviceList = CreateDeviceList(); }
    std::unique_ptr<TDevice> CreateDevice() override { return std::make_unique<TStuckDevice>(); }
};

TEST(DeviceThreadStop, AThreadThatDoesNotStopIsReportedAndLeftWithWhatItUses) {
    TErrorScope errors;
    TStuckDriver driver;
    Driver = &driver;
    std::atomic<bool> freed{false};
    TStuckDevice::Freed = &freed;
    TDeviceRecord* r = driver.DeviceList->AddDevice();
    Set(*r->Device, "ReqwestInterval", "0");
    Set(*r->Device, "Enabled", "TRUE");
    auto threads = driver.CreateThreadsList();
    threads->CreateThreads(driver.DeviceList.get(), false);
    driver.DeviceList->FreeAll(); // the master's device goes; the thread has its own copy
    freed = false;
    threads->ResumeAll();
    ASSERT_TRUE(WaitUntil([] { return TStuckDevice::Entered.load(); }));
    const int32_t abandoned = platform::TThread::AbandonedRunning();
    threads->TerminateAll(); // gives up after its bound
    threads.reset();         // and so does freeing the thread
    EXPECT_EQ(platform::TThread::AbandonedRunning(), abandoned + 1);
    EXPECT_FALSE(freed.load());
    EXPECT_NE(errors.Errors.Log->GetText().find("did not stop within 3000 ms"), std::string::npos);
    TStuckDevice::Release = true;
    EXPECT_TRUE(WaitUntil([&] { return freed.load(); }));
    EXPECT_TRUE(WaitUntil([&] { return platform::TThread::AbandonedRunning() == abandoned; }));
    Driver = nullptr;
}

// ---- remote requests

std::string Request(TRemoteRequestHeader h, const std::string& payload) {
    h.PayloadLength = static_cast<int32_t>(payload.size());
    return std::string(reinterpret_cast<const char*>(&h), sizeof h) + payload;
}

TRemoteRequestHeader ServiceHeader() {
    TRemoteRequestHeader h = NewRemoteRequestHeader();
    h.RequestCode = 1;
    return h;
}

// The reply's header and body, as they came in one or more pieces.
std::pair<TRemoteRequestHeader, std::string> Reply(remote_test::TLoopbackPeer& peer) {
    std::string got = peer.Received(311);
    if (got.size() < 311) return {TRemoteRequestHeader{}, "<no reply>"};
    const TRemoteRequestHeader h = remote_test::HeaderOf(got);
    const std::size_t total = 311 + static_cast<std::size_t>(h.PayloadLength);
    if (got.size() < total) got += peer.Received(total - got.size());
    return {h, got.substr(311)};
}

std::string Body(remote_test::TLoopbackPeer& peer) {
    return Reply(peer).second;
}

TEST_F(DeviceThreads, TheServiceNameRequestIsAnsweredLineByLine) {
    threads = driver.CreateThreadsList();
    remote_test::TLoopbackPeer peer;
    TRemoteRequestHeader h = ServiceHeader();
    const std::string stream = Request(h, "  <TQL><GET_SERVICE_NAME/><FOO/></TQL> ");
    h.PayloadLength = static_cast<int32_t>(stream.size() - 311);
    std::string error = "x";
    TTerminalDataClass log;
    threads->DoExternalRequest(&peer, h, error, &log, &stream);
    EXPECT_EQ(error, "");
    TDeviceInfoRecord info;
    driver.GetDeviceInfo(info);
    EXPECT_EQ(Body(peer), "<TQL>\r\n<GET_SERVICE_NAME name=\"" + platform::FieldText(info.Title) +
                              "\"/>\r\n<ERROR Message=\"Unknoun command!\"/>\r\n</TQL>\r\n");
    const auto lines = device_test::Lines(log.GetText());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "   DEVICE::Обработка запроса к устройству..."_cp);
    EXPECT_EQ(lines.back(), "   DEVICE::Окончание обработки запроса к устройству."_cp);
}

TEST_F(DeviceThreads, AServiceRequestWithoutTheTQLRootIsRefusedWithStatus) {
    threads = driver.CreateThreadsList();
    remote_test::TLoopbackPeer peer;
    TRemoteRequestHeader h = ServiceHeader();
    const std::string stream = Request(h, "<QUERY/>");
    h.PayloadLength = 8;
    std::string error;
    threads->ProcessTQLRequest(&peer, h, error, nullptr, &stream);
    const auto [head, body] = Reply(peer);
    EXPECT_EQ(+head.Status, -1);
    EXPECT_EQ(+head.Status2, -3);
    EXPECT_EQ(body, "<TQL Message=\"Invalid TQL header!\"/></TQL>");
}

// The stream's size must be the header's plus the payload length the client gave, and that length
// must be one a session takes: a wrapped 32-bit sum must not pass.
TEST_F(DeviceThreads, AServiceRequestWhoseLengthsDoNotAgreeGetsNoReply) {
    threads = driver.CreateThreadsList();
    remote_test::TLoopbackPeer peer;
    const std::string payload = "<TQL><GET_SERVICE_NAME/></TQL>";
    for (int32_t length : {0, -1, 29, 31, INT32_MAX, INT32_MIN + 30, 65000}) {
        TRemoteRequestHeader h = ServiceHeader();
        const std::string stream = Request(h, payload);
        h.PayloadLength = length;
        std::string error;
        threads->ProcessTQLRequest(&peer, h, error, nullptr, &stream);
        EXPECT_EQ(error, "   DEVICE::Request data error!") << length;
    }
    TRemoteRequestHeader other = ServiceHeader();
    other.RequestCode = 2;
    std::string error = "x";
    threads->ProcessTQLRequest(&peer, other, error, nullptr, nullptr);
    EXPECT_EQ(error, "");
    EXPECT_EQ(peer.Writes, 0);
}

TEST_F(DeviceThreads, ARequestReachesItsDeviceOnlyWhileItsThreadIsParked) {
    AddLineDevice();
    TLineTestDevice& off = AddDevice("Off", 4, pty.slave);
    Set(off, "Enabled", "FALSE");
    TResponder line(pty);
    Start();
    remote_test::TLoopbackPeer peer;
    TRemoteRequestHeader h = NewRemoteRequestHeader();
    h.Domain.Set("plc");
    h.DeviceAddress = kAddress;
    h.RequestCode = 5;
    std::string error;
    TTerminalDataClass log;

    threads->DoExternalRequest(&peer, h, error, &log, nullptr);
    EXPECT_EQ(error, "THREADS_LIST::"_cp + "Ошибка блокировки потока запрашиваемого устройства."_cp);

    ASSERT_TRUE(threads->LockDevice("PLC", kAddress, true));
    EXPECT_TRUE(threads->Thread(0)->Paused.load());
    threads->DoExternalRequest(&peer, h, error, &log, nullptr);
    EXPECT_EQ(error, "Внешний запрос не поддерживается драйвером."_cp);
    EXPECT_NE(log.GetText().find("THREADS_LIST:: Device found: Pump"), std::string::npos);
    const int reads = line.Reads(kAddress);
    ASSERT_TRUE(threads->LockDevice("PLC", kAddress, false));
    EXPECT_TRUE(WaitUntil([&] { return line.Reads(kAddress) > reads; }));

    h.DeviceAddress = 9;
    threads->DoExternalRequest(&peer, h, error, &log, nullptr);
    EXPECT_EQ(error, "THREADS_LIST::"_cp + "Устройство не найдено или недоступно."_cp);
    EXPECT_NE(log.GetText().find("THREADS_LIST:: Device not found or locked."), std::string::npos);

    // A disabled device is neither locked nor served, and its thread goes on.
    EXPECT_FALSE(threads->LockDevice("PLC", 4, true));
    EXPECT_FALSE(threads->Thread(0)->PauseRequest.load());
    EXPECT_FALSE(threads->LockDevice("", 3, true));
    EXPECT_FALSE(threads->LockDevice("PLC", -1, true));
}

TEST_F(DeviceThreads, ARemoteRequestSeesTheAccessLockOfTheParkedDevice) {
    TLineTestDevice& master = AddLineDevice();
    Set(master, "VarBlockCommand", "LOCK3");
    db.Write("id=7\tname=LOCK3\tvalue=0\n");
    TResponder line(pty);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return line.Reads(kAddress) >= 1; }));
    ASSERT_TRUE(threads->LockDevice("PLC", kAddress, true));
    db.Write("id=7\tname=LOCK3\tvalue=1\n");
    TRemoteRequestHeader h = NewRemoteRequestHeader();
    h.Domain.Set("PLC");
    h.DeviceAddress = kAddress;
    std::string error;
    threads->DoExternalRequest(nullptr, h, error, nullptr, nullptr);
    EXPECT_EQ(error, "THREADS_LIST::"_cp + "Устройство не найдено или недоступно."_cp);
    EXPECT_FALSE(Served().Enabled);
    threads->LockDevice("PLC", kAddress, false);
}

// ---- the access-lock value

class AccessLock : public ::testing::Test {
protected:
    AccessLock() : db(dir.File("tags.tagdb")) {}
    bool Read(double value, bool& enabled) {
        db.Write("id=12\tname=LOCK\tvalue=" + platform::FloatToStrShortest(value) + "\n");
        return ReadAccessLock(device, enabled);
    }
    TTempDir dir;
    TErrorScope errors;
    TTagDatabase db;
    TDevice device;
};

TEST_F(AccessLock, ZeroAfterRoundingEnablesAndAnyOtherIntegerDisables) {
    device.VarBlockCommand = "lock";
    const struct {
        double value;
        bool enabled;
    } cases[] = {{0, true},  {0.4, true},  {0.5, true}, {-0.5, true}, {0.6, false},
                 {1, false}, {2.5, false}, {-7, false}, {1e15, false}};
    for (const auto& c : cases) {
        bool enabled = !c.enabled;
        ASSERT_TRUE(Read(c.value, enabled)) << c.value;
        EXPECT_EQ(enabled, c.enabled) << c.value;
    }
    EXPECT_EQ(device.LockTagIndex, 12);
}

TEST_F(AccessLock, NoNumberOrNoIntegerLeavesTheDeviceAsItIs) {
    device.VarBlockCommand = "LOCK";
    for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), 1e19, -1e300}) {
        bool enabled = true;
        EXPECT_FALSE(Read(v, enabled)) << v;
    }
}

TEST_F(AccessLock, AnUnknownNameIsReportedOnceAndNeverAskedAgain) {
    device.VarBlockCommand = "NOSUCH";
    bool enabled;
    db.Write("id=12\tname=LOCK\tvalue=0\n");
    EXPECT_FALSE(ReadAccessLock(device, enabled));
    EXPECT_EQ(device.LockTagIndex, -100);
    db.Write("id=12\tname=NOSUCH\tvalue=0\n");
    EXPECT_FALSE(ReadAccessLock(device, enabled));
    ASSERT_EQ(errors.Errors.Messages.size(), 1u);
    EXPECT_EQ(errors.Errors.Messages[0].first, -32);
    EXPECT_EQ(errors.Errors.Messages[0].second, "Ошибка в имени тега блокировки доступа к устройству."_cp);

    TDevice free;
    EXPECT_FALSE(ReadAccessLock(free, enabled)); // no lock tag: nothing to read
    EXPECT_EQ(errors.Errors.Messages.size(), 1u);
}

} // namespace
