#include "module/module_init.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/tag_routing.h"
#include "hostapi/variables_library.h"
#include "module/commands_buffer.h"
#include "module/driver_thread.h"
#include "module/drv_variable_list.h"
#include "module/dynamic_tags.h"
#include "module/module_log.h"
#include "module/received_buffer.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace module {

TDRVVariableList* VarList = nullptr;
TCommandsBuffer* CommandsBuffer = nullptr;
TReceivedBuffer* ReceivedBuffer = nullptr;
TDynamicTagList* DynTagList = nullptr;
TDriverThread* DriverThread = nullptr;

TDrvInitRecord InitRecord{};
std::string CfgPath;
std::atomic<int32_t> ThreadDelayTime{100};
std::atomic<uint8_t> StopFlag{0};
std::atomic<int32_t> RunningThreadCount{0};
std::mutex MasterListLock;
std::atomic<bool> UnsavedSetup{false};

namespace {

// How long the stop and the shutdown wait for the module thread.
constexpr uint32_t kThreadWaitMs = 10000;

// A module thread that did not stop at shutdown was left to itself with the objects it uses.
bool ThreadLeftRunning = false;
// Set while the shutdown runs: its wait for the thread lets the host's handlers run, and they neither
// make nor free the module's objects meanwhile.
bool ShutdownRunning = false;
// Set while the stop waits for the thread: a run meanwhile would mark running a module whose thread
// was told to end.
bool StopRunning = false;

// The owner of the exchange area that framework::Intercom points to.
std::unique_ptr<framework::TIntercomInterface> Area;

using framework::Report;

std::string PrefixError() {
    return "Устройству приписан пустой префикс или такого префикса нет в базе тегов."_cp;
}

template <class T> void FreeObject(T*& object) {
    delete object;
    object = nullptr;
}

void FreeErrorObject() {
    delete framework::ErrorObj;
    framework::ErrorObj = nullptr;
}

void FreeArea() {
    framework::Intercom = nullptr;
    Area.reset();
}

// What an initialisation made before the thread: an earlier configuration-only one leaves these.
void FreeModuleObjects() {
    FreeObject(DynTagList);
    FreeObject(ReceivedBuffer);
    FreeObject(CommandsBuffer);
    FreeObject(VarList);
    FreeErrorObject();
    FreeArea();
}

std::string ChangeExtension(const std::string& path, const std::string& ext) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

// The "A::B:" text of prefixes, each once, in the order first seen. A prefix is there when ":prefix:"
// stands in the text: while no prefix holds a colon that is a set lookup; one that does could stand
// across two others, and from then on the text is searched.
class TPrefixText {
public:
    // False when the prefix is there already.
    bool Add(const std::string& prefix) {
        const std::string entry = ":" + prefix + ":";
        colons_ = colons_ || prefix.find(':') != std::string::npos;
        if (colons_ ? text_.find(entry) != std::string::npos : seen_.count(prefix) != 0) return false;
        seen_.insert(prefix);
        text_ += entry;
        return true;
    }
    std::string Text() const { return text_.empty() ? text_ : text_.substr(1); }

private:
    std::string text_;
    std::unordered_set<std::string> seen_;
    bool colons_ = false;
};

// Binds the domains of the devices' routing prefixes, each once, into the ":A::B:" list.
bool BuildDevicePrefixList(std::string& list) {
    bool result = true;
    TPrefixText text;
    framework::TDeviceList& devices = *framework::Driver->DeviceList;
    for (int32_t i = 0; i < devices.Count(); ++i) {
        framework::TDevice* device = devices.Device(i);
        if (device == nullptr) continue;
        const std::string prefix = platform::UpperCase(device->RoutingPrefix);
        if (prefix.empty()) {
            Report(framework::kErrNoPrefix, PrefixError());
            continue;
        }
        if (!text.Add(prefix)) continue;
        if (!VarList->LoadDomain(prefix.substr(0, 255))) result = false;
    }
    VarList->RebuildIndex();
    list = text.Text();
    return result;
}

// Single-device mode: every host variable whose routing names a prefix is bound.
bool BuildHostPrefixList(std::string& list) {
    list.clear();
    TPrefixText text;
    hostapi::VLHandle handle = nullptr;
    if (VLGetVariablesListByType(0, 0, 0, &handle) != 0 || handle == nullptr) return false;
    const auto* block = static_cast<const unsigned char*>(handle);
    int32_t count = 0;
    std::memcpy(&count, block + hostapi::kVLListCountOffset, sizeof count);
    for (int32_t i = 0; i < count; ++i) {
        hostapi::TVLVariableInfo info;
        std::memcpy(&info, block + hostapi::kVLListRecordsOffset + sizeof info * static_cast<std::size_t>(i),
                    sizeof info);
        const std::string routing = platform::Trim(platform::FieldText(info.Routing));
        const std::size_t colon = routing.find(':');
        const std::string prefix = colon != std::string::npos && colon != 0
                                       ? platform::Trim(routing.substr(0, colon))
                                       : std::string();
        if (prefix.empty()) continue;
        text.Add(prefix);
        VarList->AddVariable(info);
    }
    VLFreeResource(&handle);
    VarList->RebuildIndex();
    list = text.Text();
    return true;
}

// The static-tag region holds the host's record of every bound variable.
void FillStaticTags(bool singleDevice) {
    for (int32_t i = 0; i < VarList->Count(); ++i) {
        const TDrvVariableRecord* record = VarList->RecordAt(i);
        hostapi::TVLVariableInfo info;
        std::memset(&info, 0, sizeof info);
        int32_t reserved = 0;
        if (VLGetVariableInfoById(record->VariableId, &reserved, &info) != 0) continue;
        if (singleDevice)
            platform::SetFieldText(info.Routing,
                                   "OSTROLINKA: DEVICE=1; ADDRESS=" + platform::IntToStr(record->VariableId));
        framework::Intercom->DMLVariablesList.Add(info);
    }
}

// The host tag names of the devices become dynamic tags. The access-lock tag is left out: the
// server reads it from the host and the driver never writes it, and registering it would send its
// start value to the host and clear an operator's lock.
void RegisterDynamicTags() {
    std::lock_guard<std::mutex> guard(MasterListLock);
    framework::TDeviceList& devices = *framework::Driver->DeviceList;
    for (int32_t i = 0; i < devices.Count(); ++i) {
        framework::TDevice* device = devices.Device(i);
        if (device == nullptr || !device->Properties) continue;
        framework::TDevicePropertyList& properties = *device->Properties;
        for (int32_t p = 0; p < properties.Count(); ++p) {
            const framework::TDeviceProperty* property = properties.Property(p);
            if (property == nullptr || property->PropType != framework::TPropertyType::TagName) continue;
            if (platform::SameText(property->Name, "VarBlockCommand")) continue;
            const std::string name = platform::Trim(property->Value);
            if (name.empty()) continue;
            if (!framework::SetDynamicTag(name, false, 0.0f))
                Report(framework::kErrNone, "Слишком много динамических тегов."_cp);
        }
    }
}

} // namespace

