#include "framework/device_thread.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace framework {

std::atomic<platform::HWND> MonitorWindowHandle{0};
std::atomic<bool> ServerClosing{false};
std::atomic<int32_t> SelectedDeviceIndex{-1};

namespace {

std::mutex TraceLock;
TTraceTexts Traces;

// ---- the host tag library

using TagInfoByNameFn = decltype(&::API_GetTagInfoByName);
using TagValueByIndexFn = decltype(&::API_GetTagValueByGlobalIndex);

struct TTagLibrary {
    TagInfoByNameFn InfoByName = nullptr;
    TagValueByIndexFn ValueByIndex = nullptr;
};

const TTagLibrary& TagLibrary() {
    static const TTagLibrary lib = [] {
        TTagLibrary l;
        // Beside the program first, as it is installed; then the usual search. Kept loaded for the life
        // of the process: threads may call it until the very end.
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        std::string beside = n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
        beside = beside.substr(0, beside.find_last_of('/') + 1) + "libVantorel.so";
        void* h = n > 0 ? ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
        if (h == nullptr) h = ::dlopen("libVantorel.so", RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr) return l;
        l.InfoByName = reinterpret_cast<TagInfoByNameFn>(::dlsym(h, "API_GetTagInfoByName"));
        l.ValueByIndex = reinterpret_cast<TagValueByIndexFn>(::dlsym(h, "API_GetTagValueByGlobalIndex"));
        return l;
    }();
    return lib;
}

constexpr int32_t kNoLibrary = -1;

// ---- helpers of the passes

bool IsSelected(const TDevice& d) {
    const int32_t selected = SelectedDeviceIndex.load();
    return selected >= 0 && d.ListIndex == selected;
}

bool OwnsRequestTerminal(const TDevice& d) {
    return Intercom != nullptr && d.ListIndex >= 0 && Intercom->RequestTerminal.GetOwner() == d.ListIndex;
}

void NotifyMonitor(platform::WPARAM kind) {
    const platform::HWND wnd = MonitorWindowHandle.load();
    if (wnd != 0 && !ServerClosing.load()) platform::SendMessage(wnd, WM_TERMINALUPDATE, kind, 0);
}

void WriteRequestTerminal(const TDevice& d, const TDeviceRecord& record, const std::string& text) {
    Intercom->RequestTerminal.WriteText(text);
    TTerminalParams params;
    std::memset(&params, 0, sizeof params);
    params.PortName.Set(d.IPPort < 1 ? d.RS232Port : d.DeviceIPAddress + ":" + platform::IntToStr(d.IPPort));
    params.LinkState = d.LinkUp ? 1 : 0;
    params.Frequency = record.Interval;
    params.Interval = record.Duration;
    Intercom->RequestTerminal.WriteParams(d.ListIndex, params);
}

int32_t ClampMs(uint64_t ms) {
    return static_cast<int32_t>(std::min<uint64_t>(ms, INT32_MAX));
}

// The whole range of a 64-bit integer: beyond it the value has no integer to round to.
bool RoundsToInteger(double v) {
    return std::isfinite(v) && v >= -9223372036854775808.0 && v < 9223372036854775808.0;
}

} // namespace

TTraceTexts GetTraceTexts() {
    std::lock_guard<std::mutex> guard(TraceLock);
    return Traces;
}

void SetPollTraces(const std::string& request, const std::string& cycle, const std::string& responseTime,
                   const std::string& link) {
    std::lock_guard<std::mutex> guard(TraceLock);
    Traces.RequestTrace = request;
    Traces.CycleText = cycle;
    Traces.ResponseTimeText = responseTime;
    Traces.LinkText = link;
}

void SetCommandTrace(const std::string& command) {
    std::lock_guard<std::mutex> guard(TraceLock);
    Traces.CommandTrace = command;
}

int32_t API_GetTagInfoByName(const std::string& name, hostapi::TAPITagInfo& info) {
    const TTagLibrary& lib = TagLibrary();
    return lib.InfoByName ? lib.InfoByName(name.c_str(), &info) : kNoLibrary;
}

int32_t API_GetTagValueByGlobalIndex(int32_t index, hostapi::TAPITagValue& value) {
    const TTagLibrary& lib = TagLibrary();
    return lib.ValueByIndex ? lib.ValueByIndex(index, &value) : kNoLibrary;
}

