// The Modbus driver: names, identity record, factories, the connection each kind of link gets, the
// description file of Init and its lifetime, and the driver object of the unit.
#include "modbus/modbus_driver.h"

#include "framework/connection.h"
#include "framework/device_test_support.h"
#include "framework/tcp_connection.h"
#include "modbus/modbus_device.h"
#include "modbus_test_support.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace modbus {
namespace {

using device_test::TTempDir;
using device_test::WriteBytes;

constexpr const char* kTwoTypes =
    "<EDDV2_Ostrolinka>\r\n<device name=\"B\"/>\r\n<device name=\"A\"/>\r\n</EDDV2_Ostrolinka>";

// Restores the process's description model and serial port names after a test that runs Init.
class ModbusDriverTest : public ::testing::Test {
protected:
    void TearDown() override {
        driver.Done();
        framework::SetSerialPortsFile("");
    }
    std::string Cfg() const { return dir.File("Quillary.cfg"); }

    TTempDir dir;
    testing::TCapturedErrors errors;
    TModbusrtu_Driver driver;
};

TEST(ModbusDriverNames, NamesAndTextsByteForByte) {
    TModbusrtu_Driver driver;
    EXPECT_EQ(driver.GetModuleName(), "Quillary");
    EXPECT_EQ(driver.GetConfigFileName(), "Quillary.cfg");
    EXPECT_EQ(driver.GetServerFileName(), "Quillary.srv");
    EXPECT_EQ(driver.GetIntercomName(), "Quillary.dat");
    EXPECT_EQ(driver.GetShortName(), "KESTRAN");
    EXPECT_EQ(driver.GetSetupCaption(), "Свойства драйвера MODBUS RTU..."_cp);
    EXPECT_EQ(driver.GetCaption(), "Драйвер протоколоа MODBUS RTU"_cp);
    EXPECT_EQ(
        driver.GetAboutText(),
        "\r\nДрайвер обмена данными с периферийными устройствами по протоколу  MODBUS RTU (Master).\r\n\r\n"
        "Версия 4.0\r\n\r\n"_cp);
    // What stays as in the base.
    EXPECT_FALSE(driver.SupportsRemoteAccess());
    EXPECT_FALSE(driver.IsSingleDeviceMode());
    EXPECT_FALSE(driver.HasAdditionalSettings());
}

TEST(ModbusDriverIdentity, RecordByteForByte) {
    TModbusrtu_Driver driver;
    const std::string savedPrefixes = framework::PrefixList;
    framework::PrefixList = "MODBUS-RTU;PLC";
    framework::TDeviceInfoRecord info;
    std::memset(&info, 0xAA, sizeof info); // whatever the host's buffer held
    driver.GetDeviceInfo(info);
    framework::PrefixList = savedPrefixes;

    std::string expected(sizeof info, '\0');
    const uint8_t guid[16] = {0x97, 0x63, 0x12, 0x54, 0x74, 0x00, 0x49, 0x47,
                              0x88, 0x1F, 0x32, 0x0C, 0x44, 0xFE, 0xE4, 0xBB};
    expected.replace(0, 16, reinterpret_cast<const char*>(guid), 16);
    const std::string title = "Драйвер протокола MODBUS RTU. Версия 4.0"_cp;
    expected.replace(16, title.size(), title);
    auto put = [&expected](std::size_t at, int32_t v) {
        for (int i = 0; i < 4; ++i)
            expected[at + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    };
    for (std::size_t at : {117u, 121u, 125u, 129u})
        put(at, -1);
    put(133, 100);
    put(137, 100);
    expected.replace(141, 14, "MODBUS-RTU;PLC");

    const std::string actual(reinterpret_cast<const char*>(&info), sizeof info);
    EXPECT_EQ(testing::Hex(actual), testing::Hex(expected));
}

TEST(ModbusDriverFactories, DevicesAndListsAreModbusOnes) {
    TModbusrtu_Driver driver;
    EXPECT_NE(dynamic_cast<TMyDeviceList*>(driver.DeviceList.get()), nullptr);
    EXPECT_NE(dynamic_cast<TMyDeviceList*>(driver.CreateDeviceList().get()), nullptr);
    const std::unique_ptr<framework::TDevice> device = driver.CreateDevice();
    ASSERT_NE(dynamic_cast<TModbus_Device*>(device.get()), nullptr);
    // Constructor only: the callers apply the properties.
    EXPECT_EQ(device->RoutingPrefix, "");
    EXPECT_EQ(device->Properties->GetString("RoutingPrefix", ""), "MODBUS-RTU");
}

TEST(ModbusDeviceList, OnlyTcpIpExactlyGivesTheTcpLink) {
    TMyDeviceList list;
    TModbus_Property props;
    props.InitProperties();
    props.SetProperty("DeviceIPAddress", "127.0.0.2", framework::TPropertyType::Text);
    props.SetProperty("IPPort", "4100", framework::TPropertyType::Integer);

    std::unique_ptr<framework::TOstrolinkaConnection> link = list.CreateConnection(&props);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Kind(), framework::TConnectionKind::TCPBadLine);
    auto* tcp = dynamic_cast<framework::TTCPBadLineConnection*>(link.get());
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->IPAddress, "127.0.0.2");
    EXPECT_EQ(tcp->IPPort, 4100);
    EXPECT_FALSE(link->IsOpen());