std::string InitDirectory(const TDrvInitRecord& record) {
    return std::string(record.Directory, ::strnlen(record.Directory, sizeof record.Directory));
}

std::string WithTrailingSeparator(const std::string& directory) {
    if (!directory.empty() && directory.back() == '/') return directory;
    return directory + "/";
}

bool IsDriverInitialized() {
    return framework::ErrorObj != nullptr && framework::Intercom != nullptr && framework::Driver != nullptr &&
           VarList != nullptr && CommandsBuffer != nullptr && ReceivedBuffer != nullptr &&
           DynTagList != nullptr && DriverThread != nullptr;
}

namespace {

// The module's own objects: the bound variables, the write queue, the value buffer to the host
// window and the dynamic tags.
void CreateModuleObjects(const TDrvInitRecord& record) {
    VarList = new TDRVVariableList;
    CommandsBuffer = new TCommandsBuffer(*VarList);
    ReceivedBuffer = new TReceivedBuffer(static_cast<platform::HWND>(record.HostWindow), record.MessageId,
                                         record.SourceId);
    DynTagList = new TDynamicTagList;
}

// The driver's own data and its device configuration; either failing is reported and the module
// goes on (without the devices of a configuration that is missing or was not read).
void LoadDriverConfiguration(framework::TDriver& driver, bool configOnly) {
    if (!driver.Init(configOnly, CfgPath))
        Report(framework::kErrNone, "Ошибка инициализации специализированных данных."_cp);
    if (const framework::TConfigLoad load = LoadConfiguration(driver, CfgPath); !load)
        Report(framework::kErrNone, load.Message(CfgPath));
}

// The prefixes this driver serves: from the devices, or in single-device mode (exactly one device)
// from the host's variables; none is reported.
void BindPrefixes(framework::TDriver& driver, bool singleDevice) {
    std::string prefixes;
    bool bound;
    {
        std::lock_guard<std::mutex> guard(MasterListLock);
        if (!singleDevice) {
            bound = BuildDevicePrefixList(prefixes);
        } else {
            framework::TDeviceList& devices = *driver.DeviceList;
            if (devices.Count() == 0) devices.AddDevice();
            while (devices.Count() > 1)
                devices.AtFree(0);
            bound = BuildHostPrefixList(prefixes);
        }
    }
    if (!bound) Report(framework::kErrNoPrefix, PrefixError());
    framework::PrefixList = prefixes;
}

// The exchange area with the server, its regions set to "no server yet", and the static tags.
void OpenExchangeArea(framework::TDriver& driver, const TDrvInitRecord& record, bool singleDevice) {
    // The area carries window handles (the host's, the server's): where the namespace's window
    // table cannot be made there is no area either, and the module goes on as without one.
    Area = platform::WindowsAvailable()
               ? framework::TIntercomInterface::Create(VarList->Count(), driver.GetIntercomName())
               : framework::TIntercomInterface::Unattached(VarList->Count());
    framework::Intercom = Area.get();
    if (!Area) return;
    framework::TDeviceInfoRecord info;
    driver.GetDeviceInfo(info);
    Area->OstrolinkaInfo.SetName(platform::FieldText(info.Title));
    Area->OstrolinkaInfo.SetPrefixes(framework::PrefixList);
    Area->OstrolinkaInfo.SetState(framework::dsInitialized);
    Area->OstrolinkaInfo.SetHostWindow(record.HostWindow);
    Area->ServerData.SetProcessId(0);
    Area->ServerData.SetWindow(0);
    Area->ServerData.SetRunFlag(0);
    for (framework::TTerminalClass* terminal :
         {&Area->RequestTerminal, &Area->CommandsTerminal, &Area->RemoteTerminal}) {
        terminal->SetOwner(-1);
        terminal->WriteText("");
    }
    FillStaticTags(singleDevice);
}

} // namespace

