// A Modbus device polled and written through the driver's own connections against the simulated
// field device (a real process answering with an independent Modbus implementation): on a
// pseudo-terminal and through a converter's TCP port on loopback.
#include "framework/device_test_support.h"
#include "framework/intercom.h"
#include "framework/tag_routing.h"
#include "framework/xml_data_item.h"
#include "modbus/modbus_device.h"
#include "modbus/modbus_driver.h"
#include "modbus_test_support.h"
#include "platform/clock.h"
#include "platform/text.h"

// The simulator's process helper, built into this test program.
#include "modbus-sim/sim_process.cpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace modbus {
namespace {

using testing::Queued;
using V = std::vector<std::string>;

// Register contents and what the items of the description make of them. 32-bit values of a NORMAL
// block take the first register as the low word, unless swapped.
constexpr const char* kHolding = "0=1234,65535,1,2,1,2,0,16416,16416,0";
const V kDecoded{"1=1234", "2=-1", "3=131073", "4=65538", "5=2.5", "6=2.5", "7=141"};
constexpr const char* kCoils = "0=1,0,1,1,0,0,0,1"; // 0x8D as a byte, lowest coil in bit 0

constexpr const char* kDescription =
    "<EDDV2_Ostrolinka>\r\n"
    "<device name=\"sim\">\r\n"
    " <requestlist>\r\n"
    "  <request name=\"registers\" address=\"0\" size=\"10\" function=\"3\"><datablock>\r\n"
    "   <item type=\"16u\" proc=\"value\" tsaddress=\"1\"/>\r\n"
    "   <item type=\"16s\" proc=\"value\" tsaddress=\"2\"/>\r\n"
    "   <item type=\"32u\" proc=\"value\" tsaddress=\"3\"/>\r\n"
    "   <item type=\"32u_swap\" proc=\"value\" tsaddress=\"4\"/>\r\n"
    "   <item type=\"single\" proc=\"value\" tsaddress=\"5\"/>\r\n"
    "   <item type=\"single_swap\" proc=\"value\" tsaddress=\"6\"/>\r\n"
    "  </datablock></request>\r\n"
    "  <request name=\"coils\" address=\"0\" size=\"8\" function=\"1\"><datablock>\r\n"
    "   <item type=\"byte\" proc=\"value\" tsaddress=\"7\"/>\r\n"
    "  </datablock></request>\r\n"
    " </requestlist>\r\n"
    " <commands>\r\n"
    "  <command tsaddress=\"100\" type=\"word\"><set address=\"20\" function=\"6\" "
    "expression=\"%VALUE%*10\"/></command>\r\n"
    "  <command tsaddress=\"101\" type=\"32s\"><set address=\"30\" function=\"16\"/></command>\r\n"
    "  <command tsaddress=\"102\" type=\"byte\"><set address=\"5\" function=\"5\"/></command>\r\n"
    " </commands>\r\n"
    "</device>\r\n"
    "; one register read, two words expected\r\n"
    "<device name=\"short\"><requestlist>\r\n"
    "  <request name=\"r\" address=\"0\" size=\"1\"><datablock>\r\n"
    "   <item type=\"word\" proc=\"value\" tsaddress=\"1\"/><item type=\"word\" proc=\"value\" "
    "tsaddress=\"2\"/>\r\n"
    "  </datablock></request>\r\n"
    "</requestlist></device>\r\n"
    "</EDDV2_Ostrolinka>\r\n";

enum class TLink { Pty, Tcp };

std::string LinkName(const ::testing::TestParamInfo<TLink>& info) {
    return info.param == TLink::Pty ? "SerialOnPty" : "TcpConverter";
}

// The driver with the description loaded, one simulator, one Modbus device on the list of the link.
class SimRoad : public ::testing::Test {
protected:
    void Start(TLink link, std::vector<std::string> extra = {}) {
        link_ = link;
        simtest::WriteFile(files.Path("Quillary.edd"), kDescription);
        ASSERT_TRUE(driver.Init(false, files.Path("Quillary.cfg")));

        std::vector<std::string> args;
        if (link == TLink::Pty)
            args = {"--pty", files.Path("ttyRTU")};
        else
            args = {"--tcp", "0"};
        for (const char* a : {"--holding", kHolding, "--holding", "20=0", "--holding", "30=0,0", "--coils",
                              kCoils, "--control-port", "0"})
            args.push_back(a);
        args.push_back("--write-log");
        args.push_back(files.Path("writes.log"));
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<simtest::SimProcess>(args, files.Path("sim.err"));
        ASSERT_FALSE(sim->Ready().empty()) << simtest::ReadFile(files.Path("sim.err"));

        list = driver.CreateDeviceList();
        device = std::make_unique<TModbus_Device>();
        Set("RequestType", "sim");
        Set("RoutingPrefix", "PLC");
        Set("ICMPOnConnect", "FALSE");
        if (link == TLink::Pty) {
            Set("TypeOfConnection", "RS232");
            Set("RS232Port", sim->Ready());
            Set("TimeOut", "500");
        } else {
            Set("TypeOfConnection", "TCP/IP");
            Set("DeviceIPAddress", "127.0.0.1");
            Set("IPPort", sim->Ready());
            // The converter's link collects for the whole time-out.
            Set("TimeOut", "250");
        }
    }
    void TearDown() override {
        list.reset();
        driver.Done();
    }
    void Set(const std::string& name, const std::string& value) {
        device->Properties->SetProperty(name, value, framework::TPropertyType::Text);
        device->ApplyProperties();
    }
    bool Poll() {
        received.FreeAll();
        return device->Poll(list.get(), &received);
    }
    std::string PollTrace() const { return platform::Utf8FromCp1251(device->PollLog->GetText()); }
    bool PollLogHas(const std::string& text) const {
        return device->PollLog->GetText().find(platform::Cp(text)) != std::string::npos;
    }
    void Control(const std::string& line) { ASSERT_EQ(sim->Command(line), "OK") << line; }
    bool Write(int32_t tagAddress, float value, uint8_t& status) {
        framework::TCommandRecord command{};
        command.Device = 1;
        command.TagAddress = tagAddress;
        command.Value = value;
        return device->ExecuteCommand(list.get(), command, status, &received);
    }
    std::vector<std::string> WriteLog() const {
        return testing::Lines(simtest::ReadFile(files.Path("writes.log")));
    }