    for (const char* kind : {"RS232", "", "tcp/ip", " TCP/IP", "anything"}) {
        props.SetProperty("TypeOfConnection", kind, framework::TPropertyType::PickList);
        link = list.CreateConnection(&props);
        ASSERT_NE(link, nullptr) << kind;
        EXPECT_EQ(link->Kind(), framework::TConnectionKind::RS232) << kind;
    }
    props.DeleteProperty("TypeOfConnection");
    EXPECT_EQ(list.CreateConnection(&props)->Kind(), framework::TConnectionKind::RS232);
    EXPECT_EQ(list.CreateConnection(nullptr)->Kind(), framework::TConnectionKind::RS232);

    // An open TCP link does not serve a serial device with otherwise equal settings.
    framework::TTCPBadLineConnection open(&props);
    EXPECT_FALSE(list.ConnectionFits(open, &props));
    props.SetProperty("TypeOfConnection", "TCP/IP", framework::TPropertyType::PickList);
    EXPECT_TRUE(list.ConnectionFits(open, &props));
}

TEST_F(ModbusDriverTest, WithoutADescriptionFileInitKeepsTheBaseResultAndAnEmptyModel) {
    WriteBytes(dir.File("Other.edd"), kTwoTypes); // another stem is not looked at
    EXPECT_TRUE(driver.Init(false, Cfg()));
    ASSERT_NE(DeviceDescriptions, nullptr);
    EXPECT_EQ(DeviceDescriptions->Count(), 0);
    EXPECT_TRUE(errors.Messages.empty());
}

TEST_F(ModbusDriverTest, InitLoadsTheDescriptionFileBesideTheConfiguration) {
    WriteBytes(dir.File("Quillary.edd"), kTwoTypes);
    EXPECT_TRUE(driver.Init(true, Cfg()));
    ASSERT_NE(DeviceDescriptions, nullptr);
    ASSERT_EQ(DeviceDescriptions->Count(), 2);
    EXPECT_EQ(DeviceDescriptions->Devices(0)->name, "A");
    EXPECT_NE(DeviceDescriptions->FindDevice("B"), nullptr);
    // Serial port names map through the settings file of the same stem.
    EXPECT_EQ(framework::SerialPortsFile(), dir.File("Quillary.ini"));
}

TEST_F(ModbusDriverTest, AFailedLoadReturnsFalseAndKeepsTheTypesReadBefore) {
    WriteBytes(dir.File("Quillary.edd"),
               "<EDDV2_Ostrolinka>\r\n<device name=\"A\"/>\r\nstray text\r\n<device name=\"B\"/>\r\n"
               "</EDDV2_Ostrolinka>");
    EXPECT_FALSE(driver.Init(false, Cfg()));
    EXPECT_FALSE(errors.Messages.empty());
    ASSERT_NE(DeviceDescriptions, nullptr);
    EXPECT_NE(DeviceDescriptions->FindDevice("A"), nullptr);
}