framework::TConfigLoad LoadConfiguration(framework::TDriver& driver, const std::string& path, bool aside) {
    framework::TConfigLoad load;
    if (aside) {
        const std::unique_ptr<framework::TDeviceList> read = driver.CreateDeviceList();
        load = read->LoadFromFile(path);
        std::lock_guard<std::mutex> guard(MasterListLock);
        if (!load.OutOfMemory) driver.DeviceList->Assign(read.get());
        driver.LastConfigLoad = load;
    } else {
        std::lock_guard<std::mutex> guard(MasterListLock);
        load = driver.LoadConfig(path);
    }
    UnsavedSetup = false;
    // What the file sets in words the reading does not take is said, a file of them in a few lines.
    const std::string file = "Конфигурационный файл "_cp + path + ": ";
    for (const std::string& note : load.Defaulted.Kept)
        Report(framework::kErrNone, file + note + ".");
    if (load.Defaulted.Count > load.Defaulted.Kept.size())
        Report(framework::kErrNone, file + "и еще "_cp +
                                        platform::IntToStr(static_cast<int64_t>(load.Defaulted.Count -
                                                                                load.Defaulted.Kept.size())) +
                                        " замечаний."_cp);
    return load;
}

int32_t InitModule(const TDrvInitRecord& record) {
    if (IsDriverInitialized() || ShutdownRunning) return framework::kErrReinitialize;
    framework::TDriver* driver = framework::Driver;
    FreeModuleObjects();
    InitRecord = record;

    CfgPath = WithTrailingSeparator(InitDirectory(record)) + driver->GetConfigFileName();
    const platform::TIniFile settings(ChangeExtension(CfgPath, ".ini"));
    framework::ErrorObj = new TModuleErrorClass(settings.ReadString("DLM", "LogFile", ""));
    if (!settings.ReadFailure().empty()) Report(framework::kErrNone, settings.ReadFailure());
    driver->BeforeInit();
    CreateModuleObjects(record);

    const bool configOnly = record.ConfigOnly != 0;
    LoadDriverConfiguration(*driver, configOnly);
    ThreadDelayTime = settings.ReadInteger("DLM", "Thread_Delay_Time", ThreadDelayTime.load());
    framework::ErrorObj->Enabled = !framework::ErrorMngrDisabled.load();

    const bool singleDevice = driver->IsSingleDeviceMode();
    BindPrefixes(*driver, singleDevice);
    if (configOnly) return 0;

    OpenExchangeArea(*driver, record, singleDevice);
    RegisterDynamicTags();
    ResolveDynamicTags();
    // Without a window or message number for the values this says so once, here; the flushes
    // of the scans stay silent about it.
    if (record.HostWindow == 0 || record.MessageId < 1) ReceivedBuffer->Flush();

    DriverThread = new TDriverThread;
    DriverThread->Resume();
    return 0;
}