    simtest::TempDir files;
    testing::TCapturedErrors errors;
    TModbusrtu_Driver driver;
    std::unique_ptr<simtest::SimProcess> sim;
    std::unique_ptr<framework::TDeviceList> list;
    std::unique_ptr<TModbus_Device> device;
    framework::TReceiveVariables received;
    TLink link_ = TLink::Pty;
};

class SimRoadByLink : public SimRoad, public ::testing::WithParamInterface<TLink> {};

TEST_P(SimRoadByLink, PollDecodesTheSimulatorsRegistersAndCoils) {
    Start(GetParam());
    ASSERT_TRUE(Poll()) << PollTrace();
    EXPECT_EQ(Queued(received), kDecoded);
    EXPECT_EQ(received.RecordAt(0)->Prefix.Get(), "PLC");
    EXPECT_EQ(received.RecordAt(0)->Device, 1);
    EXPECT_TRUE(PollLogHas("READING OK --------------")) << PollTrace();

    // A value the device changed shows at the next poll.
    Control("set holding 1 32767");
    ASSERT_TRUE(Poll()) << PollTrace();
    EXPECT_EQ(Queued(received)[1], "2=32767");
}

TEST_P(SimRoadByLink, WritesOfFunctions5_6And16ArriveWithTheirValues) {
    Start(GetParam());
    uint8_t status = 0;
    ASSERT_TRUE(Write(100, 12.5f, status)) << device->CommandLog->GetText(); // the formula makes 125
    EXPECT_EQ(status, 1);
    ASSERT_TRUE(Write(101, 65538.0f, status)) << device->CommandLog->GetText();
    ASSERT_TRUE(Write(102, 1.0f, status)) << device->CommandLog->GetText();
    EXPECT_EQ(WriteLog(), (V{"slave=1 function=6 address=20 values=125 result=ok",
                             "slave=1 function=16 address=30 values=2,1 result=ok",
                             "slave=1 function=5 address=5 values=1 result=ok"}));
    EXPECT_NE(device->CommandLog->GetText().find("Команда успешно обработана."_cp), std::string::npos);

    // The coil written is read back in the coils byte.
    ASSERT_TRUE(Poll()) << PollTrace();
    EXPECT_EQ(Queued(received).back(), "7=" + std::to_string(0x8D | 0x20));
}

TEST_P(SimRoadByLink, ARejectedWriteFailsTheCommandWithStatus2) {
    Start(GetParam());
    Control("exception 2 once");
    uint8_t status = 0;
    EXPECT_FALSE(Write(100, 1.0f, status));
    EXPECT_EQ(status, 2);
    EXPECT_EQ(WriteLog(), V{"slave=1 function=6 address=20 values=10 result=exception:2"});
    EXPECT_NE(device->CommandLog->GetText().find("Команда устройством не обработана."_cp), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Links, SimRoadByLink, ::testing::Values(TLink::Pty, TLink::Tcp), LinkName);

// Without rereading, each misbehaviour of the device ends the pass with its own code; the next
// pass reads again.
TEST_F(SimRoad, MisbehavioursGiveTheirCodes) {
    Start(TLink::Pty);
    device->RereadCount = 0;
    const std::vector<std::pair<std::string, int>> faults = {
        {"badcrc on once", -9}, {"wrongslave 7 once", -10}, {"exception 4 once", -11}};
    for (const auto& [fault, code] : faults) {
        Control(fault);
        EXPECT_FALSE(Poll()) << fault;
        EXPECT_TRUE(PollLogHas("!!!Invalid received data!. Index = 0 Code = " + std::to_string(code)))
            << fault << "\n"
            << PollTrace();
        EXPECT_TRUE(received.Count() == 0) << fault;
        ASSERT_TRUE(Poll()) << fault << "\n" << PollTrace();
        EXPECT_EQ(Queued(received), kDecoded) << fault;
    }

    // A data block longer than the answer stops the decoding.
    Set("RequestType", "short");
    EXPECT_FALSE(Poll());
    EXPECT_TRUE(PollLogHas("!!!Invalid received data!. Index = 0 Code = -12")) << PollTrace();
}

TEST_F(SimRoad, AnAnswerInTwoPiecesIsJoinedByRereading) {
    Start(TLink::Pty);
    // The pause inside the answer ends the first read; the reread waits for the rest.
    device->RereadCount = 1;
    Control("split 120 once");
    ASSERT_TRUE(Poll()) << PollTrace();
    EXPECT_EQ(Queued(received), kDecoded);
    EXPECT_TRUE(PollLogHas("----- End of rereading data. -----")) << PollTrace();

    // Without rereading the first piece alone is refused.
    device->RereadCount = 0;
    Control("split 120 once");
    EXPECT_FALSE(Poll());
    EXPECT_TRUE(PollLogHas("Code = -9")) << PollTrace();
}

TEST_F(SimRoad, ABadAnswerWithNothingMoreToRereadEndsWithMinus12) {
    Start(TLink::Pty);
    device->RereadCount = 1;
    Control("badcrc on once");
    EXPECT_FALSE(Poll());
    EXPECT_TRUE(PollLogHas("!!!Invalid received data!. Index = 0 Code = -12")) << PollTrace();
}

TEST_F(SimRoad, TheConverterLinkCollectsASplitAnswerWithoutRereading) {
    Start(TLink::Tcp);
    device->RereadCount = 0;
    Control("split 60 once");
    ASSERT_TRUE(Poll()) << PollTrace();
    EXPECT_EQ(Queued(received), kDecoded);
}

// The link-state tag: failures up to RetryCount are tolerated, the next one reports the link lost
// once, and the first good poll restores it.
TEST_F(SimRoad, LinkStateFollowsThePollsAndTheRetryCount) {
    device_test::TAreaScope area;
    ASSERT_NE(area.Area, nullptr);
    ASSERT_TRUE(area.Area->DynemicVariablesList.Register("LINK", false, 5.0f, platform::Now()));
    Start(TLink::Pty);
    Set("TimeOut", "150");
    Set("RetryCount", "1");
    Set("VarConnectStateName", "LINK");
    device->RereadCount = 0;

    ASSERT_TRUE(Poll()) << PollTrace();
    EXPECT_EQ(area.DynamicValue("LINK"), 0.0f);

    Control("silent on");
    EXPECT_FALSE(Poll());
    EXPECT_TRUE(PollLogHas("Device not responded.")) << PollTrace();
    EXPECT_EQ(area.DynamicValue("LINK"), 0.0f); // one failure is tolerated
    EXPECT_TRUE(device->LinkUp);

    const std::string lost = "Потеря связи с устройством."_cp;
    auto lostReports = [&] {
        int n = 0;
        for (const std::string& m : errors.Messages)
            n += m.find(lost) != std::string::npos;
        return n;
    };
    EXPECT_FALSE(Poll());
    EXPECT_EQ(area.DynamicValue("LINK"), 1.0f);
    EXPECT_FALSE(device->LinkUp);
    EXPECT_EQ(lostReports(), 1);
    EXPECT_FALSE(Poll());
    EXPECT_EQ(lostReports(), 1); // reported once

    Control("silent off");
    ASSERT_TRUE(Poll()) << PollTrace();
    EXPECT_EQ(area.DynamicValue("LINK"), 0.0f);
    EXPECT_TRUE(device->LinkUp);
}

// Address 300 would go out as its low byte, 44, and a write would reach that device before the
// address check of the reply refused its answer. Neither a poll nor a write builds a frame: the
// poll fails at its first step with -10, the command fails, and slave 44 hears nothing.
TEST_F(SimRoad, AnAddressBeyond255ReachesNoOtherDevice) {
    Start(TLink::Pty, {"--slave", "44", "--holding", "0=0*21"});
    Set("DeviceAddress", "300");
    const auto text = [](const V& lines) {
        std::string joined;
        for (const std::string& line : lines)
            joined += (joined.empty() ? "" : "\r\n") + platform::Cp(line);
        return joined;
    };
    const std::string port = sim->Ready();
    const std::string refused = "Ошибка в поле адреса устройства 300.";
    EXPECT_FALSE(Poll());
    EXPECT_EQ(
        device->PollLog->GetText(),
        text({"---- START DATA READING.... ----", "Опрашивается устройство: Modbus RTU device",
              "Try to open port " + port + "....", port + " OK!",
              "Connecting via " + port + " on speed 9600 bod/sec", "", "CONNECTION ----------------",
              "Start connection procedure...", "End connection procedure...", "CONNECTION OK --------------",
              "", "", "READING DATA --------------", refused,
              "!!!Invalid received data!. Index = 0 Code = -10 Length = 0", "", "DICSONNECTING -----------",
              "Ошибка доступа к устройству. Время обработки: " + std::to_string(device->LastDuration),
              "---- END DATA READING.... ----"}))
        << PollTrace();

    uint8_t status = 0;
    EXPECT_FALSE(Write(100, 1.0f, status));
    EXPECT_EQ(status, 1); // no device rejected it
    EXPECT_EQ(device->CommandLog->GetText(),
              text({"Tag ID=0", "Domen=", "Device=1", "Tag Address=100", "Tag String Address=", "Tag Value=1",
                    refused, "Команда устройством не обработана."}));
    EXPECT_EQ(WriteLog(), V{});

    // Within the limits the same link reaches its device.
    Set("DeviceAddress", "44");
    ASSERT_TRUE(Write(100, 1.0f, status)) << platform::Utf8FromCp1251(device->CommandLog->GetText());
    EXPECT_EQ(WriteLog(), V{"slave=44 function=6 address=20 values=10 result=ok"});
}

// A description whose device type the reader could not walk to its end (an element nested past its
// limit, or one never closed, in the type or in a data block of it) fails to load as an unreadable
// one does: the load says so, and the device reports at each poll that its type has no requests.
TEST_F(SimRoad, ADescriptionCutShortInsideTheDevicesTypeFailsAndTheDeviceSaysSo) {
    Start(TLink::Pty);
    std::string deep;
    for (int i = 0; i <= framework::kMaxElementNesting; ++i)
        deep += "<x>";
    for (int i = 0; i <= framework::kMaxElementNesting; ++i)
        deep += "</x>";
    const struct {
        std::string after, damage, message;
    } cases[] = {{"<device name=\"sim\">\r\n", deep, "XML DATA ERROR: "},
                 {"<device name=\"sim\">\r\n", "<note>never closed", "XML DATA ERROR: "},
                 {"<datablock>\r\n", "<item type=\"byte\" tsaddress=\"9\">", "XML ERROR: "},
                 {"<device name=\"sim\">\r\n <requestlist", " note=x", "XML ERROR: "},
                 {"<device name=\"sim\">\r\n <requestlist", " note=\"x", "XML ERROR: "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damage.substr(0, 40));
        std::string description = kDescription;
        const std::size_t at = description.find(c.after) + c.after.size();
        simtest::WriteFile(files.Path("Quillary.edd"), description.insert(at, c.damage));
        errors.Messages.clear();
        EXPECT_FALSE(driver.Init(false, files.Path("Quillary.cfg")));
        // Reported from the start of the element that holds the damage.
        EXPECT_EQ(errors.Messages, V{c.message + description.substr(description.rfind('<', at), 100)});
        EXPECT_TRUE(Poll());
        EXPECT_EQ(received.Count(), 0);
        EXPECT_TRUE(PollLogHas("Список запросов к устройству не определен!")) << PollTrace();
    }
}

TEST_F(SimRoad, AnUnknownDeviceTypePollsNothingAndSaysSo) {
    Start(TLink::Pty);
    Set("RequestType", "absent");
    EXPECT_TRUE(Poll()); // nothing to read is a complete pass
    EXPECT_EQ(received.Count(), 0);
    EXPECT_TRUE(PollLogHas("Список запросов к устройству не определен!")) << PollTrace();
}

} // namespace
} // namespace modbus
