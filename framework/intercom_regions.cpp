#include "framework/intercom_regions.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace framework {

std::atomic<int32_t> ServerSlotIndex{-1};

namespace {

// Fields of the block sit at odd offsets: they are always copied, never dereferenced.
template <class T> T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T> void Store(uint8_t* p, const T& v) {
    std::memcpy(p, &v, sizeof v);
}

std::string LoadShort(const uint8_t* p) {
    return Load<TShortString>(p).Get();
}

void StoreShort(uint8_t* p, std::string_view text) {
    TShortString s{};
    s.Set(text);
    Store(p, s);
}

// A count from the block, limited to what its region holds.
int32_t Clamped(const uint8_t* p, int32_t limit) {
    return std::clamp(Load<int32_t>(p), 0, limit);
}

void WriteStamp(uint8_t* p) {
    std::memset(p, 0, sizeof(TRegionStamp));
    p[0] = 10;
    std::memcpy(p + 1, "Ostrolinka", 10);
}

uint8_t AcquireByte(const uint8_t* p) {
    return std::atomic_ref<uint8_t>(*const_cast<uint8_t*>(p)).load(std::memory_order_acquire);
}

void ReleaseByte(uint8_t* p, uint8_t v) {
    std::atomic_ref<uint8_t>(*p).store(v, std::memory_order_release);
}

// Runs work under the region's lock; false when the lock was not had in time.
template <class Work> bool Locked(uint8_t* lock, Work&& work, uint64_t timeoutMs = LockTimeout) {
    if (!LockRegion(lock, timeoutMs)) return false;
    work();
    UnlockRegion(lock);
    return true;
}

} // namespace

bool LockRegion(uint8_t* lock, uint64_t timeoutMs) {
    std::atomic_ref<uint8_t> byte(*lock);
    const uint64_t start = platform::MonotonicMs();
    while (byte.exchange(1, std::memory_order_acquire) != 0) {
        if (platform::MonotonicMs() - start > timeoutMs) return false;
        platform::Sleep(5);
    }
    return true;
}

void UnlockRegion(uint8_t* lock) {
    ReleaseByte(lock, 0);
}

// ---- TOstrolinkaInfo

void TOstrolinkaInfo::Attach(uint8_t* region, bool initialize) {
    region_ = region;
    if (!initialize) return;
    WriteStamp(region_);
    StoreShort(region_ + offsetof(TOstrolinkaInfoRegion, Title), "");
    StoreShort(region_ + offsetof(TOstrolinkaInfoRegion, Prefixes), "");
    region_[offsetof(TOstrolinkaInfoRegion, State)] = 0;
}

std::string TOstrolinkaInfo::GetName() const {
    return region_ ? LoadShort(region_ + offsetof(TOstrolinkaInfoRegion, Title)) : std::string();
}

void TOstrolinkaInfo::SetName(std::string_view name) {
    if (region_) StoreShort(region_ + offsetof(TOstrolinkaInfoRegion, Title), name);
}

// The host's thread (run, stop) and the module thread (its stages) both write the state, and the
// server reads it: one byte stored and loaded whole.
uint8_t TOstrolinkaInfo::GetState() const {
    return region_ ? AcquireByte(region_ + offsetof(TOstrolinkaInfoRegion, State)) : 0;
}

void TOstrolinkaInfo::SetState(uint8_t state) {
    if (region_) ReleaseByte(region_ + offsetof(TOstrolinkaInfoRegion, State), state);
}

void TOstrolinkaInfo::SetPrefixes(std::string_view prefixes) {
    if (region_) StoreShort(region_ + offsetof(TOstrolinkaInfoRegion, Prefixes), prefixes);
}

int32_t TOstrolinkaInfo::GetTransactionId() const {
    return region_ ? Load<int32_t>(region_ + offsetof(TOstrolinkaInfoRegion, TransactionId)) : 0;
}

void TOstrolinkaInfo::SetTransactionId(int32_t id) {
    if (region_) Store(region_ + offsetof(TOstrolinkaInfoRegion, TransactionId), id);
}

int32_t TOstrolinkaInfo::GetHostWindow() const {
    return region_ ? Load<int32_t>(region_ + offsetof(TOstrolinkaInfoRegion, HostWindow)) : 0;
}

void TOstrolinkaInfo::SetHostWindow(int32_t wnd) {
    if (region_) Store(region_ + offsetof(TOstrolinkaInfoRegion, HostWindow), wnd);
}

// ---- TServerData