int32_t DoneModule() {
    if (!IsDriverInitialized()) {
        // What a configuration-only initialisation made goes with the driver object; what a thread
        // left running may still use stays, and so does what the shutdown under way frees.
        if (DriverThread == nullptr && !ThreadLeftRunning && !ShutdownRunning) FreeModuleObjects();
        return framework::kErrNotInitialized;
    }
    const platform::TFlagScope shutdown(ShutdownRunning);
    try {
        // The thread uses every object below: it ends before any of them is freed.
        std::unique_ptr<platform::TThread> thread(DriverThread);
        DriverThread = nullptr;
        bool freed;
        {
            const platform::TWaitsServeLoop serving; // the host's windows go on while the thread ends
            freed = platform::TThread::Free(std::move(thread), kThreadWaitMs);
        }
        if (!freed) {
            // It still runs and was left to itself; what it uses stays.
            ThreadLeftRunning = true;
            return 0;
        }
        CommandsBuffer->FreeAll();
        VarList->FreeAll();
        FreeObject(CommandsBuffer);
        FreeObject(VarList);
        FreeObject(ReceivedBuffer);
        FreeObject(DynTagList);
        if (!framework::Driver->Done())
            Report(framework::kErrNone, "Ошибка деинициализации специализированных данных."_cp);
        FreeErrorObject();
        FreeArea();
    } catch (...) {
    }
    return 0;
}

bool ModuleThreadLeftRunning() {
    return ThreadLeftRunning;
}

int32_t RunModule() {
    if (!IsDriverInitialized() || StopRunning) return framework::kErrNotInitialized;
    framework::Intercom->OstrolinkaInfo.SetState(framework::dsRunning);
    framework::Intercom->ServerData.SetRunFlag(1);
    DriverThread->Resume();
    return 0;
}

