// The wrappers of the exchange area's regions. Each holds only a pointer into the mapped block;
// while unattached every operation does nothing and reads give their empty answer. Every count and
// length read from the block is clamped first: the peer process may be corrupt.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "framework/intercom_layout.h"
#include "platform/clock.h"

namespace framework {

// The server slot that both processes use: -1 until initialised, then 0.
extern std::atomic<int32_t> ServerSlotIndex;

// The longest wait for a region lock, in milliseconds.
constexpr uint64_t LockTimeout = 3000;

// The lock byte of regions 4 and 7 to 9: taken by an atomic exchange, polled every 5 ms, given up
// after timeoutMs on the monotonic clock.
bool LockRegion(uint8_t* lock, uint64_t timeoutMs = LockTimeout);
void UnlockRegion(uint8_t* lock);

// Counters of the area run 0..65535 and wrap to 0.
inline int32_t NextCounter(int32_t value) {
    return value >= 65535 ? 0 : value + 1;
}

// Region 1: module status.
class TOstrolinkaInfo {
public:
    static constexpr std::size_t GetSize() { return sizeof(TOstrolinkaInfoRegion); }
    void Attach(uint8_t* region, bool initialize);

    std::string GetName() const;
    void SetName(std::string_view name);
    uint8_t GetState() const;
    void SetState(uint8_t state);
    void SetPrefixes(std::string_view prefixes);
    int32_t GetTransactionId() const;
    void SetTransactionId(int32_t id);
    int32_t GetHostWindow() const;
    void SetHostWindow(int32_t wnd);

private:
    uint8_t* region_ = nullptr;
};

// Region 2: server slots; the slot operations use ServerSlotIndex.
class TServerData {
public:
    static constexpr std::size_t GetSize() { return sizeof(TServerDataRegion); }
    void Attach(uint8_t* region, bool initialize);

    int32_t GetProcessId() const;
    void SetProcessId(int32_t pid);
    int32_t GetWindow() const;
    void SetWindow(int32_t wnd);
    uint8_t GetRunFlag() const;
    void SetRunFlag(uint8_t flag);
    int32_t GetTransactionId() const;
    void SetTransactionId(int32_t id);
    int32_t GetSlotWindow(int32_t i) const;

private:
    uint8_t* Slot(int32_t i) const;
    uint8_t* region_ = nullptr;
};

// Region 3: static tags. Capacity is N in the module and -1 in the server, which never adds; both
// size the region from the room of the block.
class TDMLVariablesList {
public:
    explicit TDMLVariablesList(int32_t capacity) : Capacity(capacity) {}
    std::size_t GetSize() const { return TIntercomBlock::DMLVariablesSize(static_cast<std::size_t>(room_)); }
    void Attach(uint8_t* region, int32_t room, bool initialize);

    int32_t GetCount() const;
    bool Add(const hostapi::TVLVariableInfo& info);
    bool SetValue(int32_t i, platform::TDateTime time, float value);
    bool Read(int32_t i, TDMLVariableEntry& entry) const;
    // Read, with the value and its time taken again until two successive copies agree, so that a
    // copy made while the server wrote them is not used; false also when they never agree.
    bool ReadSettled(int32_t i, TDMLVariableEntry& entry) const;
    // Stores what the module delivered; the value and its time stay the server's.
    bool Commit(int32_t i, const TDMLVariableEntry& entry);

    const int32_t Capacity;

private:
    uint8_t* Entry(int32_t i) const;
    uint8_t* region_ = nullptr;
    int32_t room_ = 0;
};

// The most copies a settled read takes: a writer that never stops must not hold the reader.
constexpr int kMaxSettleReads = 8;

// Copies with copy(out) until two successive copies agree; false when none did within
// kMaxSettleReads copies. For fields that another process writes with plain copies at odd
// offsets, where a reader may see half of an old value and half of a new one; the layout has no
// room for a sequence number.
template <std::size_t N, class Copy> bool CopySettled(uint8_t (&out)[N], Copy&& copy) {
    uint8_t last[N];
    copy(out);
    for (int reads = 1; reads < kMaxSettleReads; ++reads) {
        std::memcpy(last, out, N);
        // Each copy reads the block anew: the compiler may not carry one over into the next.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        copy(out);
        if (std::memcmp(last, out, N) == 0) return true;
    }
    return false;
}

// Region 4: errors that the server posts for the module.
class TServerErrorList {
public:
    static constexpr std::size_t GetSize() { return sizeof(TServerErrorRegion); }
    void Attach(uint8_t* region, bool initialize);

