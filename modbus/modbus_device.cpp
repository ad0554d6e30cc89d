#include "modbus/modbus_device.h"

#include "framework/tcp_connection.h"
#include "modbus/rtu_frames.h"
#include "platform/text.h"

using framework::TCommandRecord;
using framework::TOstrolinkaConnection;
using framework::TPropertyType;
using framework::TReceiveVariables;
using framework::TTerminalDataClass;

namespace modbus {

namespace {

constexpr const char* kTcpConnection = "TCP/IP";
constexpr const char* kSerialConnection = "RS232";
constexpr const char* kTcpChoice = "TCP Server connection";
constexpr const char* kSerialChoice = "COM port connection";

struct TModbusText {
    const char* name;
    const char* caption; // UTF-8 here, cp1251 once converted
    const char* hint;
};

constexpr TModbusText kTexts[] = {
    {"TypeOfConnection", "Тип соединения с устройством:",
     "Доступ к устройству возможен как в режиме TCP Server через преобразователь, так и через физический или "
     "виртуальный последовательный порт."},
    {"DeviceIPAddress", "Адрес конвертора RSXXX в Ethernet:",
     "Адрес преобразователя портов RS-232/485/422 в Ethernet. Прежде чем открыть порт будет проверена связь "
     "с "
     "преобразователем по протоколу ICMP."},
    {"IPPort",
     "Порт преобразователя:", "Порт установленный в преобразователе MOXA для доступа по протоколу TCP/IP."},
    {"RequestType", "Обслуживаемое устройство:",
     "Драйвер способен поддержать несколько различных устройств одновременно. Для каждого типа может быть "
     "создан "
     "собственный список запросов."},
};

// Exact name, letter case significant; nullptr for a name the Modbus list does not change.
const TModbusText* ModbusText(const std::string& name) {
    for (const TModbusText& t : kTexts)
        if (name == t.name) return &t;
    return nullptr;
}

// The entries appended to a pick list make its whole index range.
void SetChoiceRange(const std::vector<std::string>& items, int32_t& minValue, int32_t& maxValue) {
    minValue = 0;
    maxValue = static_cast<int32_t>(items.size()) - 1;
}

} // namespace

bool IsTcpConnection(framework::TDevicePropertyList* properties) {
    return properties != nullptr && properties->GetString("TypeOfConnection", "") == kTcpConnection;
}

// ---- TModbus_Property

void TModbus_Property::InitProperties() {
    TDevicePropertyList::InitProperties();
    DeleteProperty("IPPort");
    DeleteProperty("DeviceIPAddress");
    SetProperty("TypeOfConnection", kTcpConnection, TPropertyType::PickList);
    SetProperty("DeviceIPAddress", "127.0.0.1", TPropertyType::Text);
    SetProperty("IPPort", "4001", TPropertyType::Integer);
    SetProperty("RequestType", "default", TPropertyType::PickList);
}

std::string TModbus_Property::GetDefaultValue(const std::string& name) {
    std::string value = TDevicePropertyList::GetDefaultValue(name);
    // DeviceIPAddress keeps the base default; only a new list gets the loopback address.
    if (name == "RoutingPrefix")
        value = "MODBUS-RTU";
    else if (name == "DeviceName")
        value = "Modbus RTU device";
    else if (name == "IPPort")
        value = "4001";
    else if (name == "TypeOfConnection")
        value = kTcpConnection;
    else if (name == "RequestType")
        value = "default";
    return value;
}

bool TModbus_Property::GetEditInfo(const std::string& name, int32_t& minValue,
                                   std::vector<std::string>* items, TPropertyType& propType,
                                   int32_t& maxValue) {
    const bool result = TDevicePropertyList::GetEditInfo(name, minValue, items, propType, maxValue);
    if (items == nullptr) return result;
    if (name == "TypeOfConnection") {
        items->push_back(kTcpChoice);
        items->push_back(kSerialChoice);
        SetChoiceRange(*items, minValue, maxValue);
    } else if (name == "RequestType") {
        if (DeviceDescriptions != nullptr)
            for (int32_t i = 0; i < DeviceDescriptions->Count(); ++i)
                items->push_back(DeviceDescriptions->Devices(i)->name);
        SetChoiceRange(*items, minValue, maxValue);
    }
    return result;
}

bool TModbus_Property::GetBooleanFallback(const std::string& name) {
    // The flags are read by the connection the driver makes for the kind of link.
    if (name == "ICMPOnConnect" || name == "CloseConnection")
        return IsTcpConnection(this) ? framework::TTCPConnection::kFlagsFallback
                                     : framework::TRS232_Connection::kICMPFallback;
    return TDevicePropertyList::GetBooleanFallback(name);
}

bool TModbus_Property::IsTcpLink() {
    return IsTcpConnection(this);
}

void TModbus_Property::ChoiceToValue(const std::string& name, const std::vector<std::string>* items,
                                     std::string& value, int32_t choiceIndex) {
    // The inherited operation already gives a RequestType its entry text, or empty outside the list.
    TDevicePropertyList::ChoiceToValue(name, items, value, choiceIndex);
    if (name == "TypeOfConnection") value = choiceIndex == 0 ? kTcpConnection : kSerialConnection;
}

void TModbus_Property::ValueToChoice(const std::string& name, const std::string& value, std::string& choice) {
    TDevicePropertyList::ValueToChoice(name, value, choice);
    if (name == "TypeOfConnection")
        choice = value == kTcpConnection ? kTcpChoice : kSerialChoice;
    else if (name == "RequestType")
        choice = value;
}

bool TModbus_Property::GetCaption(const std::string& name, std::string& caption) {
    const bool result = TDevicePropertyList::GetCaption(name, caption);
    const TModbusText* text = ModbusText(name);
    if (text == nullptr) return result;
    caption = platform::Cp(text->caption);
    return true;
}

bool TModbus_Property::GetHint(const std::string& name, std::string& hint) {
    const bool result = TDevicePropertyList::GetHint(name, hint);
    const TModbusText* text = ModbusText(name);
    if (text == nullptr) return result;
    hint = platform::Cp(text->hint);
    return true;
}

// ---- TModbus_Device

TModbus_Device::TModbus_Device() : AlarmTable(std::make_unique<TAlarmTableList>()) {
    // The base constructor could only make the base list.
    Properties = CreateProperties();
}

TModbus_Device::~TModbus_Device() {
    AlarmTable.reset();
}

std::unique_ptr<framework::TDevicePropertyList> TModbus_Device::CreateProperties() {
    auto list = std::make_unique<TModbus_Property>();
    list->InitProperties();
    return list;
}

void TModbus_Device::ApplyProperties() {
    TDevice::ApplyProperties();
    if (!Properties) return;
    RequestType = Properties->GetString("RequestType", "default");
    // A link named other than these two is taken for the serial one.
    const framework::TDeviceProperty* link = Properties->FindProperty("TypeOfConnection");
    if (link != nullptr && link->Value != kTcpConnection && link->Value != kSerialConnection)
        NoteDefault(*link, kSerialConnection);
}

TModbusStation TModbus_Device::Station() {
    return TModbusStation{DeviceDescriptions, RequestType, DeviceAddress, RoutingPrefix, AlarmTable.get()};
}

void TModbus_Device::BuildReadRequest(TOstrolinkaConnection*, int32_t index, std::string& frame,
                                      TTerminalDataClass* log, bool& needAnswer) {
    RequestRefused = modbus::BuildReadRequest(Station(), index, frame, log, needAnswer);
}

int32_t TModbus_Device::ParseReadResponse(TOstrolinkaConnection*, int32_t index, TTerminalDataClass* log,
                                          TReceiveVariables* received, const std::string& answer) {
    return modbus::ParseReadResponse(Station(), index, log, received, answer);
}

void TModbus_Device::BuildWriteRequest(TOstrolinkaConnection*, int32_t index, std::string& frame,
                                       TTerminalDataClass* log, bool& needAnswer, TReceiveVariables*,
                                       const TCommandRecord& command) {
    RequestRefused =
        modbus::BuildWriteRequest(Station(), PostWriteDelay, index, frame, log, needAnswer, command);
}

int32_t TModbus_Device::ParseWriteResponse(TOstrolinkaConnection*, int32_t index, TTerminalDataClass*,
                                           TReceiveVariables*, const std::string& answer,
                                           const TCommandRecord&) {
    return modbus::ParseWriteResponse(Station(), PostWriteDelay, index, answer);
}

std::string TModbus_Device::BuildWriteFrame(const TCommandRecord& command, const TCommandActionItem& action,
                                            TTerminalDataClass* log) {
    return modbus::BuildWriteFrame(DeviceAddress, command, action, log);
}

int32_t TModbus_Device::CheckWriteResponse(const std::string& answer) {
    return modbus::CheckWriteResponse(DeviceAddress, answer);
}

int32_t TModbus_Device::DecodeDataBlock(const std::string& data, const TDeviceRequest& request,
                                        TTerminalDataClass* log, TReceiveVariables* received) {
    return modbus::DecodeDataBlock(Station(), data, request, log, received);
}

int32_t TModbus_Device::DecodeAlarmCodeData(const std::string& data, const TDeviceRequest& request,
                                            TTerminalDataClass* log, TReceiveVariables* received) {
    return modbus::DecodeAlarmCodeData(data, RoutingPrefix, log, received, request, DeviceAddress,
                                       *AlarmTable);
}

} // namespace modbus