TEST_F(ModbusDriverTest, DebugSettingsAreStillRead) {
    WriteBytes(dir.File("Quillary.ini"), "[debugger]\r\nrate=0\r\n");
    EXPECT_TRUE(driver.Init(false, Cfg()));
    EXPECT_EQ(framework::ImitatorRate, 0);
    WriteBytes(dir.File("Quillary.ini"), "");
    EXPECT_TRUE(driver.Init(false, Cfg()));
    EXPECT_EQ(framework::ImitatorRate, -1);
}

// Under the leak checker of the sanitizer build a replaced model that is not freed fails this test
// program at exit.
TEST_F(ModbusDriverTest, ASecondInitReplacesTheModel) {
    WriteBytes(dir.File("Quillary.edd"), kTwoTypes);
    ASSERT_TRUE(driver.Init(false, Cfg()));
    ASSERT_EQ(DeviceDescriptions->Count(), 2);
    WriteBytes(dir.File("Quillary.edd"), "<EDDV2_Ostrolinka><device name=\"C\"/></EDDV2_Ostrolinka>");
    ASSERT_TRUE(driver.Init(false, Cfg()));
    ASSERT_EQ(DeviceDescriptions->Count(), 1);
    EXPECT_EQ(DeviceDescriptions->Devices(0)->name, "C");
}

TEST_F(ModbusDriverTest, DoneFreesTheModel) {
    ASSERT_TRUE(driver.Init(false, Cfg()));
    ASSERT_NE(DeviceDescriptions, nullptr);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(DeviceDescriptions, nullptr);
    EXPECT_TRUE(driver.Done()); // nothing left to free
}

TEST_F(ModbusDriverTest, ConfigurationRoundTripMakesModbusDevices) {
    framework::TDriver* previous = framework::Driver;
    framework::Driver = &driver;
    framework::TDeviceRecord* record = driver.DeviceList->AddDevice();
    record->Device->Properties->SetProperty("TypeOfConnection", "RS232", framework::TPropertyType::PickList);
    record->Device->Properties->SetProperty("RequestType", "A", framework::TPropertyType::PickList);
    ASSERT_TRUE(driver.SaveConfig(Cfg()));
    EXPECT_NE(device_test::ReadBytes(Cfg()).find("<KESTRAN"), std::string::npos);

    TModbusrtu_Driver other;
    const bool loaded = other.LoadConfig(Cfg()).Read;
    framework::Driver = previous;
    ASSERT_TRUE(loaded);
    ASSERT_EQ(other.DeviceList->Count(), 1);
    auto* device = dynamic_cast<TModbus_Device*>(other.DeviceList->Device(0));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->RequestType, "A");
    EXPECT_EQ(device->Properties->GetString("TypeOfConnection", ""), "RS232");
    EXPECT_EQ(device->RoutingPrefix, "MODBUS-RTU");
}

TEST(ModbusDriverUnit, TheDriverExistsFromLoad) {
    ASSERT_NE(framework::Driver, nullptr);
    EXPECT_NE(dynamic_cast<TModbusrtu_Driver*>(framework::Driver), nullptr);
    EXPECT_NE(dynamic_cast<TMyDeviceList*>(framework::Driver->DeviceList.get()), nullptr);
    EXPECT_EQ(framework::Driver->GetShortName(), "KESTRAN");
}

// The unit's finalisation at exit, in a child process: after the module's done export freed the
// driver, and with the driver and its model still there.
TEST(ModbusDriverUnitDeathTest, FinalisationAfterTheDoneExportAndWithoutIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            delete framework::Driver;
            framework::Driver = nullptr;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            TTempDir scratch;
            WriteBytes(scratch.File("Quillary.edd"), kTwoTypes);
            if (!framework::Driver->Init(false, scratch.File("Quillary.cfg"))) std::_Exit(3);
            std::exit(DeviceDescriptions != nullptr && DeviceDescriptions->Count() == 2 ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace modbus