    void Add(int32_t code, std::string_view text);
    int32_t GetCount() const;
    // Copies Sequence, Count and the records in use; with clear, empties the list under the same
    // lock, so that a record posted meanwhile is not lost.
    void ReadAll(TServerErrorRegion& buffer, bool clear);
    void Clear();
    // Frees the lock that a process left taken when it died; only for a caller that holds it not.
    void ReleaseLock();

private:
    int32_t CountAt() const;
    void ClearLocked();
    uint8_t* region_ = nullptr;
};

// Region 5: dynamic tags. Updates within this process are serialised.
class TDynemicVariablesList {
public:
    explicit TDynemicVariablesList(bool clearOnAttach) : clearOnAttach_(clearOnAttach) {}
    static constexpr std::size_t GetSize() { return sizeof(TDynamicVariablesRegion); }
    void Attach(uint8_t* region);

    int32_t GetCount() const;
    bool Register(std::string_view name, bool onlyUpdate, float value, platform::TDateTime time);
    bool Read(int32_t i, TDynamicVariableEntry& entry) const;
    bool Write(int32_t i, const TDynamicVariableEntry& entry);

private:
    int32_t CountAt() const;
    uint8_t* region_ = nullptr;
    const bool clearOnAttach_;
    mutable std::mutex lock_;
};

// Region 6: the batch of write commands, handed over by the Flag handshake.
class TCommandsList {
public:
    explicit TCommandsList(bool initOnAttach) : initOnAttach_(initOnAttach) {}
    static constexpr std::size_t GetSize() { return sizeof(TCommandsRegion); }
    void Attach(uint8_t* region);

    bool Init();
    bool Add(const TCommandRecord& command);
    bool Publish();
    int32_t GetCount() const;
    std::string GetDeviceName() const;
    void SetDeviceName(std::string_view name);
    int32_t GetDevice() const;
    uint8_t GetFlag() const;
    void SetFlag(uint8_t flag);
    // Flag := desired only while it is expected, in one atomic step, so that two takers of one batch
    // cannot both win. False when unattached or the Flag was another value.
    bool ExchangeFlag(uint8_t expected, uint8_t desired);
    platform::TDateTime GetTime() const;
    bool CopyTo(TCommandsRegion& buffer) const;

private:
    uint8_t* region_ = nullptr;
    const bool initOnAttach_;
};

// Regions 7 to 9: text traces with the owner device's link parameters.
class TTerminalClass {
public:
    static constexpr std::size_t GetSize() { return sizeof(TTerminalRegion); }
    void Attach(uint8_t* region, bool initialize);

    // A text of more than 56535 characters changes nothing.
    void WriteText(std::string_view text);
    // Locked; 0 when the lock cannot be taken.
    int32_t GetCounter() const;
    // The text and the counter, waiting at most waitMs for the lock, for a reader that must not stand
    // still and tries again later; false, reading nothing, when the lock was not had.
    bool TryReadText(uint64_t waitMs, std::string& text) const;
    bool TryGetCounter(uint64_t waitMs, int32_t& counter) const;
    int32_t GetOwner() const;
    void SetOwner(int32_t owner);
    bool ReadParams(int32_t owner, TTerminalParams& params) const;
    bool WriteParams(int32_t owner, const TTerminalParams& params);
    // Frees the lock that a process left taken when it died; only for a caller that holds it not.
    void ReleaseLock();

private:
    uint8_t* region_ = nullptr;
};

} // namespace framework
