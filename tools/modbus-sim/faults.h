// Misbehaviours switched on through the control channel, and how they bend an answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rtu.h"

namespace modbus_sim {

enum class Fault { silent, badcrc, wrongslave, exception, split, garbage_before, garbage_after, drop_mid };
constexpr int kFaultCount = 8;

struct FaultState {
    bool on = false;
    bool once = false;
    long value = 0; // slave address, exception code or pause in milliseconds
    Bytes bytes;    // garbage
};

// A piece of an answer: sent after a pause, possibly followed by dropping the connection.
struct Chunk {
    Bytes bytes;
    int delay_ms = 0;
    bool drop_after = false;
};

class Faults {
public:
    // When words name a fault, sets it and answers "OK" or "ERR ..." in reply; false otherwise.
    bool Command(const std::vector<std::string_view>& words, bool tcp, std::string& reply);
    void Clear();

    bool IsOn(Fault fault) const;
    // The fault if it is on for the answer being built; a "once" fault is used up by this.
    std::optional<FaultState> Take(Fault fault);

    // Applies wrong slave, bad CRC, garbage, split and drop to a libmodbus answer.
    std::vector<Chunk> Shape(Bytes answer);

private:
    FaultState states_[kFaultCount];
};

} // namespace modbus_sim
