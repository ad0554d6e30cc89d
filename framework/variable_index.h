// The server's tag index: which static-tag entry of the exchange area takes a device reading,
// found by routing prefix, device, address and string address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/collections.h"
#include "framework/intercom_layout.h"

namespace framework {

struct TVariableIndexItem {
    int32_t VariableId;
    TShortString Prefix;
    int32_t Device;
    int32_t Address;
    TShortString StrAddress;
    int32_t EntryIndex;
    float Value; // the entry's value when the index was built
    float InitialValue;
    uint8_t SignFlag;     // a sign-carrying tag: one of the record's singles at 664, 668 is negative
    uint8_t TwoStateFlag; // a two-state tag: received readings are inverted to 0/1
    uint8_t KindByte;
};
static_assert(sizeof(TVariableIndexItem) == 540);
static_assert(offsetof(TVariableIndexItem, Prefix) == 4);
static_assert(offsetof(TVariableIndexItem, Device) == 260);
static_assert(offsetof(TVariableIndexItem, Address) == 264);
static_assert(offsetof(TVariableIndexItem, StrAddress) == 268);
static_assert(offsetof(TVariableIndexItem, EntryIndex) == 524);
static_assert(offsetof(TVariableIndexItem, Value) == 528);
static_assert(offsetof(TVariableIndexItem, InitialValue) == 532);
static_assert(offsetof(TVariableIndexItem, SignFlag) == 536);
static_assert(offsetof(TVariableIndexItem, TwoStateFlag) == 537);
static_assert(offsetof(TVariableIndexItem, KindByte) == 538);

class TVariableIndex : public TSortedArray {
public:
    TVariableIndex() = default;
    ~TVariableIndex() override;

    // One item per static-tag entry with a routing text that parses; of several entries with one
    // key the first wins. False when the process has no exchange area.
    bool Build();

    const TVariableIndexItem* ItemAt(int32_t i) const { return Item<TVariableIndexItem>(i); }
    // The item that takes a reading; nullptr when no host tag is routed to it.
    const TVariableIndexItem* Find(std::string_view prefix, int32_t device, int32_t address,
                                   std::string_view strAddress);

    // "PREFIX=%s DEVICE=%d ADDRESS=%d STRADDRESS=%s", the string address upper-cased.
    static std::string MakeKey(std::string_view prefix, int32_t device, int32_t address,
                               std::string_view strAddress);

    int32_t Compare(const void* key1, const void* key2) override;
    const void* KeyOf(const void* item) override;
    void FreeItem(void* item) override;

    // The option word; while it is 0, readings of two-state tags are inverted.
    int32_t Options = 0;
};

// The server's tag index, nullptr while there is none.
extern TVariableIndex* VariableIndex;

} // namespace framework
