#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <thread>

#include "connection_test_support.h"
#include "device_test_support.h"
#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/tcp_connection.h"
#include "platform/pty_test_support.h"

using namespace framework;
using device_test::TAreaScope;
using device_test::TErrorScope;
using device_test::TTempDir;
using testsupport::LogLines;
using testsupport::TestPty;
using testsupport::Trace;

namespace {

// The protocol of the tests: fixed read and write frames; an answer is accepted when it is as long
// as the one the frame expects.
class TScriptedDevice : public TDevice {
public:
    struct TFrame {
        std::string Request;
        std::size_t AnswerLength;
    };

    void BuildReadRequest(TOstrolinkaConnection*, int32_t index, std::string& frame, TTerminalDataClass*,
                          bool& needAnswer) override {
        frame = static_cast<std::size_t>(index) < Reads.size() ? Reads[index].Request : "";
        needAnswer = true;
    }
    int32_t ParseReadResponse(TOstrolinkaConnection*, int32_t index, TTerminalDataClass*,
                              TReceiveVariables* received, const std::string& answer) override {
        if (answer.size() < Reads[index].AnswerLength) return -9;
        received->Add("PLC", DeviceAddress, static_cast<float>(answer.size()), "", index);
        return 0;
    }
    void BuildWriteRequest(TOstrolinkaConnection*, int32_t index, std::string& frame, TTerminalDataClass*,
                           bool& needAnswer, TReceiveVariables*, const TCommandRecord&) override {
        frame = index == 0 ? Write.Request : "";
        needAnswer = true;
    }
    int32_t ParseWriteResponse(TOstrolinkaConnection*, int32_t, TTerminalDataClass*, TReceiveVariables*,
                               const std::string& answer, const TCommandRecord&) override {
        return answer == RejectedWriteAnswer ? -1 : 0;
    }
    bool PreCommand(const TCommandRecord& command, TReceiveVariables*) override {
        return command.Device == 99;
    }

    std::vector<TFrame> Reads;
    TFrame Write;
    std::string RejectedWriteAnswer = "NO";
};

// Makes the link that the test names in each device's "Link" property: "TCP", "none", else serial.
class TTestList : public TDeviceList {
public:
    std::unique_ptr<TOstrolinkaConnection> CreateConnection(TDevicePropertyList* properties) override {
        ++Made;
        const std::string link = properties->GetString("Link", "");
        if (link == "none" || (link == "once" && Made > 1)) return nullptr;
        if (link == "TCP") return std::make_unique<TTCPConnection>(properties);
        return std::make_unique<TRS232_Connection>(properties);
    }
    int Made = 0;
};

// The device on the master side of the line: for each step, waits for a request of that many bytes,
// then sends the answer pieces.
class TLineDevice {
public:
    struct TStep {
        std::size_t RequestLength;
        std::vector<std::string> Pieces; // sent one after another, 150 ms apart
    };
    TLineDevice(const TestPty& pty, std::vector<TStep> steps)
        : thread_([&pty, steps = std::move(steps), this] {
              for (const TStep& s : steps) {
                  requests_.push_back(pty.Receive(s.RequestLength, 5000));
                  for (std::size_t i = 0; i < s.Pieces.size(); ++i) {
                      if (i > 0) platform::Sleep(150); // a pause inside the answer
                      pty.Send(s.Pieces[i]);
                  }
              }
          }) {}
    ~TLineDevice() { Join(); }
    const std::vector<std::string>& Requests() {
        Join();
        return requests_;
    }

private:
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::vector<std::string> requests_;
    std::thread thread_;
};

class DeviceCyclesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        const std::string ini = dir.File("ports.ini");
        device_test::WriteBytes(ini,
                                "[ports]\nCOM5=" + pty.slave + "\nCOM9=" + dir.File("no-such-tty") + "\n");
        SetSerialPortsFile(ini);
        Driver = &driver;
    }
    void TearDown() override {
        SetSerialPortsFile("");
        Driver = nullptr;
    }

    TScriptedDevice& Add(const std::string& name, const std::string& port = "COM5") {
        devices.push_back(std::make_unique<TScriptedDevice>());
        TScriptedDevice& d = *devices.back();
        Set(d, "DeviceName", name);
        Set(d, "RS232Port", port);
        Set(d, "RS232BaudRate", "19200");
        Set(d, "ICMPOnConnect", "FALSE");
        Set(d, "TimeOut", "300");
        d.ApplyProperties();
        return d;
    }
    static void Set(TDevice& d, const std::string& name, const std::string& value) {
        d.Properties->SetProperty(name, value, TPropertyType::Text);
        d.ApplyProperties();
    }
    static Trace Head(const TTerminalDataClass& log, std::size_t tail) {
        Trace lines = LogLines(log);
        lines.resize(lines.size() - tail);
        return lines;
    }
    static std::string ResultLine(const TDevice& d, bool ok) {
        return (ok ? "Запрос обработан. Время обработки: "_cp
                   : "Ошибка доступа к устройству. Время обработки: "_cp) +
               platform::IntToStr(d.LastDuration);
    }

    TTempDir dir;
    TestPty pty;
    TDriver driver;
    TTestList list;
    TReceiveVariables received;
    std::vector<std::unique_ptr<TScriptedDevice>> devices;
};

