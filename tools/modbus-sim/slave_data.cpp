#include "slave_data.h"

#include <fstream>

#include "rtu.h"

namespace modbus_sim {

namespace {

constexpr const char* kNames[kTableCount] = {"coils", "discrete", "holding", "input"};

bool IsBitTable(Table table) {
    return table == Table::coils || table == Table::discrete;
}

std::string CheckValue(Table table, long value) {
    if (IsBitTable(table) ? (value != 0 && value != 1) : (value < -32768 || value > 65535))
        return std::string("value ") + std::to_string(value) + " does not fit the " + TableName(table) +
               " table (" + (IsBitTable(table) ? "0 or 1" : "-32768..65535") + ")";
    return {};
}

} // namespace

bool TableFromName(std::string_view name, Table& table) {
    for (int i = 0; i < kTableCount; ++i) {
        if (name == kNames[i]) {
            table = static_cast<Table>(i);
            return true;
        }
    }
    return false;
}

const char* TableName(Table table) {
    return kNames[static_cast<int>(table)];
}

std::string SlaveSet::Select(long address) {
    if (address < 1 || address > 255) return "slave address " + std::to_string(address) + " is not 1..255";
    for (size_t i = 0; i < slaves_.size(); ++i) {
        if (slaves_[i].address == address) {
            current_ = i;
            return {};
        }
    }
    slaves_.push_back(SlaveData{static_cast<int>(address), {}});
    current_ = slaves_.size() - 1;
    return {};
}

SlaveData& SlaveSet::Current() {
    if (slaves_.empty()) Select(1);
    return slaves_[current_];
}

std::vector<SlaveData>& SlaveSet::Slaves() {
    Current();
    return slaves_;
}

std::string SlaveSet::AddValues(Table table, std::string_view text) {
    const std::string bad = std::string("bad ") + TableName(table) + " values '" + std::string(text) +
                            "' (expected ADDR=V[,V...], V may be VALUE*COUNT)";
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) return bad;
    const auto start = ParseInt(text.substr(0, eq));
    if (!start || *start < 0 || *start > 65535) return bad;
    std::map<uint16_t, uint16_t> added;
    long address = *start;
    std::string_view rest = text.substr(eq + 1);
    while (true) {
        const size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const size_t star = item.find('*');
        const auto value = ParseInt(item.substr(0, star));
        std::optional<long> count = 1L;
        if (star != std::string_view::npos) count = ParseInt(item.substr(star + 1));
        if (!value || !count || *count < 1 || *count > 65536) return bad;
        if (std::string error = CheckValue(table, *value); !error.empty()) return error;
        for (long i = 0; i < *count; ++i, ++address) {
            if (address > 65535)
                return std::string(TableName(table)) + " values '" + std::string(text) +
                       "' run past address 65535";
            added[static_cast<uint16_t>(address)] = static_cast<uint16_t>(*value);
        }
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
    }
    for (const auto& [a, v] : added)
        Current().values[static_cast<int>(table)][a] = v;
    return {};
}

std::string SlaveSet::LoadFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return "cannot open data file " + path;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        const auto words = SplitWords(line);
        if (words.empty()) continue;
        std::string error;
        Table table;
        if (words.size() != 2) {
            error = "expected a keyword and one argument";
        } else if (words[0] == "slave") {
            const auto address = ParseInt(words[1]);
            error = address ? Select(*address) : "bad slave address '" + std::string(words[1]) + "'";
        } else if (TableFromName(words[0], table)) {
            error = AddValues(table, words[1]);
        } else {
            error = "unknown keyword '" + std::string(words[0]) + "'";
        }
        if (!error.empty()) return path + ":" + std::to_string(number) + ": " + error;
    }
    return {};
}

modbus_mapping_t* NewMapping(const SlaveData& data) {
    int start[kTableCount] = {};
    int count[kTableCount] = {};
    for (int t = 0; t < kTableCount; ++t) {
        const auto& values = data.values[t];
        if (!values.empty()) {
            start[t] = values.begin()->first;
            count[t] = values.rbegin()->first - start[t] + 1;
        }
    }
    modbus_mapping_t* mapping = modbus_mapping_new_start_address(start[0], count[0], start[1], count[1],
                                                                 start[2], count[2], start[3], count[3]);
    if (mapping == nullptr) return nullptr;
    for (const auto& [a, v] : data.values[0])
        mapping->tab_bits[a - start[0]] = static_cast<uint8_t>(v);
    for (const auto& [a, v] : data.values[1])
        mapping->tab_input_bits[a - start[1]] = static_cast<uint8_t>(v);
    for (const auto& [a, v] : data.values[2])
        mapping->tab_registers[a - start[2]] = v;
    for (const auto& [a, v] : data.values[3])
        mapping->tab_input_registers[a - start[3]] = v;
    return mapping;
}

int MappingIndex(const modbus_mapping_t* mapping, Table table, long address) {
    int start = 0;
    int count = 0;
    switch (table) {
    case Table::coils:
        start = mapping->start_bits;
        count = mapping->nb_bits;
        break;
    case Table::discrete:
        start = mapping->start_input_bits;
        count = mapping->nb_input_bits;
        break;
    case Table::holding:
        start = mapping->start_registers;
        count = mapping->nb_registers;
        break;
    case Table::input:
        start = mapping->start_input_registers;
        count = mapping->nb_input_registers;
        break;
    }
    if (address < start || address >= start + count) return -1;
    return static_cast<int>(address - start);
}

} // namespace modbus_sim
