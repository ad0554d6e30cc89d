// The Modbus device and its property list: the 21 records, their texts and pick lists, and what the
// device's hooks take from its properties and from the process's description model.
#include "modbus/modbus_device.h"

#include "framework/tag_routing.h"
#include "framework/terminal_data.h"
#include "modbus_test_support.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace modbus {
namespace {

using framework::TPropertyType;
using testing::Bytes;
using testing::Hex;
using testing::Lines;
using testing::Queued;
using testing::WithCrc;
using V = std::vector<std::string>;

// The process's description model for the life of the scope, loaded from text.
class TDescriptionScope {
public:
    explicit TDescriptionScope(const std::string& text) : previous_(DeviceDescriptions) {
        EXPECT_TRUE(model_.LoadFromStrings(Lines(text)))
            << (errors_.Messages.empty() ? "" : errors_.Messages[0]);
        DeviceDescriptions = &model_;
    }
    ~TDescriptionScope() { DeviceDescriptions = previous_; }

private:
    testing::TCapturedErrors errors_;
    TEDDDeviceFile model_;
    TEDDDeviceFile* previous_;
};

// Without any model, as before the driver's Init.
class TNoDescriptionScope {
public:
    TNoDescriptionScope() : previous_(DeviceDescriptions) { DeviceDescriptions = nullptr; }
    ~TNoDescriptionScope() { DeviceDescriptions = previous_; }

private:
    TEDDDeviceFile* previous_;
};

std::string Caption(TModbus_Property& list, const std::string& name, bool* found = nullptr) {
    std::string text;
    const bool ok = list.GetCaption(name, text);
    if (found) *found = ok;
    return text;
}

std::string Hint(TModbus_Property& list, const std::string& name, bool* found = nullptr) {
    std::string text;
    const bool ok = list.GetHint(name, text);
    if (found) *found = ok;
    return text;
}

TEST(ModbusProperty, NewListHoldsTheTwentyOneRecordsInOrder) {
    TModbus_Property list;
    list.InitProperties();
    struct TRow {
        const char* name;
        const char* value;
        TPropertyType type;
    };
    const std::vector<TRow> expected = {
        {"DeviceName", "Modbus RTU device", TPropertyType::Text},
        {"DeviceAddress", "1", TPropertyType::Integer},
        {"TimeOut", "100", TPropertyType::Integer},
        {"RetryCount", "3", TPropertyType::Integer},
        {"Enabled", "TRUE", TPropertyType::Boolean},
        {"RoutingPrefix", "MODBUS-RTU", TPropertyType::Text},
        {"ReqwestInterval", "2000", TPropertyType::Integer},
        {"PINGTimeOut", "500", TPropertyType::Integer},
        {"ICMPOnConnect", "TRUE", TPropertyType::Boolean},
        {"VarConnectStateName", "", TPropertyType::TagName},
        {"CommandStateName", "", TPropertyType::TagName},
        {"VarBlockCommand", "", TPropertyType::TagName},
        {"RS232Port", "COM1", TPropertyType::PickList},
        {"RS232BaudRate", "9600", TPropertyType::PickList},
        {"RS232StopBits", "0", TPropertyType::PickList},
        {"RS232ByteSize", "8", TPropertyType::PickList},
        {"RS232Parity", "0", TPropertyType::PickList},
        {"TypeOfConnection", "TCP/IP", TPropertyType::PickList},
        {"DeviceIPAddress", "127.0.0.1", TPropertyType::Text},
        {"IPPort", "4001", TPropertyType::Integer},
        {"RequestType", "default", TPropertyType::PickList},
    };
    ASSERT_EQ(list.Count(), 21);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const framework::TDeviceProperty* p = list.Property(static_cast<int32_t>(i));
        EXPECT_EQ(p->Name, expected[i].name) << i;
        EXPECT_EQ(p->Value, expected[i].value) << p->Name;
        EXPECT_EQ(p->PropType, expected[i].type) << p->Name;
    }

    // A second run frees first and gives the same list.
    list.SetProperty("Extra", "x", TPropertyType::Text);
    list.InitProperties();
    EXPECT_EQ(list.Count(), 21);
    EXPECT_EQ(list.FindProperty("Extra"), nullptr);
}

