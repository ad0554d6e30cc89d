// The entry points the host calls. Each checks the module's state, calls one routine and returns
// a status code; only these names leave the shared object (exports.map).
#include <cstdint>

#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom_regions.h"
#include "modbus/modbus_driver.h"
#include "module/device_setup_dialog.h"
#include "module/driver_setup_dialog.h"
#include "module/install.h"
#include "module/module_init.h"
#include "module/module_pictures.h"

#include "module/about_dialog.h"
#include "module/log_window.h"
#include "module/terminal_window.h"

#define DLM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kNoDriver = -1;

// Set by the shutdown: later calls find no driver object, even when it had to stay in memory.
bool DriverReleased = false;

bool NoDriver() {
    return DriverReleased || framework::Driver == nullptr;
}

} // namespace

DLM_EXPORT bool DLMRemoveDriver(int32_t, const char* directory) {
    // Nothing of a released driver is left to remove.
    if (NoDriver()) return true;
    return module::RemoveDriver(*framework::Driver, directory);
}

// The log window is not owned by the host's window: that belongs to another toolkit. It is modal to
// the whole application instead.
DLM_EXPORT bool DLMInstallDriver(platform::HWND, const char* sourceDir, const char* targetDir) {
    if (NoDriver()) return false;
    return module::InstallDriver(*framework::Driver, sourceDir, targetDir);
}

// Like the install's log window, the setup windows are modal to the whole application rather than
// owned by the host's window.
DLM_EXPORT bool DLMSetupDeviceDrv(platform::HWND parent) {
    if (NoDriver()) return false;
    return module::SetupDriver(parent, module::ModuleDirectory());
}

DLM_EXPORT int32_t DLMGetErrorStr(int32_t, int32_t, int32_t) {
    return 0;
}

DLM_EXPORT int32_t DLMSinhronize(int32_t) {
    return framework::kErrNotSupported;
}

DLM_EXPORT int32_t DLMReadDataDrv(int32_t, int32_t) {
    return framework::kErrNotSupported;
}

DLM_EXPORT int32_t DLMWriteDataDrv(const void* block, int32_t size) {
    return module::WriteModuleData(block, size);
}

DLM_EXPORT int32_t DLMStopDeviceDrv() {
    return module::StopModule();
}

DLM_EXPORT int32_t DLMRunDeviceDrv() {
    return module::RunModule();
}

DLM_EXPORT int32_t DLMDoneDeviceDrv() {
    if (NoDriver()) return kNoDriver;
    const int32_t result = module::DoneModule();
    DriverReleased = true;
    // A module thread that would not end may still reach the driver object: it stays.
    if (!module::ModuleThreadLeftRunning()) {
        delete framework::Driver;
        framework::Driver = nullptr;
    }
    return result;
}

DLM_EXPORT int32_t DLMInitDeviceDrv(module::TDrvInitRecord record) {
    if (NoDriver()) return kNoDriver;
    framework::ServerSlotIndex = 0;
    return module::InitModule(record);
}

DLM_EXPORT int32_t DLMGetDeviceInfo(framework::TDeviceInfoRecord* info) {
    if (NoDriver()) return kNoDriver;
    if (info == nullptr) return framework::kErrBadArguments;
    framework::Driver->GetDeviceInfo(*info);
    return 0;
}

// Like the install's log window, these windows are modal to the whole application rather than owned
// by the host's window. A released driver shows none of them.
DLM_EXPORT void DLMShowLogList(platform::HWND parent) {
    if (!NoDriver()) module::ShowLogWindow(parent);
}

DLM_EXPORT void DLMAbout(platform::HWND parent) {
    if (!NoDriver()) module::ShowAboutDialog(parent);
}

// -7 where no window can be made on the calling thread: it was never shown.
DLM_EXPORT int32_t DLMShowState(platform::HWND parent) {
    if (!module::IsDriverInitialized()) return framework::kErrNotInitialized;
    return module::ShowTerminalWindow(parent) ? 0 : framework::kErrNotSupported;
}