bool ReadAccessLock(TDevice& device, bool& newEnabled) {
    if (device.VarBlockCommand.empty()) return false;
    if (device.LockTagIndex == -1) {
        hostapi::TAPITagInfo info;
        std::memset(&info, 0, sizeof info);
        info.Size = sizeof info;
        if (API_GetTagInfoByName(device.VarBlockCommand, info) != 0) {
            Report(kErrLockTagName, "Ошибка в имени тега блокировки доступа к устройству."_cp);
            device.LockTagIndex = -100; // never asked again
        } else {
            device.LockTagIndex = info.GlobalIndex;
        }
    }
    if (device.LockTagIndex < 0) return false;
    hostapi::TAPITagValue value;
    std::memset(&value, 0, sizeof value);
    value.Size = sizeof value;
    if (API_GetTagValueByGlobalIndex(device.LockTagIndex, value) != 0) return false;
    // NaN, infinities and values beyond any integer keep the device as it is; the comparison with 0
    // needs no conversion to an integer.
    if (!RoundsToInteger(value.Value)) return false;
    newEnabled = std::nearbyint(value.Value) == 0.0;
    return true;
}

// ---- TDeviceThread

TDeviceThread::TDeviceThread(TDeviceList* source, bool byPort)
    : Commands(std::make_unique<TDeviceCommandsList>()),
      ReceivedValues(std::make_unique<TReceiveVariables>()),
      Devices(Driver ? Driver->CreateDeviceList() : std::make_unique<TDeviceList>()) {
    std::memset(&CurrentCommand, 0, sizeof CurrentCommand);
    if (source != nullptr && source->Count() > 0) {
        Devices->Assign(source);
        if (!byPort) {
            source->FreeAll();
        } else {
            const std::string port = source->Device(0)->RS232Port;
            for (int32_t i = Devices->Count() - 1; i >= 0; --i) {
                TDeviceRecord* r = Devices->Record(i);
                r->LastPoll = platform::Now();
                r->Interval = 0;
                r->Duration = 0;
                if (r->Device->RS232Port != port) Devices->AtFree(i);
            }
            for (int32_t i = source->Count() - 1; i >= 0; --i)
                if (source->Device(i)->RS232Port == port) source->AtFree(i);
        }
    }
    lastPollMs_.assign(static_cast<std::size_t>(Devices->Count()), platform::MonotonicMs());
}

TDeviceThread::~TDeviceThread() {
    Devices.reset();
    Commands.reset();
    ReceivedValues.reset();
}

TDevice* TDeviceThread::FindThreadDevice(const std::string& prefix, int32_t address) const {
    if (prefix.empty() || address < 1) return nullptr;
    for (int32_t i = 0; i < Devices->Count(); ++i) {
        TDevice* d = Devices->Device(i);
        if (d && platform::SameText(d->RoutingPrefix, prefix) && d->DeviceAddress == address) return d;
    }
    return nullptr;
}

void TDeviceThread::SetPause(bool on) {
    if (PauseRequest.load() == on) return;
    PauseRequest.store(on);
    if (!on) return;
    if (platform::WaitDispatching([this] { return Paused.load(); }, kThreadStopTimeoutMs))
        Devices->CloseConnection();
}

void TDeviceThread::ReportException(const std::exception* e) {
    if (ErrorObj == nullptr) return;
    if (e)
        ErrorObj->WriteError(kErrReported, -1, e);
    else
        ErrorObj->WriteMessage(kErrReported, "Unknown exception in device thread.");
}

void TDeviceThread::Execute() {
    Running.store(true);
    Paused.store(false);
    uint64_t passStart = platform::MonotonicMs();
    while (!Terminated()) {
        const uint64_t now = platform::MonotonicMs();
        LoopTime.store(static_cast<int64_t>(now - passStart));
        passStart = now;
        platform::Sleep(1);
        if (PauseRequest.load()) {
            Paused.store(true);
            continue;
        }
        Paused.store(false);
        try {
            const int32_t i = Devices->PendingCommandDevice();
            if (const TDevice* d = i >= 0 ? Devices->Device(i) : nullptr)
                Commands->FetchCommands(d->RoutingPrefix, d->DeviceAddress);
            if (Commands->Count() == 0) {
                PollPass();
            } else {
                ProcessCommand();
                if (Commands->AckPending) Commands->Acknowledge();
            }
        } catch (const std::exception& e) {
            ReportException(&e);
        } catch (...) {
            ReportException(nullptr);
        }
    }
    Running.store(false);
}

void TDeviceThread::PollPass() {
    for (int32_t i = 0; i < Devices->Count(); ++i) {
        if (ServerClosing.load() || Terminated() || Devices->PendingCommandDevice() >= 0) return;
        TDeviceRecord* record = Devices->Record(i);
        if (record == nullptr || !record->Device) {
            if (ErrorObj) ErrorObj->WriteError(kErrReported, -1, nullptr);
            continue;
        }
        try {
            PollDevice(i, *record);
        } catch (const std::exception& e) {
            ReportException(&e);
        } catch (...) {
            ReportException(nullptr);
        }
        if (Terminated()) return;
    }
}

