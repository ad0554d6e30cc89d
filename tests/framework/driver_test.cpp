#include <gtest/gtest.h>

#include <cstring>

#include "device_test_support.h"
#include "framework/driver.h"
#include "platform/text.h"

using namespace framework;
using device_test::ReadBytes;
using device_test::TTempDir;
using device_test::WriteBytes;

namespace {

// Records what was left of the master list when Done ran.
class TRecordingDriver : public TDriver {
public:
    explicit TRecordingDriver(bool* listGoneAtDone) : listGoneAtDone_(listGoneAtDone) {}
    ~TRecordingDriver() override { Shutdown(); }
    bool Done() override {
        *listGoneAtDone_ = DeviceList == nullptr;
        return true;
    }

private:
    bool* listGoneAtDone_;
};

// Packed fields are read by value, never bound to references.
int32_t Value(int32_t v) {
    return v;
}

struct TDebugSettingsScope {
    ~TDebugSettingsScope() {
        ImitatorEnabled = false;
        ImitatorRate = -1;
        ImitatorStateChange = false;
    }
};

} // namespace

TEST(DriverTest, FileNamesDifferOnlyInTheExtension) {
    TDriver d;
    const std::string stem = d.GetModuleName();
    ASSERT_FALSE(stem.empty());
    EXPECT_EQ(d.GetConfigFileName(), stem + ".cfg");
    EXPECT_EQ(d.GetServerFileName(), stem + ".srv");
    EXPECT_EQ(d.GetIntercomName(), stem + ".dat");
}

TEST(DriverTest, BaseTextsAreTheFrameworksOwn) {
    TDriver d;
    EXPECT_EQ(d.GetShortName(), "VELTRA");
    EXPECT_EQ(d.GetCaption(), "Abstract device driver");
    EXPECT_EQ(d.GetSetupCaption(), "Свойства драйвера..."_cp);
    EXPECT_EQ(d.GetAboutText(),
              "\r\nАбстрактный драйвер обмена данными с периферийными устройствами по алгоритму SEND/RECEIVE "
              "(Master).\r\n\r\nВерсия 1.0 Сборка 20012011"_cp);
}

TEST(DriverTest, TheIdentityRecordIsZeroedAndFilled) {
    TDriver d;
    const std::string saved = PrefixList;
    PrefixList = "PLC:КОТЁЛ:"_cp;
    TDeviceInfoRecord info;
    std::memset(&info, 0xAA, sizeof info);
    d.GetDeviceInfo(info);
    const uint8_t guid[16] = {0x19, 0xBA, 0x9B, 0x48, 0x8F, 0xC5, 0xEB, 0x46,
                              0xA3, 0x59, 0x9B, 0x38, 0x62, 0x5F, 0x37, 0xC2};
    EXPECT_EQ(std::memcmp(info.GUID, guid, 16), 0);
    EXPECT_EQ(platform::FieldText(info.Title), "Abstract device driver. Версия 1.0"_cp);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    for (std::size_t i = 16 + platform::FieldText(info.Title).size(); i < 117; ++i)
        EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(Value(info.Int117), -1);
    EXPECT_EQ(Value(info.Int121), -1);
    EXPECT_EQ(Value(info.Int125), -1);
    EXPECT_EQ(Value(info.Int129), -1);
    EXPECT_EQ(Value(info.Int133), 100);
    EXPECT_EQ(Value(info.Int137), 100);
    EXPECT_EQ(platform::FieldText(info.PrefixList), "PLC:КОТЁЛ:"_cp);
    for (std::size_t i = 141 + 10; i < sizeof info; ++i)
        EXPECT_EQ(bytes[i], 0) << i;

    PrefixList = std::string(2000, 'P');
    d.GetDeviceInfo(info);
    EXPECT_EQ(platform::FieldText(info.PrefixList), std::string(1024, 'P'));
    EXPECT_EQ(info.PrefixList[1024], 0);
    PrefixList = saved;
}

TEST(DriverTest, InitReadsTheDebugSettingsBesideTheConfiguration) {
    TDebugSettingsScope restore;
    TTempDir dir;
    WriteBytes(dir.File("Quillary.ini"), "[Debugger]\r\nimitator=1\r\nrate=0\r\nstate_change=2\r\n");
    TDriver d;
    EXPECT_TRUE(d.Init(false, dir.File("Quillary.dlm")));
    EXPECT_TRUE(ImitatorEnabled);
    EXPECT_EQ(ImitatorRate, 0);
    EXPECT_TRUE(ImitatorStateChange);

    // Without the section the rate goes back to -1; the switches keep what they were.
    WriteBytes(dir.File("Quillary.ini"), "[server]\r\nrate=5\r\n");
    EXPECT_TRUE(d.Init(true, dir.File("Quillary.cfg")));
    EXPECT_EQ(ImitatorRate, -1);
    EXPECT_TRUE(ImitatorEnabled);
    EXPECT_TRUE(ImitatorStateChange);

    ImitatorEnabled = false;
    EXPECT_TRUE(d.Init(false, dir.File("none/Quillary.cfg")));
    EXPECT_FALSE(ImitatorEnabled);
}

TEST(DriverTest, TheSettingsFileTakesTheExtensionOfTheFileNameOnly) {
    TDebugSettingsScope restore;
    TTempDir dir;
    std::filesystem::create_directories(dir.Path / "conf.d");
    WriteBytes(dir.File("conf.d/Quillary.ini"), "[debugger]\r\nrate=25\r\n");
    TDriver d;
    d.Init(false, dir.File("conf.d/Quillary"));
    EXPECT_EQ(ImitatorRate, 25);
    // The serial ports' names are looked up in the same file.
    EXPECT_EQ(SerialPortsFile(), dir.File("conf.d/Quillary.ini"));
}

TEST(DriverTest, ConfigurationGoesThroughTheMasterList) {
    TTempDir dir;
    TDriver d;
    ASSERT_NE(d.DeviceList, nullptr);
    Driver = &d;
    d.DeviceList->AddDevice();
    const std::string file = dir.File(d.GetConfigFileName());
    EXPECT_TRUE(d.SaveConfig(file));
    d.DeviceList->AddDevice();
    EXPECT_TRUE(d.LoadConfig(file));
    EXPECT_EQ(d.DeviceList->Count(), 1);
    EXPECT_NE(ReadBytes(file).find("<VELTRA "), std::string::npos);
    Driver = nullptr;
}

TEST(DriverTest, FreeingTheDriverFreesTheListBeforeDone) {
    bool listGone = false;
    { TRecordingDriver d(&listGone); }
    EXPECT_TRUE(listGone);
}

TEST(DriverTest, BalancedFrameworkStartsKeepTheSharedTexts) {
    InitializeFramework();
    InitializeFramework();
    FinalizeFramework();
    FinalizeFramework();
    TDriver d;
    EXPECT_EQ(d.GetShortName(), "VELTRA");
    std::lock_guard<std::mutex> guard(DriverLock);
}
