// The driver object of the system and its device list: names, identity record, Modbus devices, and
// the description file loaded at Init. The unit makes the global Driver when the program or module
// is loaded and frees it at unload, unless the module's done export freed it first.
#pragma once

#include <memory>
#include <string>

#include "framework/device_list.h"
#include "framework/driver.h"

namespace modbus {

class TMyDeviceList : public framework::TDeviceList {
public:
    // TCP through a converter only for "TCP/IP" exactly; every other kind is a serial port.
    std::unique_ptr<framework::TOstrolinkaConnection>
    CreateConnection(framework::TDevicePropertyList* properties) override;
};

class TModbusrtu_Driver : public framework::TDriver {
public:
    TModbusrtu_Driver();
    ~TModbusrtu_Driver() override;

    void GetDeviceInfo(framework::TDeviceInfoRecord& info) override;
    std::string GetModuleName() override;
    std::string GetShortName() override;
    std::string GetSetupCaption() override;
    std::string GetAboutText() override;
    std::string GetCaption() override;
    std::unique_ptr<framework::TDevice> CreateDevice() override;
    std::unique_ptr<framework::TDeviceList> CreateDeviceList() override;
    // The base settings, then a new description model from the ".edd" file beside configPath;
    // with such a file the result is that of loading it.
    bool Init(bool configOnly, const std::string& configPath) override;
    // Frees the description model.
    bool Done() override;
};

// Makes the unit's driver object once; a program that includes this header links the unit, and the
// driver exists before any of that program's own start-up code can ask for it.
int InitializeModbusDriverUnit();
[[maybe_unused]] static const int ModbusDriverUnitReady = InitializeModbusDriverUnit();

} // namespace modbus
