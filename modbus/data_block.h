// Decoding of the data of poll answers by the data blocks of the description file, and the alarm
// table of an ALARMCODE block.
//
// NORMAL blocks are decoded by the description model (TEDDV2File::DecodeReceivedData), ALARMCODE
// blocks by DecodeAlarmCodeData against the device's alarm table. Both queue their values in the
// device thread's received values and give 0 when every item was decoded, else -12.
#pragma once

#include <cstdint>
#include <string>

#include "framework/collections.h"
#include "modbus/edd_file.h"

namespace modbus {

struct TAlarmEntry {
    int32_t Code;
    uint8_t Present; // 0 or 1
};

// The alarm codes a device reported, highest code first.
class TAlarmTableList : public framework::TSortedArray {
public:
    ~TAlarmTableList() override { FreeAll(); }
    void FreeItem(void* item) override { delete static_cast<TAlarmEntry*>(item); }
    const void* KeyOf(const void* item) override { return &static_cast<const TAlarmEntry*>(item)->Code; }
    int32_t Compare(const void* key1, const void* key2) override;

    void SetAllPresent(uint8_t flag);
    // The entry of the code, made when new, marked present.
    void MarkCode(int32_t code);
    // Every entry as 1.0 (present) or 0.0 to the tag address of its code.
    void SendToTags(const std::string& prefix, int32_t device, framework::TReceiveVariables* received);
    void RemoveAbsent();

    const TAlarmEntry* Entries(int32_t index) const { return Item<TAlarmEntry>(index); }
};

// What the frame and decoding steps need of the Modbus device they serve. TModbus_Device fills one
// from its own fields for each hook call.
struct TModbusStation {
    TEDDV2File* Descriptions = nullptr; // nullptr: no description file loaded
    std::string RequestType;
    int32_t DeviceAddress = 0;
    std::string RoutingPrefix;
    TAlarmTableList* AlarmTable = nullptr; // the device's own
};

int32_t DecodeAlarmCodeData(const std::string& data, const std::string& routingPrefix,
                            framework::TTerminalDataClass* log, framework::TReceiveVariables* received,
                            const TDeviceRequest& request, int32_t deviceAddress,
                            TAlarmTableList& alarmTable);

// The data of an accepted poll answer by the request's block type: NORMAL and ALARMCODE decode,
// any other type gives -31. An ALARMCODE table is sent and pruned whatever the decode gave.
int32_t DecodeDataBlock(const TModbusStation& station, const std::string& data, const TDeviceRequest& request,
                        framework::TTerminalDataClass* log, framework::TReceiveVariables* received);

} // namespace modbus
