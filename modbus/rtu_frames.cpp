#include "modbus/rtu_frames.h"

#include "evaluator/evaluation.h"
#include "framework/device_property_list.h"
#include "framework/driver_error.h"
#include "framework/terminal_data.h"
#include "modbus/crc16.h"
#include "modbus/frame_stream.h"
#include "modbus/number_format.h"
#include "platform/text.h"
#include "platform/thread.h"

#include <exception>

using framework::AddLog;
using framework::TCommandRecord;
using framework::TReceiveVariables;
using framework::TTerminalDataClass;
using platform::IntToStr;

namespace modbus {

namespace {

// The device type of the station; a name that the file does not know is logged on every step.
TDeviceTypeRecord* FindType(const TModbusStation& station, TTerminalDataClass* log) {
    TDeviceTypeRecord* type = station.Descriptions->FindDevice(station.RequestType);
    if (type == nullptr) AddLog(log, "Список запросов к устройству не определен!"_cp);
    return type;
}

bool Fits(int32_t value, int32_t low, int32_t high) {
    return value >= low && value <= high;
}

// A slave address outside the editor's limits builds no frame: its low byte is another device, and
// 0 would reach every device at once.
int32_t CheckSlave(int32_t deviceAddress, TTerminalDataClass* log) {
    if (Fits(deviceAddress, framework::kMinDeviceAddress, framework::kMaxDeviceAddress)) return 0;
    AddLog(log, framework::ErrorText(framework::kErrDeviceAddress, deviceAddress));
    return framework::kErrDeviceAddress;
}

// The frame of one action, or the code of a step refused before anything was written.
int32_t WriteFrame(int32_t deviceAddress, const TCommandRecord& command, const TCommandActionItem& action,
                   TTerminalDataClass* log, std::string& frame);

// The last two bytes, high byte first, against the CRC of the rest.
bool CrcMatches(const std::string& answer) {
    const std::size_t n = answer.size() - 2;
    const uint16_t received =
        static_cast<uint16_t>((static_cast<uint8_t>(answer[n]) << 8) | static_cast<uint8_t>(answer[n + 1]));
    return received == CalcCrc16(answer.data(), static_cast<uint16_t>(n));
}

} // namespace

int32_t BuildReadRequest(const TModbusStation& station, int32_t index, std::string& frame,
                         TTerminalDataClass* log, bool& needAnswer) {
    frame.clear();
    needAnswer = false;
    try {
        if (index < 0 || station.Descriptions == nullptr) return 0;
        const TDeviceTypeRecord* type = FindType(station, log);
        if (type == nullptr || index >= type->Requests.Count()) return 0;
        needAnswer = true;
        const TDeviceRequest& request = *type->Requests.Requests(index);
        if (const int32_t r = CheckSlave(station.DeviceAddress, log); r != 0) return r;
        // Cut to its field, a number of the file would read another register or function.
        if (!Fits(request.function, 0, 0xFF) || !Fits(request.address, 0, 0xFFFF) ||
            !Fits(request.size, 0, 0xFFFF))
            return framework::kErrReported;
        TFrameStream stream;
        FrameWriteByte(stream, static_cast<uint8_t>(station.DeviceAddress));
        FrameWriteByte(stream, static_cast<uint8_t>(request.function));
        FrameWriteWord(stream, static_cast<uint16_t>(request.address));
        FrameWriteWord(stream, static_cast<uint16_t>(request.size));
        if (FrameAppendCrc(stream)) frame = stream.Bytes();
    } catch (const std::exception&) {
        frame.clear();
    }
    return 0;
}

int32_t ParseReadResponse(const TModbusStation& station, int32_t index, TTerminalDataClass* log,
                          TReceiveVariables* received, const std::string& answer) {
    try {
        if (index < 0 || station.Descriptions == nullptr) return framework::kErrReported;
        const TDeviceTypeRecord* type = FindType(station, log);
        if (type == nullptr || index >= type->Requests.Count()) return framework::kErrReported;
        if (answer.size() < 2 || !CrcMatches(answer)) return framework::kErrCrc;

        TFrameStream stream(answer);
        stream.SetSize(answer.size() - 2);
        uint8_t slave = 0, function = 0, byteCount = 0;
        // A reply too short to hold slave and function (FF FF carries a valid CRC over nothing) is
        // no reply of this device.
        if (!FrameReadByte(&stream, slave) || !FrameReadByte(&stream, function))
            return framework::kErrReported;
        // The byte count is skipped, never compared with the data.
        if (stream.Left() > 0) FrameReadByte(&stream, byteCount);
        if (slave != station.DeviceAddress) return framework::kErrDeviceAddress;
        if (function > 0x80) return framework::kErrProtocol;
        return DecodeDataBlock(station, stream.Rest(), *type->Requests.Requests(index), log, received);
    } catch (const std::exception&) {
        return framework::kErrReported;
    }
}

int32_t BuildWriteRequest(const TModbusStation& station, uint16_t& postWriteDelay, int32_t index,
                          std::string& frame, TTerminalDataClass* log, bool& needAnswer,
                          const TCommandRecord& command) {
    postWriteDelay = 0;
    frame.clear();
    needAnswer = true;
    try {
        if (index < 0 || station.Descriptions == nullptr) return 0;
        const TDeviceTypeRecord* type = FindType(station, log);
        if (type == nullptr) return 0;
        if (index == 0) {
            AddLog(log, "Tag ID=" + IntToStr(command.VariableId));
            AddLog(log, "Domen=" + command.Domain.Get());
            AddLog(log, "Device=" + IntToStr(command.Device));
            AddLog(log, "Tag Address=" + IntToStr(command.TagAddress));
            AddLog(log, "Tag String Address=" + command.StrAddress.Get());
            AddLog(log, "Tag Value=" + GeneralNumberText(command.Value, 8, 2));
        }
        const TDeviceCommand* cmd = type->Commands.FindByTsAddress(command.TagAddress);
        if (cmd == nullptr) {
            AddLog(log, "ERROR:Command not supported!");
            return 0;
        }
        if (index >= cmd->Actions.Count()) return 0;
        const TCommandActionItem& action = *cmd->Actions.Actions(index);
        postWriteDelay = action.sleep;
        return WriteFrame(station.DeviceAddress, command, action, log, frame);
    } catch (const std::exception&) {
        frame.clear();
    }
    return 0;
}

std::string BuildWriteFrame(int32_t deviceAddress, const TCommandRecord& command,
                            const TCommandActionItem& action, TTerminalDataClass* log) {
    std::string frame;
    WriteFrame(deviceAddress, command, action, log, frame);
    return frame;
}

namespace {

int32_t WriteFrame(int32_t deviceAddress, const TCommandRecord& command, const TCommandActionItem& action,
                   TTerminalDataClass* log, std::string& frame) {
    frame.clear();
    try {
        const int32_t f = action.function;
        if (f != 5 && f != 6 && f != 16) {
            AddLog(log, "ERROR::Unsupported MODBUS function! (" + IntToStr(f) + ")");
            return 0;
        }
        double v = command.Value;
        const std::string e = platform::Trim(action.expression);
        if (!e.empty()) {
            const auto evaluation = evaluator::TEvaluation::Create();
            std::string message;
            // A formula that gives Null without a message is as much an error as one with.
            if (!ApplyFormula(*evaluation, e, 8, 4, v, message)) {
                AddLog(log, "EXPRESSION ERROR::" + message);
                return 0;
            }
        }
        if (const int32_t r = CheckSlave(deviceAddress, log); r != 0) return r;
        // Cut to 16 bits, the file's address would write another register.
        if (!Fits(action.address, 0, 0xFFFF)) return framework::kErrReported;
        TFrameStream stream;
        FrameWriteByte(stream, static_cast<uint8_t>(deviceAddress));
        FrameWriteByte(stream, static_cast<uint8_t>(f));
        FrameWriteWord(stream, static_cast<uint16_t>(action.address));
        if (f == 5) {
            FrameWriteWord(stream, v > 0 ? 0xFF00 : 0x0000);
        } else if (f == 6) {
            FrameWriteWord(stream, static_cast<uint16_t>(RoundToInt32(v)));
        } else {
            // A 32-bit value goes out low word first in two registers.
            const auto n = static_cast<uint32_t>(RoundToInt32(v));
            FrameWriteWord(stream, 2);
            FrameWriteByte(stream, 4);
            FrameWriteWord(stream, static_cast<uint16_t>(n));
            FrameWriteWord(stream, static_cast<uint16_t>(n >> 16));
        }
        if (FrameAppendCrc(stream)) frame = stream.Bytes();
    } catch (const std::exception&) {
        // A value outside the 32-bit range: no frame, and no log line either.
    }
    return 0;
}

} // namespace

int32_t CheckWriteResponse(int32_t deviceAddress, const std::string& answer) {
    try {
        if (answer.size() <= 2 || !CrcMatches(answer)) return framework::kErrCrc;
        // Read without the CRC, so that a reply cut short reads 0 for what it lacks, not CRC bytes.
        TFrameStream stream(answer.substr(0, answer.size() - 2));
        uint8_t slave = 0, function = 0;
        uint16_t first = 0, second = 0;
        FrameReadByte(&stream, slave);
        FrameReadByte(&stream, function);
        FrameReadWord(&stream, first);
        FrameReadWord(&stream, second);
        if (slave != deviceAddress) return framework::kErrDeviceAddress;
        if (function >= 0x80) return framework::kErrProtocol;
        // The echo of functions 5, 6 and 16 is 8 bytes; a shorter reply would pass on bytes read as 0.
        if (answer.size() < 8) return framework::kErrCrc;
        return 0;
    } catch (const std::exception&) {
        return framework::kErrReported;
    }
}

int32_t ParseWriteResponse(const TModbusStation& station, uint16_t& postWriteDelay, int32_t index,
                           const std::string& answer) {
    if (index < 0) return framework::kErrReported;
    const int32_t r = CheckWriteResponse(station.DeviceAddress, answer);
    if (r == 0 && postWriteDelay > 0) platform::TThread::SleepUnlessTerminated(postWriteDelay);
    postWriteDelay = 0;
    return r;
}

} // namespace modbus
