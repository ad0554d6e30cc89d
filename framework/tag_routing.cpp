#include "framework/tag_routing.h"

#include <algorithm>
#include <new>

#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/variable_index.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace framework {

namespace {

bool HasExchangeArea() {
    return Intercom != nullptr && Intercom->IsOpen();
}

// The integer of a routing part, -1 when it is none.
int32_t RoutingNumber(std::string_view text) {
    return platform::StrToIntDef(platform::Trim(text), -1);
}

// The letter-case copy and the upper-case working copy of a routing text, cut in step.
struct TRoutingText {
    std::string AsGiven;
    std::string Work;

    // Everything before the first `c` of Work, trimmed; both copies lose it and `c`, and are trimmed.
    bool Take(char c, std::string& head) {
        const std::size_t p = Work.find(c);
        if (p == std::string::npos) return false;
        head = platform::Trim(std::string_view(Work).substr(0, p));
        Work = platform::Trim(std::string_view(Work).substr(p + 1));
        AsGiven = platform::Trim(std::string_view(AsGiven).substr(p + 1));
        return true;
    }
};

} // namespace

bool ParseTagRouting(std::string_view text, std::string& prefix, int32_t& device, std::string& strAddress,
                     int32_t& address) {
    prefix.clear();
    strAddress.clear();
    device = -1;
    address = -1;
    TRoutingText t;
    t.AsGiven = platform::Trim(text);
    if (t.AsGiven.empty()) return false;
    t.Work = platform::UpperCase(t.AsGiven);
    if (!t.Take(':', prefix)) return false;

    std::string key;
    if (!t.Take('=', key)) {
        strAddress = t.AsGiven;
        return true;
    }
    if (key == "ROUTING") {
        strAddress = t.AsGiven;
        return true;
    }
    if (key != "DEVICE") return false;
    std::string number;
    if (!t.Take(';', number)) return false;
    device = RoutingNumber(number);
    if (!t.Take('=', key) || key != "ADDRESS") return false;
    address = RoutingNumber(t.Work);
    return true;
}

// ---- TReceiveVariables

TReceiveVariables::~TReceiveVariables() {
    FreeAll();
}

void TReceiveVariables::FreeItem(void* item) {
    delete static_cast<TReceiveVariable*>(item);
}

bool TReceiveVariables::TrimTo(int32_t n) {
    n = std::max(n, 0);
    if (Count() <= n) return true;
    while (Count() > n)
        AtFree(0);
    return false;
}

bool TReceiveVariables::Add(std::string_view prefix, int32_t device, float value, std::string_view strAddress,
                            int32_t address) {
    auto* r = new (std::nothrow) TReceiveVariable{};
    if (r == nullptr) return false;
    r->Prefix.Set(prefix);
    r->Device = device;
    r->Address = address;
    r->StrAddress.Set(strAddress);
    r->Value = value;
    Insert(r);
    return true;
}

bool TReceiveVariables::Flush() {
    if (VariableIndex == nullptr || !HasExchangeArea()) {
        Report(kErrServerData, platform::Cp("Ошибка при инициализации данных сервера доступа к устройству."));
        FreeAll();
        return false;
    }
    if (Count() == 0 || VariableIndex->Count() == 0) {
        FreeAll();
        return true;
    }
    bool result = true;
    // Every record is consumed once, written or not.
    for (int32_t i = 0; i < Count(); ++i) {
        const TReceiveVariable* r = RecordAt(i);
        const std::string prefix = r->Prefix.Get();
        if (!WriteTagValue(VariableIndex, prefix, r->Device, r->Value, r->StrAddress.Get(), r->Address)) {
            Report(kErrTagWrite, platform::Cp("Ошибка при записи нового значения тега: ") + prefix +
                                     ": DEVICE=" + platform::IntToStr(r->Device) +
                                     " ADDRESS=" + platform::IntToStr(r->Address));
            result = false;
        }
    }
    FreeAll();
    return result;
}

// ---- values into the area

bool WriteTagValue(TVariableIndex* index, std::string_view prefix, int32_t device, float value,
                   std::string_view strAddress, int32_t address) {
    if (!HasExchangeArea() || index == nullptr || index->Count() == 0) return false;
    // The index holds upper-cased prefixes; devices may be configured in any letter case.
    const TVariableIndexItem* item = index->Find(platform::UpperCase(prefix), device, address, strAddress);
    if (item == nullptr) return true;
    TDMLVariableEntry entry;
    if (!Intercom->DMLVariablesList.Read(item->EntryIndex, entry)) {
        Report(kErrTagInfo, platform::Cp("Ошибка при получении информации об обрабатываемом теге."));
        return false;
    }
    const float divisor = entry.Info.Divisor;
    if (divisor != 0) value = value / divisor;
    if (index->Options == 0 && item->TwoStateFlag != 0) value = value == 0 ? 1.0f : 0.0f;
    return Intercom->DMLVariablesList.SetValue(item->EntryIndex, platform::Now(), value);
}

bool SetDynamicTag(std::string_view name, bool onlyUpdate, float value) {
    if (!HasExchangeArea()) return false;
    return Intercom->DynemicVariablesList.Register(name, onlyUpdate, value, platform::Now());
}

// ---- TImitatorVariableList

TImitatorVariableList::~TImitatorVariableList() {
    FreeAll();
}

void TImitatorVariableList::FreeItem(void* item) {
    delete static_cast<TImitatorVariable*>(item);
}

void TImitatorVariableList::Build(int32_t device, std::string_view prefix) {
    if (VariableIndex == nullptr) return;
    for (int32_t i = 0; i < VariableIndex->Count(); ++i) {
        const TVariableIndexItem* item = VariableIndex->ItemAt(i);
        if (item->Device != device || !platform::SameText(item->Prefix.Get(), prefix)) continue;
        if (item->KindByte > 1) continue;
        Insert(new TImitatorVariable{i, 0});
    }
}

} // namespace framework
