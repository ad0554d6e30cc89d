#include "framework/driver.h"

#include <cstring>

#include "framework/connection.h"
#include "framework/threads_list.h"
#include "framework/utilities.h"
#include "platform/text.h"

namespace framework {

TDriver* Driver = nullptr;

std::atomic<bool> ImitatorEnabled{false};
std::atomic<int32_t> ImitatorRate{-1};
std::atomic<bool> ImitatorStateChange{false};

std::string PrefixList;
std::mutex DriverLock;

namespace {

// The framework's texts, set by the first initialisation and cleared by the last finalisation.
// Function-local, so that another unit's start-up may initialise the framework before this file's
// own globals are constructed.
std::string& ShortNameText() {
    static std::string text;
    return text;
}
std::string& TitleText() {
    static std::string text;
    return text;
}
int UnitReferences = 0;
std::mutex UnitLock;

constexpr uint8_t kBaseGuid[16] = {0x19, 0xBA, 0x9B, 0x48, 0x8F, 0xC5, 0xEB, 0x46,
                                   0xA3, 0x59, 0x9B, 0x38, 0x62, 0x5F, 0x37, 0xC2};

// The extension after the last dot of the file name (not of a folder) is replaced, or added.
std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

struct TFrameworkUnit {
    TFrameworkUnit() { InitializeFramework(); }
    ~TFrameworkUnit() { FinalizeFramework(); }
} FrameworkUnit;

} // namespace

void InitializeFramework() {
    std::lock_guard<std::mutex> guard(UnitLock);
    if (UnitReferences++ != 0) return;
    ShortNameText() = "VELTRA";
    TitleText() = "Abstract device driver. Версия 1.0"_cp;
}

void FinalizeFramework() {
    std::lock_guard<std::mutex> guard(UnitLock);
    if (UnitReferences == 0 || --UnitReferences != 0) return;
    ShortNameText().clear();
    TitleText().clear();
    PrefixList.clear();
}

TDriver::TDriver() : DeviceList(CreateDeviceList()) {}

TDriver::~TDriver() {
    Shutdown();
}

void TDriver::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    DeviceList.reset();
    Done();
}

bool TDriver::SaveConfig(const std::string& fileName, std::string* why) {
    std::size_t digest = 0;
    if (!DeviceList->SaveToFile(fileName, why, &digest)) return false;
    LastConfigLoad = TConfigLoad();
    LastConfigLoad.Read = true;
    LastConfigLoad.Digest = digest;
    return true;
}

TConfigLoad TDriver::LoadConfig(const std::string& fileName) {
    LastConfigLoad = DeviceList->LoadFromFile(fileName);
    return LastConfigLoad;
}

void TDriver::BeforeSetup() {}

void TDriver::CancelSetup() {}

void TDriver::BeforeInit() {}

void TDriver::GetDeviceInfo(TDeviceInfoRecord& info) {
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.GUID, kBaseGuid, sizeof info.GUID);
    platform::SetFieldText(info.Title, TitleText());
    info.Int117 = -1;
    info.Int121 = -1;
    info.Int125 = -1;
    info.Int129 = -1;
    info.Int133 = 100;
    info.Int137 = 100;
    platform::SetFieldText(info.PrefixList, PrefixList);
}

// Only derived drivers are used; the base stem just keeps the names well formed.
std::string TDriver::GetModuleName() {
    return "AbstractDriver";
}

std::string TDriver::GetShortName() {
    return ShortNameText();
}

std::string TDriver::BaseShortName() {
    return ShortNameText();
}

std::string TDriver::GetSetupCaption() {
    return "Свойства драйвера..."_cp;
}

std::string TDriver::GetAboutText() {
    return "\r\n" +
           "Абстрактный драйвер обмена данными с периферийными устройствами по алгоритму SEND/RECEIVE (Master)."_cp +
           "\r\n\r\n" + "Версия 1.0 Сборка 20012011"_cp;
}

std::string TDriver::GetCaption() {
    return "Abstract device driver";
}

bool TDriver::SupportsRemoteAccess() {
    return false;
}

bool TDriver::IsSingleDeviceMode() {
    return false;
}

std::unique_ptr<TDevice> TDriver::CreateDevice() {
    return std::make_unique<TDevice>();
}

std::unique_ptr<TDeviceList> TDriver::CreateDeviceList() {
    return std::make_unique<TDeviceList>();
}

std::unique_ptr<TThreadsList> TDriver::CreateThreadsList() {
    return std::make_unique<TThreadsList>();
}

bool TDriver::Init(bool, const std::string& configPath) {
    const std::string ini = ChangeFileExt(configPath, ".ini");
    ImitatorEnabled = IniReadBool(ini, "debugger", "imitator", ImitatorEnabled);
    ImitatorRate = IniReadInteger(ini, "debugger", "rate", -1);
    ImitatorStateChange = IniReadBool(ini, "debugger", "state_change", ImitatorStateChange);
    // "COMn" port names map through section "ports" of the same settings file.
    SetSerialPortsFile(ini);
    return true;
}

bool TDriver::Done() {
    return true;
}

bool TDriver::HasAdditionalSettings() {
    return false;
}

int32_t TDriver::EditAdditionalSettings(platform::HWND, TDeviceList*) {
    return 0;
}

std::string TDriver::GetConfigFileName() {
    return GetModuleName() + ".cfg";
}

std::string TDriver::GetServerFileName() {
    return GetModuleName() + ".srv";
}

std::string TDriver::GetIntercomName() {
    return GetModuleName() + ".dat";
}

} // namespace framework
