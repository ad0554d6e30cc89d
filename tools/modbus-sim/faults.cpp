#include "faults.h"

#include <modbus.h>

namespace modbus_sim {

namespace {

struct FaultSyntax {
    const char* name;
    const char* argument; // what stands for "on"
};

constexpr FaultSyntax kSyntax[kFaultCount] = {
    {"silent", "on"}, {"badcrc", "on"},          {"wrongslave", "ADDRESS"}, {"exception", "CODE"},
    {"split", "MS"},  {"garbage-before", "HEX"}, {"garbage-after", "HEX"},  {"drop-mid", "on"},
};

} // namespace

bool Faults::Command(const std::vector<std::string_view>& words, bool tcp, std::string& reply) {
    int index = -1;
    for (int i = 0; i < kFaultCount; ++i)
        if (!words.empty() && words[0] == kSyntax[i].name) index = i;
    if (index < 0) return false;
    const FaultSyntax& syntax = kSyntax[index];
    const bool once = words.size() == 3 && words[2] == "once";
    if (words.size() < 2 || words.size() > 3 || (words.size() == 3 && !once)) {
        reply = std::string("ERR usage: ") + syntax.name + " " + syntax.argument + "|off [once]";
        return true;
    }
    FaultState state;
    const std::string_view arg = words[1];
    if (arg == "off") {
        states_[index] = state;
        reply = "OK";
        return true;
    }
    const auto fault = static_cast<Fault>(index);
    std::string error;
    if (std::string_view(syntax.argument) == "on") {
        if (arg != "on")
            error = std::string("usage: ") + syntax.name + " on|off [once]";
        else if (fault == Fault::drop_mid && !tcp)
            error = "drop-mid needs a TCP line (--tcp)";
    } else if (fault == Fault::garbage_before || fault == Fault::garbage_after) {
        if (auto bytes = ParseHex(arg))
            state.bytes = std::move(*bytes);
        else
            error = "bad hex bytes '" + std::string(arg) + "'";
    } else {
        const auto value = ParseInt(arg);
        const long low = fault == Fault::exception ? 1 : 0;
        // libmodbus builds exception answers only for the codes it knows.
        const long high = fault == Fault::exception ? MODBUS_EXCEPTION_MAX - 1
                          : fault == Fault::split   ? 60000
                                                    : 255;
        if (!value || *value < low || *value > high)
            error = std::string("bad ") + syntax.argument + " '" + std::string(arg) + "' (" +
                    std::to_string(low) + ".." + std::to_string(high) + ")";
        else
            state.value = *value;
    }
    if (!error.empty()) {
        reply = "ERR " + error;
        return true;
    }
    state.on = true;
    state.once = once;
    states_[index] = state;
    reply = "OK";
    return true;
}

void Faults::Clear() {
    for (auto& state : states_)
        state = FaultState{};
}

bool Faults::IsOn(Fault fault) const {
    return states_[static_cast<int>(fault)].on;
}

std::optional<FaultState> Faults::Take(Fault fault) {
    FaultState& state = states_[static_cast<int>(fault)];
    if (!state.on) return std::nullopt;
    FaultState taken = state;
    if (state.once) state = FaultState{};
    return taken;
}

std::vector<Chunk> Faults::Shape(Bytes answer) {
    if (auto wrong = Take(Fault::wrongslave); wrong && !answer.empty()) {
        answer[0] = static_cast<uint8_t>(wrong->value);
        RewriteCrc(answer);
    }
    if (Take(Fault::badcrc) && answer.size() >= 2) {
        answer[answer.size() - 1] ^= 0xFF;
        answer[answer.size() - 2] ^= 0xFF;
    }
    Bytes out;
    if (auto before = Take(Fault::garbage_before)) out = before->bytes;
    out.insert(out.end(), answer.begin(), answer.end());
    if (auto after = Take(Fault::garbage_after))
        out.insert(out.end(), after->bytes.begin(), after->bytes.end());

    // Dropping the connection wins over a split: the second half would never go out.
    const auto drop = Take(Fault::drop_mid);
    const auto split = drop ? std::nullopt : Take(Fault::split);
    if ((!drop && !split) || out.size() < 2) return {Chunk{std::move(out), 0, false}};
    const auto half = static_cast<std::ptrdiff_t>(out.size() / 2);
    Chunk first{Bytes(out.begin(), out.begin() + half), 0, false};
    if (drop) {
        first.drop_after = true;
        return {std::move(first)};
    }
    return {std::move(first),
            Chunk{Bytes(out.begin() + half, out.end()), static_cast<int>(split->value), false}};
}

} // namespace modbus_sim
