// The driver object, one per process (global Driver): owner of the master device list, factory of
// devices and device lists, names and captions, the identity record for the host, configuration load
// and save, the debug settings. A protocol derives its own driver from it.
//
// C++ calls no override from a base constructor or destructor: a driver that overrides
// CreateDeviceList makes its list in its own constructor (`DeviceList = CreateDeviceList();`), and
// one that overrides Done calls Shutdown() in its own destructor.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "framework/device.h"
#include "framework/device_list.h"
#include "platform/messages.h"

namespace framework {

class TThreadsList;

#pragma pack(push, 1)
// The identity record the host asks for; zeroed before it is filled.
struct TDeviceInfoRecord {
    uint8_t GUID[16];      // in the platform's GUID byte order
    char Title[101];       // zero-terminated, at most 100 characters
    int32_t Int117;        // -1
    int32_t Int121;        // -1
    int32_t Int125;        // -1
    int32_t Int129;        // -1
    int32_t Int133;        // 100
    int32_t Int137;        // 100
    char PrefixList[1025]; // zero-terminated, at most 1024 characters
};
#pragma pack(pop)
static_assert(sizeof(TDeviceInfoRecord) == 1166);
static_assert(offsetof(TDeviceInfoRecord, GUID) == 0);
static_assert(offsetof(TDeviceInfoRecord, Title) == 16);
static_assert(offsetof(TDeviceInfoRecord, Int117) == 117);
static_assert(offsetof(TDeviceInfoRecord, Int121) == 121);
static_assert(offsetof(TDeviceInfoRecord, Int125) == 125);
static_assert(offsetof(TDeviceInfoRecord, Int129) == 129);
static_assert(offsetof(TDeviceInfoRecord, Int133) == 133);
static_assert(offsetof(TDeviceInfoRecord, Int137) == 137);
static_assert(offsetof(TDeviceInfoRecord, PrefixList) == 141);

class TDriver {
public:
    TDriver();
    virtual ~TDriver();
    TDriver(const TDriver&) = delete;
    TDriver& operator=(const TDriver&) = delete;

    // False with the log line in why when the file was not written.
    virtual bool SaveConfig(const std::string& fileName, std::string* why = nullptr);
    // Loads the master list and remembers what the load found (LastConfigLoad).
    virtual TConfigLoad LoadConfig(const std::string& fileName);
    virtual void BeforeSetup();
    virtual void CancelSetup();
    virtual void BeforeInit();
    virtual void GetDeviceInfo(TDeviceInfoRecord& info);
    // The file-name stem of the driver, base of the file and shared-memory names.
    virtual std::string GetModuleName();
    // The short name, also the root element of the configuration file.
    virtual std::string GetShortName();
    virtual std::string GetSetupCaption();
    virtual std::string GetAboutText();
    virtual std::string GetCaption();
    virtual bool SupportsRemoteAccess();
    // True makes one device take every host command.
    virtual bool IsSingleDeviceMode();
    virtual std::unique_ptr<TDevice> CreateDevice();
    virtual std::unique_ptr<TDeviceList> CreateDeviceList();
    // The server's device threads; made empty, CreateThreads fills it.
    virtual std::unique_ptr<TThreadsList> CreateThreadsList();
    // Reads the debug settings from the settings file beside configPath.
    virtual bool Init(bool configOnly, const std::string& configPath);
    virtual bool Done();
    virtual bool HasAdditionalSettings();
    // How many settings were edited; the base edits none.
    virtual int32_t EditAdditionalSettings(platform::HWND parentWindow, TDeviceList* devices);

    std::string GetConfigFileName();
    std::string GetServerFileName();
    std::string GetIntercomName();

    // What the destructor does: frees the master list, then Done. Runs once.
    void Shutdown();

    // The base short name, for code that runs without a driver object.
    static std::string BaseShortName();

    std::unique_ptr<TDeviceList> DeviceList;
    // What the last LoadConfig found; after a save, a file that reads.
    TConfigLoad LastConfigLoad;

private:
    bool shutDown_ = false;
};

// The process's driver object, made by the protocol's start-up; nullptr while there is none.
extern TDriver* Driver;

// Debug settings, section "debugger" of the settings file.
extern std::atomic<bool> ImitatorEnabled;     // polls run the imitator instead of the device
extern std::atomic<int32_t> ImitatorRate;     // >= 0 replaces an imitated device's poll interval
extern std::atomic<bool> ImitatorStateChange; // imitated polls alternate the link-state tag

// The module's routing-prefix list, as the identity record carries it.
extern std::string PrefixList;

// Serialises the device threads' access-lock reads and received-value writes. It exists for the
// whole life of the program, so no thread can ever find it gone.
extern std::mutex DriverLock;

// The framework's shared state, counted so that every unit that needs it may ask for it; the last
// finalisation clears the framework's texts.
void InitializeFramework();
void FinalizeFramework();

} // namespace framework
