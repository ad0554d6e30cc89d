// The server's device threads: each serves its own copy of some devices (those of one serial port,
// or all), runs the host's write commands first and otherwise polls, honouring each device's
// access-lock tag and poll interval. The list that makes, starts and stops them is `TThreadsList`
// (framework/threads_list.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/device_commands.h"
#include "framework/device_list.h"
#include "framework/intercom_layout.h"
#include "framework/remote_request.h"
#include "framework/tag_routing.h"
#include "hostapi/tag_library.h"
#include "platform/messages.h"
#include "platform/thread.h"

namespace framework {

// Sent to the monitor window after a poll (wParam 0) or a command (wParam 1).
constexpr platform::UINT WM_TERMINALUPDATE = 1357;

// Process-wide state of the server that the threads read: the window to notify, the closing flag
// (no more window messages once set), the list index of the device whose traces the window shows.
extern std::atomic<platform::HWND> MonitorWindowHandle;
extern std::atomic<bool> ServerClosing;
extern std::atomic<int32_t> SelectedDeviceIndex; // -1: none

// The traces of the selected device, written by the threads and read by the window.
struct TTraceTexts {
    std::string RequestTrace;
    std::string CommandTrace;
    std::string CycleText;
    std::string ResponseTimeText;
    std::string LinkText;
};
TTraceTexts GetTraceTexts();
void SetPollTraces(const std::string& request, const std::string& cycle, const std::string& responseTime,
                   const std::string& link);
void SetCommandTrace(const std::string& command);

// The host tag library (libVantorel.so), loaded on first use from beside the program, else from the
// library search path. Both answer non-zero when the library or its function is missing.
int32_t API_GetTagInfoByName(const std::string& name, hostapi::TAPITagInfo& info);
int32_t API_GetTagValueByGlobalIndex(int32_t index, hostapi::TAPITagValue& value);

class TDeviceThread : public platform::TThread {
public:
    // Suspended. Takes its devices from source: all of them, or (byPort) those on the port of the
    // first one; what it takes is removed from source.
    TDeviceThread(TDeviceList* source, bool byPort);
    ~TDeviceThread() override;

    // nullptr for an empty prefix or an address below 1; prefixes compare ignoring case.
    TDevice* FindThreadDevice(const std::string& prefix, int32_t address) const;
    // Parks or releases the thread. Parking waits up to 3000 ms for the thread to say so and then
    // closes its connection, so that a remote request may use the line.
    void SetPause(bool on);

    std::atomic<bool> PauseRequest{false};
    std::atomic<bool> Paused{false};
    std::atomic<bool> Running{false};
    std::atomic<int64_t> LoopTime{0}; // ms of the previous loop pass
    std::unique_ptr<TDeviceCommandsList> Commands;
    TCommandRecord CurrentCommand;
    // kCommandNotRun to kCommandDone (framework/device.h).
    int32_t CommandStatus = kCommandNotRun;
    std::unique_ptr<TReceiveVariables> ReceivedValues;
    std::unique_ptr<TDeviceList> Devices;

protected:
    void Execute() override;

private:
    void PollPass();
    void PollDevice(int32_t i, TDeviceRecord& record);
    void ProcessCommand();
    std::string CommandFinished(TDevice& device);
    void ReportException(const std::exception* e);

    // Monotonic start of each device's last poll, by list position: the poll interval must not
    // follow the wall clock when it is set (the records carry the wall time for display).
    std::vector<uint64_t> lastPollMs_;
};

// Reads the device's access-lock tag under DriverLock, resolving its index once; false when there
// is no usable value (no tag, unknown name, failed read, a value that is no finite integer).
bool ReadAccessLock(TDevice& device, bool& newEnabled);

// How long a device thread is given to park or to stop.
constexpr uint32_t kThreadStopTimeoutMs = 3000;

} // namespace framework
