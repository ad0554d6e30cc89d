#include <gtest/gtest.h>

#include "device_test_support.h"
#include "framework/device.h"
#include "framework/driver.h"
#include "framework/tag_routing.h"
#include "framework/variable_index.h"

using namespace framework;
using device_test::TAreaScope;
using device_test::TErrorScope;

namespace {

const char kFreshSession[] =
    "      <session DeviceName=\"New device\" DeviceIPAddress=\"\" DeviceAddress=\"1\" IPPort=\"502\" "
    "TimeOut=\"100\" RetryCount=\"3\" Enabled=\"TRUE\" RoutingPrefix=\"OSTROLINKA\" ReqwestInterval=\"2000\" "
    "PINGTimeOut=\"500\" ICMPOnConnect=\"TRUE\" VarConnectStateName=\"\" CommandStateName=\"\" "
    "VarBlockCommand=\"\" RS232Port=\"COM1\" RS232BaudRate=\"9600\" RS232StopBits=\"0\" RS232ByteSize=\"8\" "
    "RS232Parity=\"0\" />";

// Counts the link notifications instead of writing tags.
class TCountingDevice : public TDevice {
public:
    void ConnectionLost() override { ++Lost; }
    void ConnectionRestored() override { ++Restored; }
    int Lost = 0;
    int Restored = 0;
};

void Set(TDevice& d, const std::string& name, const std::string& value) {
    d.Properties->SetProperty(name, value, TPropertyType::Text);
}

} // namespace

TEST(DeviceTest, CreationLeavesTypedFieldsZeroUntilPropertiesAreApplied) {
    TDevice d;
    EXPECT_EQ(d.Properties->Count(), 19);
    EXPECT_EQ(d.ListIndex, -1);
    EXPECT_EQ(d.ReadDelay, 0);
    EXPECT_EQ(d.RereadCount, 1);
    EXPECT_EQ(d.LockTagIndex, -1);
    EXPECT_EQ(d.TimeOut, 0);
    EXPECT_EQ(d.DeviceName, "");
    EXPECT_FALSE(d.LinkUp);
    EXPECT_EQ(d.ImitatorList, nullptr);
    EXPECT_EQ(d.PollLog->GetText(), "");

    d.ApplyProperties();
    EXPECT_EQ(d.DeviceName, "New device");
    EXPECT_EQ(d.DeviceAddress, 1);
    EXPECT_EQ(d.IPPort, 502);
    EXPECT_EQ(d.TimeOut, 100);
    EXPECT_EQ(d.RetryCount, 3);
    EXPECT_TRUE(d.Enabled);
    EXPECT_EQ(d.RoutingPrefix, "OSTROLINKA");
    EXPECT_EQ(d.ReqwestInterval, 2000);
    EXPECT_EQ(d.RS232Port, "COM1");
    EXPECT_EQ(d.RS232BaudRate, 9600);
    EXPECT_EQ(d.RS232StopBits, 0);
    EXPECT_EQ(d.RS232ByteSize, 8);
    EXPECT_EQ(d.RS232Parity, 0);
}

TEST(DeviceTest, PropertyTextsThatDoNotConvertTakeTheFallbacks) {
    TDevice d;
    for (const char* name : {"DeviceAddress", "IPPort", "TimeOut", "RetryCount", "ReqwestInterval",
                             "RS232BaudRate", "RS232StopBits", "RS232ByteSize", "RS232Parity", "Enabled"})
        Set(d, name, "abc");
    d.ApplyProperties();
    EXPECT_EQ(d.DeviceAddress, -1);
    EXPECT_EQ(d.IPPort, 0);
    EXPECT_EQ(d.TimeOut, 1000);
    EXPECT_EQ(d.RetryCount, 3);
    EXPECT_EQ(d.ReqwestInterval, 1000);
    EXPECT_EQ(d.RS232BaudRate, 9600);
    EXPECT_EQ(d.RS232StopBits, 0);
    EXPECT_EQ(d.RS232ByteSize, 8);
    EXPECT_EQ(d.RS232Parity, 256);
    EXPECT_FALSE(d.Enabled);
}

TEST(DeviceTest, ApplyPropertiesKeepsLowBitsTrimsAndCutsAndIgnoresLetterCase) {
    TDevice d;
    d.ApplyProperties();
    Set(d, "RS232StopBits", "258");
    Set(d, "RS232ByteSize", "$107");
    Set(d, "RS232Parity", "65538");
    Set(d, "VarBlockCommand", "  LOCK.TAG \t");
    Set(d, "VarConnectStateName", " LINK ");
    Set(d, "DeviceName", std::string(300, 'x'));
    Set(d, "Enabled", "0");
    d.LockTagIndex = 17;
    d.ApplyProperties();
    EXPECT_EQ(d.RS232StopBits, 2);
    EXPECT_EQ(d.RS232ByteSize, 7);
    EXPECT_EQ(d.RS232Parity, 2);
    EXPECT_EQ(d.VarBlockCommand, "LOCK.TAG");
    EXPECT_EQ(d.VarConnectStateName, " LINK ");
    EXPECT_EQ(d.DeviceName, std::string(255, 'x'));
    EXPECT_FALSE(d.Enabled);
    EXPECT_EQ(d.LockTagIndex, -1);

    // A property whose name differs in letter case still reaches its field.
    d.Properties->DeleteProperty("TimeOut");
    Set(d, "timeout", "250");
    d.ApplyProperties();
    EXPECT_EQ(d.TimeOut, 250);
}