void TServerData::Attach(uint8_t* region, bool initialize) {
    region_ = region;
    if (!initialize) return;
    WriteStamp(region_);
    std::memset(region_ + offsetof(TServerDataRegion, Slots), 0, sizeof(TServerDataRegion::Slots));
}

uint8_t* TServerData::Slot(int32_t i) const {
    if (region_ == nullptr || i < 0 || i >= kServerSlotCount) return nullptr;
    return region_ + offsetof(TServerDataRegion, Slots) + sizeof(TServerSlot) * static_cast<std::size_t>(i);
}

int32_t TServerData::GetProcessId() const {
    const uint8_t* s = Slot(ServerSlotIndex);
    return s ? Load<int32_t>(s + offsetof(TServerSlot, ProcessId)) : 0;
}

void TServerData::SetProcessId(int32_t pid) {
    if (uint8_t* s = Slot(ServerSlotIndex)) Store(s + offsetof(TServerSlot, ProcessId), pid);
}

int32_t TServerData::GetWindow() const {
    return GetSlotWindow(ServerSlotIndex);
}

void TServerData::SetWindow(int32_t wnd) {
    if (uint8_t* s = Slot(ServerSlotIndex)) Store(s + offsetof(TServerSlot, WindowHandle), wnd);
}

uint8_t TServerData::GetRunFlag() const {
    const uint8_t* s = Slot(ServerSlotIndex);
    return s ? AcquireByte(s + offsetof(TServerSlot, RunFlag)) : 0;
}

void TServerData::SetRunFlag(uint8_t flag) {
    if (uint8_t* s = Slot(ServerSlotIndex)) ReleaseByte(s + offsetof(TServerSlot, RunFlag), flag);
}

int32_t TServerData::GetTransactionId() const {
    const uint8_t* s = Slot(ServerSlotIndex);
    return s ? Load<int32_t>(s + offsetof(TServerSlot, TransactionId)) : 0;
}

void TServerData::SetTransactionId(int32_t id) {
    if (uint8_t* s = Slot(ServerSlotIndex)) Store(s + offsetof(TServerSlot, TransactionId), id);
}

int32_t TServerData::GetSlotWindow(int32_t i) const {
    const uint8_t* s = Slot(i);
    return s ? Load<int32_t>(s + offsetof(TServerSlot, WindowHandle)) : 0;
}

// ---- TDMLVariablesList

void TDMLVariablesList::Attach(uint8_t* region, int32_t room, bool initialize) {
    region_ = region;
    room_ = std::max(room, 0);
    WriteStamp(region_);
    Store<int32_t>(region_ + offsetof(TDMLVariablesHeader, Reserved), -1);
    if (initialize) Store<int32_t>(region_ + offsetof(TDMLVariablesHeader, Count), 0);
}

int32_t TDMLVariablesList::GetCount() const {
    return region_ ? Clamped(region_ + offsetof(TDMLVariablesHeader, Count), room_) : 0;
}

uint8_t* TDMLVariablesList::Entry(int32_t i) const {
    if (i < 0 || i >= GetCount()) return nullptr;
    return region_ + sizeof(TDMLVariablesHeader) + sizeof(TDMLVariableEntry) * static_cast<std::size_t>(i);
}

bool TDMLVariablesList::Add(const hostapi::TVLVariableInfo& info) {
    if (region_ == nullptr) return false;
    const int32_t count = GetCount();
    if (count >= Capacity || count >= room_) return false;
    TDMLVariableEntry e{};
    e.Info = info;
    e.Value = info.Value;
    e.LastSent = info.Value;
    e.Time = platform::Now();
    Store(region_ + sizeof(TDMLVariablesHeader) + sizeof(TDMLVariableEntry) * static_cast<std::size_t>(count),
          e);
    Store<int32_t>(region_ + offsetof(TDMLVariablesHeader, Count), count + 1);
    return true;
}

bool TDMLVariablesList::SetValue(int32_t i, platform::TDateTime time, float value) {
    uint8_t* e = Entry(i);
    if (e == nullptr) return false;
    Store(e + offsetof(TDMLVariableEntry, Value), value);
    Store(e + offsetof(TDMLVariableEntry, Time), time);
    return true;
}

bool TDMLVariablesList::Read(int32_t i, TDMLVariableEntry& entry) const {
    const uint8_t* e = Entry(i);
    if (e == nullptr) return false;
    entry = Load<TDMLVariableEntry>(e);
    return true;
}

