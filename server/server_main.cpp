// Quillary.srv: started by the driver module; polls the devices and hands the values over through
// the exchange area while the module's run flag says so.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "framework/intercom.h"
#include "modbus/modbus_driver.h"
#include "platform/messages.h"
#include "platform/shared_memory.h"
#include "server/server_error.h"
#include "server/server_window.h"
#include "ui/application.h"

namespace {

std::string ProgramDirectory() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string() + "/";
}

} // namespace

int main(int argc, char** argv) {
    // The module's command-line argument is not used.
    (void)argc;
    (void)argv;
    framework::ServerSlotIndex = 0;
    if (framework::Driver == nullptr) return 0;
    server::CfgPath = ProgramDirectory() + framework::Driver->GetConfigFileName();
    std::error_code ec;
    if (!std::filesystem::exists(server::CfgPath, ec)) return 0;

    std::unique_ptr<framework::TIntercomInterface> area =
        framework::TIntercomInterface::Open(framework::Driver->GetIntercomName());
    // Without window handles the server could neither register its window nor see the host's: it
    // ends as without an area.
    if (!area || !area->IsOpen() || !platform::WindowsAvailable()) return 0;
    framework::Intercom = area.get();
    // Another server serves this area: leave its slot alone.
    if (server::IsServerRunning()) {
        framework::Intercom = nullptr;
        return 0;
    }

    try {
        ui::Application().Initialize();
        ui::Application().SetTitle("");
        server::TServerWindow window;
        ui::Application().Run(window);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Quillary.srv: %s\n", e.what());
    } catch (...) {
    }

    if (server::TServerWindow::ThreadsLeftRunning()) {
        // A device thread still runs and may use the driver and the area: free nothing it may
        // touch, and skip the destructors of the units that own them. The blocks' names are given
        // up all the same, so that the last of the system's processes removes them.
        server::ClearOwnSlot();
        std::fflush(nullptr);
        platform::ExitReleasingNames(0);
    }
    delete framework::Driver;
    framework::Driver = nullptr;
    server::ClearOwnSlot();
    framework::Intercom = nullptr;
    area.reset();
    return 0;
}