const Trace kOpenAndConnect = {
    "---- START DATA READING.... ----",
    "Опрашивается устройство: Pump"_cp,
    "Try to open port COM5....",
    "COM5 OK!",
    "Connecting via COM5 on speed 19200 bod/sec",
    "",
    "CONNECTION ----------------",
    "Start connection procedure...",
    "End connection procedure...",
    "CONNECTION OK --------------",
    "",
    "",
    "READING DATA --------------",
};

Trace Joined(Trace a, const Trace& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(DeviceCyclesTest, APollWithoutFramesSucceedsAndTracesEveryStep) {
    TErrorScope errors;
    TScriptedDevice& d = Add("Pump");
    ASSERT_TRUE(d.Poll(&list, &received));
    EXPECT_TRUE(d.LastResult);
    EXPECT_EQ(LogLines(*d.PollLog),
              Joined(kOpenAndConnect, {"READING OK --------------", "", "", "DICSONNECTING -----------",
                                       ResultLine(d, true), "---- END DATA READING.... ----"}));
    EXPECT_TRUE(errors.Errors.Messages.empty());

    // The serial link stays open: the next poll neither opens nor logs the port again, and its log
    // holds only that poll.
    ASSERT_TRUE(d.Poll(&list, &received));
    const Trace second = LogLines(*d.PollLog);
    ASSERT_GE(second.size(), 3u);
    EXPECT_EQ(second[2], "Connecting via COM5 on speed 19200 bod/sec");
    EXPECT_EQ(std::count(second.begin(), second.end(), "---- START DATA READING.... ----"), 1);
}

TEST_F(DeviceCyclesTest, APollWithTwoFramesLogsEachRequestAndAnswer) {
    TScriptedDevice& d = Add("Pump");
    d.Reads = {{std::string("\x01\x03", 2), 3}, {std::string("\x02\x04", 2), 2}};
    TLineDevice line(pty, {{2, {std::string("\x01\x03\xAA", 3)}}, {2, {std::string("\x02\x04", 2)}}});
    ASSERT_TRUE(d.Poll(&list, &received));
    EXPECT_EQ(line.Requests(),
              std::vector<std::string>({std::string("\x01\x03", 2), std::string("\x02\x04", 2)}));
    EXPECT_EQ(LogLines(*d.PollLog), Joined(kOpenAndConnect, {
                                                                "Write to device: Index=0 (01)(03)",
                                                                "Data write OK",
                                                                "Read from device: Length=3 (01)(03)(AA)",
                                                                "Write to device: Index=1 (02)(04)",
                                                                "Data write OK",
                                                                "Read from device: Length=2 (02)(04)",
                                                                "READING OK --------------",
                                                                "",
                                                                "",
                                                                "DICSONNECTING -----------",
                                                                ResultLine(d, true),
                                                                "---- END DATA READING.... ----",
                                                            }));
    ASSERT_EQ(received.Count(), 2);
    EXPECT_EQ(received.RecordAt(0)->Value, 3.0f);
    EXPECT_GE(d.LastDuration, 0);
}

TEST_F(DeviceCyclesTest, ARejectedAnswerIsReadAgainAndFailsWithCodeMinus12WhenNothingMore) {
    TErrorScope errors;
    TScriptedDevice& d = Add("Pump");
    d.Reads = {{std::string("\x01\x03", 2), 3}};
    TLineDevice line(pty, {{2, {std::string("\x01", 1)}}});
    EXPECT_FALSE(d.Poll(&list, &received));
    EXPECT_EQ(LogLines(*d.PollLog),
              Joined(kOpenAndConnect, {
                                          "Write to device: Index=0 (01)(03)",
                                          "Data write OK",
                                          "Read from device: Length=1 (01)",
                                          "----- End of rereading data. -----",
                                          "!!!Invalid received data!. Index = 0 Code = -12 Length = 1",
                                          "",
                                          "DICSONNECTING -----------",
                                          ResultLine(d, false),
                                          "---- END DATA READING.... ----",
                                      }));
    EXPECT_FALSE(list.Connection->IsOpen()); // a rejected answer closes the link
    EXPECT_FALSE(d.LastResult);
    EXPECT_EQ(d.FailureCount, 1);
    EXPECT_EQ(received.Count(), 0);
}

TEST_F(DeviceCyclesTest, TheRereadAnswerIsParsedWhole) {
    TScriptedDevice& d = Add("Pump");
    d.Reads = {{std::string("\x01\x03", 2), 3}};
    TLineDevice line(pty, {{2, {std::string("\x01", 1), std::string("\x03\xAA", 2)}}});
    ASSERT_TRUE(d.Poll(&list, &received));
    const Trace lines = LogLines(*d.PollLog);
    const Trace reading(lines.begin() + kOpenAndConnect.size(), lines.begin() + kOpenAndConnect.size() + 6);
    EXPECT_EQ(reading, Trace({"Write to device: Index=0 (01)(03)", "Data write OK",
                              "Read from device: Length=1 (01)", "Read from device: Length=3 (01)(03)(AA)",
                              "----- End of rereading data. -----", "READING OK --------------"}));
    ASSERT_EQ(received.Count(), 1);
    EXPECT_EQ(received.RecordAt(0)->Value, 3.0f);
}

TEST_F(DeviceCyclesTest, AMissingAnswerClosesTheLink) {
    TScriptedDevice& d = Add("Pump");
    d.Reads = {{std::string("\x01\x03", 2), 3}};
    EXPECT_FALSE(d.Poll(&list, &received));
    const Trace lines = Head(*d.PollLog, 4);
    EXPECT_EQ(lines.back(), "Device not responded.");
    EXPECT_FALSE(list.Connection->IsOpen());
}

TEST_F(DeviceCyclesTest, AnOpenFailureIsTracedReportedAndCounted) {
    TErrorScope errors;
    TScriptedDevice& d = Add("Pump", "COM9");
    EXPECT_FALSE(d.Poll(&list, &received));
    EXPECT_EQ(LogLines(*d.PollLog), Trace({
                                        "---- START DATA READING.... ----",
                                        "Опрашивается устройство: Pump"_cp,
                                        "Try to open port COM9....",
                                        "ERROR: Port COM9 can not be open!",
                                        "Ошибка установки соединения с устройством."_cp,
                                        ResultLine(d, false),
                                        "---- END DATA READING.... ----",
                                    }));
    ASSERT_EQ(errors.Errors.Messages.size(), 1u);
    EXPECT_EQ(errors.Errors.Messages[0], std::make_pair(-1, "Ошибка установки соединения с устройством."_cp));
    EXPECT_EQ(d.FailureCount, 1);
}

TEST_F(DeviceCyclesTest, ALinkTagGoesToOneOnTheFourthFailureAndBackToZeroOnSuccess) {
    TErrorScope errors;
    TAreaScope area;
    ASSERT_TRUE(area.Area->IsOpen());
    // The module registers the tag at its start; the device only updates it.
    ASSERT_TRUE(SetDynamicTag("pump.link", false, 0.5f));
    TScriptedDevice& d = Add("Pump", "COM9");
    Set(d, "VarConnectStateName", "pump.link");
    ASSERT_EQ(d.RetryCount, 3);

    const auto lossMessages = [&] {
        return std::count(errors.Errors.Messages.begin(), errors.Errors.Messages.end(),
                          std::make_pair(-1, "Pump: Потеря связи с устройством."_cp));
    };
    for (int i = 1; i <= 3; ++i) {
        EXPECT_FALSE(d.Poll(&list, &received));
        EXPECT_EQ(area.DynamicValue("pump.link"), 0.5f) << i;
    }
    EXPECT_EQ(lossMessages(), 0);
    EXPECT_FALSE(d.Poll(&list, &received));
    EXPECT_EQ(area.DynamicValue("pump.link"), 1.0f);
    EXPECT_EQ(lossMessages(), 1);
    EXPECT_FALSE(d.Poll(&list, &received));
    EXPECT_EQ(lossMessages(), 1);

    Set(d, "RS232Port", "COM5");
    ASSERT_TRUE(d.Poll(&list, &received));
    EXPECT_EQ(area.DynamicValue("pump.link"), 0.0f);
}

TEST_F(DeviceCyclesTest, AListThatMakesNoConnectionFailsThePollWithoutAConnection) {
    TErrorScope errors;
    TScriptedDevice& d = Add("Pump");
    Set(d, "Link", "none");
    EXPECT_FALSE(d.Poll(&list, &received));
    EXPECT_EQ(LogLines(*d.PollLog),
              Trace({"---- START DATA READING.... ----", "Опрашивается устройство: Pump"_cp,
                     "Ошибка при создании класса доступа к устройству."_cp, ResultLine(d, false),
                     "---- END DATA READING.... ----"}));
    EXPECT_EQ(errors.Errors.Messages.size(), 1u);
    EXPECT_EQ(d.FailureCount, 1);
}

TEST_F(DeviceCyclesTest, AReplacementThatCannotBeMadeCountsAsNotOpen) {
    TScriptedDevice& d = Add("Pump");
    Set(d, "Link", "once"); // the first connection is made, its unopened replacement is not
    EXPECT_FALSE(d.Poll(&list, &received));
    EXPECT_EQ(list.Connection, nullptr);
    EXPECT_EQ(Head(*d.PollLog, 2).back(), "Ошибка установки соединения с устройством."_cp);
}

TEST_F(DeviceCyclesTest, AConnectionOfAnotherKindIsReplacedEvenWithEqualSettings) {
    // A listener on loopback takes the TCP link; connections wait in its backlog.
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(server, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(server, 4), 0);
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string port = std::to_string(ntohs(addr.sin_port));

    // Both devices carry the same serial and TCP settings; only the kind of link differs.
    TScriptedDevice& serial = Add("Serial");
    TScriptedDevice& tcp = Add("Tcp");
    for (TScriptedDevice* d : {&serial, &tcp}) {
        Set(*d, "DeviceIPAddress", "127.0.0.1");
        Set(*d, "IPPort", port);
        Set(*d, "CloseConnection", "FALSE");
    }
    Set(tcp, "Link", "TCP");
    serial.Reads = {{std::string("\x01\x03", 2), 3}};

    {
        TLineDevice line(pty, {{2, {std::string("\x01\x03\xAA", 3)}}, {2, {std::string("\x01\x03\xBB", 3)}}});
        ASSERT_TRUE(serial.Poll(&list, &received));
        ASSERT_EQ(list.Connection->Kind(), TConnectionKind::RS232);
        ASSERT_TRUE(tcp.Poll(&list, &received));
        EXPECT_EQ(list.Connection->Kind(), TConnectionKind::TCP);
        EXPECT_TRUE(list.Connection->IsOpen());
        ASSERT_TRUE(serial.Poll(&list, &received));
        EXPECT_EQ(list.Connection->Kind(), TConnectionKind::RS232);
        EXPECT_EQ(line.Requests().size(), 2u);
    }
    ::close(server);
}

TEST_F(DeviceCyclesTest, ACommandThatPreCommandHandlesNeedsNoDevice) {
    TScriptedDevice& d = Add("Pump", "COM9");
    TCommandRecord command{};
    command.Device = 99;
    uint8_t status = 0;
    EXPECT_TRUE(d.ExecuteCommand(&list, command, status, &received));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(d.CommandLog->GetText(), "");
    EXPECT_EQ(list.Made, 0);
    EXPECT_EQ(d.FailureCount, 0);
    EXPECT_FALSE(d.LinkUp);
}

TEST_F(DeviceCyclesTest, ACommandWritesItsFrameAndReadsTheAnswer) {
    TScriptedDevice& d = Add("Pump");
    d.Write = {std::string("\x05\x06", 2), 2};
    TLineDevice line(pty, {{2, {"OK"}}});
    TCommandRecord command{};
    uint8_t status = 0;
    EXPECT_TRUE(d.ExecuteCommand(&list, command, status, &received));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(LogLines(*d.CommandLog),
              Trace({"Try to open port COM5....", "COM5 OK!", "Write to device: (05)(06)",
                     "Read from device: 2 (4F)(4B)", "Команда успешно обработана."_cp}));
    // The connect exchange of a command writes into the poll log.
    EXPECT_EQ(LogLines(*d.PollLog), Trace({"Start connection procedure...", "End connection procedure..."}));
    EXPECT_TRUE(d.LastResult);
    EXPECT_TRUE(d.LinkUp);
}

TEST_F(DeviceCyclesTest, ARejectedWriteGivesStatusTwoAndAMissingAnswerLeavesOne) {
    TScriptedDevice& d = Add("Pump");
    d.Write = {std::string("\x05\x06", 2), 2};
    TCommandRecord command{};
    uint8_t status = 0;
    {
        TLineDevice line(pty, {{2, {"NO"}}});
        EXPECT_FALSE(d.ExecuteCommand(&list, command, status, &received));
    }
    EXPECT_EQ(status, 2);
    EXPECT_EQ(LogLines(*d.CommandLog).back(), "Команда устройством не обработана."_cp);
    EXPECT_FALSE(list.Connection->IsOpen());

    d.ClearCommandLog();
    EXPECT_FALSE(d.ExecuteCommand(&list, command, status, &received));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(d.FailureCount, 2);
}

TEST_F(DeviceCyclesTest, ACommandOverALinkThatWillNotOpenLogsTheFailure) {
    TScriptedDevice& d = Add("Pump", "COM9");
    TCommandRecord command{};
    uint8_t status = 0;
    EXPECT_FALSE(d.ExecuteCommand(&list, command, status, &received));
    EXPECT_EQ(LogLines(*d.CommandLog),
              Trace({"Try to open port COM9....", "ERROR: Port COM9 can not be open!",
                     "Ошибка при создании класса доступа к устройству."_cp,
                     "Команда устройством не обработана."_cp}));
    EXPECT_EQ(d.FailureCount, 1);

    // No connection object at all: no link-state update.
    TScriptedDevice& none = Add("None");
    Set(none, "Link", "none");
    TTestList empty;
    EXPECT_FALSE(none.ExecuteCommand(&empty, command, status, &received));
    EXPECT_EQ(LogLines(*none.CommandLog), Trace({"Ошибка при создании класса доступа к устройству."_cp}));
    EXPECT_EQ(none.FailureCount, 0);
}

TEST_F(DeviceCyclesTest, AnImitatedPollHasNoStartLineButEndsAsAPoll) {
    TAreaScope area;
    ASSERT_TRUE(SetDynamicTag("pump.link", false, 0.5f));
    TScriptedDevice& d = Add("Pump", "COM9");
    Set(d, "VarConnectStateName", "pump.link");
    ImitatorEnabled = true;
    ImitatorStateChange = true;
    std::vector<bool> results;
    std::vector<float> tags;
    for (int i = 0; i < 3; ++i) {
        results.push_back(d.Poll(&list, &received));
        tags.push_back(area.DynamicValue("pump.link"));
    }
    ImitatorEnabled = false;
    ImitatorStateChange = false;

    EXPECT_EQ(results, std::vector<bool>({true, true, true}));
    EXPECT_EQ(LogLines(*d.PollLog), Trace({"Imitator start action:", "Imitator end action.",
                                           ResultLine(d, true), "---- END DATA READING.... ----"}));
    EXPECT_EQ(list.Made, 0);
    // Lost, then restored at once by the first success; restored; lost.
    EXPECT_EQ(tags, std::vector<float>({0.0f, 0.0f, 1.0f}));
}

TEST_F(DeviceCyclesTest, AHookThatRaisesStillRunsTheEndStepsAndPassesTheErrorOn) {
    class TRaisingDevice : public TScriptedDevice {
    public:
        void BuildReadRequest(TOstrolinkaConnection*, int32_t, std::string&, TTerminalDataClass*,
                              bool&) override {
            throw Exception("hook");
        }
    } d;
    Set(d, "DeviceName", "Pump");
    Set(d, "RS232Port", "COM5");
    Set(d, "ICMPOnConnect", "FALSE");
    EXPECT_THROW(d.Poll(&list, &received), Exception);
    EXPECT_FALSE(d.LastResult);
    EXPECT_EQ(d.FailureCount, 1);
    const Trace lines = LogLines(*d.PollLog);
    EXPECT_EQ(lines[lines.size() - 3], "DICSONNECTING -----------");
    EXPECT_EQ(lines.back(), "---- END DATA READING.... ----");
}