TEST(ModbusProperty, DefaultsDifferFromTheNewListOnlyForTheConverterAddress) {
    TModbus_Property list;
    list.InitProperties();
    EXPECT_EQ(list.GetDefaultValue("DeviceIPAddress"), "");
    EXPECT_EQ(list.GetString("DeviceIPAddress", "?"), "127.0.0.1");
    EXPECT_EQ(list.GetDefaultValue("RoutingPrefix"), "MODBUS-RTU");
    EXPECT_EQ(list.GetDefaultValue("DeviceName"), "Modbus RTU device");
    EXPECT_EQ(list.GetDefaultValue("IPPort"), "4001");
    EXPECT_EQ(list.GetDefaultValue("TypeOfConnection"), "TCP/IP");
    EXPECT_EQ(list.GetDefaultValue("RequestType"), "default");
    EXPECT_EQ(list.GetDefaultValue("TimeOut"), "100"); // the base's
    EXPECT_EQ(list.GetDefaultValue("requesttype"), "");
}

TEST(ModbusProperty, TheFourModbusTextsByteForByte) {
    TModbus_Property list;
    list.InitProperties();
    bool found = false;
    EXPECT_EQ(Caption(list, "TypeOfConnection", &found), "Тип соединения с устройством:"_cp);
    EXPECT_TRUE(found);
    EXPECT_EQ(
        Hint(list, "TypeOfConnection", &found),
        "Доступ к устройству возможен как в режиме TCP Server через преобразователь, так и через физический или виртуальный последовательный порт."_cp);
    EXPECT_TRUE(found);
    EXPECT_EQ(Caption(list, "DeviceIPAddress"), "Адрес конвертора RSXXX в Ethernet:"_cp);
    EXPECT_EQ(
        Hint(list, "DeviceIPAddress"),
        "Адрес преобразователя портов RS-232/485/422 в Ethernet. Прежде чем открыть порт будет проверена связь с преобразователем по протоколу ICMP."_cp);
    EXPECT_EQ(Caption(list, "IPPort"), "Порт преобразователя:"_cp);
    EXPECT_EQ(Hint(list, "IPPort"),
              "Порт установленный в преобразователе MOXA для доступа по протоколу TCP/IP."_cp);
    EXPECT_EQ(Caption(list, "RequestType", &found), "Обслуживаемое устройство:"_cp);
    EXPECT_TRUE(found);
    EXPECT_EQ(
        Hint(list, "RequestType", &found),
        "Драйвер способен поддержать несколько различных устройств одновременно. Для каждого типа может быть создан собственный список запросов."_cp);
    EXPECT_TRUE(found);
}

TEST(ModbusProperty, TextLookupIsExactWhileTheBaseIgnoresLetterCase) {
    TModbus_Property list;
    list.InitProperties();
    framework::TDevicePropertyList base;
    base.InitProperties();
    std::string baseCaption;

    bool found = true;
    EXPECT_EQ(Caption(list, "requesttype", &found), "???");
    EXPECT_FALSE(found);
    EXPECT_EQ(Hint(list, "requesttype", &found), "");
    EXPECT_FALSE(found);

    // In another letter case the base's own texts of the replaced properties show through.
    ASSERT_TRUE(base.GetCaption("DeviceIPAddress", baseCaption));
    EXPECT_EQ(Caption(list, "deviceipaddress", &found), baseCaption);
    EXPECT_TRUE(found);
    EXPECT_NE(Caption(list, "DeviceIPAddress"), baseCaption);

    // Properties the Modbus list leaves alone keep the base's texts.
    ASSERT_TRUE(base.GetCaption(" routingprefix", baseCaption));
    EXPECT_EQ(Caption(list, " routingprefix", &found), baseCaption);
    EXPECT_TRUE(found);
}

