// The host's tag library (libVantorel), as the system calls it: its records and functions. The
// server's device threads load it at run time, so they reach the functions through dlsym with the
// types declared here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hostapi {

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
static_assert(offsetof(TAPITagValue, GlobalIndex) == 4);
static_assert(offsetof(TAPITagValue, Value) == 12);

} // namespace hostapi

extern "C" {
// 0: the record of the tag of that name is filled; 1: no such tag; 2: no name, no record or a Size
// other than the record's.
int32_t API_GetTagInfoByName(const char* name, hostapi::TAPITagInfo* info);
// 0: the current value of the tag whose GlobalIndex is `index` is filled; 1 and 2 as above.
int32_t API_GetTagValueByGlobalIndex(int32_t index, hostapi::TAPITagValue* value);
}