bool TDMLVariablesList::ReadSettled(int32_t i, TDMLVariableEntry& entry) const {
    if (!Read(i, entry)) return false;
    // Value, LastSent and Time; the variable's record after them is written once, before Count
    // takes the entry in.
    constexpr std::size_t kHead = offsetof(TDMLVariableEntry, Info);
    const uint8_t* e = Entry(i);
    uint8_t head[kHead];
    if (!CopySettled(head, [e](uint8_t* to) { std::memcpy(to, e, kHead); })) return false;
    std::memcpy(&entry, head, kHead);
    return true;
}

bool TDMLVariablesList::Commit(int32_t i, const TDMLVariableEntry& entry) {
    uint8_t* e = Entry(i);
    if (e == nullptr) return false;
    // Value and Time belong to the server, which may have stored a newer reading since our copy.
    Store(e + offsetof(TDMLVariableEntry, LastSent), entry.LastSent);
    return true;
}

// ---- TServerErrorList

void TServerErrorList::Attach(uint8_t* region, bool initialize) {
    region_ = region;
    if (!initialize) return;
    std::memset(region_, 0, offsetof(TServerErrorRegion, Reserved5));
    Store<int32_t>(region_ + offsetof(TServerErrorRegion, Count), 0);
}

int32_t TServerErrorList::CountAt() const {
    return Clamped(region_ + offsetof(TServerErrorRegion, Count), kMaxServerErrors);
}

void TServerErrorList::Add(int32_t code, std::string_view text) {
    if (region_ == nullptr) return;
    Locked(region_ + offsetof(TServerErrorRegion, Lock), [&] {
        const int32_t count = CountAt();
        if (count >= kMaxServerErrors) return;
        uint8_t* seq = region_ + offsetof(TServerErrorRegion, Sequence);
        Store(seq, NextCounter(Load<int32_t>(seq)));
        TServerErrorEntry r{};
        r.Code = code;
        r.Time = platform::Now();
        r.Text.Set(text);
        Store(region_ + offsetof(TServerErrorRegion, Records) +
                  sizeof(TServerErrorEntry) * static_cast<std::size_t>(count),
              r);
        Store<int32_t>(region_ + offsetof(TServerErrorRegion, Count), count + 1);
    });
}

int32_t TServerErrorList::GetCount() const {
    return region_ ? CountAt() : 0;
}

void TServerErrorList::ClearLocked() {
    Store<int32_t>(region_ + offsetof(TServerErrorRegion, Sequence), 0);
    Store<int32_t>(region_ + offsetof(TServerErrorRegion, Count), 0);
}

void TServerErrorList::ReadAll(TServerErrorRegion& buffer, bool clear) {
    std::memset(&buffer, 0, sizeof buffer);
    if (region_ == nullptr) return;
    Locked(region_ + offsetof(TServerErrorRegion, Lock), [&] {
        const int32_t count = CountAt();
        buffer.Sequence = Load<int32_t>(region_ + offsetof(TServerErrorRegion, Sequence));
        buffer.Count = count;
        std::memcpy(buffer.Records, region_ + offsetof(TServerErrorRegion, Records),
                    sizeof(TServerErrorEntry) * static_cast<std::size_t>(count));
        if (clear) ClearLocked();
    });
}

void TServerErrorList::Clear() {
    if (region_) Locked(region_ + offsetof(TServerErrorRegion, Lock), [&] { ClearLocked(); });
}

// ---- TDynemicVariablesList

void TDynemicVariablesList::Attach(uint8_t* region) {
    region_ = region;
    if (!clearOnAttach_) return;
    std::memset(region_, 0, GetSize());
    WriteStamp(region_);
}

int32_t TDynemicVariablesList::CountAt() const {
    return Clamped(region_ + offsetof(TDynamicVariablesRegion, Count), kMaxDynamicVariables);
}

int32_t TDynemicVariablesList::GetCount() const {
    return region_ ? CountAt() : 0;
}

namespace {
uint8_t* DynamicEntry(uint8_t* region, int32_t i) {
    return region + offsetof(TDynamicVariablesRegion, Entries) +
           sizeof(TDynamicVariableEntry) * static_cast<std::size_t>(i);
}
} // namespace

