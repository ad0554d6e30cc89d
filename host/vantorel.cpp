// Stand-in of the host's tag library: tag records answered from the host tag database file, which
// is read again whenever it changes, so that a test or the host program can set a tag's value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "host/host_tag_database.h"

namespace {

#pragma pack(push, 1)
struct TAPITagInfo {
    int32_t Size; // 3702, set by the caller
    int32_t Id;
    char Name[256]; // zero-terminated
    char Routing[256];
    double Value;
    double Deadband;
    double Low;
    double High;
    uint8_t Kind;
    uint8_t Reserved553[3];
    int32_t TwoState;
    double Divisor;
    uint8_t Reserved568[3102];
    int32_t GlobalIndex;
    uint8_t Reserved3674[28];
};
struct TAPITagValue {
    int32_t Size; // 44, set by the caller
    int32_t GlobalIndex;
    uint8_t Reserved8[4];
    double Value;
    uint8_t Reserved20[24];
};
#pragma pack(pop)
static_assert(sizeof(TAPITagInfo) == 3702);
static_assert(offsetof(TAPITagInfo, Name) == 8);
static_assert(offsetof(TAPITagInfo, Routing) == 264);
static_assert(offsetof(TAPITagInfo, Value) == 520);
static_assert(offsetof(TAPITagInfo, Kind) == 552);
static_assert(offsetof(TAPITagInfo, TwoState) == 556);
static_assert(offsetof(TAPITagInfo, Divisor) == 560);
static_assert(offsetof(TAPITagInfo, GlobalIndex) == 3670);
static_assert(sizeof(TAPITagValue) == 44);
static_assert(offsetof(TAPITagValue, Value) == 12);

// Results: 0 success.
constexpr int32_t kUnknownTag = 1;
constexpr int32_t kBadArgument = 2;

std::mutex Lock;

// The database of the file named now; a changed file name starts afresh.
host::THostTagDatabase& Database() {
    static std::unique_ptr<host::THostTagDatabase> db;
    const std::string file = host::HostTagDatabaseFile();
    if (!db || db->FileName() != file) db = std::make_unique<host::THostTagDatabase>(file);
    if (db->Refresh())
        for (const std::string& p : db->Problems()) std::fprintf(stderr, "%s: %s\n", file.c_str(), p.c_str());
    return *db;
}

void CopyText(char* field, std::size_t width, const std::string& text) {
    const std::size_t n = text.size() < width - 1 ? text.size() : width - 1;
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), n);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t API_GetTagInfoByName(const char* name, TAPITagInfo* info) {
    if (name == nullptr || info == nullptr || info->Size != static_cast<int32_t>(sizeof *info)) return kBadArgument;
    std::lock_guard<std::mutex> guard(Lock);
    const host::THostTag* tag = Database().FindByName(name);
    if (tag == nullptr) return kUnknownTag;
    std::memset(reinterpret_cast<char*>(info) + sizeof info->Size, 0, sizeof *info - sizeof info->Size);
    info->Id = tag->Id;
    CopyText(info->Name, sizeof info->Name, tag->Name);
    CopyText(info->Routing, sizeof info->Routing, tag->Routing);
    info->Value = tag->Value;
    info->Deadband = tag->Deadband;
    info->Low = tag->Low;
    info->High = tag->High;
    info->Kind = tag->Kind;
    info->TwoState = tag->TwoState;
    info->Divisor = tag->Divisor;
    info->GlobalIndex = tag->Id;
    return 0;
}

__attribute__((visibility("default"))) int32_t API_GetTagValueByGlobalIndex(int32_t index, TAPITagValue* value) {
    if (value == nullptr || value->Size != static_cast<int32_t>(sizeof *value)) return kBadArgument;
    std::lock_guard<std::mutex> guard(Lock);
    const host::THostTag* tag = Database().FindById(index);
    if (tag == nullptr) return kUnknownTag;
    std::memset(reinterpret_cast<char*>(value) + sizeof value->Size, 0, sizeof *value - sizeof value->Size);
    value->GlobalIndex = index;
    value->Value = tag->Value;
    return 0;
}

} // extern "C"
