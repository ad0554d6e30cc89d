// Every button on the module's windows, as they stand built, is a styled one.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "modbus/modbus_device.h"
#include "modbus/modbus_driver.h"
#include "module/about_dialog.h"
#include "module/device_setup_dialog.h"
#include "module/driver_setup_dialog.h"
#include "module/install.h"
#include "module/log_window.h"
#include "module/message_box.h"
#include "module/terminal_window.h"
#include "styledbuttons/button_clicks.h"
#include "ui/application.h"
#include "ui/control_test_access.h"
#include "ui/ui_test_support.h"

namespace {

TEST(ModuleWindowButtons, NoPlainButtonOnAnyWindowOrPage) {
    ui::EnsureApplication();
    modbus::TModbusrtu_Driver driver;
    driver.DeviceList->AddDevice();
    modbus::TModbus_Device device;
    framework::TDevicePropertyList& properties = *device.Properties;
    const std::pair<const char*, std::function<std::unique_ptr<ui::TForm>()>> windows[] = {
        {"install", [] { return std::make_unique<module::TInstallProcDialog>(); }},
        {"driver setup", [&] { return std::make_unique<module::TDriverSetupDlg>(driver); }},
        {"device setup", [&] { return std::make_unique<module::TDeviceSetupDialog>(device, &properties); }},
        {"value editor",
         [&] { return std::make_unique<module::TSettingEditor>(&properties, "VarConnectStateName"); }},
        {"state", [] { return std::make_unique<module::TTerminalWindow>(); }},
        {"log", [] { return std::make_unique<module::TLogWindow>(); }},
        {"about", [] { return std::make_unique<module::TAboutDialog>(); }},
        {"message box", [] { return std::make_unique<module::TMessageBoxDialog>(); }},
    };
    for (const auto& [name, make] : windows) {
        const std::unique_ptr<ui::TForm> window = make();
        EXPECT_EQ(sbtest::PlainButtons(uitest::WidgetOf(*window)), std::vector<std::string>()) << name;
    }
}

} // namespace
