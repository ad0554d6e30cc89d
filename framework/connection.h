// Connections: the byte-stream links over which a device list talks to its devices. The base class
// is abstract; TRS232_Connection is the serial port link (a physical port or a converter's virtual
// port). A nil log means no lines.
#pragma once

#include "framework/device_property_list.h"
#include "framework/terminal_data.h"
#include "platform/serial_port.h"

#include <cstdint>
#include <memory>
#include <string>

namespace framework {

// Which kind of link a connection is, so that a device list can tell whether the open connection is
// the kind it would make for a device; a different kind counts as changed settings.
enum class TConnectionKind { RS232, TCP, TCPBadLine };

class TOstrolinkaConnection {
public:
    // What a PINGTimeOut that is not a number is taken for.
    static constexpr int32_t kPingTimeOutFallback = 500;

    // The base takes nothing from the list.
    explicit TOstrolinkaConnection(TDevicePropertyList* Properties);
    virtual ~TOstrolinkaConnection() = default;
    TOstrolinkaConnection(const TOstrolinkaConnection&) = delete;
    TOstrolinkaConnection& operator=(const TOstrolinkaConnection&) = delete;

    virtual void LogConnecting(TTerminalDataClass* Log);
    // True when the properties differ from the settings the connection was made with.
    virtual bool SettingsChanged(TDevicePropertyList* Properties) = 0;
    // Close after every poll and command.
    virtual bool CloseAfterPoll();
    // Reachability test before opening.
    virtual bool CheckICMP(TTerminalDataClass* Log) = 0;
    virtual bool Open(TTerminalDataClass* Log) = 0;
    virtual bool Close(TTerminalDataClass* Log) = 0;
    // The answer's length; 0 (or less) when nothing arrived.
    virtual int32_t Read(int32_t TimeOutMs, std::string& Data, TTerminalDataClass* Log) = 0;
    // Sends the frame whole; the number of bytes sent.
    virtual int32_t Write(const std::string& Data, TTerminalDataClass* Log) = 0;
    virtual bool IsOpen() = 0;
    virtual TConnectionKind Kind() const = 0;

protected:
    // The ICMP check that every link with a remote address makes before opening.
    static bool CheckICMPRule(bool ICMPOnConnect, const std::string& IPAddress, int32_t PINGTimeOut,
                              TTerminalDataClass* Log);
    // The list's typed getters; a nil list gives the default.
    static std::string PropString(TDevicePropertyList* Properties, const std::string& Name,
                                  const std::string& Default);
    static int32_t PropInteger(TDevicePropertyList* Properties, const std::string& Name, int32_t Default);
    static bool PropBoolean(TDevicePropertyList* Properties, const std::string& Name, bool Default);
};

// The settings file whose section "ports" maps COMn port names to device paths; the driver sets it
// at start-up (its own ini file). Empty: COMn is /dev/ttyS(n-1).
void SetSerialPortsFile(const std::string& FileName);
std::string SerialPortsFile();

class TRS232_Connection : public TOstrolinkaConnection {
public:
    // A serial answer that never pauses is cut here, so that the reading thread cannot hang.
    static constexpr std::size_t kMaxAnswerLength = 32000;
    static constexpr uint64_t kMaxAnswerMs = 10000;
    // What an ICMPOnConnect that does not read as yes or no is taken for.
    static constexpr bool kICMPFallback = false;

    // Reads every field from the list; a missing property (or a nil list) gives the default.
    explicit TRS232_Connection(TDevicePropertyList* Properties);
    // Closes the port (no log) when it is open.
    ~TRS232_Connection() override;

    void LogConnecting(TTerminalDataClass* Log) override;
    bool SettingsChanged(TDevicePropertyList* Properties) override;
    bool CloseAfterPoll() override;
    bool CheckICMP(TTerminalDataClass* Log) override;
    bool Open(TTerminalDataClass* Log) override;
    bool Close(TTerminalDataClass* Log) override;
    int32_t Read(int32_t TimeOutMs, std::string& Data, TTerminalDataClass* Log) override;
    int32_t Write(const std::string& Data, TTerminalDataClass* Log) override;
    bool IsOpen() override;
    TConnectionKind Kind() const override { return TConnectionKind::RS232; }

    std::unique_ptr<platform::TSerialPort> Handle; // nil when closed
    std::string Port;
    uint32_t BaudRate = 9600;
    uint16_t StopBits = 0;
    uint16_t ByteSize = 8;
    uint16_t Parity = 256;  // only the low byte reaches the port
    int32_t TimeOut = 1000; // compared by SettingsChanged only; reads get the device's time-out
    std::string IPAddress;  // the converter that the ICMP check pings
    int32_t PINGTimeOut = 500;
    bool ICMPOnConnect = kICMPFallback;
    platform::TSerialSettings PortSettings;
    platform::TSerialTimeouts PortTimeouts;

private:
    // Close with Log, then the failure line.
    bool FailOpen(TTerminalDataClass* Log, const char* Line);
};

} // namespace framework
