// Stand-in of the host's tag library: tag records answered from the host tag database file, which
// is read again whenever it changes, so that a test or the host program can set a tag's value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "host/host_tag_database.h"
#include "hostapi/tag_library.h"
#include "platform/text.h"

using hostapi::TAPITagInfo;
using hostapi::TAPITagValue;

namespace {

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
        for (const std::string& p : db->Problems())
            std::fprintf(stderr, "%s: %s\n", file.c_str(), p.c_str());
    return *db;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t API_GetTagInfoByName(const char* name, TAPITagInfo* info) {
    if (name == nullptr || info == nullptr || info->Size != static_cast<int32_t>(sizeof *info))
        return kBadArgument;
    std::lock_guard<std::mutex> guard(Lock);
    const host::THostTag* tag = Database().FindByName(name);
    if (tag == nullptr) return kUnknownTag;
    std::memset(reinterpret_cast<char*>(info) + sizeof info->Size, 0, sizeof *info - sizeof info->Size);
    info->Id = tag->Id;
    platform::SetFieldText(info->Name, tag->Name);
    platform::SetFieldText(info->Routing, tag->Routing);
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

__attribute__((visibility("default"))) int32_t API_GetTagValueByGlobalIndex(int32_t index,
                                                                            TAPITagValue* value) {
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
