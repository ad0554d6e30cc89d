// The server's list of device threads: makes them from the device list, starts and stops them,
// parks a device's thread for a remote request and hands the request to the device it addresses.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/collections.h"
#include "framework/device_thread.h"

namespace framework {

class TThreadsList : public TBaseArray {
public:
    static constexpr uint32_t kStopTimeoutMs = kThreadStopTimeoutMs;

    TThreadsList() = default;
    ~TThreadsList() override;
    // Stops the thread and frees it; one that does not stop in time is reported and left running
    // with everything it owns.
    void FreeItem(void* item) override;

    virtual void CreateThreads(TDeviceList* source, bool byPort);
    virtual void ResumeAll();
    virtual void TerminateAll();
    // The service request (request code 1): answered here in one reply.
    virtual void ProcessTQLRequest(TRemotePeer* peer, TRemoteRequestHeader& header, std::string& errorText,
                                   TTerminalDataClass* log, const std::string* stream);
    // A remote request: to the addressed device when its thread is parked, else to ProcessTQLRequest
    // when it addresses the server.
    virtual void DoExternalRequest(TRemotePeer* peer, TRemoteRequestHeader& header, std::string& errorText,
                                   TTerminalDataClass* log, const std::string* stream);
    // Parks (on) or releases the thread of a device; address 0 means every thread. False for an
    // empty prefix, a negative address, an unknown or a disabled device.
    bool LockDevice(const std::string& prefix, int32_t address, bool on);

    TDeviceThread* Thread(int32_t i) const { return Item<TDeviceThread>(i); }

    std::atomic<bool> Running{false};
};

} // namespace framework
