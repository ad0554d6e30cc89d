// The module's initialisation in single-device mode, the server command line, and reports made
// once while their condition lasts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/intercom_test_support.h"
#include "host/host_tag_database.h"
#include "module/driver_thread.h"
#include "module/drv_variable_list.h"
#include "module/module_init.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// A driver that hands every host command to its one device.
class TSingleDeviceDriver : public framework::TDriver {
public:
    bool IsSingleDeviceMode() override { return true; }
    std::string GetModuleName() override { return "Quillary"; }
};

class ModuleInitTest : public intercom_test::IntercomTest {
protected:
    ModuleInitTest() : IntercomTest("modinit") {}
    void SetUp() override {
        IntercomTest::SetUp();
        dir_ = fs::temp_directory_path() / ("modinit-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        ::setenv("OSTROLINKA_TAGDB", (dir_ / "host.tagdb").c_str(), 1);
        saved_ = framework::Driver;
        framework::Driver = &driver_;
    }
    void TearDown() override {
        module::StopModule();
        module::DoneModule();
        framework::Driver = saved_;
        ::unsetenv("OSTROLINKA_TAGDB");
        std::error_code ec;
        fs::remove_all(dir_, ec);
        IntercomTest::TearDown();
    }
    module::TDrvInitRecord Record() const {
        module::TDrvInitRecord r{};
        const std::string d = dir_.string();
        std::memcpy(r.Directory, d.data(), d.size());
        return r;
    }
    std::string Log() const {
        return framework::ErrorObj ? platform::Utf8FromCp1251(framework::ErrorObj->Log->GetText())
                                   : std::string();
    }

    fs::path dir_;
    TSingleDeviceDriver driver_;
    framework::TDriver* saved_ = nullptr;
};

host::THostTag Tag(int32_t id, const std::string& name, const std::string& routing) {
    host::THostTag t;
    t.Id = id;
    t.Name = name;
    t.Routing = routing;
    return t;
}

TEST_F(ModuleInitTest, SingleDeviceModeBindsEveryHostVariableWithAPrefixToOneDevice) {
    ASSERT_TRUE(host::WriteHostTagDatabase(
        (dir_ / "host.tagdb").string(),
        {Tag(5, "X5", "X: DEVICE=3; ADDRESS=9"), Tag(6, "Y6", " Y : anything"), Tag(7, "NONE", ""),
         Tag(8, "X8", "x: DEVICE=1; ADDRESS=1"), Tag(9, "COLON", ":leading")}));
    // Two devices in the list: the first ones are freed until one is left.
    driver_.DeviceList->AddDevice();
    driver_.DeviceList->AddDevice()->Device->DeviceName = "kept";
    ASSERT_EQ(module::InitModule(Record()), 0);
    // No configuration file: the list is emptied, then one device is made.
    EXPECT_NE(Log().find("Конфигурационный файл не найден."), std::string::npos) << Log();
    ASSERT_EQ(driver_.DeviceList->Count(), 1);
    EXPECT_EQ(framework::PrefixList, "X::Y::x:");
    ASSERT_NE(module::VarList, nullptr);
    EXPECT_EQ(module::VarList->Count(), 3);
    const module::TDrvVariableRecord* bound = module::VarList->FindById(6);
    ASSERT_NE(bound, nullptr);
    EXPECT_EQ(bound->Domain.Get(), "OSTROLINKA");
    EXPECT_EQ(bound->Device, 1);
    EXPECT_EQ(bound->TagAddress, 6);

    // The static tags carry the single device's routing.
    ASSERT_NE(framework::Intercom, nullptr);
    framework::TDMLVariablesList& tags = framework::Intercom->DMLVariablesList;
    ASSERT_EQ(tags.GetCount(), 3);
    std::vector<std::string> routings;
    for (int32_t i = 0; i < tags.GetCount(); ++i) {
        framework::TDMLVariableEntry entry;
        ASSERT_TRUE(tags.Read(i, entry));
        routings.push_back(platform::FieldText(entry.Info.Routing));
    }
    for (const char* expected : {"OSTROLINKA: DEVICE=1; ADDRESS=5", "OSTROLINKA: DEVICE=1; ADDRESS=6",
                                 "OSTROLINKA: DEVICE=1; ADDRESS=8"})
        EXPECT_NE(std::find(routings.begin(), routings.end(), expected), routings.end()) << expected;
    EXPECT_TRUE(module::IsDriverInitialized());
}

TEST_F(ModuleInitTest, ShutdownEndsTheThreadBeforeFreeingAndAnswersMinus5Afterwards) {
    ASSERT_TRUE(host::WriteHostTagDatabase((dir_ / "host.tagdb").string(), {Tag(5, "X5", "X: 1")}));
    ASSERT_EQ(module::InitModule(Record()), 0);
    ASSERT_TRUE(platform::WaitDispatching([] { return module::RunningThreadCount.load() == 1; }, 5000));
    EXPECT_EQ(module::InitModule(Record()), -4);
    EXPECT_EQ(module::DoneModule(), 0);
    EXPECT_EQ(module::RunningThreadCount.load(), 0);
    EXPECT_EQ(module::VarList, nullptr);
    EXPECT_EQ(framework::Intercom, nullptr);
    EXPECT_EQ(framework::ErrorObj, nullptr);
    EXPECT_EQ(module::DoneModule(), -5);
    EXPECT_EQ(module::RunModule(), -5);
    EXPECT_EQ(module::StopModule(), -5);
    EXPECT_EQ(module::WriteModuleData(nullptr, 20), -5);
}

TEST_F(ModuleInitTest, ConfigurationOnlyObjectsAreFreedByTheNextInitialisationAndByShutdown) {
    ASSERT_TRUE(host::WriteHostTagDatabase((dir_ / "host.tagdb").string(), {Tag(5, "X5", "X: 1")}));
    module::TDrvInitRecord record = Record();
    record.ConfigOnly = 1;
    ASSERT_EQ(module::InitModule(record), 0);
    EXPECT_FALSE(module::IsDriverInitialized());
    ASSERT_NE(module::VarList, nullptr);
    EXPECT_EQ(framework::Intercom, nullptr);
    EXPECT_EQ(module::DoneModule(), -5);
    EXPECT_EQ(module::VarList, nullptr);
    EXPECT_EQ(framework::ErrorObj, nullptr);

    ASSERT_EQ(module::InitModule(record), 0);
    record.ConfigOnly = 0;
    ASSERT_EQ(module::InitModule(record), 0);
    EXPECT_TRUE(module::IsDriverInitialized());
    EXPECT_EQ(module::VarList->Count(), 1);
}

// A file that sets many words the reading does not take is logged in its first hundred notes and a
// line that counts the rest.
TEST_F(ModuleInitTest, NotesPastTheFirstHundredAreCountedInOneLine) {
    const std::string path = (dir_ / "Quillary.cfg").string();
    driver_.DeviceList->AddDevice();
    std::string text = driver_.DeviceList->ConfigText();
    for (int i = 102; i >= 0; --i)
        text.insert(text.find("<session") + 8, " X" + std::to_string(i) + "=\"1\"");
    std::ofstream(path, std::ios::binary) << text;
    module::TDrvInitRecord record = Record();
    record.ConfigOnly = 1;
    ASSERT_EQ(module::InitModule(record), 0);
    const std::string log = Log(), file = "Конфигурационный файл " + path + ": ";
    EXPECT_NE(
        log.find(file + "устройство №1 «New device»: атрибут X99=\"1\" ничего не задает и пропущен.: 0"),
        std::string::npos)
        << log;
    EXPECT_EQ(log.find("X100="), std::string::npos) << log;
    EXPECT_NE(log.find(file + "и еще 3 замечаний.: 0"), std::string::npos) << log;
}

TEST(OnceReport, ReportsOnceUntilTheConditionClears) {
    framework::TDriverErrorClass errors;
    framework::TDriverErrorClass* saved = framework::ErrorObj;
    framework::ErrorObj = &errors;
    module::TOnceReport report(-1, "DLM::IntercomInterface not initialized!");
    for (int i = 0; i < 5; ++i)
        report.Raise();
    EXPECT_EQ(errors.Log->GetText(), "DLM::IntercomInterface not initialized!: -1");
    report.Clear();
    report.Raise();
    report.Raise();
    EXPECT_EQ(errors.Log->GetText(),
              "DLM::IntercomInterface not initialized!: -1\r\nDLM::IntercomInterface not initialized!: -1");
    framework::ErrorObj = saved;
}

} // namespace
