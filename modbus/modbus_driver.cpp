#include "modbus/modbus_driver.h"

#include <cstring>
#include <filesystem>

#include "framework/tcp_connection.h"
#include "modbus/edd_file.h"
#include "modbus/modbus_device.h"
#include "platform/text.h"

using framework::TDevicePropertyList;
using framework::TOstrolinkaConnection;

namespace modbus {

namespace {

constexpr uint8_t kGuid[16] = {0x97, 0x63, 0x12, 0x54, 0x74, 0x00, 0x49, 0x47,
                               0x88, 0x1F, 0x32, 0x0C, 0x44, 0xFE, 0xE4, 0xBB};

// The unit's texts, set when the driver is made and cleared at finalisation. Made on first use, so
// that the unit may start before the rest of this file's globals.
std::string& TitleText() {
    static std::string text;
    return text;
}
std::string& ShortNameText() {
    static std::string text;
    return text;
}

// Made on the first call; destroyed at unload.
struct TModbusDriverUnit {
    // The framework's shared state is its own unit's: DriverLock is constant-initialised and so
    // exists before any code runs, and the framework's texts are set by its own initialisation,
    // which must not be asked for from here while its globals may not be initialised yet.
    TModbusDriverUnit() {
        TitleText() = "Драйвер протокола MODBUS RTU. Версия 4.0"_cp;
        ShortNameText() = "KESTRAN";
        framework::Driver = new TModbusrtu_Driver;
    }
    ~TModbusDriverUnit() {
        // The module's done export may have freed it already.
        delete framework::Driver;
        framework::Driver = nullptr;
        TitleText().clear();
        ShortNameText().clear();
    }
};

// Made at load also in a program that never includes the header.
[[maybe_unused]] const int UnitReady = InitializeModbusDriverUnit();

} // namespace

int InitializeModbusDriverUnit() {
    static TModbusDriverUnit unit;
    return 1;
}

// ---- TMyDeviceList

std::unique_ptr<TOstrolinkaConnection> TMyDeviceList::CreateConnection(TDevicePropertyList* properties) {
    if (IsTcpConnection(properties)) return std::make_unique<framework::TTCPBadLineConnection>(properties);
    return std::make_unique<framework::TRS232_Connection>(properties);
}

// ---- TModbusrtu_Driver

TModbusrtu_Driver::TModbusrtu_Driver() {
    // The base constructor could only make the base list.
    DeviceList = CreateDeviceList();
}

TModbusrtu_Driver::~TModbusrtu_Driver() {
    Shutdown();
}

void TModbusrtu_Driver::GetDeviceInfo(framework::TDeviceInfoRecord& info) {
    // The base zeroes the record and fills the fields this driver shares with it.
    TDriver::GetDeviceInfo(info);
    std::memcpy(info.GUID, kGuid, sizeof info.GUID);
    platform::SetFieldText(info.Title, TitleText());
}

std::string TModbusrtu_Driver::GetModuleName() {
    return "Quillary";
}

std::string TModbusrtu_Driver::GetShortName() {
    return ShortNameText();
}

std::string TModbusrtu_Driver::GetSetupCaption() {
    return "Свойства драйвера MODBUS RTU..."_cp;
}

std::string TModbusrtu_Driver::GetAboutText() {
    return "\r\n" +
           "Драйвер обмена данными с периферийными устройствами по протоколу  MODBUS RTU (Master)."_cp +
           "\r\n\r\n" + "Версия 4.0"_cp + "\r\n\r\n";
}

std::string TModbusrtu_Driver::GetCaption() {
    return "Драйвер протоколоа MODBUS RTU"_cp;
}

std::unique_ptr<framework::TDevice> TModbusrtu_Driver::CreateDevice() {
    return std::make_unique<TModbus_Device>();
}

std::unique_ptr<framework::TDeviceList> TModbusrtu_Driver::CreateDeviceList() {
    return std::make_unique<TMyDeviceList>();
}

bool TModbusrtu_Driver::Init(bool configOnly, const std::string& configPath) {
    // The base also points the serial port names at the settings file beside configPath.
    bool result = TDriver::Init(configOnly, configPath);
    auto model = std::make_unique<TEDDDeviceFile>();
    model->Prepare();
    const std::string path = std::filesystem::path(configPath).replace_extension(".edd").string();
    // Whatever the name holds is loaded, so that a file that cannot be read fails the load and says why.
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        model->FreeAll();
        result = model->LoadFromFile(path);
    }
    // The model is published whole, and the one it replaces is freed rather than left behind.
    TEDDDeviceFile* previous = DeviceDescriptions;
    DeviceDescriptions = model.release();
    delete previous;
    return result;
}

bool TModbusrtu_Driver::Done() {
    delete DeviceDescriptions;
    DeviceDescriptions = nullptr;
    return TDriver::Done();
}

} // namespace modbus
