// The entry points the host calls. Each checks the module's state, calls one routine and returns
// a status code; only these names leave the shared object (exports.map). Nothing thrown below an
// entry point reaches the host: each body runs inside Guarded.
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom_regions.h"
#include "modbus/modbus_driver.h"
#include "module/device_setup_dialog.h"
#include "module/driver_setup_dialog.h"
#include "module/install.h"
#include "module/message_box.h"
#include "module/module_init.h"
#include "module/module_pictures.h"
#include "platform/text.h"
#include "ui/application.h"

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

// Says what ended an entry point, from inside the handler of what it threw: a line in the module's
// log and, for an entry point that shows windows, a box. Memory running out is said as memory; saying
// it may run out again, and then nothing more is said.
void SayRaised(const char* entry, bool windowed) noexcept {
    try {
        std::string cause;
        try {
            throw;
        } catch (const std::bad_alloc&) {
            cause = "не хватает памяти"_cp;
        } catch (const framework::Exception& e) {
            cause = e.Message();
        } catch (const std::exception& e) {
            cause = e.what();
        } catch (...) {
            cause = "непредвиденная ошибка"_cp;
        }
        const std::string text = "Функция "_cp + entry + " не выполнена: "_cp + cause + ".";
        framework::Report(framework::kErrReported, text);
        if (windowed && ui::OnApplicationThread())
            module::InfoBox(nullptr, "Внимание"_cp, text, false, false);
    } catch (...) {
    }
}

// The body of an entry point, which answers `failure` when anything is thrown below it.
template <class TResult, class TBody>
TResult Guarded(const char* entry, TResult failure, bool windowed, TBody&& body) noexcept {
    try {
        return body();
    } catch (...) {
        SayRaised(entry, windowed);
    }
    return failure;
}

constexpr bool kWindowed = true;
constexpr bool kNoWindow = false;

} // namespace

DLM_EXPORT bool DLMRemoveDriver(int32_t, const char* directory) {
    return Guarded("DLMRemoveDriver", false, kNoWindow, [&] {
        // Nothing of a released driver is left to remove.
        return NoDriver() || module::RemoveDriver(*framework::Driver, directory);
    });
}

// The log window is not owned by the host's window: that belongs to another toolkit. It is modal to
// the whole application instead.
DLM_EXPORT bool DLMInstallDriver(platform::HWND, const char* sourceDir, const char* targetDir) {
    return Guarded("DLMInstallDriver", false, kWindowed, [&] {
        return !NoDriver() && module::InstallDriver(*framework::Driver, sourceDir, targetDir);
    });
}

// Like the install's log window, the setup windows are modal to the whole application rather than
// owned by the host's window.
DLM_EXPORT bool DLMSetupDeviceDrv(platform::HWND parent) {
    return Guarded("DLMSetupDeviceDrv", false, kWindowed,
                   [&] { return !NoDriver() && module::SetupDriver(parent, module::ModuleDirectory()); });
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
    return Guarded("DLMWriteDataDrv", framework::kErrReported, kNoWindow,
                   [&] { return module::WriteModuleData(block, size); });
}

DLM_EXPORT int32_t DLMStopDeviceDrv() {
    return Guarded("DLMStopDeviceDrv", framework::kErrReported, kNoWindow,
                   [] { return module::StopModule(); });
}

DLM_EXPORT int32_t DLMRunDeviceDrv() {
    return Guarded("DLMRunDeviceDrv", framework::kErrReported, kNoWindow, [] { return module::RunModule(); });
}

DLM_EXPORT int32_t DLMDoneDeviceDrv() {
    return Guarded("DLMDoneDeviceDrv", framework::kErrReported, kNoWindow, [] {
        if (NoDriver()) return kNoDriver;
        const int32_t result = module::DoneModule();
        DriverReleased = true;
        // A module thread that would not end may still reach the driver object: it stays.
        if (!module::ModuleThreadLeftRunning()) {
            delete framework::Driver;
            framework::Driver = nullptr;
        }
        return result;
    });
}

DLM_EXPORT int32_t DLMInitDeviceDrv(module::TDrvInitRecord record) {
    return Guarded("DLMInitDeviceDrv", framework::kErrReported, kNoWindow, [&] {
        if (NoDriver()) return kNoDriver;
        framework::ServerSlotIndex = 0;
        return module::InitModule(record);
    });
}

DLM_EXPORT int32_t DLMGetDeviceInfo(framework::TDeviceInfoRecord* info) {
    return Guarded("DLMGetDeviceInfo", framework::kErrReported, kNoWindow, [&] {
        if (NoDriver()) return kNoDriver;
        if (info == nullptr) return framework::kErrBadArguments;
        framework::Driver->GetDeviceInfo(*info);
        return 0;
    });
}

// Like the install's log window, these windows are modal to the whole application rather than owned
// by the host's window. A released driver shows none of them.
DLM_EXPORT void DLMShowLogList(platform::HWND parent) {
    Guarded("DLMShowLogList", 0, kWindowed, [&] {
        if (!NoDriver()) module::ShowLogWindow(parent);
        return 0;
    });
}

DLM_EXPORT void DLMAbout(platform::HWND parent) {
    Guarded("DLMAbout", 0, kWindowed, [&] {
        if (!NoDriver()) module::ShowAboutDialog(parent);
        return 0;
    });
}

// -7 where no window can be made on the calling thread: it was never shown.
DLM_EXPORT int32_t DLMShowState(platform::HWND parent) {
    return Guarded("DLMShowState", framework::kErrReported, kWindowed, [&] {
        if (!module::IsDriverInitialized()) return framework::kErrNotInitialized;
        return module::ShowTerminalWindow(parent) ? 0 : framework::kErrNotSupported;
    });
}
