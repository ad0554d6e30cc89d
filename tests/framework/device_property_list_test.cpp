#include "framework/device_property_list.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

using namespace framework;
using platform::Cp;

namespace {

// The base set as the setup windows show it: name|default|type|caption|hint| (UTF-8; the closing bar
// keeps trailing blanks of a hint visible).
const char* const kExpectedTable =
    R"(DeviceName|New device|0|Имя устройства:|Имя контролируемого устройства. Отображается в списке устройств и служит в реперезентативных целях. Должно быть уникальным в пределах драйвера. |
DeviceIPAddress||0|IP адрес устройства:|TCP/IP адрес устройства. Настоящая версия поддерживает только фиксированные адреса вида 192.168.0.10.|
DeviceAddress|1|1|Логический адрес устройства:|Логический или цифровой адрес устройства. Служит для идентификации устройства в пакете Ostrolinka и при работе с устройством черех шлюзы преобразования протоколов.|
IPPort|502|1|Используемый IP порт:|Номер порта, связанного с обслуживаемым протоколом. Уточняйте номер порта в описании протокола работы с контролируемым устройством.|
TimeOut|100|1|Время ожидания ответа:|Время ожидания ответа от устройства (в милисекундах). Если устройство не ответило за установленный интервал времени, связь с устройством считается потерянной.|
RetryCount|3|1|Количество попыток соединения:|Количество попыток установить связь с устройством до выдачи сигнала о потере связи. При потере связи тег контроля связи будет установлен в 1.|
Enabled|TRUE|2|Устройство активно:|Флаг разрешения/запрещения работы с контролируемым устройством. Если флаг сброшен драйвер не будет опрашивать устройство и отсылать команды к этому устройству.|
RoutingPrefix|OSTROLINKA|0|Префикс роуминга тегов:|Свойство идентифицирует префикс строки роуминга. Устройству будут приписаны теги с этим префиксом и соответствующим логическим адресом устройства.|
ReqwestInterval|2000|1|Частота опроса устройства:|Частота опроса устройства. Драйвер будет опрашивать устройство не чаще, чем установленный интервал опроса (милисекунды).|
PINGTimeOut|500|1|Время ожидания ответа ICMP:|Интервал времени, который требуется для проверки связи по протоколу ICMP. Как правило, этот интервал значительно меньше, чем время ожидания ответа от устройства. |
ICMPOnConnect|TRUE|2|Использовать ICMP для проверки связи:|Флаг необходимости проверять доступность устройства в сети TCP/IP посылкой пакета TCP/IP. Если устройство не доступно по ICMP связь с устройством считается потерянной.|
VarConnectStateName||5|Тег контроля состояния связи:|Имя тега контроля состояния связи. Тег устанавливается в 1 при потере связи и автоматически сбрасывается в 0 при восстановлении связи с устройством.|
CommandStateName||5|Тег квитирования команд:|Имя тега квитирования команд. Значения тега необходимо смотреть в сопроводительной документации к драйверу.|
VarBlockCommand||5|Тег управления доступом:|Если значение указанного тега станет равным 1, опрос устройства и отправка ему команд будут заблокированы.|
RS232Port|COM1|4|Порт RS232 или логический порт:|Имя логического порта или порта RS232 для доступа к устройству. При многопоточном режиме работы все устройства, связанные с одним портом будут обслужены отдельным потоком.|
RS232BaudRate|9600|4|Скорость передачи по порту RS-232:|Скорость передачи данных по порту RS-232. Скорость передачи данных должна быть согласована со скоростью работы контролируемого устройства.|
RS232StopBits|0|4|Количество сатртовых/стоповых бит:|Количество стартовых/стоповых бит. Данный параметр должен соответствовать аналогичному параметру на стороне контролируемого устройства.|
RS232ByteSize|8|4|Размер байта при передаче по RS-232:|Количество стартовых/стоповых бит. Данный параметр должен соответствовать аналогичному параметру на стороне контролируемого устройства.|
RS232Parity|0|4|Проверять четность при передаче по RS-232:|Способ проверки пакета по четности бит. Параметр должен быть согласован с аналогичным параметром на стороне контролируемого устройства.|
)";

struct Row {
    std::string name, defaultValue;
    int type;
    std::string caption, hint; // cp1251
};