bool TDynemicVariablesList::Register(std::string_view name, bool onlyUpdate, float value,
                                     platform::TDateTime time) {
    if (region_ == nullptr) return false;
    // Cut before comparing: the region keeps at most 255 characters of a name.
    std::string key = platform::UpperCase(platform::Trim(name));
    if (key.size() > sizeof(TShortString::Chars)) key.resize(sizeof(TShortString::Chars));
    if (key.empty()) return false;
    std::lock_guard<std::mutex> guard(lock_);
    const int32_t count = CountAt();
    for (int32_t i = 0; i < count; ++i) {
        uint8_t* e = DynamicEntry(region_, i);
        const uint8_t length = e[offsetof(TDynamicVariableEntry, Name)];
        if (length != key.size() ||
            std::memcmp(e + offsetof(TDynamicVariableEntry, Name) + 1, key.data(), length) != 0)
            continue;
        Store(e + offsetof(TDynamicVariableEntry, Value), value);
        Store(e + offsetof(TDynamicVariableEntry, Time), time);
        return true;
    }
    if (onlyUpdate || count >= kMaxDynamicVariables) return false;
    TDynamicVariableEntry e{};
    e.Name.Set(key);
    e.Value = value;
    e.Time = time;
    e.Info.VariableId = -1;
    Store(DynamicEntry(region_, count), e);
    Store<int32_t>(region_ + offsetof(TDynamicVariablesRegion, Count), count + 1);
    return true;
}

bool TDynemicVariablesList::Read(int32_t i, TDynamicVariableEntry& entry) const {
    if (region_ == nullptr) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (i < 0 || i >= CountAt()) return false;
    entry = Load<TDynamicVariableEntry>(DynamicEntry(region_, i));
    return true;
}

bool TDynemicVariablesList::Write(int32_t i, const TDynamicVariableEntry& entry) {
    if (region_ == nullptr) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (i < 0 || i >= CountAt()) return false;
    Store(DynamicEntry(region_, i), entry);
    return true;
}

// ---- TCommandsList

namespace {
// The flag byte is exchanged atomically by the takers of a batch: plain fills and copies of the region
// go around it.
constexpr std::size_t kFlagAt = offsetof(TCommandsRegion, Flag);
} // namespace

void TCommandsList::Attach(uint8_t* region) {
    region_ = region;
    if (initOnAttach_) Init();
}

bool TCommandsList::Init() {
    if (region_ == nullptr) return false;
    std::memset(region_, 0, kFlagAt);
    std::memset(region_ + kFlagAt + 1, 0, GetSize() - kFlagAt - 1);
    WriteStamp(region_);
    StoreShort(region_ + offsetof(TCommandsRegion, Domain), "");
    Store<int32_t>(region_ + offsetof(TCommandsRegion, Device), -1);
    Store(region_ + offsetof(TCommandsRegion, Time), platform::Now());
    ReleaseByte(region_ + offsetof(TCommandsRegion, Flag), csIdle);
    return true;
}

bool TCommandsList::Add(const TCommandRecord& command) {
    if (region_ == nullptr) return false;
    const int32_t count = Load<int32_t>(region_ + offsetof(TCommandsRegion, Count));
    if (count < 0 || count >= kMaxCommands) return false;
    Store(region_ + offsetof(TCommandsRegion, Commands) +
              sizeof(TCommandRecord) * static_cast<std::size_t>(count),
          command);
    Store<int32_t>(region_ + offsetof(TCommandsRegion, Count), count + 1);
    Store<int32_t>(region_ + offsetof(TCommandsRegion, Device), command.Device);
    return true;
}

bool TCommandsList::Publish() {
    if (region_ == nullptr) return false;
    if (GetCount() <= 0) {
        Init();
        return false;
    }
    Store(region_ + offsetof(TCommandsRegion, Time), platform::Now());
    // Release: the batch is complete before the server can see the flag.
    ReleaseByte(region_ + offsetof(TCommandsRegion, Flag), csPublished);
    return true;
}

int32_t TCommandsList::GetCount() const {
    return region_ ? Clamped(region_ + offsetof(TCommandsRegion, Count), kMaxCommands) : 0;
}

std::string TCommandsList::GetDeviceName() const {
    return region_ ? platform::UpperCase(LoadShort(region_ + offsetof(TCommandsRegion, Domain)))
                   : std::string();
}

void TCommandsList::SetDeviceName(std::string_view name) {
    if (region_) StoreShort(region_ + offsetof(TCommandsRegion, Domain), name);
}

int32_t TCommandsList::GetDevice() const {
    return region_ ? Load<int32_t>(region_ + offsetof(TCommandsRegion, Device)) : -1;
}

uint8_t TCommandsList::GetFlag() const {
    return region_ ? AcquireByte(region_ + offsetof(TCommandsRegion, Flag)) : 0;
}

void TCommandsList::SetFlag(uint8_t flag) {
    if (region_) ReleaseByte(region_ + offsetof(TCommandsRegion, Flag), flag);
}

