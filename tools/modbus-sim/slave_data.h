// The data of the simulated slaves: four tables each, described on the command line or in a data
// file, and the libmodbus mapping built from them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <modbus.h>

namespace modbus_sim {

enum class Table { coils, discrete, holding, input };
constexpr int kTableCount = 4;

// "coils", "discrete", "holding", "input"; false for any other name.
bool TableFromName(std::string_view name, Table& table);
const char* TableName(Table table);

struct SlaveData {
    int address = 1;
    std::array<std::map<uint16_t, uint16_t>, kTableCount> values;
};

class SlaveSet {
public:
    // Makes the slave current, creating it on first mention. Error text, or empty.
    std::string Select(long address);
    // "ADDR=V[,V...]" where V is a value or VALUE*COUNT, into the current slave. Error text, or empty.
    std::string AddValues(Table table, std::string_view text);
    // Lines "slave N" and "<table> VALUES"; '#' starts a comment. Error text with the line number, or empty.
    std::string LoadFile(const std::string& path);

    // With no slave named at all there is one, address 1.
    std::vector<SlaveData>& Slaves();

private:
    SlaveData& Current();

    std::vector<SlaveData> slaves_;
    size_t current_ = 0;
};

// One table spans its lowest to its highest configured address; an empty table maps nothing, so
// libmodbus answers every access to it with an illegal-address exception.
modbus_mapping_t* NewMapping(const SlaveData& data);

// Where the address lies in the table of the mapping, or -1 outside it.
int MappingIndex(const modbus_mapping_t* mapping, Table table, long address);

} // namespace modbus_sim
