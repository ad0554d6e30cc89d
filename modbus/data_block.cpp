#include "modbus/data_block.h"

#include "evaluator/evaluation.h"
#include "framework/driver_error.h"
#include "framework/tag_routing.h"
#include "framework/terminal_data.h"
#include "modbus/frame_stream.h"
#include "modbus/number_format.h"
#include "platform/text.h"

#include <exception>

using framework::AddLog;
using framework::TReceiveVariables;
using framework::TTerminalDataClass;

namespace modbus {

namespace {

enum class TBlockKind { Normal, AlarmCode };

void Deliver(TReceiveVariables* received, const std::string& prefix, int32_t device, double value,
             int32_t address) {
    if (received != nullptr) received->Add(prefix, device, ToSingle(value), "", address);
}

const char* TypeWord(uint8_t typeCode) {
    switch (typeCode) {
    case btByte:
        return "btByte";
    case btShortInt:
        return "btShortInt";
    case btSmallInt:
        return "btSmallInt";
    case btWord:
        return "btWord";
    case btLongInt:
    case btLongIntSwap:
        return "btLongInt";
    case btLongWord:
    case btLongWordSwap:
        return "btLongWord";
    default:
        return "btSingle";
    }
}

// Which half of a 32-bit value the first word of the data is. The integer types read their words in
// opposite orders in the two block kinds; the single types read alike.
bool FirstWordHigh(uint8_t typeCode, TBlockKind kind) {
    switch (typeCode) {
    case btLongInt:
    case btLongWord:
        return kind == TBlockKind::AlarmCode;
    case btLongIntSwap:
    case btLongWordSwap:
        return kind == TBlockKind::Normal;
    case btSingleSwap:
        return true;
    default:
        return false;
    }
}

// The raw value of an item, and the width in bits of what was read.
bool ReadRaw(TFrameStream& stream, uint8_t typeCode, TBlockKind kind, double& raw, int& bitWidth) {
    uint8_t b = 0;
    uint16_t w = 0;
    uint32_t l = 0;
    float f = 0;
    switch (typeCode) {
    case btByte:
    case btShortInt:
        if (!FrameReadByte(&stream, b)) return false;
        raw = typeCode == btByte ? b : static_cast<int8_t>(b);
        bitWidth = 8;
        return true;
    case btSmallInt:
    case btWord:
        if (!FrameReadWord(&stream, w)) return false;
        raw = typeCode == btWord ? w : static_cast<int16_t>(w);
        bitWidth = 16;
        return true;
    case btLongInt:
    case btLongWord:
    case btLongIntSwap:
    case btLongWordSwap:
        if (!FrameReadLong(&stream, l, FirstWordHigh(typeCode, kind))) return false;
        raw = (typeCode == btLongWord || typeCode == btLongWordSwap) ? static_cast<double>(l)
                                                                     : static_cast<int32_t>(l);
        bitWidth = 32;
        return true;
    case btSingle:
    case btSingleSwap:
        if (!FrameReadSingle(&stream, f, FirstWordHigh(typeCode, kind))) return false;
        raw = f;
        bitWidth = 32;
        return true;
    default:
        // The loader refuses items without a type; such an item reads nothing.
        raw = 0;
        return true;
    }
}

// A value converted to an element's type; integers are rounded, halves to even.
double ConvertToType(double value, uint8_t typeCode) {
    switch (typeCode) {
    case btByte:
        return static_cast<uint8_t>(RoundToInt32(value));
    case btShortInt:
        return static_cast<int8_t>(static_cast<uint8_t>(RoundToInt32(value)));
    case btSmallInt:
        return static_cast<int16_t>(static_cast<uint16_t>(RoundToInt32(value)));
    case btWord:
        return static_cast<uint16_t>(RoundToInt32(value));
    case btLongInt:
    case btLongIntSwap:
        return RoundToInt32(value);
    case btLongWord:
    case btLongWordSwap:
        return static_cast<uint32_t>(RoundToInt64(value));
    case btSingle:
    case btSingleSwap:
        return ToSingle(value);
    default:
        return value;
    }
}

// The 32 bits of a bit string: an unsigned 32-bit value with all of them, anything else as a signed
// 32-bit integer.
uint32_t BitsOf(double value, uint8_t typeCode) {
    if (typeCode == btLongWord || typeCode == btLongWordSwap) return static_cast<uint32_t>(value);
    return static_cast<uint32_t>(RoundToInt32(value));
}

int32_t AlarmCodeOf(double value, int32_t offset) {
    const int64_t code = RoundToInt64(value);
    // Beyond this no offset brings the code back into 32 bits, and the sum cannot overflow.
    if (code < INT64_C(-1) << 40 || code > INT64_C(1) << 40) throw ERangeError();
    const int64_t sum = code + offset;
    if (sum < INT32_MIN || sum > INT32_MAX) throw ERangeError();
    return static_cast<int32_t>(sum);
}

enum class TFormulaOutcome { Applied, Skipped, Failed };

// An element's formula applied to its value: one that cannot be evaluated skips the element, one
// that throws ends the block.
TFormulaOutcome ApplyItemFormula(evaluator::TEvaluation& evaluation, const TDataBlockItem& x,
                                 TTerminalDataClass* log, double& value) {
    const std::string e = platform::Trim(x.expression);
    if (e.empty()) return TFormulaOutcome::Applied;
    std::string message;
    bool applied = false;
    try {
        applied = ApplyFormula(evaluation, e, 15, 0, value, message);
    } catch (const std::exception&) {
        AddLog(log, "Expression error: " + e);
        return TFormulaOutcome::Failed;
    }
    if (applied) return TFormulaOutcome::Applied;
    AddLog(log, "Decoding error(" + e + "): " + message);
    return TFormulaOutcome::Skipped;
}

// An element's value to its tags by its processing kind: bit by bit, as an alarm code, or whole.
void DeliverItem(TBlockKind kind, const TDataBlockItem& x, double value, int bitWidth,
                 const std::string& prefix, int32_t device, TTerminalDataClass* log,
                 TReceiveVariables* received, TAlarmTableList* alarmTable) {
    switch (x.ProcKind) {
    case pkBitString:
        if (kind == TBlockKind::AlarmCode) {
            AddLog(log, "BitString: Proc type not supported in ALARMCODE data block.");
        } else if (x.tsaddress >= 0) {
            const uint32_t bits = BitsOf(value, x.TypeCode);
            for (int bit = 0; bit < bitWidth; ++bit)
                Deliver(received, prefix, device, (bits >> bit) & 1u,
                        static_cast<int32_t>(static_cast<uint32_t>(x.tsaddress) + bit));
        }
        break;
    case pkAlarmCode:
        if (kind == TBlockKind::AlarmCode) {
            // Here tsaddress is an offset of the codes, negative ones included.
            if (value != 0) alarmTable->MarkCode(AlarmCodeOf(value, x.tsaddress));
            break;
        }
        [[fallthrough]];
    case pkValue:
        if (x.tsaddress >= 0) Deliver(received, prefix, device, value, x.tsaddress);
        break;
    default:
        break;
    }
}

int32_t DecodeBlock(TBlockKind kind, const std::string& data, const std::string& prefix,
                    TTerminalDataClass* log, TReceiveVariables* received, const TDeviceRequest& request,
                    int32_t device, TAlarmTableList* alarmTable) {
    if (data.empty()) {
        AddLog(log, "DecodeReceivedData: Data buffer is empty.");
        return framework::kErrBlockLength;
    }
    try {
        TFrameStream stream(data);
        const auto evaluation = evaluator::TEvaluation::Create();
        int bitWidth = 0;
        const TDataBlock& block = request.DataBlock;
        for (int32_t i = 0; i < block.Count(); ++i) {
            const TDataBlockItem* item = block.Items(i);
            double raw = 0;
            if (!ReadRaw(stream, item->TypeCode, kind, raw, bitWidth)) {
                AddLog(log, std::string("DecodeReceivedData: ") + TypeWord(item->TypeCode) +
                                " Read buffer error.");
                return framework::kErrBlockLength;
            }
            // The item and each of its subitems start from the raw value.
            for (const TDataBlockItem* x = item; x != nullptr; x = x->NextSubitem.get()) {
                double value = raw;
                const TFormulaOutcome outcome = ApplyItemFormula(*evaluation, *x, log, value);
                if (outcome == TFormulaOutcome::Failed) return framework::kErrBlockLength;
                if (outcome == TFormulaOutcome::Skipped) continue;
                DeliverItem(kind, *x, ConvertToType(value, x->TypeCode), bitWidth, prefix, device, log,
                            received, alarmTable);
            }
        }
    } catch (const std::exception&) {
        AddLog(log, "DecodeReceivedData: General exception.");
        return framework::kErrBlockLength;
    }
    return 0;
}

} // namespace

int32_t TAlarmTableList::Compare(const void* key1, const void* key2) {
    // The second code against the first, so that the highest code comes first.
    const int32_t a = *static_cast<const int32_t*>(key1);
    const int32_t b = *static_cast<const int32_t*>(key2);
    return b < a ? -1 : (b > a ? 1 : 0);
}

void TAlarmTableList::SetAllPresent(uint8_t flag) {
    for (int32_t i = 0; i < Count(); ++i)
        Item<TAlarmEntry>(i)->Present = flag;
}

void TAlarmTableList::MarkCode(int32_t code) {
    int32_t index = 0;
    if (!Search(&code, index)) AtInsert(index, new TAlarmEntry{code, 0});
    Item<TAlarmEntry>(index)->Present = 1;
}

void TAlarmTableList::SendToTags(const std::string& prefix, int32_t device, TReceiveVariables* received) {
    if (received == nullptr) return;
    for (int32_t i = 0; i < Count(); ++i)
        received->Add(prefix, device, Entries(i)->Present ? 1.0f : 0.0f, "", Entries(i)->Code);
}

void TAlarmTableList::RemoveAbsent() {
    for (int32_t i = Count() - 1; i >= 0; --i)
        if (Entries(i)->Present == 0) AtFree(i);
}

int32_t TEDDV2File::DecodeReceivedData(const std::string& data, const std::string& routingPrefix,
                                       TTerminalDataClass* log, TReceiveVariables* received,
                                       const TDeviceRequest& request, int32_t deviceAddress) const {
    return DecodeBlock(TBlockKind::Normal, data, routingPrefix, log, received, request, deviceAddress,
                       nullptr);
}

int32_t DecodeAlarmCodeData(const std::string& data, const std::string& routingPrefix,
                            TTerminalDataClass* log, TReceiveVariables* received,
                            const TDeviceRequest& request, int32_t deviceAddress,
                            TAlarmTableList& alarmTable) {
    return DecodeBlock(TBlockKind::AlarmCode, data, routingPrefix, log, received, request, deviceAddress,
                       &alarmTable);
}

int32_t DecodeDataBlock(const TModbusStation& station, const std::string& data, const TDeviceRequest& request,
                        TTerminalDataClass* log, TReceiveVariables* received) {
    const std::string& type = request.DataBlock.BlockType;
    if (type == "NORMAL") {
        if (station.Descriptions == nullptr) return framework::kErrReported;
        return station.Descriptions->DecodeReceivedData(data, station.RoutingPrefix, log, received, request,
                                                        station.DeviceAddress);
    }
    if (type == "ALARMCODE") {
        if (station.AlarmTable == nullptr) return framework::kErrReported;
        TAlarmTableList& table = *station.AlarmTable;
        table.SetAllPresent(0);
        const int32_t r = DecodeAlarmCodeData(data, station.RoutingPrefix, log, received, request,
                                              station.DeviceAddress, table);
        table.SendToTags(station.RoutingPrefix, station.DeviceAddress, received);
        table.RemoveAbsent();
        return r;
    }
    return framework::kErrBlockType;
}

} // namespace modbus