TEST(DeviceTest, AMissingPropertyLeavesItsFieldAsItWas) {
    TDevice d;
    d.ApplyProperties();
    d.TimeOut = 777;
    d.Properties->DeleteProperty("TimeOut");
    d.ApplyProperties();
    EXPECT_EQ(d.TimeOut, 777);
}

TEST(DeviceTest, AssignCopiesSettingsAndIndexButNotStateOrLogs) {
    TDevice source;
    Set(source, "DeviceName", "Насос"_cp);
    Set(source, "DeviceAddress", "7");
    source.ListIndex = 4;
    source.ApplyProperties();
    source.LinkUp = true;
    source.FailureCount = 2;
    source.PollLog->AddLine("trace");

    TDevice copy;
    copy.Assign(&source);
    EXPECT_EQ(copy.DeviceName, "Насос"_cp);
    EXPECT_EQ(copy.DeviceAddress, 7);
    EXPECT_EQ(copy.ListIndex, 4);
    EXPECT_FALSE(copy.LinkUp);
    EXPECT_EQ(copy.FailureCount, 0);
    EXPECT_EQ(copy.PollLog->GetText(), "");
    // A copy, not a share.
    Set(source, "DeviceAddress", "9");
    EXPECT_EQ(copy.Properties->GetString("DeviceAddress", ""), "7");

    copy.Assign(nullptr);
    EXPECT_EQ(copy.DeviceAddress, 7);
}

TEST(DeviceTest, LogDataWritesThePrefixAndTheBytesInHexadecimal) {
    TDevice d;
    TTerminalDataClass log;
    d.LogData(1, 0, &log, std::string("\x01\x0A\xFF", 3), "Write to device: ");
    EXPECT_EQ(log.GetText(), "Write to device: (01)(0A)(FF)");
    d.LogData(0, 1, nullptr, "x", "ignored");
}

TEST(DeviceTest, SessionLineOfAFreshDeviceHoldsEveryPropertyInListOrder) {
    TDevice d;
    std::vector<std::string> lines;
    ASSERT_TRUE(d.SaveToXml(6, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], kFreshSession);

    lines.clear();
    ASSERT_TRUE(d.SaveToXml(-3, lines));
    EXPECT_EQ(lines[0], std::string(kFreshSession).substr(6));
}

TEST(DeviceTest, LoadFromXmlReadsTheSessionAttributesOfKnownProperties) {
    TDevice d;
    Set(d, "TimeOut", "4321"); // reset by the load: not in the element
    ASSERT_TRUE(d.LoadFromXml("  <other x=\"1\"/> <session DeviceName=\"Котёл\" DeviceAddress=\"12\" "
                              "Unknown=\"5\" Enabled='FALSE'/>  "_cp));
    EXPECT_EQ(d.DeviceName, "Котёл"_cp);
    EXPECT_EQ(d.DeviceAddress, 12);
    EXPECT_FALSE(d.Enabled);
    EXPECT_EQ(d.TimeOut, 100);
    EXPECT_EQ(d.Properties->Count(), 19);
    EXPECT_EQ(d.Properties->FindProperty("Unknown"), nullptr);
}

TEST(DeviceTest, LoadFromXmlOfEmptyContentFails) {
    TDevice d;
    EXPECT_FALSE(d.LoadFromXml(""));
    EXPECT_FALSE(d.LoadFromXml(" \r\n "));
}

TEST(DeviceTest, SessionLineReadsBackToTheSameProperties) {
    TDevice d;
    Set(d, "DeviceName", "Щит №3 ÿ"_cp);
    Set(d, "RS232Port", "/dev/ttyUSB0");
    std::vector<std::string> lines;
    ASSERT_TRUE(d.SaveToXml(6, lines));
    TDevice back;
    ASSERT_TRUE(back.LoadFromXml(lines[0]));
    for (int32_t i = 0; i < d.Properties->Count(); ++i)
        EXPECT_EQ(back.Properties->Property(i)->Value, d.Properties->Property(i)->Value)
            << d.Properties->Property(i)->Name;
    EXPECT_EQ(back.RS232Port, "/dev/ttyUSB0");
}

