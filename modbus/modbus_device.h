// The driver's device: one Modbus RTU slave behind a serial line or a serial-to-Ethernet converter in
// TCP server mode, and its property list, which trades the framework's IP settings for the
// converter's and adds the kind of link and the device type of the description file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/device.h"
#include "framework/device_property_list.h"
#include "modbus/data_block.h"

namespace modbus {

// The link the properties choose: the converter's TCP for a TypeOfConnection of "TCP/IP" exactly,
// a serial port for any other (and for no list).
bool IsTcpConnection(framework::TDevicePropertyList* properties);

class TModbus_Property : public framework::TDevicePropertyList {
public:
    void InitProperties() override;
    std::string GetDefaultValue(const std::string& name) override;
    bool GetEditInfo(const std::string& name, int32_t& minValue, std::vector<std::string>* items,
                     framework::TPropertyType& propType, int32_t& maxValue) override;
    bool GetBooleanFallback(const std::string& name) override;
    bool IsTcpLink() override;
    void ChoiceToValue(const std::string& name, const std::vector<std::string>* items, std::string& value,
                       int32_t choiceIndex) override;
    void ValueToChoice(const std::string& name, const std::string& value, std::string& choice) override;
    bool GetCaption(const std::string& name, std::string& caption) override;
    bool GetHint(const std::string& name, std::string& hint) override;
};

class TModbus_Device : public framework::TDevice {
public:
    TModbus_Device();
    ~TModbus_Device() override;

    std::unique_ptr<framework::TDevicePropertyList> CreateProperties() override;
    void ApplyProperties() override;

    void BuildReadRequest(framework::TOstrolinkaConnection* connection, int32_t index, std::string& frame,
                          framework::TTerminalDataClass* log, bool& needAnswer) override;
    int32_t ParseReadResponse(framework::TOstrolinkaConnection* connection, int32_t index,
                              framework::TTerminalDataClass* log, framework::TReceiveVariables* received,
                              const std::string& answer) override;
    void BuildWriteRequest(framework::TOstrolinkaConnection* connection, int32_t index, std::string& frame,
                           framework::TTerminalDataClass* log, bool& needAnswer,
                           framework::TReceiveVariables* received,
                           const framework::TCommandRecord& command) override;
    int32_t ParseWriteResponse(framework::TOstrolinkaConnection* connection, int32_t index,
                               framework::TTerminalDataClass* log, framework::TReceiveVariables* received,
                               const std::string& answer, const framework::TCommandRecord& command) override;

    std::string BuildWriteFrame(const framework::TCommandRecord& command, const TCommandActionItem& action,
                                framework::TTerminalDataClass* log);
    int32_t CheckWriteResponse(const std::string& answer);
    int32_t DecodeDataBlock(const std::string& data, const TDeviceRequest& request,
                            framework::TTerminalDataClass* log, framework::TReceiveVariables* received);
    int32_t DecodeAlarmCodeData(const std::string& data, const TDeviceRequest& request,
                                framework::TTerminalDataClass* log, framework::TReceiveVariables* received);

    uint16_t PostWriteDelay = 0; // ms; set between a write frame's build and the check of its reply
    std::string RequestType;     // the device type of the description file
    std::unique_ptr<TAlarmTableList> AlarmTable;

private:
    // What the frame and decoding steps read of this device, with the process's description model.
    TModbusStation Station();
};

} // namespace modbus
