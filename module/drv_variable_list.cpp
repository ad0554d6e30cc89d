#include "module/drv_variable_list.h"

#include <cstddef>
#include <cstring>

#include "framework/driver_error.h"
#include "framework/tag_routing.h"
#include "platform/text.h"

namespace module {

using hostapi::TVLVariableInfo;

namespace {

TDrvVariableRecord* NewRecord(const TVLVariableInfo& info, std::string_view domain, int32_t device,
                              int32_t address, std::string_view strAddress) {
    auto* r = new TDrvVariableRecord{};
    r->VariableId = info.VariableId;
    r->Domain.Set(domain);
    r->Device = device;
    r->TagAddress = address;
    r->StrAddress.Set(strAddress);
    const std::string name = platform::FieldText(info.Name);
    platform::SetFieldText(r->Name, name);
    r->Value = info.Value;
    r->LastValue = info.Value;
    // Bit for bit: the singles are kept as their 32-bit patterns.
    const auto* raw = reinterpret_cast<const unsigned char*>(&info);
    r->Kind = info.Kind;
    r->Byte663 = info.Byte663;
    std::memcpy(&r->Low, raw + offsetof(TVLVariableInfo, Low), 4);
    std::memcpy(&r->High, raw + offsetof(TVLVariableInfo, High), 4);
    std::memcpy(&r->Deadband, raw + offsetof(TVLVariableInfo, Deadband), 4);
    std::memcpy(&r->Divisor, raw + offsetof(TVLVariableInfo, Divisor), 4);
    r->Byte728 = info.Byte728;
    r->TwoState = info.TwoState;
    r->Key = TDRVVariableList::MakeKey(r->Domain.Get(), device, address, r->StrAddress.Get());
    return r;
}

} // namespace

TIdIndexList::~TIdIndexList() {
    FreeAll();
}

int32_t TIdIndexList::Compare(const void* key1, const void* key2) {
    const int32_t a = *static_cast<const int32_t*>(key1);
    const int32_t b = *static_cast<const int32_t*>(key2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

const void* TIdIndexList::KeyOf(const void* item) {
    return &static_cast<const TIdIndexItem*>(item)->VariableId;
}

void TIdIndexList::FreeItem(void* item) {
    delete static_cast<TIdIndexItem*>(item);
}

TDRVVariableList::TDRVVariableList() : index_(new TIdIndexList) {}

TDRVVariableList::~TDRVVariableList() {
    FreeAll();
    delete index_;
}

std::string TDRVVariableList::MakeKey(std::string_view domain, int32_t device, int32_t address,
                                      std::string_view strAddress) {
    std::string key(domain);
    key += ':';
    key += std::to_string(device);
    key += ':';
    key += std::to_string(address);
    key += ':';
    key += strAddress;
    return key;
}

int32_t TDRVVariableList::Compare(const void* key1, const void* key2) {
    const int c = static_cast<const std::string*>(key1)->compare(*static_cast<const std::string*>(key2));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

const void* TDRVVariableList::KeyOf(const void* item) {
    return &static_cast<const TDrvVariableRecord*>(item)->Key;
}

void TDRVVariableList::FreeItem(void* item) {
    delete static_cast<TDrvVariableRecord*>(item);
}

TDrvVariableRecord* TDRVVariableList::InsertRecord(TDrvVariableRecord* record) {
    int32_t at = 0;
    if (Search(&record->Key, at)) return Item<TDrvVariableRecord>(at);
    AtInsert(at, record);
    return nullptr;
}

bool FindRoutingDomain(std::string_view name, hostapi::TVLRoutingDomainInfo& info) {
    const int32_t n = VLGetRoutingDomainNum();
    for (int32_t i = 0; i < n; ++i) {
        info.Size = sizeof info;
        if (VLGetRoutingDomainInfo(i, &info) == 0 && platform::FieldText(info.Name) == name) return true;
    }
    return false;
}

bool TDRVVariableList::LoadDomain(std::string_view name) {
    std::string domain = platform::UpperCase(platform::Trim(name));
    if (domain.size() > 255) domain.resize(255);
    if (domain.empty()) return false;
    hostapi::TVLRoutingDomainInfo dinfo{};
    if (!FindRoutingDomain(domain, dinfo)) return false;
    for (int32_t i = 0; i < dinfo.VariableCount; ++i) {
        TVLVariableInfo info{};
        if (VLGetVariableInfoByDomainId(dinfo.DomainId, i, &info) < 0) return false;
        std::string prefix, strAddress;
        int32_t device = 0, address = 0;
        const bool parsed = framework::ParseTagRouting(platform::FieldText(info.Routing), prefix, device,
                                                       strAddress, address);
        if (!parsed) {
            if (prefix == domain)
                framework::Report(framework::kErrRoutingString, "DLM::Тег "_cp +
                                                                    platform::FieldText(info.Name) +
                                                                    " содержит ошибку в строке роутинга."_cp);
            continue;
        }
        if (prefix != domain) continue;
        TDrvVariableRecord* record = NewRecord(info, domain, device, address, strAddress);
        if (TDrvVariableRecord* existing = InsertRecord(record)) {
            if (framework::ErrorObj != nullptr) {
                std::string text;
                framework::ErrorObj->GetErrorText(framework::kErrDuplicateAddress, record->VariableId, text);
                text += " ( " + platform::FieldText(record->Name) + "/" +
                        platform::FieldText(existing->Name) + " )";
                framework::ErrorObj->WriteMessage(framework::kErrDuplicateAddress, text);
            }
            delete record;
        }
    }
    return true;
}

bool TDRVVariableList::AddVariable(const TVLVariableInfo& info) {
    TDrvVariableRecord* record = NewRecord(info, "OSTROLINKA", 1, info.VariableId, "");
    if (InsertRecord(record) != nullptr) delete record;
    return true;
}

bool TDRVVariableList::RebuildIndex() {
    index_->FreeAll();
    for (int32_t i = 0; i < Count(); ++i) {
        auto* item = new TIdIndexItem{RecordAt(i)->VariableId, i};
        int32_t at = 0;
        if (index_->Search(&item->VariableId, at))
            delete item; // the first position of an id wins
        else
            index_->AtInsert(at, item);
    }
    return true;
}

const TDrvVariableRecord* TDRVVariableList::FindById(int32_t id) {
    int32_t at = 0;
    if (!index_->Search(&id, at)) return nullptr;
    const int32_t i = index_->Item<TIdIndexItem>(at)->Index;
    return i >= 0 && i < Count() ? RecordAt(i) : nullptr;
}

} // namespace module
