#include "framework/connection.h"

#include "framework/utilities.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"

#include <exception>
#include <mutex>

namespace framework {
namespace {

std::mutex portsFileLock;
std::string portsFile;

} // namespace

// ---- TOstrolinkaConnection -------------------------------------------------------------------

TOstrolinkaConnection::TOstrolinkaConnection(TDevicePropertyList*) {}

void TOstrolinkaConnection::LogConnecting(TTerminalDataClass*) {}

bool TOstrolinkaConnection::CloseAfterPoll() {
    return true;
}

std::string TOstrolinkaConnection::PropString(TDevicePropertyList* Properties, const std::string& Name,
                                              const std::string& Default) {
    return Properties ? Properties->GetString(Name, Default) : Default;
}

int32_t TOstrolinkaConnection::PropInteger(TDevicePropertyList* Properties, const std::string& Name,
                                           int32_t Default) {
    return Properties ? Properties->GetInteger(Name, Default) : Default;
}

bool TOstrolinkaConnection::PropBoolean(TDevicePropertyList* Properties, const std::string& Name,
                                        bool Default) {
    return Properties ? Properties->GetBoolean(Name, Default) : Default;
}

bool TOstrolinkaConnection::CheckICMPRule(bool ICMPOnConnect, const std::string& IPAddress,
                                          int32_t PINGTimeOut, TTerminalDataClass* Log) {
    if (!ICMPOnConnect) return true;
    if (IPAddress.empty()) {
        AddLog(Log, "IP адрес не определен или не верен."_cp);
        return false;
    }
    if (Ping(IPAddress, PINGTimeOut) < 0) {
        AddLog(Log, IPAddress + ": " + "Ошибка контроля связи по протоколу ICMP. Устройство не доступно."_cp);
        return false;
    }
    AddLog(Log, IPAddress + ": " + "ICMP запрос прошел успешно!"_cp);
    return true;
}

void SetSerialPortsFile(const std::string& FileName) {
    std::lock_guard<std::mutex> guard(portsFileLock);
    portsFile = FileName;
}

std::string SerialPortsFile() {
    std::lock_guard<std::mutex> guard(portsFileLock);
    return portsFile;
}

// ---- TRS232_Connection -----------------------------------------------------------------------

TRS232_Connection::TRS232_Connection(TDevicePropertyList* Properties)
    : TOstrolinkaConnection(Properties), Port(PropString(Properties, "RS232Port", "")),
      BaudRate(static_cast<uint32_t>(PropInteger(Properties, "RS232BaudRate", 9600))),
      StopBits(static_cast<uint16_t>(PropInteger(Properties, "RS232StopBits", 0))),
      ByteSize(static_cast<uint16_t>(PropInteger(Properties, "RS232ByteSize", 8))),
      Parity(static_cast<uint16_t>(PropInteger(Properties, "RS232Parity", 256))),
      TimeOut(PropInteger(Properties, "TimeOut", 1000)),
      IPAddress(PropString(Properties, "DeviceIPAddress", "")),
      PINGTimeOut(PropInteger(Properties, "PINGTimeOut", kPingTimeOutFallback)),
      ICMPOnConnect(PropBoolean(Properties, "ICMPOnConnect", kICMPFallback)) {
    PortSettings.DCBlength = 28;
}

TRS232_Connection::~TRS232_Connection() {
    if (IsOpen()) Close(nullptr);
}

void TRS232_Connection::LogConnecting(TTerminalDataClass* Log) {
    AddLog(Log, "Connecting via " + Port + " on speed " + platform::IntToStr(BaudRate) + " bod/sec");
}

bool TRS232_Connection::SettingsChanged(TDevicePropertyList* Properties) {
    if (!Properties) return true;
    // Compared as the numbers the properties hold, so that a value the fields cannot keep counts as
    // different rather than matching by its truncated bits.
    return PropString(Properties, "RS232Port", "") != Port ||
           PropInteger(Properties, "TimeOut", 1000) != TimeOut ||
           static_cast<int64_t>(PropInteger(Properties, "RS232BaudRate", 9600)) !=
               static_cast<int64_t>(BaudRate) ||
           PropInteger(Properties, "RS232StopBits", 0) != StopBits ||
           PropInteger(Properties, "RS232ByteSize", 8) != ByteSize ||
           PropInteger(Properties, "RS232Parity", 256) != Parity;
}

bool TRS232_Connection::CloseAfterPoll() {
    return false;
}

bool TRS232_Connection::CheckICMP(TTerminalDataClass* Log) {
    return CheckICMPRule(ICMPOnConnect, IPAddress, PINGTimeOut, Log);
}

bool TRS232_Connection::FailOpen(TTerminalDataClass* Log, const char* Line) {
    Close(Log);
    AddLog(Log, Line);
    return false;
}

bool TRS232_Connection::Open(TTerminalDataClass* Log) {
    if (IsOpen()) Close(Log);
    if (!CheckICMP(Log)) return false;
    PortTimeouts = platform::TSerialTimeouts{};
    if (Port.empty()) return false;
    AddLog(Log, "Try to open port " + Port + "....");
    auto port = std::make_unique<platform::TSerialPort>();
    if (!port->Open(Port, SerialPortsFile())) {
        Handle.reset();
        AddLog(Log, "ERROR: Port " + Port + " can not be open!");
        return false;
    }
    Handle = std::move(port);
    AddLog(Log, Port + " OK!");

    if (!Handle->GetState(PortSettings)) return FailOpen(Log, "ERROR: GetCommState failure!");
    PortSettings.BaudRate = BaudRate;
    PortSettings.ByteSize = static_cast<uint8_t>(ByteSize & 0xFF);
    PortSettings.Parity = static_cast<uint8_t>(Parity & 0xFF);
    PortSettings.StopBits = static_cast<uint8_t>(StopBits & 0xFF);
    if (!Handle->SetState(PortSettings)) return FailOpen(Log, "ERROR: SetCommState failure!");

    if (!Handle->GetTimeouts(PortTimeouts)) return FailOpen(Log, "ERROR: GetCommTimeouts failure!");
    // One-byte reads that give up 35 ms after the last byte: that pause ends an answer.
    PortTimeouts.ReadIntervalTimeout = 0xFFFFFFFFu;
    PortTimeouts.ReadTotalTimeoutMultiplier = 10;
    PortTimeouts.ReadTotalTimeoutConstant = 25;
    PortTimeouts.WriteTotalTimeoutMultiplier = 1;
    PortTimeouts.WriteTotalTimeoutConstant = 50;
    if (!Handle->SetTimeouts(PortTimeouts)) return FailOpen(Log, "ERROR: SetCommTimeouts failure!");

    if (!Handle->SetEventMask(0)) return FailOpen(Log, "ERROR: SetCommMask failure!");
    return true;
}

bool TRS232_Connection::Close(TTerminalDataClass*) {
    if (!Handle) return true;
    // The descriptor is gone even when closing reports an error; keeping it would only make the
    // link look open.
    const bool ok = Handle->Close();
    Handle.reset();
    return ok;
}

int32_t TRS232_Connection::Read(int32_t TimeOutMs, std::string& Data, TTerminalDataClass*) {
    Data.clear();
    if (!IsOpen()) return 0;
    try {
        const uint64_t start = platform::MonotonicMs();
        uint64_t firstByte = 0;
        for (;;) {
            char byte = 0;
            const int64_t n = Handle->Read(&byte, 1);
            if (n < 0) {
                Data.clear();
                return 0;
            }
            const uint64_t now = platform::MonotonicMs();
            // A thread asked to stop takes what has come so far, whatever the time-out.
            const bool stopping = platform::TThread::CurrentTerminated();
            if (n == 1) {
                if (Data.empty()) firstByte = now;
                Data.push_back(byte);
                if (Data.size() >= kMaxAnswerLength || now - firstByte >= kMaxAnswerMs || stopping)
                    return static_cast<int32_t>(Data.size());
                continue;
            }
            if (!Data.empty()) return static_cast<int32_t>(Data.size());
            if (static_cast<int64_t>(now - start) >= static_cast<int64_t>(TimeOutMs) || stopping) return 0;
        }
    } catch (const std::exception&) {
        Data.clear();
        return 0;
    }
}

int32_t TRS232_Connection::Write(const std::string& Data, TTerminalDataClass*) {
    if (!IsOpen() || Data.empty()) return 0;
    using namespace platform;
    if (!Handle->Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) return 0;
    const int64_t n = Handle->Write(Data.data(), Data.size());
    return n < 0 ? 0 : static_cast<int32_t>(n);
}

bool TRS232_Connection::IsOpen() {
    return Handle != nullptr;
}

} // namespace framework