std::vector<Row> ExpectedRows() {
    std::vector<Row> rows;
    std::istringstream in(kExpectedTable);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
            cells.push_back(line.substr(start, bar - start));
        if (cells.size() != 5) continue;
        rows.push_back({cells[0], cells[1], std::stoi(cells[2]), Cp(cells[3]), Cp(cells[4])});
    }
    return rows;
}

struct FreshPropertyList : ::testing::Test {
    FreshPropertyList() { list.InitProperties(); }
    TDevicePropertyList list;
};

std::vector<std::string> Strings(std::initializer_list<const char*> items) {
    return {items.begin(), items.end()};
}

} // namespace

TEST_F(FreshPropertyList, HoldsTheNineteenRecordsInOrderWithTheirTexts) {
    const std::vector<Row> rows = ExpectedRows();
    ASSERT_EQ(rows.size(), 19u);
    ASSERT_EQ(list.Count(), 19);
    for (int i = 0; i < 19; ++i) {
        const Row& row = rows[static_cast<std::size_t>(i)];
        SCOPED_TRACE(row.name);
        const TDeviceProperty* p = list.Property(i);
        EXPECT_EQ(p->Name, row.name);
        EXPECT_EQ(p->Value, row.defaultValue);
        EXPECT_EQ(static_cast<int>(p->PropType), row.type);
        EXPECT_EQ(list.GetDefaultValue(row.name), row.defaultValue);
        std::string caption, hint;
        EXPECT_TRUE(list.GetCaption(row.name, caption));
        EXPECT_EQ(caption, row.caption) << platform::Utf8FromCp1251(caption);
        EXPECT_TRUE(list.GetHint(row.name, hint));
        EXPECT_EQ(hint, row.hint) << platform::Utf8FromCp1251(hint);
    }
}

TEST_F(FreshPropertyList, KeepsTheTypingErrorsAndTheRepeatedHint) {
    std::string text;
    list.GetHint("DeviceName", text);
    EXPECT_NE(text.find(Cp("реперезентативных")), std::string::npos);
    EXPECT_TRUE(text.ends_with(". "));
    list.GetHint("PINGTimeOut", text);
    EXPECT_TRUE(text.ends_with(Cp("устройства. ")));
    list.GetHint("DeviceAddress", text);
    EXPECT_NE(text.find(Cp("черех")), std::string::npos);
    list.GetCaption("RS232StopBits", text);
    EXPECT_EQ(text, Cp("Количество сатртовых/стоповых бит:"));
    std::string stopBits, byteSize;
    list.GetHint("RS232StopBits", stopBits);
    list.GetHint("RS232ByteSize", byteSize);
    EXPECT_EQ(byteSize, stopBits);
    list.GetHint("DeviceIPAddress", text);
    EXPECT_TRUE(text.ends_with(Cp("вида 192.168.0.10.")));
    // cp1251 bytes, not UTF-8: one byte per letter.
    list.GetCaption("DeviceName", text);
    EXPECT_EQ(text.size(), 15u);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), 0xC8u); // И
}

TEST_F(FreshPropertyList, InitPropertiesStartsOver) {
    list.SetProperty("TimeOut", "5", TPropertyType::Integer);
    list.SetProperty("Extra", "x", TPropertyType::Text);
    list.DeleteProperty("DeviceName");
    list.InitProperties();
    ASSERT_EQ(list.Count(), 19);
    EXPECT_EQ(list.Property(0)->Name, "DeviceName");
    EXPECT_EQ(list.GetString("TimeOut", ""), "100");
    EXPECT_EQ(list.FindProperty("Extra"), nullptr);

    InitDeviceProperties(nullptr); // no list, nothing to do
    TDevicePropertyList other;
    InitDeviceProperties(&other);
    EXPECT_EQ(other.Count(), 19);
}

TEST_F(FreshPropertyList, NamesAreTrimmedAndCaseSensitiveExceptForTexts) {
    EXPECT_TRUE(list.SetProperty("  Enabled ", "FALSE", TPropertyType::Boolean));
    EXPECT_EQ(list.Count(), 19);
    EXPECT_EQ(list.Property(6)->Value, "FALSE");
    EXPECT_EQ(list.FindProperty(" Enabled\t"), list.Property(6));
    EXPECT_EQ(list.FindProperty("enabled"), nullptr);
    std::string caption;
    EXPECT_TRUE(list.GetCaption(" enabled ", caption));
    EXPECT_EQ(caption, Cp("Устройство активно:"));
    // Defaults look the name up exactly.
    EXPECT_EQ(list.GetDefaultValue("enabled"), "");
    EXPECT_EQ(list.GetDefaultValue(" Enabled"), "");
    EXPECT_EQ(list.GetDefaultValue("Enabled"), "TRUE");
}

