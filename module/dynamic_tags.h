// Dynamic tags: host variables named by device properties (link-state and command-state tags)
// rather than bound by routing. Their names live in the dynamic-tag region of the exchange area,
// where the server writes their values; the module resolves the names to host variables once and
// forwards changed values to the host by each variable's deadband.
#pragma once

#include <cstdint>
#include <string_view>

#include "framework/collections.h"
#include "framework/intercom_layout.h"
#include "platform/clock.h"

namespace module {

class TReceivedBuffer;

// VariableId of a region entry: not resolved yet, and resolved to no host variable (never retried).
constexpr int32_t kDynamicTagUnresolved = -1;
constexpr int32_t kDynamicTagUnknown = -100;

struct TDynamicTagItem {
    framework::TShortString Name;
    int32_t VariableId;
    float Value; // the value last sent to the host
    platform::TDateTime Time;
};

// Per resolved tag the value last sent, sorted by name compared byte by byte.
class TDynamicTagList : public framework::TSortedArray {
public:
    TDynamicTagList() = default;
    ~TDynamicTagList() override;

    // nullptr when the name has no item.
    TDynamicTagItem* Find(std::string_view name);
    const TDynamicTagItem* ItemAt(int32_t i) const { return Item<TDynamicTagItem>(i); }

    int32_t Compare(const void* key1, const void* key2) override;
    const void* KeyOf(const void* item) override;
    void FreeItem(void* item) override;
};

// Once, at the end of initialisation: every unresolved named entry of the region gets its host
// record, or VariableId -100 and one report. False only without an exchange area.
bool ResolveDynamicTags();
// Module thread, every tick: a tag first seen is sent at once, later only a change of at least its
// deadband. False only without an exchange area.
bool ScanDynamicTags(TDynamicTagList& list, TReceivedBuffer& buffer);
// Module thread, once after its loop: every resolved tag with the value the host reported when it
// was resolved. The caller flushes the buffer. False only without an exchange area.
bool SendAllDynamicTags(TDynamicTagList& list, TReceivedBuffer& buffer);

} // namespace module
