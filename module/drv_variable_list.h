// The host variables bound to this driver: per variable its id and parsed routing, sorted by that
// routing and found by id through the id index.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/collections.h"
#include "framework/intercom_layout.h"
#include "hostapi/variables_library.h"

namespace module {

struct TDrvVariableRecord {
    int32_t VariableId;
    framework::TShortString Domain; // routing prefix, upper case
    int32_t Device;
    int32_t TagAddress;
    framework::TShortString StrAddress;
    char Name[44]; // zero-terminated
    float Value;
    float LastValue;
    // Copies of the host record's fields of the same names, not interpreted; the singles are kept as
    // their 32-bit patterns.
    uint8_t Kind;
    uint8_t Byte663;
    int32_t Low;
    int32_t High;
    int32_t Deadband;
    int32_t Divisor;
    uint8_t Byte728;
    int32_t TwoState;

    std::string Key; // Domain:Device:TagAddress:StrAddress
};

struct TIdIndexItem {
    int32_t VariableId;
    int32_t Index;
};

class TIdIndexList : public framework::TSortedArray {
public:
    ~TIdIndexList() override;
    int32_t Compare(const void* key1, const void* key2) override;
    const void* KeyOf(const void* item) override;
    void FreeItem(void* item) override;
};

class TDRVVariableList : public framework::TSortedArray {
public:
    TDRVVariableList();
    ~TDRVVariableList() override;

    // Binds the variables of the host routing domain of that name (upper-cased). False when the
    // domain is unknown or the host stopped answering; what was bound until then stays.
    bool LoadDomain(std::string_view name);
    // Single-device mode: the variable as OSTROLINKA, device 1, its id as address.
    bool AddVariable(const hostapi::TVLVariableInfo& info);
    bool RebuildIndex();
    // Valid after RebuildIndex; nullptr for an id that is not bound.
    const TDrvVariableRecord* FindById(int32_t id);

    const TDrvVariableRecord* RecordAt(int32_t i) const { return Item<TDrvVariableRecord>(i); }
    TIdIndexList& Index() { return *index_; }

    static std::string MakeKey(std::string_view domain, int32_t device, int32_t address,
                               std::string_view strAddress);

    int32_t Compare(const void* key1, const void* key2) override;
    const void* KeyOf(const void* item) override;
    void FreeItem(void* item) override;

private:
    // Inserts a new key; returns the record that already holds the key (and keeps the new one out).
    TDrvVariableRecord* InsertRecord(TDrvVariableRecord* record);

    TIdIndexList* index_;
};

bool FindRoutingDomain(std::string_view name, hostapi::TVLRoutingDomainInfo& info);

} // namespace module
