// libFuzzer target: any bytes as the driver's configuration file, loaded into the Modbus driver's
// device list as the module and the server load it. A file edited by hand must never crash or hang
// the load, and what it keeps must be a list the device threads can rely on. A list that a file
// gave, saved and loaded again, holds the same settings and devices, and a second save writes the
// same bytes.
#include "framework/device_list.h"
#include "framework/driver.h"
#include "modbus/modbus_driver.h"

#include "fuzz_input_file.h"

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

using fuzz::Check;

namespace {

struct TSettings {
    bool ThreadOnPort, ErrorMngrDisabled;
    int32_t GeneralCommandInterval;
    bool AutoRunServer;
    int32_t CheckServerInterval;
    bool RAPEnabled;
    uint16_t RAPPort;
    bool operator==(const TSettings&) const = default;
};

TSettings CurrentSettings() {
    namespace f = framework;
    return {f::ThreadOnPort,  f::ErrorMngrDisabled,   f::GeneralCommandInterval,
            f::AutoRunServer, f::CheckServerInterval, f::RAPEnabled,
            f::RAPPort};
}

// Every setting the load reads other than the saved one, so that one the save leaves out or the
// load passes over shows as a difference instead of surviving in the process. A driver without
// remote access leaves that pair as it is.
void SetOtherThan(const TSettings& s) {
    namespace f = framework;
    f::ThreadOnPort = !s.ThreadOnPort;
    f::ErrorMngrDisabled = !s.ErrorMngrDisabled;
    f::GeneralCommandInterval = s.GeneralCommandInterval ^ 1;
    f::AutoRunServer = !s.AutoRunServer;
    f::CheckServerInterval = s.CheckServerInterval ^ 1;
    if (!f::Driver->SupportsRemoteAccess()) return;
    f::RAPEnabled = !s.RAPEnabled;
    f::RAPPort = static_cast<uint16_t>(s.RAPPort ^ 1);
}

bool SameProperties(const framework::TDevice* a, const framework::TDevice* b) {
    if (a->Properties->Count() != b->Properties->Count()) return false;
    for (int32_t i = 0; i < a->Properties->Count(); ++i) {
        const framework::TDeviceProperty* p = a->Properties->Property(i);
        const framework::TDeviceProperty* q = b->Properties->Property(i);
        if (p->Name != q->Name || p->Value != q->Value) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::InputFile(data, size, ".cfg");
    Check(framework::Driver != nullptr);
    std::unique_ptr<framework::TDeviceList> list = framework::Driver->CreateDeviceList();
    const framework::TConfigLoad load = list->LoadFromFile(path);
    for (int32_t i = 0; i < list->Count(); ++i) {
        const framework::TDevice* device = list->Device(i);
        Check(device->ListIndex == i);
        Check(device->DeviceName.size() <= 255);
        // The first device of a prefix and address is found by them.
        const framework::TDeviceRecord* found =
            list->FindDevice(device->RoutingPrefix, device->DeviceAddress);
        Check(found != nullptr && found->Device->DeviceAddress == device->DeviceAddress);
    }
    if (!load.Read) return 0;

    static const fuzz::TRemovedAtExit saved{path + ".saved"};
    const TSettings settings = CurrentSettings();
    // The one thing a readable file may hold that no save can write back: a comment's opening in a
    // value, which a comment after it in the file closed. Such a save is refused and writes nothing.
    bool writable = true;
    for (int32_t i = 0; i < list->Count(); ++i)
        for (int32_t k = 0; k < list->Device(i)->Properties->Count(); ++k)
            writable =
                writable && list->Device(i)->Properties->Property(k)->Value.find("<!--") == std::string::npos;
    ::unlink(saved.path.c_str());
    Check(list->SaveToFile(saved.path) == writable);
    if (!writable) {
        Check(::access(saved.path.c_str(), F_OK) != 0);
        return 0;
    }
    const std::string first = fuzz::FileBytes(saved.path);
    SetOtherThan(settings);
    std::unique_ptr<framework::TDeviceList> again = framework::Driver->CreateDeviceList();
    Check(again->LoadFromFile(saved.path).Read);
    Check(CurrentSettings() == settings && again->Count() == list->Count());
    for (int32_t i = 0; i < list->Count(); ++i)
        Check(SameProperties(list->Device(i), again->Device(i)));
    Check(again->SaveToFile(saved.path) && fuzz::FileBytes(saved.path) == first);
    return 0;
}
