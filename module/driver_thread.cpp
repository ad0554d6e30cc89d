#include "module/driver_thread.h"

#include <algorithm>
#include <exception>

#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/tag_routing.h"
#include "module/commands_buffer.h"
#include "module/dynamic_tags.h"
#include "module/module_init.h"
#include "module/received_buffer.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process_start.h"
#include "platform/text.h"

namespace module {

std::atomic<uint64_t> LastServerStart{0};
std::atomic<int32_t> StartAttempts{0};
std::timed_mutex RegionLockTakers;

namespace {

using framework::Report;

// Why the last start failed, 0 when it did not: the third attempt's report says it.
std::atomic<int> LastStartError{0};

std::string MessageOf(const std::exception& e) {
    return e.what();
}

void SetState(framework::TDriverState state) {
    if (framework::Intercom != nullptr) framework::Intercom->OstrolinkaInfo.SetState(state);
}

void ClearRegion(framework::TCommandsList& region) {
    region.Init();
    region.SetFlag(framework::csIdle);
}

} // namespace

void ReleaseStaleLocks() {
    framework::TIntercomInterface* area = framework::Intercom;
    if (area == nullptr) return;
    std::lock_guard<std::timed_mutex> guard(RegionLockTakers);
    area->ServerErrorList.ReleaseLock();
    area->RequestTerminal.ReleaseLock();
    area->CommandsTerminal.ReleaseLock();
    area->RemoteTerminal.ReleaseLock();
}

void TOnceReport::Raise() {
    if (raised_) return;
    raised_ = true;
    Report(code_, text_);
}

TDriverThread::TDriverThread() : noIntercom_(-1, "DLM::IntercomInterface not initialized!") {}

void TDriverThread::Execute() {
    RunningThreadCount += 1;
    try {
        scanTick_ = tick_ = platform::MonotonicMs();
        serverStartDelay_ = kServerStartDelay;
        currentPoint_.clear();
        while (!Terminated()) {
            try {
                Pass();
            } catch (const std::exception& e) {
                Report(framework::kErrReported, "DLM::" + MessageOf(e));
            } catch (...) {
                Report(framework::kErrReported, "DLM::");
            }
        }
        if (DynTagList != nullptr && ReceivedBuffer != nullptr &&
            SendAllDynamicTags(*DynTagList, *ReceivedBuffer))
            ReceivedBuffer->Flush();
    } catch (...) {
        // The end is reported whatever happened.
    }
    SetState(framework::dsLoopEnded);
    Report(framework::kErrReported, "DLM::End of basic thread!");
    RunningThreadCount -= 1;
}

void TDriverThread::Pass() {
    platform::Sleep(1);
    framework::TIntercomInterface* area = framework::Intercom;
    if (area == nullptr || !area->IsOpen()) {
        noIntercom_.Raise();
        return;
    }
    noIntercom_.Clear();
    const uint64_t now = platform::MonotonicMs();
    if (now - tick_ < static_cast<uint64_t>(kTickMs)) return;
    tick_ = now;

    SetState(framework::dsPassStart);
    currentPoint_ = "Point 1";
    area->OstrolinkaInfo.SetTransactionId(framework::NextCounter(area->OstrolinkaInfo.GetTransactionId()));
    if (serverStartDelay_ == 0)
        EnsureServer(true);
    else if (serverStartDelay_ > 0)
        serverStartDelay_ -= 1;

    CommandPhase();
    DynamicTagPhase();

    if (now - scanTick_ < static_cast<uint64_t>(std::max<int32_t>(ThreadDelayTime.load(), 0))) return;
    scanTick_ = now;
    StaticTagPhase();
    ServerErrorPhase();
    SetState(framework::dsPassEnd);
}

void TDriverThread::CommandPhase() {
    framework::TCommandsList& region = framework::Intercom->CommandsList;
    uint8_t flag = region.GetFlag();
    try {
        SetState(framework::dsCommands);
        currentPoint_ = "Point 2";
        if (flag == framework::csPublished || flag == framework::csTaken) {
            const uint64_t now = platform::MonotonicMs();
            // A batch this thread did not publish (an earlier thread's) is timed from first sight.
            if (batchSince_ == 0) batchSince_ = now;
            const int64_t limit =
                static_cast<int64_t>(std::clamp(region.GetCount(), 0, framework::kMaxCommands)) *
                framework::GeneralCommandInterval.load();
            if (static_cast<int64_t>(now - batchSince_) > limit) AbandonBatch();
        }
        SetState(framework::dsCommandPublish);
        currentPoint_ = "Point 3";
        if (flag == framework::csDone) {
            ClearRegion(region);
            batchSince_ = 0;
        }
        currentPoint_ = "Point 3-1";
        flag = region.GetFlag();
        currentPoint_ = "Point 3-2";
        if (flag == framework::csIdle && CommandsBuffer != nullptr && CommandsBuffer->QueuedCount() > 0) {
            currentPoint_ = "Point 3-3";
            if (CommandsBuffer->FillCommands()) {
                currentPoint_ = "Point 3-4";
                SetCommandState(region.GetDeviceName(), region.GetDevice(), 0.0f);
                currentPoint_ = "Point 3-5";
                region.Publish();
                batchSince_ = platform::MonotonicMs();
            } else {
                if (framework::ErrorObj != nullptr)
                    framework::ErrorObj->WriteError(framework::kErrCommandNotHandled, 0, nullptr);
                ClearRegion(region);
            }
        }
    } catch (const std::exception& e) {
        Report(framework::kErrReported, "DLM::CommandProc::" + currentPoint_ + " " + MessageOf(e));
        ClearRegion(region);
        batchSince_ = 0;
    }
}

void TDriverThread::AbandonBatch() {
    framework::TCommandsList& region = framework::Intercom->CommandsList;
    if (framework::ErrorObj != nullptr)
        framework::ErrorObj->WriteError(framework::kErrCommandNotHandled, 0, nullptr);
    auto batch = std::make_unique<framework::TCommandsRegion>();
    if (region.CopyTo(*batch)) {
        SetCommandState(batch->Domain.Get(), batch->Device, 2.0f);
        // The host is given back the values it had, since the device never got the new ones.
        if (ReceivedBuffer != nullptr) {
            const int32_t n = std::clamp(batch->Count, 0, framework::kMaxCommands);
            for (int32_t i = 0; i < n; ++i) {
                const framework::TCommandRecord& c = batch->Commands[i];
                THostValueEntry entry{c.VariableId, c.OldValue, c.Value, 0, 0};
                EncodeHostStamp(platform::Now(), entry.Time, entry.Date);
                ReceivedBuffer->Append(entry);
            }
            ReceivedBuffer->Flush();
        }
    }
    region.Init();
    batchSince_ = 0;
}

void TDriverThread::SetCommandState(const std::string& domain, int32_t device, float value) {
    std::string name;
    {
        std::lock_guard<std::mutex> guard(MasterListLock);
        if (framework::Driver == nullptr || !framework::Driver->DeviceList) return;
        framework::TDeviceRecord* record = framework::Driver->DeviceList->FindDevice(domain, device);
        if (record == nullptr || !record->Device) return;
        name = record->Device->CommandStateName;
    }
    if (!name.empty()) framework::SetDynamicTag(name, true, value);
}

void TDriverThread::DynamicTagPhase() {
    SetState(framework::dsDynamicTags);
    try {
        if (DynTagList == nullptr || ReceivedBuffer == nullptr ||
            !ScanDynamicTags(*DynTagList, *ReceivedBuffer))
            Report(framework::kErrDynamicTags, "DLM::Ошибка обработки динамических тегов."_cp);
    } catch (const std::exception& e) {
        Report(framework::kErrReported, "DLM::DynProc " + MessageOf(e));
    }
}

void TDriverThread::StaticTagPhase() {
    SetState(framework::dsStaticTags);
    try {
        if (ReceivedBuffer != nullptr && ScanStaticTags(*ReceivedBuffer)) {
            if (!ReceivedBuffer->Flush())
                Report(framework::kErrHostTransfer, "DLM::Ошибка передачи данных ядру OSTROLINKA."_cp);
        } else {
            Report(framework::kErrStaticTags, "DLM::Ошибка обработки статических тегов."_cp);
        }
    } catch (const std::exception& e) {
        Report(framework::kErrReported, "DLM::VarProc " + MessageOf(e));
    }
}

void TDriverThread::ServerErrorPhase() {
    SetState(framework::dsServerErrors);
    framework::TServerErrorList& errors = framework::Intercom->ServerErrorList;
    if (errors.GetCount() <= 0 || framework::ErrorObj == nullptr) return;
    auto copy = std::make_unique<framework::TServerErrorRegion>();
    {
        std::lock_guard<std::timed_mutex> guard(RegionLockTakers);
        errors.ReadAll(*copy, true);
    }
    const int32_t n = std::clamp(copy->Count, 0, framework::kMaxServerErrors);
    for (int32_t i = 0; i < n; ++i)
        framework::ErrorObj->WriteMessage(copy->Records[i].Code, copy->Records[i].Text.Get());
}

bool TDriverThread::EnsureServer(bool allowStart) {
    framework::TIntercomInterface* area = framework::Intercom;
    if (area == nullptr || !area->IsOpen() || StopFlag.load() != 0) return false;
    const int32_t pid = area->ServerData.GetProcessId();
    const int32_t wnd = area->ServerData.GetWindow();
    if (pid != 0 && wnd != 0 && platform::IsWindow(static_cast<platform::HWND>(wnd))) {
        StartAttempts = 0;
        return true;
    }
    // Without a host window a server would close at its first tick and be started again forever.
    if (!allowStart || !framework::AutoRunServer.load() || InitRecord.HostWindow == 0) return false;

    const uint64_t now = platform::MonotonicMs();
    const uint64_t last = LastServerStart.load();
    if (last != 0 && static_cast<double>(now - last) / 1000.0 < framework::CheckServerInterval.load())
        return false;
    LastServerStart = now;
    StartAttempts = StartAttempts.load() + 1 >= 65535 ? 1 : StartAttempts.load() + 1;

    const std::string exe =
        WithTrailingSeparator(InitDirectory(InitRecord)) +
        (framework::Driver != nullptr ? framework::Driver->GetServerFileName() : std::string());
    const std::string cfg = CfgPath;
    if (StartAttempts.load() == 3) {
        Report(framework::kErrReported,
               "DLM::Ошибка запуска сервера доступа к устройству."_cp + " " + exe + " " + cfg);
        if (const int error = LastStartError.load())
            Report(framework::kErrReported, "DLM::Сервер доступа к устройству не запущен: "_cp +
                                                platform::ErrorNumberText(error) + ".");
    }
    if (StopFlag.load() != 0) return false;
    ReleaseStaleLocks();
    // Each path goes whole: a folder's name may hold any byte a line would be split at.
    int error = 0;
    const bool started = platform::StartDetachedProcess({exe, cfg}, nullptr, &error);
    LastStartError = started ? 0 : error;
    return started;
}

} // namespace module
