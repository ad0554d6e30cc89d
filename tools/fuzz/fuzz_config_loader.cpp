// libFuzzer target: any bytes as the driver's configuration file, loaded into the Modbus driver's
// device list as the module and the server load it. A file edited by hand must never crash or hang
// the load, and what it keeps must be a list the device threads can rely on.
#include "framework/device_list.h"
#include "framework/driver.h"
#include "modbus/modbus_driver.h"

#include "fuzz_input_file.h"

#include <cstdint>
#include <memory>
#include <string>

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::InputFile(data, size, ".cfg");
    Check(framework::Driver != nullptr);
    std::unique_ptr<framework::TDeviceList> list = framework::Driver->CreateDeviceList();
    list->LoadFromFile(path);
    for (int32_t i = 0; i < list->Count(); ++i) {
        const framework::TDevice* device = list->Device(i);
        Check(device->ListIndex == i);
        Check(device->DeviceName.size() <= 255);
        // The first device of a prefix and address is found by them.
        const framework::TDeviceRecord* found =
            list->FindDevice(device->RoutingPrefix, device->DeviceAddress);
        Check(found != nullptr && found->Device->DeviceAddress == device->DeviceAddress);
    }
    return 0;
}