TEST(ModbusProperty, ConnectionKindPickList) {
    TModbus_Property list;
    list.InitProperties();
    std::vector<std::string> items{"stale"};
    int32_t minValue = -5, maxValue = -5;
    TPropertyType type = TPropertyType::Text;
    EXPECT_TRUE(list.GetEditInfo("TypeOfConnection", minValue, &items, type, maxValue));
    EXPECT_EQ(items, (V{"TCP Server connection", "COM port connection"}));
    EXPECT_EQ(minValue, 0);
    EXPECT_EQ(maxValue, 1);
    EXPECT_EQ(type, TPropertyType::PickList);

    // Without a list to fill the range stays the base's.
    EXPECT_TRUE(list.GetEditInfo("TypeOfConnection", minValue, nullptr, type, maxValue));
    EXPECT_EQ(maxValue, 2147483647);

    std::string value = "x";
    list.ChoiceToValue("TypeOfConnection", &items, value, 0);
    EXPECT_EQ(value, "TCP/IP");
    list.ChoiceToValue("TypeOfConnection", &items, value, 1);
    EXPECT_EQ(value, "RS232");
    list.ChoiceToValue("TypeOfConnection", &items, value, 5); // outside the list: still serial
    EXPECT_EQ(value, "RS232");
    list.ChoiceToValue("TypeOfConnection", nullptr, value, 0);
    EXPECT_EQ(value, "TCP/IP");

    std::string choice;
    list.ValueToChoice("TypeOfConnection", "TCP/IP", choice);
    EXPECT_EQ(choice, "TCP Server connection");
    list.ValueToChoice("TypeOfConnection", "tcp/ip", choice);
    EXPECT_EQ(choice, "COM port connection");
    list.ValueToChoice("TypeOfConnection", "", choice);
    EXPECT_EQ(choice, "COM port connection");
}

TEST(ModbusProperty, DeviceTypePickListFollowsTheDescriptionModel) {
    TModbus_Property list;
    list.InitProperties();
    std::vector<std::string> items;
    int32_t minValue = 0, maxValue = 0;
    TPropertyType type = TPropertyType::Text;
    {
        TDescriptionScope model(
            "<EDDV2_Ostrolinka><device name=\"B\"/><device name=\"A\"/></EDDV2_Ostrolinka>");
        EXPECT_TRUE(list.GetEditInfo("RequestType", minValue, &items, type, maxValue));
        EXPECT_EQ(items, (V{"A", "B"}));
        EXPECT_EQ(minValue, 0);
        EXPECT_EQ(maxValue, 1);
        EXPECT_EQ(type, TPropertyType::PickList);

        std::string value;
        list.ChoiceToValue("RequestType", &items, value, 1);
        EXPECT_EQ(value, "B");
        list.ChoiceToValue("RequestType", &items, value, 2);
        EXPECT_EQ(value, "");
        std::string choice;
        list.ValueToChoice("RequestType", "not in the file", choice);
        EXPECT_EQ(choice, "not in the file");
    }
    {
        TNoDescriptionScope none;
        items = {"stale"};
        EXPECT_TRUE(list.GetEditInfo("RequestType", minValue, &items, type, maxValue));
        EXPECT_TRUE(items.empty());
        EXPECT_EQ(maxValue, -1);
    }
}

TEST(ModbusProperty, BasePickListsAndRangesStay) {
    TModbus_Property list;
    list.InitProperties();
    std::vector<std::string> items;
    int32_t minValue = 0, maxValue = 0;
    TPropertyType type = TPropertyType::Text;
    EXPECT_TRUE(list.GetEditInfo("IPPort", minValue, &items, type, maxValue));
    EXPECT_EQ(type, TPropertyType::Integer);
    EXPECT_EQ(minValue, 1);
    EXPECT_EQ(maxValue, 65535);
    EXPECT_TRUE(list.GetEditInfo("RS232Parity", minValue, &items, type, maxValue));
    EXPECT_EQ(items.size(), 5u);
    std::string value;
    list.ChoiceToValue("RS232Parity", &items, value, 2);
    EXPECT_EQ(value, "2");
    EXPECT_FALSE(list.GetEditInfo("NoSuchProperty", minValue, &items, type, maxValue));
}

// A device as the driver makes it: the Modbus list, applied.
class ModbusDeviceTest : public ::testing::Test {
protected:
    void Set(const std::string& name, const std::string& value) {
        device.Properties->SetProperty(name, value, TPropertyType::Text);
        device.ApplyProperties();
    }
    TModbus_Device device;
    framework::TTerminalDataClass log;
    framework::TReceiveVariables received;
};

