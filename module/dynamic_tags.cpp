#include "module/dynamic_tags.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <string>

#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "hostapi/variables_library.h"
#include "module/received_buffer.h"
#include "platform/text.h"

namespace module {

namespace {

using framework::Report;

framework::TDynemicVariablesList* Region() {
    framework::TIntercomInterface* area = framework::Intercom;
    return area != nullptr && area->IsOpen() ? &area->DynemicVariablesList : nullptr;
}

// Calls f(i, entry) for each entry of the region that can be read; the others are reported when
// `report` says so.
template <class F> void ForEachEntry(framework::TDynemicVariablesList& region, bool report, F f) {
    const int32_t n = region.GetCount();
    for (int32_t i = 0; i < n; ++i) {
        framework::TDynamicVariableEntry entry;
        if (region.Read(i, entry))
            f(i, entry);
        else if (report)
            Report(framework::kErrNone, "Dynamic tag not found.");
    }
}

void Resolve(framework::TDynemicVariablesList& region, int32_t i, framework::TDynamicVariableEntry& entry) {
    const std::string name = entry.Name.Get();
    int32_t reserved = 0;
    hostapi::TVLVariableInfo info{};
    if (VLGetVariableInfoByName(name.c_str(), &reserved, &info) == 0) {
        entry.Info = info;
        if (!region.Write(i, entry)) Report(framework::kErrNone, "Dynamic SetVariableInfo: Internal error.");
        return;
    }
    entry.Info.VariableId = kDynamicTagUnknown;
    region.Write(i, entry);
    Report(framework::kErrNone, "Динамический тег "_cp + name + " не описан в базе OSTROLINKA."_cp);
}

} // namespace

TDynamicTagList::~TDynamicTagList() {
    FreeAll();
}

int32_t TDynamicTagList::Compare(const void* key1, const void* key2) {
    const auto* a = static_cast<const framework::TShortString*>(key1);
    const auto* b = static_cast<const framework::TShortString*>(key2);
    const int c = std::memcmp(a->Chars, b->Chars, a->Length < b->Length ? a->Length : b->Length);
    if (c != 0) return c < 0 ? -1 : 1;
    return a->Length == b->Length ? 0 : (a->Length < b->Length ? -1 : 1);
}

const void* TDynamicTagList::KeyOf(const void* item) {
    return &static_cast<const TDynamicTagItem*>(item)->Name;
}

void TDynamicTagList::FreeItem(void* item) {
    delete static_cast<TDynamicTagItem*>(item);
}

TDynamicTagItem* TDynamicTagList::Find(std::string_view name) {
    framework::TShortString key{};
    key.Set(name);
    int32_t i = 0;
    return Search(&key, i) ? Item<TDynamicTagItem>(i) : nullptr;
}

bool ResolveDynamicTags() {
    framework::TDynemicVariablesList* region = Region();
    if (region == nullptr) return false;
    ForEachEntry(*region, true, [region](int32_t i, framework::TDynamicVariableEntry& entry) {
        if (entry.Info.VariableId != kDynamicTagUnresolved || entry.Name.Length == 0) return;
        try {
            Resolve(*region, i, entry);
        } catch (const std::exception& e) {
            Report(framework::kErrReported, "DLM::TagName=" + entry.Name.Get() + " " + e.what());
        }
    });
    return true;
}

bool ScanDynamicTags(TDynamicTagList& list, TReceivedBuffer& buffer) {
    framework::TDynemicVariablesList* region = Region();
    if (region == nullptr) return false;
    ForEachEntry(*region, true, [&](int32_t, const framework::TDynamicVariableEntry& entry) {
        if (entry.Info.VariableId < 0) return;
        TDynamicTagItem* item = list.Find(entry.Name.Get());
        if (item == nullptr) {
            list.Insert(new TDynamicTagItem{entry.Name, entry.Info.VariableId, entry.Value, entry.Time});
            buffer.AddValue(entry.Info.VariableId, entry.Value);
            return;
        }
        const float d = std::fabs(entry.Value - item->Value);
        if (!(d >= entry.Info.Deadband && d > 0.0f)) return;
        buffer.AddValue(entry.Info.VariableId, entry.Value);
        item->Value = entry.Value;
        item->Time = entry.Time;
    });
    return true;
}

bool SendAllDynamicTags(TDynamicTagList&, TReceivedBuffer& buffer) {
    framework::TDynemicVariablesList* region = Region();
    if (region == nullptr) return false;
    ForEachEntry(*region, false, [&](int32_t, const framework::TDynamicVariableEntry& entry) {
        if (entry.Info.VariableId >= 0) buffer.AddValue(entry.Info.VariableId, entry.Info.Value);
    });
    return true;
}

} // namespace module