bool TCommandsList::ExchangeFlag(uint8_t expected, uint8_t desired) {
    if (region_ == nullptr) return false;
    return std::atomic_ref<uint8_t>(region_[offsetof(TCommandsRegion, Flag)])
        .compare_exchange_strong(expected, desired, std::memory_order_acq_rel, std::memory_order_acquire);
}

platform::TDateTime TCommandsList::GetTime() const {
    return region_ ? Load<double>(region_ + offsetof(TCommandsRegion, Time)) : platform::Now();
}

bool TCommandsList::CopyTo(TCommandsRegion& buffer) const {
    if (region_ == nullptr) {
        std::memset(&buffer, 0, sizeof buffer);
        return false;
    }
    auto* copy = reinterpret_cast<uint8_t*>(&buffer);
    std::memcpy(copy, region_, kFlagAt);
    buffer.Flag = AcquireByte(region_ + kFlagAt);
    std::memcpy(copy + kFlagAt + 1, region_ + kFlagAt + 1, sizeof buffer - kFlagAt - 1);
    // The copy's reader iterates Count: keep it within the sixteen records.
    buffer.Count = std::clamp(buffer.Count, 0, kMaxCommands);
    return true;
}

void TServerErrorList::ReleaseLock() {
    if (region_) UnlockRegion(region_ + offsetof(TServerErrorRegion, Lock));
}

// ---- TTerminalClass

void TTerminalClass::ReleaseLock() {
    if (region_) UnlockRegion(region_ + offsetof(TTerminalRegion, Lock));
}

void TTerminalClass::Attach(uint8_t* region, bool initialize) {
    region_ = region;
    if (!initialize) return;
    Store<int32_t>(region_ + offsetof(TTerminalRegion, Counter), 0);
    region_[offsetof(TTerminalRegion, Lock)] = 0;
    Store<int32_t>(region_ + offsetof(TTerminalRegion, Owner), -1);
    region_[offsetof(TTerminalRegion, Text)] = 0;
    Store(region_ + offsetof(TTerminalRegion, Params), TTerminalParams{});
}

void TTerminalClass::WriteText(std::string_view text) {
    if (region_ == nullptr || text.size() > kMaxTerminalText) return;
    Locked(region_ + offsetof(TTerminalRegion, Lock), [&] {
        uint8_t* t = region_ + offsetof(TTerminalRegion, Text);
        std::memcpy(t, text.data(), text.size());
        t[text.size()] = 0;
        uint8_t* counter = region_ + offsetof(TTerminalRegion, Counter);
        Store(counter, NextCounter(std::max(Load<int32_t>(counter), 0)));
    });
}

bool TTerminalClass::TryReadText(uint64_t waitMs, std::string& text) const {
    if (region_ == nullptr) return false;
    const char* t = reinterpret_cast<const char*>(region_ + offsetof(TTerminalRegion, Text));
    return Locked(
        region_ + offsetof(TTerminalRegion, Lock), [&] { text.assign(t, ::strnlen(t, kMaxTerminalText)); },
        waitMs);
}

int32_t TTerminalClass::GetCounter() const {
    int32_t counter = 0;
    TryGetCounter(LockTimeout, counter);
    return counter;
}

// Under the lock, as the writer counts: a plain read races with the device thread's update.
bool TTerminalClass::TryGetCounter(uint64_t waitMs, int32_t& counter) const {
    if (region_ == nullptr) return false;
    const uint8_t* p = region_ + offsetof(TTerminalRegion, Counter);
    return Locked(
        region_ + offsetof(TTerminalRegion, Lock), [&] { counter = Load<int32_t>(p); }, waitMs);
}

int32_t TTerminalClass::GetOwner() const {
    return region_ ? Load<int32_t>(region_ + offsetof(TTerminalRegion, Owner)) : -1;
}

void TTerminalClass::SetOwner(int32_t owner) {
    if (region_) Store(region_ + offsetof(TTerminalRegion, Owner), owner);
}

bool TTerminalClass::ReadParams(int32_t owner, TTerminalParams& params) const {
    std::memset(&params, 0, sizeof params);
    if (region_ == nullptr || GetOwner() != owner) return false;
    params = Load<TTerminalParams>(region_ + offsetof(TTerminalRegion, Params));
    return true;
}

bool TTerminalClass::WriteParams(int32_t owner, const TTerminalParams& params) {
    if (region_ == nullptr || GetOwner() != owner) return false;
    Store(region_ + offsetof(TTerminalRegion, Params), params);
    return true;
}

} // namespace framework