TEST_F(ModbusDeviceTest, NewDeviceHasTheModbusListAndAnEmptyAlarmTable) {
    EXPECT_NE(dynamic_cast<TModbus_Property*>(device.Properties.get()), nullptr);
    EXPECT_EQ(device.Properties->Count(), 21);
    EXPECT_EQ(device.PostWriteDelay, 0);
    ASSERT_NE(device.AlarmTable, nullptr);
    EXPECT_EQ(device.AlarmTable->Count(), 0);
    // The typed fields wait for ApplyProperties, which the callers run.
    EXPECT_EQ(device.RequestType, "");
    device.ApplyProperties();
    EXPECT_EQ(device.RequestType, "default");
    EXPECT_EQ(device.RoutingPrefix, "MODBUS-RTU");
    EXPECT_EQ(device.IPPort, 4001);
    EXPECT_EQ(device.DeviceIPAddress, "127.0.0.1");
    Set("RequestType", "meter");
    EXPECT_EQ(device.RequestType, "meter");
    device.Properties->DeleteProperty("RequestType");
    device.ApplyProperties();
    EXPECT_EQ(device.RequestType, "default");
    // Only the two kinds of link are read as written; any other is said to be taken for serial. An
    // IPPort is said only where the TCP link reads it.
    framework::TLoadNotes notes;
    for (const char* link : {"TCP/IP", "RS232", "tcp/ip"})
        ASSERT_TRUE(device.LoadFromXml(std::string("<session TypeOfConnection='") + link + "' IPPort='p'/>",
                                       nullptr, &notes));
    EXPECT_EQ(notes.Kept,
              (std::vector<std::string>{"значение IPPort=\"p\" не читается, взято 502"_cp,
                                        "значение TypeOfConnection=\"tcp/ip\" не читается, взято RS232"_cp}));
}

TEST_F(ModbusDeviceTest, CopyTakesTheSettingsButStartsItsOwnAlarmTable) {
    Set("RequestType", "meter");
    Set("DeviceAddress", "9");
    device.AlarmTable->MarkCode(7);
    TModbus_Device copy;
    copy.Assign(&device);
    EXPECT_EQ(copy.RequestType, "meter");
    EXPECT_EQ(copy.DeviceAddress, 9);
    EXPECT_EQ(copy.Properties->Count(), 21);
    EXPECT_EQ(copy.AlarmTable->Count(), 0);
    EXPECT_NE(copy.AlarmTable.get(), device.AlarmTable.get());
}

constexpr const char* kMeter =
    "<EDDV2_Ostrolinka><device name=\"meter\"><requestlist>"
    "<request name=\"r\" address=\"4660\" size=\"2\" function=\"4\"><datablock>"
    "<item type=\"word\" proc=\"value\" tsaddress=\"5\"/><item type=\"smallint\" proc=\"value\" "
    "tsaddress=\"6\"/>"
    "</datablock></request>"
    "<request name=\"a\" address=\"0\" size=\"1\"><datablock type=\"ALARMCODE\">"
    "<item type=\"word\" proc=\"alarmcode\" tsaddress=\"1000\"/></datablock></request>"
    "</requestlist><commands>"
    "<command tsaddress=\"7\" type=\"word\"><a address=\"16\" function=\"6\" sleep=\"30\"/></command>"
    "</commands></device></EDDV2_Ostrolinka>";