TEST(DeviceLinkStateTest, TheFourthFailureWithThreeRetriesReportsTheLossOnce) {
    TErrorScope errors;
    TCountingDevice d;
    d.ApplyProperties();
    Set(d, "DeviceName", "Dev");
    d.ApplyProperties();
    ASSERT_EQ(d.RetryCount, 3);

    d.UpdateLinkState(true);
    EXPECT_EQ(d.Restored, 1); // the first success after creation
    EXPECT_TRUE(d.LinkUp);
    for (int i = 1; i <= 3; ++i) {
        d.UpdateLinkState(false);
        EXPECT_TRUE(d.LinkUp);
        EXPECT_EQ(d.FailureCount, i);
    }
    EXPECT_EQ(d.Lost, 0);
    EXPECT_TRUE(errors.Errors.Messages.empty());

    d.UpdateLinkState(false);
    d.UpdateLinkState(false);
    EXPECT_FALSE(d.LinkUp);
    EXPECT_EQ(d.Lost, 1);
    ASSERT_EQ(errors.Errors.Messages.size(), 1u);
    EXPECT_EQ(errors.Errors.Messages[0].first, -1);
    EXPECT_EQ(errors.Errors.Messages[0].second, "Dev: Потеря связи с устройством."_cp);

    d.UpdateLinkState(true);
    EXPECT_EQ(d.Restored, 2);
    EXPECT_EQ(d.FailureCount, 0);
}

TEST(DeviceLinkStateTest, AFailureRightAfterStartCountsTheLinkAsUp) {
    TCountingDevice d;
    d.ApplyProperties();
    d.UpdateLinkState(false);
    EXPECT_TRUE(d.LinkUp);
    EXPECT_EQ(d.FailureCount, 1);
    EXPECT_EQ(d.Restored, 0);
}

TEST(DeviceLinkStateTest, NoRetriesReportTheFirstFailureAtOnce) {
    TErrorScope errors;
    TCountingDevice d;
    Set(d, "RetryCount", "0");
    d.ApplyProperties();
    d.UpdateLinkState(true);
    d.UpdateLinkState(false);
    EXPECT_EQ(d.Lost, 1);
    EXPECT_FALSE(d.LinkUp);
    EXPECT_EQ(errors.Errors.Messages.size(), 1u);
}

TEST(DeviceLinkStateTest, TheLinkTagOnlyUpdatesARegisteredDynamicEntry) {
    TAreaScope area;
    ASSERT_TRUE(area.Area->IsOpen());
    TDevice d;
    Set(d, "VarConnectStateName", "Link.State");
    d.ApplyProperties();
    d.ConnectionLost();
    EXPECT_EQ(area.DynamicValue("Link.State"), -100); // not registered: nothing made

    ASSERT_TRUE(SetDynamicTag("LINK.STATE", false, 5.0f));
    d.ConnectionLost();
    EXPECT_EQ(area.DynamicValue("Link.State"), 1.0f);
    d.ConnectionRestored();
    EXPECT_EQ(area.DynamicValue("Link.State"), 0.0f);
}

TEST(DeviceImitatorTest, ImitatedValuesRunFromLowToHighInPercentSteps) {
    TAreaScope area(2);
    auto info = intercom_test::MakeInfo(11, "PLC: DEVICE=4; ADDRESS=40001");
    info.Low = 10.0f;
    info.High = 210.0f;
    ASSERT_TRUE(area.Area->DMLVariablesList.Add(info));
    ASSERT_TRUE(area.Area->DMLVariablesList.Add(intercom_test::MakeInfo(12, "PLC: DEVICE=5; ADDRESS=1")));
    TVariableIndex index;
    ASSERT_TRUE(index.Build());
    VariableIndex = &index;
    ImitatorRate = 0;

    TDevice d;
    Set(d, "RoutingPrefix", "plc");
    Set(d, "DeviceAddress", "4");
    d.ApplyProperties();
    TReceiveVariables received;
    TTerminalDataClass log;
    d.Imitate(&received, &log);
    d.Imitate(&received, nullptr);
    EXPECT_EQ(d.ReqwestInterval, 0);
    EXPECT_EQ(log.GetText(), "Imitator start action:\r\nTAG11 = 10\r\nImitator end action.");
    ASSERT_EQ(received.Count(), 2);
    EXPECT_EQ(received.RecordAt(0)->Value, 10.0f);
    EXPECT_EQ(received.RecordAt(1)->Value, 12.0f);
    EXPECT_EQ(received.RecordAt(1)->Prefix.Get(), "PLC");
    EXPECT_EQ(received.RecordAt(1)->Device, 4);
    EXPECT_EQ(received.RecordAt(1)->Address, 40001);

    // Past 100 percent the values start again at Low.
    for (int i = 2; i <= 100; ++i)
        d.Imitate(&received, nullptr);
    received.FreeAll();
    d.Imitate(&received, nullptr);
    ASSERT_EQ(received.Count(), 1);
    EXPECT_EQ(received.RecordAt(0)->Value, 10.0f);

    VariableIndex = nullptr;
    ImitatorRate = -1;
}