TEST_F(FreshPropertyList, SetPropertyAppendsNewNamesAndRefusesEmptyOnes) {
    EXPECT_FALSE(list.SetProperty("", "x", TPropertyType::Text));
    EXPECT_FALSE(list.SetProperty("   ", "x", TPropertyType::Text));
    EXPECT_EQ(list.Count(), 19);
    EXPECT_TRUE(list.SetProperty(" Extra ", "v", TPropertyType::Real));
    ASSERT_EQ(list.Count(), 20);
    EXPECT_EQ(list.Property(19)->Name, "Extra");
    EXPECT_EQ(list.Property(19)->PropType, TPropertyType::Real);
    EXPECT_TRUE(list.SetProperty("Extra", "w", TPropertyType::Text));
    EXPECT_EQ(list.Count(), 20);
    EXPECT_EQ(list.Property(19)->Value, "w");
    EXPECT_EQ(list.Property(19)->PropType, TPropertyType::Text);
}

TEST_F(FreshPropertyList, TypedGettersFallBackToTheirDefaults) {
    EXPECT_EQ(list.GetInteger("TimeOut", 1000), 100);
    list.SetProperty("TimeOut", "abc", TPropertyType::Integer);
    EXPECT_EQ(list.GetInteger("TimeOut", 1000), 1000);
    list.SetProperty("TimeOut", "$1F", TPropertyType::Integer);
    EXPECT_EQ(list.GetInteger("TimeOut", 1000), 31);
    EXPECT_TRUE(list.DeleteProperty(" TimeOut "));
    EXPECT_FALSE(list.DeleteProperty("TimeOut"));
    EXPECT_EQ(list.Count(), 18);
    EXPECT_EQ(list.GetInteger("TimeOut", 1000), 1000);
    EXPECT_EQ(list.GetString("TimeOut", "none"), "none");
    EXPECT_EQ(list.GetString("RS232Port", "none"), "COM1");

    const struct {
        const char* text;
        bool expected;
    } booleans[] = {{"TRUE", true}, {"false", false}, {"0", false}, {"12", true}};
    for (const auto& b : booleans) {
        list.SetProperty("Enabled", b.text, TPropertyType::Boolean);
        EXPECT_EQ(list.GetBoolean("Enabled", !b.expected), b.expected) << b.text;
    }
    list.SetProperty("Enabled", "x", TPropertyType::Boolean);
    EXPECT_TRUE(list.GetBoolean("Enabled", true));
    EXPECT_FALSE(list.GetBoolean("Enabled", false));
    EXPECT_TRUE(list.GetBoolean("Missing", true));
}

TEST_F(FreshPropertyList, CyrillicValuesRoundTripByteForByte) {
    const std::string name = Cp("Насос №1 «Ёж» ") + std::string("\xFF\x80", 2);
    list.SetProperty("DeviceName", name, TPropertyType::Text);
    EXPECT_EQ(list.GetString("DeviceName", ""), name);
    TDevicePropertyList copy;
    copy.Assign(list);
    EXPECT_EQ(copy.GetString("DeviceName", ""), name);
}

