#include "framework/variable_index.h"

#include <cstring>

#include "framework/intercom.h"
#include "framework/tag_routing.h"
#include "platform/text.h"

namespace framework {

TVariableIndex* VariableIndex = nullptr;

namespace {

// The item with its key text beside it, so that a search formats no text per comparison.
struct TIndexNode : TVariableIndexItem {
    std::string Key;
};

} // namespace

TVariableIndex::~TVariableIndex() {
    FreeAll();
}

void TVariableIndex::FreeItem(void* item) {
    delete static_cast<TIndexNode*>(item);
}

const void* TVariableIndex::KeyOf(const void* item) {
    return &static_cast<const TIndexNode*>(item)->Key;
}

int32_t TVariableIndex::Compare(const void* key1, const void* key2) {
    // Byte-wise: "DEVICE=10" sorts before "DEVICE=2".
    const int c = static_cast<const std::string*>(key1)->compare(*static_cast<const std::string*>(key2));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string TVariableIndex::MakeKey(std::string_view prefix, int32_t device, int32_t address,
                                    std::string_view strAddress) {
    std::string key = "PREFIX=";
    key += prefix;
    key +=
        " DEVICE=" + platform::IntToStr(device) + " ADDRESS=" + platform::IntToStr(address) + " STRADDRESS=";
    key += platform::UpperCase(strAddress);
    return key;
}

const TVariableIndexItem* TVariableIndex::Find(std::string_view prefix, int32_t device, int32_t address,
                                               std::string_view strAddress) {
    const std::string key = MakeKey(prefix, device, address, strAddress);
    int32_t i = 0;
    return Search(&key, i) ? ItemAt(i) : nullptr;
}

bool TVariableIndex::Build() {
    if (Intercom == nullptr) return false;
    TDMLVariablesList& tags = Intercom->DMLVariablesList;
    const int32_t count = tags.GetCount();
    for (int32_t i = 0; i < count; ++i) {
        TDMLVariableEntry entry;
        if (!tags.Read(i, entry)) continue;
        std::string prefix, strAddress;
        int32_t device = -1, address = -1;
        if (!ParseTagRouting(platform::Trim(platform::FieldText(entry.Info.Routing)), prefix, device,
                             strAddress, address))
            continue;
        auto* node = new TIndexNode{};
        node->VariableId = entry.Info.VariableId;
        node->Prefix.Set(prefix);
        node->Device = device;
        node->Address = address;
        node->StrAddress.Set(strAddress);
        node->EntryIndex = i;
        node->Value = entry.Value;
        node->InitialValue = entry.Info.Value;
        node->SignFlag = (entry.Info.Low < 0 || entry.Info.High < 0) ? 1 : 0;
        node->TwoStateFlag = entry.Info.TwoState != 0 ? 1 : 0;
        node->KindByte = entry.Info.Kind;
        node->Key = MakeKey(node->Prefix.Get(), device, address, node->StrAddress.Get());
        int32_t at = 0;
        if (Search(&node->Key, at))
            delete node; // the first tag with a key wins
        else
            AtInsert(at, node);
    }
    return true;
}

} // namespace framework
