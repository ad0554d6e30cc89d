// TCP links to devices, usually through a serial-to-Ethernet converter in TCP server mode.
// TTCPBadLineConnection differs only in reading: it collects for the whole time-out, for lines that
// deliver a frame in pieces.
#pragma once

#include "framework/connection.h"
#include "framework/driver_error.h"
#include "platform/tcp_client.h"

#include <cstdint>
#include <memory>
#include <string>

namespace framework {

class TTCPConnection : public TOstrolinkaConnection {
public:
    // Driver code for a write that could not be made.
    static constexpr int32_t kWriteFailed = kErrPortWrite;
    static constexpr std::size_t kReceiveBufferSize = 32000;
    // What an ICMPOnConnect or CloseConnection that does not read as yes or no is taken for.
    static constexpr bool kFlagsFallback = true;
    // What an IPPort that is not a number is taken for.
    static constexpr int32_t kIPPortFallback = 502;

    explicit TTCPConnection(TDevicePropertyList* Properties);
    // Closes the link (no log).
    ~TTCPConnection() override;

    void LogConnecting(TTerminalDataClass* Log) override;
    bool SettingsChanged(TDevicePropertyList* Properties) override;
    bool CloseAfterPoll() override;
    bool CheckICMP(TTerminalDataClass* Log) override;
    bool Open(TTerminalDataClass* Log) override;
    bool Close(TTerminalDataClass* Log) override;
    // The first non-empty chunk that arrives within TimeOutMs, however short.
    int32_t Read(int32_t TimeOutMs, std::string& Data, TTerminalDataClass* Log) override;
    int32_t Write(const std::string& Data, TTerminalDataClass* Log) override;
    bool IsOpen() override;
    TConnectionKind Kind() const override { return TConnectionKind::TCP; }

    std::string IPAddress;
    int32_t IPPort = 502;
    int32_t TimeOut = 1000; // the connect time-out
    int32_t PINGTimeOut = 500;
    bool ICMPOnConnect = kFlagsFallback;
    bool CloseConnectionFlag = kFlagsFallback;
    std::unique_ptr<platform::TTcpClient> Client; // nil when closed
};

class TTCPBadLineConnection : public TTCPConnection {
public:
    using TTCPConnection::TTCPConnection;

    // Everything received during the whole TimeOutMs.
    int32_t Read(int32_t TimeOutMs, std::string& Data, TTerminalDataClass* Log) override;
    TConnectionKind Kind() const override { return TConnectionKind::TCPBadLine; }
};

} // namespace framework