void TDeviceThread::PollDevice(int32_t i, TDeviceRecord& record) {
    TDevice& d = *record.Device;
    d.BeforePoll(ReceivedValues.get());
    bool disabled = false;
    {
        std::lock_guard<std::mutex> guard(DriverLock);
        try {
            bool newEnabled;
            if (ReadAccessLock(d, newEnabled)) {
                if (newEnabled != d.Enabled) d.AccessLockChanged(newEnabled, ReceivedValues.get());
                d.SetEnabled(newEnabled);
            }
            if (!d.Enabled) {
                disabled = true;
                const std::string text = "Device disabled!!!";
                if (IsSelected(d)) SetPollTraces(text, "-----", "-----", "False");
                if (OwnsRequestTerminal(d)) WriteRequestTerminal(d, record, text);
                ReceivedValues->Flush();
            }
        } catch (const std::exception& e) {
            ReportException(&e);
        }
    }
    if (disabled) {
        // Outside the lock: the window may be waiting for it while it handles this message.
        if (IsSelected(d)) NotifyMonitor(0);
        return;
    }

    const uint64_t now = platform::MonotonicMs();
    const uint64_t elapsed = now - lastPollMs_[static_cast<std::size_t>(i)];
    if (elapsed < static_cast<uint64_t>(std::max(d.ReqwestInterval, 0))) return;
    record.LastPoll = platform::Now();
    lastPollMs_[static_cast<std::size_t>(i)] = now;
    record.Interval = ClampMs(elapsed);
    d.ClearPollLog();
    if (ServerClosing.load() || Terminated()) return;

    const uint64_t start = platform::MonotonicMs();
    d.Poll(Devices.get(), ReceivedValues.get());
    record.Duration = ClampMs(platform::MonotonicMs() - start);
    if (IsSelected(d)) {
        SetPollTraces(d.PollLog->GetText(), platform::IntToStr(record.Interval),
                      platform::IntToStr(record.Duration), platform::BoolToStr(d.LinkUp));
        NotifyMonitor(0);
    }
    if (OwnsRequestTerminal(d)) WriteRequestTerminal(d, record, d.PollLog->GetText());
    d.AfterPoll(ReceivedValues.get());
    std::lock_guard<std::mutex> guard(DriverLock);
    ReceivedValues->Flush();
}

void TDeviceThread::ProcessCommand() {
    const uint64_t start = platform::MonotonicMs();
    CurrentCommand = *Commands->CommandAt(0);
    Commands->AtFree(0);
    if (Commands->Count() == 0) Commands->AckPending = true;
    CommandStatus = kCommandNotRun;

    TDeviceRecord* record = Devices->FindDevice(CurrentCommand.Domain.Get(), CurrentCommand.Device);
    if (record == nullptr) {
        Report(kErrReported, "Неизвестное имя сегмента для команды."_cp);
        return;
    }
    TDevice& d = *record->Device;
    d.ClearCommandLog();
    d.CommandLog->AddLine("Запись команды...."_cp);
    try {
        if (!ServerClosing.load() && !Terminated()) {
            CommandStatus = kCommandStarted;
            uint8_t status = kCommandStarted;
            const bool done = d.ExecuteCommand(Devices.get(), CurrentCommand, status, ReceivedValues.get());
            CommandStatus = done ? kCommandDone : status;
        }
    } catch (const std::exception& e) {
        ReportException(&e);
    } catch (...) {
        ReportException(nullptr);
    }
    d.CommandLog->AddLine(CommandFinished(d));
    d.CommandLog->AddLine("Время на обслуживание команды "_cp +
                          platform::IntToStr(platform::MonotonicMs() - start));
    if (IsSelected(d)) {
        SetCommandTrace(d.CommandLog->GetText());
        NotifyMonitor(1);
    }
}

std::string TDeviceThread::CommandFinished(TDevice& device) {
    const TCommandRecord& c = CurrentCommand;
    ReceivedValues->Add(c.Domain.Get(), c.Device, c.Value, c.StrAddress.Get(), c.TagAddress);
    const std::string stateTag = platform::Trim(device.CommandStateName);
    if (!stateTag.empty()) {
        const float state = CommandStatus == kCommandDone       ? 1.0f
                            : CommandStatus == kCommandRejected ? 3.0f
                                                                : 2.0f;
        SetDynamicTag(stateTag, true, state);
    }
    if (CommandStatus != kCommandDone) {
        // The tag goes back to what it was before the write.
        ReceivedValues->Add(c.Domain.Get(), c.Device, c.OldValue, c.StrAddress.Get(), c.TagAddress);
        if (ErrorObj) ErrorObj->WriteError(kErrCommandFailed, -1, nullptr);
    }
    switch (CommandStatus) {
    case kCommandNotRun:
    case kCommandStarted:
        return "No connection to device.";
    case kCommandRejected:
        return "Command not supported.";
    case kCommandDone:
        return "Command is successful procesed.";
    default:
        return "Commands process finished.";
    }
}

} // namespace framework
