// libFuzzer target: any text as a description file. A file written by hand must never crash the
// loader, and whatever it keeps must be a model the frame steps can rely on.
#include "framework/driver_error.h"
#include "modbus/edd_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class TQuietErrors : public framework::TDriverErrorClass {
public:
    void WriteMessage(int32_t, const std::string& text) override {
        if (text.empty()) std::abort(); // every message names its problem
    }
};

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckModel(modbus::TEDDV2File& file) {
    for (int32_t d = 0; d < file.Count(); ++d) {
        const modbus::TDeviceTypeRecord* device = file.Devices(d);
        Check(device->name.size() <= modbus::TEDDV2File::kMaxNameLength);
        if (d > 0) Check(file.Devices(d - 1)->name < device->name);
        Check(file.FindDevice(device->name) == device);
        for (int32_t r = 0; r < device->Requests.Count(); ++r) {
            const modbus::TDeviceRequest* request = device->Requests.Requests(r);
            Check(!request->name.empty() && request->name.size() <= 255);
            Check(request->address >= 0 && request->size > 0);
            for (int32_t i = 0; i < request->DataBlock.Count(); ++i) {
                const modbus::TDataBlockItem* item = request->DataBlock.Items(i);
                Check(item->TypeCode >= 1 && item->TypeCode <= 10);
                for (const modbus::TDataBlockItem* x = item; x != nullptr; x = x->NextSubitem.get())
                    Check(x->TypeCode <= 10 && x->ProcKind <= 3);
            }
        }
        for (int32_t c = 0; c < device->Commands.Count(); ++c) {
            const modbus::TDeviceCommand* command = device->Commands.Commands(c);
            Check(command->TypeCode != 0);
            if (c > 0) Check(device->Commands.Commands(c - 1)->tsaddress < command->tsaddress);
            Check(device->Commands.FindByTsAddress(command->tsaddress) == command);
            for (int32_t a = 0; a < command->Actions.Count(); ++a)
                Check(command->Actions.Actions(a)->address >= 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TQuietErrors errors;
    framework::ErrorObj = &errors;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));

    modbus::TEDDDeviceFile file;
    file.LoadFromStrings(lines);
    CheckModel(file);
    return 0;
}
