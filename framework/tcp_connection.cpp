#include "framework/tcp_connection.h"

#include "platform/clock.h"
#include "platform/poll_wait.h"
#include "platform/text.h"
#include "platform/thread.h"

#include <algorithm>
#include <exception>

namespace framework {
namespace {

// Elapsed time of a read, on the monotonic clock, so that a wall-clock change cannot stretch it.
bool Elapsed(uint64_t start, int32_t ms) {
    return static_cast<int64_t>(platform::MonotonicMs() - start) >= static_cast<int64_t>(ms);
}

// The next wait of a read: the rest of its time, in slices short enough that a thread asked to stop
// leaves it soon, whatever the time-out.
int32_t NextWait(uint64_t start, int32_t ms) {
    const int64_t left = static_cast<int64_t>(ms) - static_cast<int64_t>(platform::MonotonicMs() - start);
    return static_cast<int32_t>(std::clamp<int64_t>(left, 0, platform::kTerminationLookMs));
}

} // namespace

TTCPConnection::TTCPConnection(TDevicePropertyList* Properties)
    : TOstrolinkaConnection(Properties), IPAddress(PropString(Properties, "DeviceIPAddress", "")),
      IPPort(PropInteger(Properties, "IPPort", kIPPortFallback)),
      TimeOut(PropInteger(Properties, "TimeOut", 1000)),
      PINGTimeOut(PropInteger(Properties, "PINGTimeOut", kPingTimeOutFallback)),
      ICMPOnConnect(PropBoolean(Properties, "ICMPOnConnect", kFlagsFallback)),
      CloseConnectionFlag(PropBoolean(Properties, "CloseConnection", kFlagsFallback)) {}

TTCPConnection::~TTCPConnection() {
    Close(nullptr);
}

void TTCPConnection::LogConnecting(TTerminalDataClass* Log) {
    AddLog(Log, "Connecting to " + IPAddress + " to port " + platform::IntToStr(IPPort));
}

bool TTCPConnection::SettingsChanged(TDevicePropertyList* Properties) {
    if (!Properties) return true;
    return PropString(Properties, "DeviceIPAddress", "") != IPAddress ||
           PropInteger(Properties, "IPPort", -1) != IPPort ||
           PropInteger(Properties, "TimeOut", 1000) != TimeOut;
}

bool TTCPConnection::CloseAfterPoll() {
    return CloseConnectionFlag;
}

bool TTCPConnection::CheckICMP(TTerminalDataClass* Log) {
    return CheckICMPRule(ICMPOnConnect, IPAddress, PINGTimeOut, Log);
}

bool TTCPConnection::Open(TTerminalDataClass* Log) {
    if (!CheckICMP(Log)) return false;
    // Cut to 16 bits, a port beyond the editor's limits would be another service's.
    if (IPPort < kMinIPPort || IPPort > kMaxIPPort) return false;
    try {
        Client = std::make_unique<platform::TTcpClient>();
        Client->Host = IPAddress;
        Client->Port = IPPort;
        if (Client->Connect(TimeOut) && Client->Connected()) {
            // Writes go out only when flushed, one frame at a time.
            Client->OpenWriteBuffer(-1);
            Client->SetRecvBufferSize(kReceiveBufferSize);
        } else {
            Client.reset();
        }
    } catch (const std::exception&) {
        Client.reset();
    }
    return Client != nullptr;
}

bool TTCPConnection::Close(TTerminalDataClass* Log) {
    AddLog(Log, "Disconnect started...");
    if (Client) {
        Client->Disconnect();
        Client->CloseWriteBuffer();
        Client.reset();
        AddLog(Log, "Disconnected");
    }
    return true;
}

int32_t TTCPConnection::Read(int32_t TimeOutMs, std::string& Data, TTerminalDataClass*) {
    const uint64_t start = platform::MonotonicMs();
    Data.clear();
    if (!Client) return 0;
    try {
        for (;;) {
            if (!Data.empty()) return static_cast<int32_t>(Data.size());
            Client->ReadTimeout = TimeOutMs;
            platform::Sleep(1);
            if (Client->Connected()) {
                Client->ReceiveWithTimeout(NextWait(start, TimeOutMs));
                Data = Client->TakeInput();
            }
            if (Data.empty() && (Elapsed(start, TimeOutMs) || platform::TThread::CurrentTerminated()))
                return 0;
        }
    } catch (const std::exception&) {
        Data.clear();
        return 0;
    }
}

int32_t TTCPConnection::Write(const std::string& Data, TTerminalDataClass*) {
    if (!Client) return kWriteFailed;
    try {
        if (!Client->Write(Data) || !Client->FlushWriteBuffer()) return kWriteFailed;
    } catch (const std::exception&) {
        return kWriteFailed;
    }
    return static_cast<int32_t>(Data.size());
}

bool TTCPConnection::IsOpen() {
    return Client && Client->Connected();
}

int32_t TTCPBadLineConnection::Read(int32_t TimeOutMs, std::string& Data, TTerminalDataClass*) {
    const uint64_t start = platform::MonotonicMs();
    Data.clear();
    if (!Client) return 0;
    do {
        try {
            Client->ReadTimeout = 100;
            platform::Sleep(20);
            const std::string chunk = Client->CurrentReadBuffer();
            if (!chunk.empty()) Data += chunk;
        } catch (const std::exception&) {
        }
    } while (!Elapsed(start, TimeOutMs) && !platform::TThread::CurrentTerminated());
    return static_cast<int32_t>(Data.size());
}

} // namespace framework
