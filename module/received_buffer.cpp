#include "module/received_buffer.h"

#include <cmath>
#include <cstring>

#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "platform/text.h"

namespace module {

namespace {

constexpr uint32_t kBusyWaitMs = 3000;
constexpr double kMsPerDay = 86400000.0;

using framework::Report;

} // namespace

// Holds the busy byte for one scope, so that no return or exception leaves the buffer locked.
class TBusyHold {
public:
    explicit TBusyHold(TReceivedBuffer& buffer) : buffer_(buffer) {
        held_ = platform::WaitDispatching(
            [this] {
                uint8_t idle = 0;
                return buffer_.Busy.compare_exchange_strong(idle, 1);
            },
            kBusyWaitMs);
    }
    ~TBusyHold() {
        if (held_) buffer_.Busy.store(0);
    }
    bool Held() const { return held_; }

private:
    TReceivedBuffer& buffer_;
    bool held_;
};

void EncodeHostStamp(platform::TDateTime when, int32_t& time, int32_t& date) {
    const int64_t n = static_cast<int64_t>(std::nearbyint(when * kMsPerDay));
    const int64_t day = static_cast<int64_t>(kMsPerDay);
    date = static_cast<int32_t>(n / day + kDelphiDayOffset);
    time = static_cast<int32_t>(n % day);
}

TReceivedBuffer::TReceivedBuffer(platform::HWND hostWindow, int32_t messageId, int32_t sourceId)
    : Block(new unsigned char[THostValueBlock::kSize]()), HostWindow(hostWindow), MessageId(messageId),
      SourceId(sourceId) {
    Reset();
}

TReceivedBuffer::~TReceivedBuffer() {
    delete[] Block;
}

THostValueHeader& TReceivedBuffer::Header() const {
    return *reinterpret_cast<THostValueHeader*>(Block);
}

int32_t TReceivedBuffer::GetCount() const {
    return Header().Count;
}

const THostValueEntry& TReceivedBuffer::EntryAt(int32_t i) const {
    return reinterpret_cast<const THostValueEntry*>(Block + THostValueBlock::kEntriesOffset)[i];
}

void TReceivedBuffer::Reset() {
    Header().SourceId = SourceId;
    Header().Count = 0;
}

bool TReceivedBuffer::AddValue(int32_t variableId, float value) {
    TBusyHold hold(*this);
    if (!hold.Held()) return false;
    THostValueEntry entry{variableId, value, value, 0, 0};
    EncodeHostStamp(platform::Now(), entry.Time, entry.Date);
    try {
        return Append(entry);
    } catch (...) {
        return false;
    }
}

bool TReceivedBuffer::Append(const THostValueEntry& entry) {
    if (Header().Count >= Capacity) {
        SendOrCompact();
        if (Header().Count >= Capacity) return false;
    }
    auto* entries = reinterpret_cast<THostValueEntry*>(Block + THostValueBlock::kEntriesOffset);
    entries[Header().Count] = entry;
    Header().Count += 1;
    return true;
}

void TReceivedBuffer::SendOrCompact() {
    if (SendToHost()) return;
    if (DropCount < Capacity) {
        unsigned char* entries = Block + THostValueBlock::kEntriesOffset;
        std::memmove(entries, entries + DropCount * sizeof(THostValueEntry),
                     static_cast<std::size_t>(Capacity - DropCount) * sizeof(THostValueEntry));
        Header().Count -= DropCount;
    } else {
        Report(framework::kErrNone, "Buffer overflow");
        Reset();
    }
}

bool TReceivedBuffer::SendToHost() {
    if (!HasHost()) return false;
    const platform::LRESULT answer =
        platform::SendMessage(HostWindow, static_cast<platform::UINT>(MessageId), HOST_VALUES_ACK,
                              reinterpret_cast<platform::LPARAM>(Block));
    if (answer != static_cast<platform::LRESULT>(HOST_VALUES_ACK)) return false;
    Reset();
    return true;
}

bool TReceivedBuffer::Flush() {
    TBusyHold hold(*this);
    if (!hold.Held()) return false;
    if (!HasHost()) {
        // The window and message number never change: saying it once is enough.
        if (!noHostReported_) Report(framework::kErrNone, "Invalid message ID or HostWindow");
        noHostReported_ = true;
        Reset();
        return true;
    }
    if (Header().Count > 0) return SendToHost();
    return true;
}

bool ScanStaticTags(TReceivedBuffer& buffer) {
    framework::TIntercomInterface* area = framework::Intercom;
    if (area == nullptr || !area->IsOpen()) return false;
    framework::TDMLVariablesList& list = area->DMLVariablesList;
    const int32_t n = list.GetCount();
    for (int32_t i = 0; i < n; ++i) {
        framework::TDMLVariableEntry entry;
        // A value the server is writing as we copy waits for the next pass.
        if (!list.ReadSettled(i, entry)) continue;
        const float d = std::fabs(entry.Value - entry.LastSent);
        if (!(d >= entry.Info.Deadband && d > 0.0f)) continue;
        if (!buffer.AddValue(entry.Info.VariableId, entry.Value))
            Report(framework::kErrInternalBuffer, "DLM::Ошибка доступа к внутреннему буферу драйвера."_cp);
        entry.LastSent = entry.Value;
        if (!list.Commit(i, entry))
            Report(framework::kErrSharedData, "DLM::Ошибка доступа к разделяемым данным драйвера."_cp);
    }
    return true;
}

} // namespace module
