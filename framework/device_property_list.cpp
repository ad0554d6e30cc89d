#include "framework/device_property_list.h"

#include "framework/device.h"
#include "platform/text.h"

#include <array>

using platform::Trim;

namespace framework {

namespace {

struct BaseProperty {
    const char* name;
    const char* defaultValue;
    TPropertyType type;
    const char* caption; // UTF-8 here, cp1251 once converted
    const char* hint;
};

// The byte size row has always shown the stop bits hint.
constexpr const char* kStopBitsHint =
    "Количество стартовых/стоповых бит. Данный параметр должен соответствовать аналогичному параметру на "
    "стороне контролируемого устройства.";

constexpr std::array<BaseProperty, 19> kBaseProperties{{
    {"DeviceName", "New device", TPropertyType::Text, "Имя устройства:",
     "Имя контролируемого устройства. Отображается в списке устройств и служит в реперезентативных целях. "
     "Должно быть уникальным в пределах драйвера. "},
    {"DeviceIPAddress", "", TPropertyType::Text, "IP адрес устройства:",
     "TCP/IP адрес устройства. Настоящая версия поддерживает только фиксированные адреса вида 192.168.0.10."},
    {"DeviceAddress", "1", TPropertyType::Integer, "Логический адрес устройства:",
     "Логический или цифровой адрес устройства. Служит для идентификации устройства в пакете Ostrolinka и "
     "при работе с устройством черех шлюзы преобразования протоколов."},
    {"IPPort", "502", TPropertyType::Integer, "Используемый IP порт:",
     "Номер порта, связанного с обслуживаемым протоколом. Уточняйте номер порта в описании протокола работы "
     "с контролируемым устройством."},
    {"TimeOut", "100", TPropertyType::Integer, "Время ожидания ответа:",
     "Время ожидания ответа от устройства (в милисекундах). Если устройство не ответило за установленный "
     "интервал времени, связь с устройством считается потерянной."},
    {"RetryCount", "3", TPropertyType::Integer, "Количество попыток соединения:",
     "Количество попыток установить связь с устройством до выдачи сигнала о потере связи. При потере связи "
     "тег контроля связи будет установлен в 1."},
    {"Enabled", "TRUE", TPropertyType::Boolean, "Устройство активно:",
     "Флаг разрешения/запрещения работы с контролируемым устройством. Если флаг сброшен драйвер не будет "
     "опрашивать устройство и отсылать команды к этому устройству."},
    {"RoutingPrefix", "OSTROLINKA", TPropertyType::Text, "Префикс роуминга тегов:",
     "Свойство идентифицирует префикс строки роуминга. Устройству будут приписаны теги с этим префиксом и "
     "соответствующим логическим адресом устройства."},
    {"ReqwestInterval", "2000", TPropertyType::Integer, "Частота опроса устройства:",
     "Частота опроса устройства. Драйвер будет опрашивать устройство не чаще, чем установленный интервал "
     "опроса (милисекунды)."},
    {"PINGTimeOut", "500", TPropertyType::Integer, "Время ожидания ответа ICMP:",
     "Интервал времени, который требуется для проверки связи по протоколу ICMP. Как правило, этот интервал "
     "значительно меньше, чем время ожидания ответа от устройства. "},
    {"ICMPOnConnect", "TRUE", TPropertyType::Boolean, "Использовать ICMP для проверки связи:",
     "Флаг необходимости проверять доступность устройства в сети TCP/IP посылкой пакета TCP/IP. Если "
     "устройство не доступно по ICMP связь с устройством считается потерянной."},
    {"VarConnectStateName", "", TPropertyType::TagName, "Тег контроля состояния связи:",
     "Имя тега контроля состояния связи. Тег устанавливается в 1 при потере связи и автоматически "
     "сбрасывается в 0 при восстановлении связи с устройством."},
    {"CommandStateName", "", TPropertyType::TagName, "Тег квитирования команд:",
     "Имя тега квитирования команд. Значения тега необходимо смотреть в сопроводительной документации к "
     "драйверу."},
    {"VarBlockCommand", "", TPropertyType::TagName, "Тег управления доступом:",
     "Если значение указанного тега станет равным 1, опрос устройства и отправка ему команд будут "
     "заблокированы."},
    {"RS232Port", "COM1", TPropertyType::PickList, "Порт RS232 или логический порт:",
     "Имя логического порта или порта RS232 для доступа к устройству. При многопоточном режиме работы все "
     "устройства, связанные с одним портом будут обслужены отдельным потоком."},
    {"RS232BaudRate", "9600", TPropertyType::PickList, "Скорость передачи по порту RS-232:",
     "Скорость передачи данных по порту RS-232. Скорость передачи данных должна быть согласована со "
     "скоростью работы контролируемого устройства."},
    {"RS232StopBits", "0", TPropertyType::PickList, "Количество сатртовых/стоповых бит:", kStopBitsHint},
    {"RS232ByteSize", "8", TPropertyType::PickList, "Размер байта при передаче по RS-232:", kStopBitsHint},
    {"RS232Parity", "0", TPropertyType::PickList, "Проверять четность при передаче по RS-232:",
     "Способ проверки пакета по четности бит. Параметр должен быть согласован с аналогичным параметром на "
     "стороне контролируемого устройства."},
}};

struct BaseText {
    std::string caption;
    std::string hint;
};

const std::array<BaseText, kBaseProperties.size()>& BaseTexts() {
    static const auto texts = [] {
        std::array<BaseText, kBaseProperties.size()> t;
        for (std::size_t i = 0; i < kBaseProperties.size(); ++i)
            t[i] = {platform::Cp(kBaseProperties[i].caption), platform::Cp(kBaseProperties[i].hint)};
        return t;
    }();
    return texts;
}

// Index into the table for a caption or hint lookup: trimmed, letter case ignored; -1 when absent.
int BaseTextIndex(const std::string& name) {
    const std::string key = platform::UpperCase(Trim(name));
    for (std::size_t i = 0; i < kBaseProperties.size(); ++i)
        if (platform::UpperCase(kBaseProperties[i].name) == key) return static_cast<int>(i);
    return -1;
}

// Pick-list entries and the stored numbers the serial link takes for them.
struct Choice {
    const char* entry;
    const char* stored;
};
constexpr std::array<Choice, 3> kStopBits{{{"1", "0"}, {"1.5", "1"}, {"2", "2"}}};
constexpr std::array<Choice, 2> kByteSizes{{{"8", "8"}, {"7", "7"}}};
constexpr std::array<Choice, 5> kParities{
    {{"None", "0"}, {"Odd", "1"}, {"Even", "2"}, {"Mark", "3"}, {"Space", "4"}}};
constexpr std::array<const char*, 15> kBaudRates{"110",   "300",   "600",    "1200",   "2400",
                                                 "4800",  "9600",  "14400",  "19200",  "38400",
                                                 "56000", "57600", "115200", "128000", "256000"};
constexpr int kComPortCount = 255;

template <std::size_t N>
void FillEntries(std::vector<std::string>& items, const std::array<Choice, N>& choices) {
    for (const Choice& c : choices)
        items.emplace_back(c.entry);
}

// Entry text -> stored number; an unknown entry stores the first choice's number.
template <std::size_t N>
std::string StoredOf(const std::array<Choice, N>& choices, const std::string& entry) {
    for (const Choice& c : choices)
        if (entry == c.entry) return c.stored;
    return choices[0].stored;
}

// Stored number -> entry text; `fallback` for a number the list does not hold.
template <std::size_t N>
std::string EntryOf(const std::array<Choice, N>& choices, const std::string& stored,
                    const std::string& fallback) {
    for (const Choice& c : choices)
        if (stored == c.stored) return c.entry;
    return fallback;
}

} // namespace

void TDevicePropertyList::FreeItem(void* item) {
    delete static_cast<TDeviceProperty*>(item);
}

void TDevicePropertyList::Assign(const TDevicePropertyList& source) {
    // Freeing first would empty the source as well.
    if (&source == this) return;
    FreeAll();
    for (int32_t i = 0; i < source.Count(); ++i)
        Insert(new TDeviceProperty(*source.Property(i)));
}

void TDevicePropertyList::InitProperties() {
    FreeAll();
    for (const BaseProperty& p : kBaseProperties)
        Insert(new TDeviceProperty{p.name, GetDefaultValue(p.name), p.type});
}

std::string TDevicePropertyList::GetDefaultValue(const std::string& name) {
    for (const BaseProperty& p : kBaseProperties)
        if (name == p.name) return p.defaultValue;
    return {};
}

bool TDevicePropertyList::GetEditInfo(const std::string& name, int32_t& minValue,
                                      std::vector<std::string>* items, TPropertyType& propType,
                                      int32_t& maxValue) {
    minValue = 0;
    maxValue = 2147483647;
    propType = TPropertyType::Integer;
    if (items) items->clear();
    const TDeviceProperty* prop = FindProperty(name);
    if (!prop) return false;

    propType = prop->PropType;
    if (propType == TPropertyType::Boolean) {
        minValue = 0;
        maxValue = 1;
        if (items) *items = {"FALSE", "TRUE"};
    }
    const std::string& key = prop->Name;
    if (key == "IPPort") {
        minValue = kMinIPPort;
        maxValue = kMaxIPPort;
    } else if (key == "DeviceAddress") {
        minValue = kMinDeviceAddress;
        maxValue = kMaxDeviceAddress;
    } else if (items) {
        bool pickList = true;
        if (key == "RS232Port") {
            items->clear();
            for (int i = 1; i <= kComPortCount; ++i)
                items->push_back("COM" + platform::IntToStr(i));
        } else if (key == "RS232BaudRate") {
            *items = {kBaudRates.begin(), kBaudRates.end()};
        } else if (key == "RS232StopBits") {
            items->clear();
            FillEntries(*items, kStopBits);
        } else if (key == "RS232ByteSize") {
            items->clear();
            FillEntries(*items, kByteSizes);
        } else if (key == "RS232Parity") {
            items->clear();
            FillEntries(*items, kParities);
        } else {
            pickList = false;
        }
        if (pickList) {
            minValue = 0;
            maxValue = static_cast<int32_t>(items->size()) - 1;
        }
    }
    return true;
}

std::string TDevicePropertyList::GetString(const std::string& name, const std::string& aDefault) {
    const TDeviceProperty* prop = FindProperty(name);
    return prop ? prop->Value : aDefault;
}

int32_t TDevicePropertyList::GetInteger(const std::string& name, int32_t aDefault) {
    const TDeviceProperty* prop = FindProperty(name);
    return prop ? platform::StrToIntDef(prop->Value, aDefault) : aDefault;
}

bool TDevicePropertyList::GetBoolean(const std::string& name, bool aDefault) {
    const TDeviceProperty* prop = FindProperty(name);
    bool value;
    if (prop && platform::TryStrToBool(prop->Value, value)) return value;
    return aDefault;
}

bool TDevicePropertyList::GetBooleanFallback(const std::string& name) {
    // The device reads Enabled; the base list makes no connection to read the rest.
    return platform::SameText(name, "Enabled") ? TDevice::kEnabledFallback : false;
}

bool TDevicePropertyList::IsTcpLink() {
    return false;
}

void TDevicePropertyList::ChoiceToValue(const std::string& name, const std::vector<std::string>* items,
                                        std::string& value, int32_t choiceIndex) {
    value.clear();
    if (!items || choiceIndex < 0 || static_cast<std::size_t>(choiceIndex) >= items->size()) return;
    value = (*items)[static_cast<std::size_t>(choiceIndex)];
    const std::string key = Trim(name);
    if (key == "RS232StopBits")
        value = StoredOf(kStopBits, value);
    else if (key == "RS232ByteSize")
        value = StoredOf(kByteSizes, value);
    else if (key == "RS232Parity")
        value = StoredOf(kParities, value);
}

void TDevicePropertyList::ValueToChoice(const std::string& name, const std::string& value,
                                        std::string& choice) {
    const std::string key = Trim(name);
    if (key == "RS232StopBits")
        choice = EntryOf(kStopBits, value, value);
    else if (key == "RS232ByteSize")
        choice = EntryOf(kByteSizes, value, value);
    else if (key == "RS232Parity")
        choice = EntryOf(kParities, value, kParities[0].entry); // the port falls back to no parity too
    else
        choice = value;
}

bool TDevicePropertyList::GetCaption(const std::string& name, std::string& caption) {
    const int i = BaseTextIndex(name);
    caption = i < 0 ? std::string("???") : BaseTexts()[static_cast<std::size_t>(i)].caption;
    return i >= 0;
}

bool TDevicePropertyList::GetHint(const std::string& name, std::string& hint) {
    const int i = BaseTextIndex(name);
    hint = i < 0 ? std::string() : BaseTexts()[static_cast<std::size_t>(i)].hint;
    return !hint.empty();
}

bool TDevicePropertyList::EditCustomValue(platform::HWND, TDeviceProperty*) {
    return false;
}

TDeviceProperty* TDevicePropertyList::FindProperty(const std::string& name) {
    const std::string key = Trim(name);
    for (int32_t i = 0; i < Count(); ++i)
        if (Property(i)->Name == key) return Property(i);
    return nullptr;
}

bool TDevicePropertyList::DeleteProperty(const std::string& name) {
    const std::string key = Trim(name);
    for (int32_t i = 0; i < Count(); ++i) {
        if (Property(i)->Name == key) {
            AtFree(i);
            return true;
        }
    }
    return false;
}

bool TDevicePropertyList::SetProperty(const std::string& name, const std::string& value,
                                      TPropertyType propType) {
    const std::string key = Trim(name);
    if (key.empty()) return false;
    TDeviceProperty* prop = FindProperty(key);
    if (!prop) {
        prop = new TDeviceProperty{key, {}, propType};
        Insert(prop);
    }
    prop->Value = value;
    prop->PropType = propType;
    return true;
}

void InitDeviceProperties(TDevicePropertyList* list) {
    if (list) list->InitProperties();
}

} // namespace framework