TEST_F(ModbusDeviceTest, PollHooksUseTheAppliedTypeAddressAndPrefix) {
    TDescriptionScope model(kMeter);
    Set("RequestType", "meter");
    Set("DeviceAddress", "17");
    Set("RoutingPrefix", "PLC");

    std::string frame;
    bool needAnswer = false;
    device.BuildReadRequest(nullptr, 0, frame, &log, needAnswer);
    EXPECT_EQ(Hex(frame), Hex(WithCrc(Bytes({0x11, 0x04, 0x12, 0x34, 0x00, 0x02}))));
    EXPECT_TRUE(needAnswer);

    const std::string answer = WithCrc(Bytes({0x11, 0x04, 0x04, 0xFF, 0xFE, 0xFF, 0xFE}));
    EXPECT_EQ(device.ParseReadResponse(nullptr, 0, &log, &received, answer), 0) << log.GetText();
    EXPECT_EQ(Queued(received), (V{"5=65534", "6=-2"}));
    EXPECT_EQ(received.RecordAt(0)->Prefix.Get(), "PLC");
    EXPECT_EQ(received.RecordAt(0)->Device, 17);

    device.BuildReadRequest(nullptr, 2, frame, &log, needAnswer);
    EXPECT_TRUE(frame.empty());
    EXPECT_TRUE(log.GetText().empty()) << log.GetText();
}

TEST_F(ModbusDeviceTest, AlarmCodesGoToTheDevicesOwnTable) {
    TDescriptionScope model(kMeter);
    Set("RequestType", "meter");
    const std::string answer = WithCrc(Bytes({0x01, 0x03, 0x02, 0x00, 0x2A}));
    EXPECT_EQ(device.ParseReadResponse(nullptr, 1, &log, &received, answer), 0) << log.GetText();
    ASSERT_EQ(device.AlarmTable->Count(), 1);
    EXPECT_EQ(device.AlarmTable->Entries(0)->Code, 1042); // the item's tsaddress is the offset
    EXPECT_EQ(Queued(received), V{"1042=1"});
}

TEST_F(ModbusDeviceTest, UnknownDeviceTypeIsLoggedAndSendsNothing) {
    TDescriptionScope model(kMeter);
    Set("RequestType", "Meter"); // names are compared with their letter case
    std::string frame = "x";
    bool needAnswer = true;
    device.BuildReadRequest(nullptr, 0, frame, &log, needAnswer);
    EXPECT_TRUE(frame.empty());
    EXPECT_EQ(log.GetText(), "Список запросов к устройству не определен!"_cp);
}

TEST_F(ModbusDeviceTest, WithoutDescriptionsEveryStepIsEmptyAndSilent) {
    TNoDescriptionScope none;
    device.ApplyProperties();
    std::string frame = "x";
    bool needAnswer = true;
    device.BuildReadRequest(nullptr, 0, frame, &log, needAnswer);
    EXPECT_TRUE(frame.empty());
    EXPECT_EQ(device.ParseReadResponse(nullptr, 0, &log, &received, WithCrc(Bytes({1, 3, 0}))), -1);
    framework::TCommandRecord command{};
    command.TagAddress = 7;
    device.BuildWriteRequest(nullptr, 0, frame, &log, needAnswer, &received, command);
    EXPECT_TRUE(frame.empty());
    EXPECT_TRUE(log.GetText().empty()) << log.GetText();
}

TEST_F(ModbusDeviceTest, WriteDelayLivesFromTheFrameToItsReply) {
    TDescriptionScope model(kMeter);
    Set("RequestType", "meter");
    framework::TCommandRecord command{};
    command.TagAddress = 7;
    command.Value = 513;
    std::string frame;
    bool needAnswer = false;
    device.BuildWriteRequest(nullptr, 0, frame, &log, needAnswer, &received, command);
    EXPECT_EQ(Hex(frame), Hex(WithCrc(Bytes({0x01, 0x06, 0x00, 0x10, 0x02, 0x01}))));
    EXPECT_EQ(device.PostWriteDelay, 30);
    // A rejected reply drops the pause too.
    EXPECT_EQ(device.ParseWriteResponse(nullptr, 0, &log, &received,
                                        WithCrc(Bytes({0x02, 0x06, 0, 0x10, 2, 1})), command),
              -10);
    EXPECT_EQ(device.PostWriteDelay, 0);

    TCommandActionItem action;
    action.address = 3;
    action.function = 5;
    EXPECT_EQ(Hex(device.BuildWriteFrame(command, action, &log)),
              Hex(WithCrc(Bytes({0x01, 0x05, 0x00, 0x03, 0xFF, 0x00}))));
    EXPECT_EQ(device.CheckWriteResponse(WithCrc(Bytes({0x01, 0x85, 0x02}))), -11);
}

} // namespace
} // namespace modbus
