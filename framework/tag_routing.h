// Routing texts of host tags, the queue of values a device thread receives, their flush into the
// static-tag region, writes of host tags by name, and the imitator's tags of one device.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/collections.h"
#include "framework/intercom_layout.h"

namespace framework {

class TVariableIndex;

// "prefix: DEVICE=n; ADDRESS=m", "prefix: ROUTING=text" or "prefix: text" (no "="), keywords in any
// letter case, blanks ignored. The prefix comes out upper-cased, a string address as written. An
// integer that does not convert gives -1.
bool ParseTagRouting(std::string_view text, std::string& prefix, int32_t& device, std::string& strAddress,
                     int32_t& address);

struct TReceiveVariable {
    TShortString Prefix;
    int32_t Device;
    int32_t Address;
    TShortString StrAddress;
    float Value;
};
static_assert(sizeof(TReceiveVariable) == 524);
static_assert(offsetof(TReceiveVariable, Device) == 256);
static_assert(offsetof(TReceiveVariable, Address) == 260);
static_assert(offsetof(TReceiveVariable, StrAddress) == 264);
static_assert(offsetof(TReceiveVariable, Value) == 520);

// The values a device thread has received, oldest first. Owns its records.
class TReceiveVariables : public TBaseArray {
public:
    TReceiveVariables() = default;
    ~TReceiveVariables() override;
    void FreeItem(void* item) override;
    // Drops the oldest records until n remain; false when any were dropped.
    virtual bool TrimTo(int32_t n);

    bool Add(std::string_view prefix, int32_t device, float value, std::string_view strAddress,
             int32_t address);
    // Writes every queued value to its host tag through the server's tag index and empties the
    // queue; false when the index or the area is missing, or a value could not be written.
    bool Flush();

    const TReceiveVariable* RecordAt(int32_t i) const { return Item<TReceiveVariable>(i); }
};

// One reading into its static tag: scaled by the tag's divisor, inverted for a two-state tag. A
// reading that no host tag takes is no error.
bool WriteTagValue(TVariableIndex* index, std::string_view prefix, int32_t device, float value,
                   std::string_view strAddress, int32_t address);

// A host tag written by name through the dynamic-tag region; a new entry only when onlyUpdate is
// false.
bool SetDynamicTag(std::string_view name, bool onlyUpdate, float value);

struct TImitatorVariable {
    int32_t Index; // item of the server's tag index
    int32_t Percent;
};

// The tags of one device that its imitator drives. Owns its pairs.
class TImitatorVariableList : public TBaseArray {
public:
    TImitatorVariableList() = default;
    ~TImitatorVariableList() override;
    void FreeItem(void* item) override;
    void Build(int32_t device, std::string_view prefix);

    TImitatorVariable* PairAt(int32_t i) const { return Item<TImitatorVariable>(i); }
};

} // namespace framework