int32_t StopModule() {
    if (!IsDriverInitialized()) return framework::kErrNotInitialized;
    try {
        framework::TIntercomInterface& area = *framework::Intercom;
        area.OstrolinkaInfo.SetState(framework::dsStopped);
        area.ServerData.SetRunFlag(0);
        const int32_t wnd = area.ServerData.GetWindow();
        if (wnd != 0) platform::PostMessage(static_cast<platform::HWND>(wnd), platform::WM_CLOSE, 0, 0);
        StopFlag = 1;
        DriverThread->Terminate();
        // The thread may be sending values to the host's window: keep dispatching them. The host's
        // handlers run meanwhile and may shut the module down: then its area is gone.
        {
            const platform::TWaitsServeLoop serving;
            const platform::TFlagScope stopping(StopRunning);
            platform::WaitDispatching([] { return RunningThreadCount.load() <= 0; }, kThreadWaitMs);
        }
        for (int32_t i = 0; i < framework::kServerSlotCount && framework::Intercom == &area; ++i) {
            const int32_t slotWindow = area.ServerData.GetSlotWindow(i);
            if (slotWindow == 0) continue;
            platform::PostMessage(static_cast<platform::HWND>(slotWindow), platform::WM_CLOSE, 0, 0);
            platform::ProcessMessages();
        }
    } catch (...) {
    }
    return 0;
}

int32_t WriteModuleData(const void* block, int32_t size) {
    if (!IsDriverInitialized()) return framework::kErrNotInitialized;
    if (block == nullptr || size < 1) {
        framework::ErrorObj->WriteError(framework::kErrBadArguments, 0, nullptr);
        return framework::kErrBadArguments;
    }
    return CommandsBuffer->AddRequests(block, size) ? framework::kErrNone : framework::kErrBadArguments;
}

namespace {

// One turn of the calling thread's messages, and of its event loop where it has one.
void ServeMessages() {
    const platform::TWaitsServeLoop serving;
    platform::WaitDispatching([] { return false; }, 0);
}

// Asks every registered server to close, serving messages after each. The host's handlers run
// meanwhile and may shut the module down: the area is looked up afresh each time.
void CloseServers() {
    for (int32_t slot = 0; slot < framework::kServerSlotCount; ++slot) {
        const framework::TIntercomInterface* area = framework::Intercom;
        if (area == nullptr) return;
        const int32_t wnd = area->ServerData.GetSlotWindow(slot);
        if (wnd == 0) continue;
        platform::PostMessage(static_cast<platform::HWND>(wnd), platform::WM_CLOSE, 0, 0);
        ServeMessages();
    }
}

bool RestartThread(uint32_t waitMs) {
    // The waits below dispatch the messages of the host's thread (the old thread may be sending
    // values to the host's window) and serve the host's loop: its handlers may shut the module down
    // or free the thread meanwhile, so the thread is not touched again unless it is still the module's.
    const platform::TWaitsServeLoop serving;
    TDriverThread* const old = DriverThread;
    // None: the module was shut down; a thread now would run over what it freed.
    if (old == nullptr) return false;
    old->Terminate();
    if (!platform::WaitDispatching([old] { return DriverThread != old || old->Finished(); }, waitMs))
        return false;
    CloseServers();
    // One that did not end is kept as it is, and none is started beside it: two would take the same
    // command batches.
    if (DriverThread != old || !old->Finished()) return false;
    delete old;
    DriverThread = nullptr;
    // As if the last start were one check interval ago, so that the new thread may start the server at
    // its first check.
    const uint64_t now = platform::MonotonicMs();
    const uint64_t interval =
        static_cast<uint64_t>(std::max<int32_t>(framework::CheckServerInterval.load(), 0)) * 1000;
    LastServerStart = now > interval ? now - interval : 0;
    StartAttempts = 0;
    DriverThread = new TDriverThread;
    DriverThread->Resume();
    return true;
}

} // namespace

bool RestartModuleThread(uint32_t waitMs) {
    try {
        return RestartThread(waitMs);
    } catch (...) {
        return false;
    }
}

} // namespace module
