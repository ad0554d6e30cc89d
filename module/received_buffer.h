// Values on their way to the host: blocks of value entries sent to the host window, and the scan of
// the static tags that decides by each variable's deadband what is sent.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "platform/messages.h"

namespace module {

#pragma pack(push, 1)
struct THostValueEntry {
    int32_t VariableId;
    float Value;
    float OldValue; // Value for read values; the commanded value of a write given up
    int32_t Time;   // milliseconds since midnight, local time
    int32_t Date;   // day number, 1 January of year 1 is day 1
};
struct THostValueHeader {
    int32_t SourceId;
    int32_t Count;
};
#pragma pack(pop)
static_assert(sizeof(THostValueEntry) == 20);
static_assert(offsetof(THostValueEntry, VariableId) == 0);
static_assert(offsetof(THostValueEntry, Value) == 4);
static_assert(offsetof(THostValueEntry, OldValue) == 8);
static_assert(offsetof(THostValueEntry, Time) == 12);
static_assert(offsetof(THostValueEntry, Date) == 16);
static_assert(sizeof(THostValueHeader) == 8);
static_assert(offsetof(THostValueHeader, Count) == 4);

// The value block: the header, then Count entries from offset 8.
namespace THostValueBlock {
constexpr int32_t kMaxEntries = 1204;
constexpr std::size_t kEntriesOffset = 8;
constexpr std::size_t kSize = kEntriesOffset + kMaxEntries * sizeof(THostValueEntry);
} // namespace THostValueBlock
static_assert(THostValueBlock::kSize == 24088);

// wParam of the value message, and the answer of a host that took the block.
constexpr platform::WPARAM HOST_VALUES_ACK = 2002;

// 30 December 1899 as a day number counted from 1 January of year 1.
constexpr int32_t kDelphiDayOffset = 693594;

// Time and Date of a local time, rounded to the nearest millisecond.
void EncodeHostStamp(platform::TDateTime when, int32_t& time, int32_t& date);

class TReceivedBuffer {
public:
    TReceivedBuffer(platform::HWND hostWindow, int32_t messageId, int32_t sourceId);
    ~TReceivedBuffer();
    TReceivedBuffer(const TReceivedBuffer&) = delete;
    TReceivedBuffer& operator=(const TReceivedBuffer&) = delete;

    // False when the buffer stayed busy for 3 s or the value could not be kept.
    bool AddValue(int32_t variableId, float value);
    // Without waiting for the busy byte: for the one producer thread only.
    bool Append(const THostValueEntry& entry);
    bool SendToHost();
    void SendOrCompact();
    bool Flush();

    int32_t GetCount() const;
    const THostValueEntry& EntryAt(int32_t i) const;

    const int32_t Capacity = THostValueBlock::kMaxEntries;
    const int32_t DropCount = 100;

private:
    void Reset();
    THostValueHeader& Header() const;
    bool HasHost() const { return HostWindow != 0 && MessageId >= 1; }

    unsigned char* Block;
    platform::HWND HostWindow;
    int32_t MessageId;
    int32_t SourceId;
    std::atomic<uint8_t> Busy{0};
    bool noHostReported_ = false;

    friend class TBusyHold;
};

// Sends what changed by at least its deadband since it was last sent. False without exchange area.
bool ScanStaticTags(TReceivedBuffer& buffer);

} // namespace module