TEST_F(FreshPropertyList, EditInfoOfPickListsAndRanges) {
    int32_t minValue = -1, maxValue = -1;
    TPropertyType type = TPropertyType::Custom;
    std::vector<std::string> items{"stale"};

    ASSERT_TRUE(list.GetEditInfo("RS232Port", minValue, &items, type, maxValue));
    ASSERT_EQ(items.size(), 255u);
    EXPECT_EQ(items.front(), "COM1");
    EXPECT_EQ(items[9], "COM10");
    EXPECT_EQ(items.back(), "COM255");
    EXPECT_EQ(type, TPropertyType::PickList);
    EXPECT_EQ(minValue, 0);
    EXPECT_EQ(maxValue, 254);
    ASSERT_TRUE(list.GetEditInfo("RS232Port", minValue, nullptr, type, maxValue));
    EXPECT_EQ(type, TPropertyType::PickList);
    EXPECT_EQ(minValue, 0);
    EXPECT_EQ(maxValue, INT32_MAX);

    ASSERT_TRUE(list.GetEditInfo("RS232BaudRate", minValue, &items, type, maxValue));
    EXPECT_EQ(items, Strings({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                              "56000", "57600", "115200", "128000", "256000"}));
    EXPECT_EQ(maxValue, 14);
    ASSERT_TRUE(list.GetEditInfo("RS232StopBits", minValue, &items, type, maxValue));
    EXPECT_EQ(items, Strings({"1", "1.5", "2"}));
    EXPECT_EQ(maxValue, 2);
    ASSERT_TRUE(list.GetEditInfo("RS232ByteSize", minValue, &items, type, maxValue));
    EXPECT_EQ(items, Strings({"8", "7"}));
    EXPECT_EQ(maxValue, 1);
    ASSERT_TRUE(list.GetEditInfo("RS232Parity", minValue, &items, type, maxValue));
    EXPECT_EQ(items, Strings({"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(minValue, 0);
    EXPECT_EQ(maxValue, 4);

    ASSERT_TRUE(list.GetEditInfo("ICMPOnConnect", minValue, &items, type, maxValue));
    EXPECT_EQ(type, TPropertyType::Boolean);
    EXPECT_EQ(items, Strings({"FALSE", "TRUE"}));
    EXPECT_EQ(minValue, 0);
    EXPECT_EQ(maxValue, 1);
    ASSERT_TRUE(list.GetEditInfo("IPPort", minValue, &items, type, maxValue));
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(minValue, 1);
    EXPECT_EQ(maxValue, 65535);
    ASSERT_TRUE(list.GetEditInfo(" DeviceAddress ", minValue, nullptr, type, maxValue));
    EXPECT_EQ(type, TPropertyType::Integer);
    EXPECT_EQ(minValue, 1);
    EXPECT_EQ(maxValue, 255);
    ASSERT_TRUE(list.GetEditInfo("VarBlockCommand", minValue, &items, type, maxValue));
    EXPECT_EQ(type, TPropertyType::TagName);
    EXPECT_EQ(maxValue, INT32_MAX);

    items = {"stale"};
    EXPECT_FALSE(list.GetEditInfo("NoSuchProperty", minValue, &items, type, maxValue));
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(type, TPropertyType::Integer);
    EXPECT_EQ(minValue, 0);
    EXPECT_EQ(maxValue, INT32_MAX);
}

TEST_F(FreshPropertyList, SerialChoicesMapToStoredNumbersAndBack) {
    const struct {
        const char* name;
        const char* entry;
        const char* stored;
    } pairs[] = {{"RS232StopBits", "1", "0"},  {"RS232StopBits", "1.5", "1"}, {"RS232StopBits", "2", "2"},
                 {"RS232ByteSize", "8", "8"},  {"RS232ByteSize", "7", "7"},   {"RS232Parity", "None", "0"},
                 {"RS232Parity", "Odd", "1"},  {"RS232Parity", "Even", "2"},  {"RS232Parity", "Mark", "3"},
                 {"RS232Parity", "Space", "4"}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(std::string(p.name) + " " + p.entry);
        int32_t minValue, maxValue;
        TPropertyType type;
        std::vector<std::string> items;
        list.GetEditInfo(p.name, minValue, &items, type, maxValue);
        int32_t index = -1;
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i] == p.entry) index = static_cast<int32_t>(i);
        std::string value, choice;
        list.ChoiceToValue(p.name, &items, value, index);
        EXPECT_EQ(value, p.stored);
        list.ValueToChoice(p.name, p.stored, choice);
        EXPECT_EQ(choice, p.entry);
    }
}

TEST_F(FreshPropertyList, ChoicesOutsideTheListsAndOtherProperties) {
    const auto toValue = [&](const char* name, const std::vector<std::string>* items, int32_t index) {
        std::string value = "stale";
        list.ChoiceToValue(name, items, value, index);
        return value;
    };
    const auto toChoice = [&](const char* name, const std::string& value) {
        std::string choice = "stale";
        list.ValueToChoice(name, value, choice);
        return choice;
    };
    const std::vector<std::string> items{"None", "Odd", "Even", "Mark", "Space"};
    EXPECT_EQ(toValue("RS232Parity", &items, 3), "3");
    EXPECT_EQ(toValue(" RS232Parity ", &items, 1), "1");
    EXPECT_EQ(toValue("RS232Parity", &items, 5), "");
    EXPECT_EQ(toValue("RS232Parity", &items, -1), "");
    EXPECT_EQ(toValue("RS232Parity", nullptr, 0), "");

    // Entries that no list offers store the port's first choice.
    const std::vector<std::string> odd{"9"};
    EXPECT_EQ(toValue("RS232StopBits", &odd, 0), "0");
    EXPECT_EQ(toValue("RS232ByteSize", &odd, 0), "8");
    EXPECT_EQ(toValue("RS232Parity", &odd, 0), "0");
    // Names compare case-sensitively: this is no serial setting, the entry is stored as it is.
    EXPECT_EQ(toValue("rs232parity", &items, 3), "Mark");
    const std::vector<std::string> ports{"COM1", "COM2"};
    EXPECT_EQ(toValue("RS232Port", &ports, 1), "COM2");

    EXPECT_EQ(toChoice("RS232Parity", "9"), "None");
    EXPECT_EQ(toChoice("RS232StopBits", "9"), "9");
    EXPECT_EQ(toChoice("RS232ByteSize", "5"), "5");
    EXPECT_EQ(toChoice(" RS232StopBits ", "1"), "1.5");
    EXPECT_EQ(toChoice("rs232stopbits", "1"), "1");
    EXPECT_EQ(toChoice("RS232BaudRate", "9600"), "9600");
    EXPECT_EQ(toChoice("DeviceName", Cp("Насос")), Cp("Насос"));
}

TEST_F(FreshPropertyList, UnknownNamesHaveNoTexts) {
    std::string caption, hint = "stale";
    EXPECT_FALSE(list.GetCaption("NoSuchProperty", caption));
    EXPECT_EQ(caption, "???");
    EXPECT_FALSE(list.GetHint("NoSuchProperty", hint));
    EXPECT_EQ(hint, "");
}

TEST_F(FreshPropertyList, AssignCopiesRecordsInOrder) {
    list.SetProperty("Extra", "x", TPropertyType::Custom);
    TDevicePropertyList copy;
    copy.SetProperty("Gone", "y", TPropertyType::Text);
    copy.Assign(list);
    ASSERT_EQ(copy.Count(), 20);
    EXPECT_EQ(copy.FindProperty("Gone"), nullptr);
    for (int i = 0; i < 20; ++i) {
        EXPECT_NE(copy.Property(i), list.Property(i)); // records are copies, not shared
        EXPECT_EQ(copy.Property(i)->Name, list.Property(i)->Name);
        EXPECT_EQ(copy.Property(i)->Value, list.Property(i)->Value);
        EXPECT_EQ(copy.Property(i)->PropType, list.Property(i)->PropType);
    }
    copy.SetProperty("TimeOut", "7", TPropertyType::Integer);
    EXPECT_EQ(list.GetString("TimeOut", ""), "100");

    list.Assign(list); // must not free what it is about to copy
    EXPECT_EQ(list.Count(), 20);
    EXPECT_EQ(list.GetString("Extra", ""), "x");
}

TEST_F(FreshPropertyList, BaseListEditsNoCustomValue) {
    TDeviceProperty* prop = list.FindProperty("DeviceName");
    EXPECT_FALSE(list.EditCustomValue(0, prop));
    EXPECT_EQ(prop->Value, "New device");
}

namespace {

// A protocol list: its defaults reach InitProperties through the virtual lookup.
struct ProtocolList : TDevicePropertyList {
    std::string GetDefaultValue(const std::string& name) override {
        if (name == "RoutingPrefix") return "OTHER";
        return TDevicePropertyList::GetDefaultValue(name);
    }
};

} // namespace

TEST(DevicePropertyList, InitPropertiesTakesOverriddenDefaults) {
    ProtocolList list;
    InitDeviceProperties(&list);
    EXPECT_EQ(list.GetString("RoutingPrefix", ""), "OTHER");
    EXPECT_EQ(list.GetString("DeviceName", ""), "New device");
}
