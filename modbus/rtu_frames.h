// The Modbus RTU master frames of one device: the poll request of each step, the write frames of
// functions 5, 6 and 16, and the checks of the replies. TModbus_Device's protocol hooks call these.
//
// Builders report problems as log lines and give an empty frame; parsers give 0 or a negative driver
// error code. Nothing raises.
#pragma once

#include <cstdint>
#include <string>

#include "framework/intercom_layout.h"
#include "modbus/data_block.h"
#include "modbus/edd_file.h"

namespace modbus {

// The two builders give 0, or the negative driver code of a step they refuse with no frame: a
// slave address outside the editor's limits (kErrDeviceAddress) or a number of the file too wide for
// its field (kErrReported); cut to its low bits, either would reach another device or register.

// Poll step `index`: the read request of request `index` of the device type; an empty frame when
// there is no such request, which ends the pass.
int32_t BuildReadRequest(const TModbusStation& station, int32_t index, std::string& frame,
                         framework::TTerminalDataClass* log, bool& needAnswer);

// The reply of poll step `index`: CRC, slave and function checked, then its data decoded.
int32_t ParseReadResponse(const TModbusStation& station, int32_t index, framework::TTerminalDataClass* log,
                          framework::TReceiveVariables* received, const std::string& answer);

// Write step `index` of the command for the tag address of `command`: the frame of action `index`,
// whose pause after the accepted reply is left in `postWriteDelay`.
int32_t BuildWriteRequest(const TModbusStation& station, uint16_t& postWriteDelay, int32_t index,
                          std::string& frame, framework::TTerminalDataClass* log, bool& needAnswer,
                          const framework::TCommandRecord& command);

// The reply of write step `index`; an accepted reply waits out `postWriteDelay`, which is then 0.
int32_t ParseWriteResponse(const TModbusStation& station, uint16_t& postWriteDelay, int32_t index,
                           const std::string& answer);

// The frame of one action for the command's value after the action's formula; empty also when the
// step is refused.
std::string BuildWriteFrame(int32_t deviceAddress, const framework::TCommandRecord& command,
                            const TCommandActionItem& action, framework::TTerminalDataClass* log);

int32_t CheckWriteResponse(int32_t deviceAddress, const std::string& answer);

} // namespace modbus
