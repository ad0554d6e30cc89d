// The host's variables library (libMirandol), as the system calls it: its records and functions.
// The host fills the records; the static-tag and dynamic-tag regions of the exchange area store a
// variable record whole, so every byte keeps its place. Every argument is a 32-bit value or a pointer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hostapi {

#pragma pack(push, 1)
struct TVLVariableInfo {
    int32_t VariableId;
    char Name[41];     // zero-terminated
    char Routing[255]; // routing text, zero-terminated
    uint8_t Reserved300[356];
    float Value; // initial value
    uint8_t Reserved660[2];
    uint8_t Kind;    // the tag kind
    uint8_t Byte663; // copied into the module's variable records, not interpreted
    float Low;       // the value range; the tag index records whether either is negative
    float High;
    uint8_t Reserved672[8];
    float Deadband;
    float Divisor; // scale divisor of received values, 0 for none
    uint8_t Reserved688[40];
    uint8_t Byte728;  // copied into the module's variable records, not interpreted
    int32_t TwoState; // non-zero for a two-state tag
    uint8_t Reserved733[28];
};

struct TVLRoutingDomainInfo {
    int32_t Size; // 267, set by the caller
    int32_t DomainId;
    char Name[255]; // zero-terminated
    int32_t VariableCount;
};
#pragma pack(pop)

static_assert(sizeof(TVLVariableInfo) == 761);
static_assert(offsetof(TVLVariableInfo, VariableId) == 0);
static_assert(offsetof(TVLVariableInfo, Name) == 4);
static_assert(offsetof(TVLVariableInfo, Routing) == 45);
static_assert(offsetof(TVLVariableInfo, Value) == 656);
static_assert(offsetof(TVLVariableInfo, Kind) == 662);
static_assert(offsetof(TVLVariableInfo, Byte663) == 663);
static_assert(offsetof(TVLVariableInfo, Low) == 664);
static_assert(offsetof(TVLVariableInfo, High) == 668);
static_assert(offsetof(TVLVariableInfo, Deadband) == 680);
static_assert(offsetof(TVLVariableInfo, Divisor) == 684);
static_assert(offsetof(TVLVariableInfo, Byte728) == 728);
static_assert(offsetof(TVLVariableInfo, TwoState) == 729);

static_assert(sizeof(TVLRoutingDomainInfo) == 267);
static_assert(offsetof(TVLRoutingDomainInfo, DomainId) == 4);
static_assert(offsetof(TVLRoutingDomainInfo, Name) == 8);
static_assert(offsetof(TVLRoutingDomainInfo, VariableCount) == 263);

// The variable list block: int32 count at 4, the records from 24, one after another.
constexpr std::size_t kVLListCountOffset = 4;
constexpr std::size_t kVLListRecordsOffset = 24;

// The chooser's name buffer: the name and its terminating zero.
constexpr std::size_t kVLNavigatorBufferSize = 256;

// A block handed out by the library; it stays valid until VLFreeResource.
typedef void* VLHandle;

} // namespace hostapi

extern "C" {
int32_t VLGetRoutingDomainNum();
// 0: filled; -1: no such index, no record or its Size is not 267.
int32_t VLGetRoutingDomainInfo(int32_t index, hostapi::TVLRoutingDomainInfo* info);
// Not negative: filled with variable `index` of the domain; negative: no such domain or variable.
int32_t VLGetVariableInfoByDomainId(int32_t domainId, int32_t index, hostapi::TVLVariableInfo* info);
// 0: filled; 1: no variable of that id or name; -1: no record given.
int32_t VLGetVariableInfoById(int32_t variableId, int32_t* reserved, hostapi::TVLVariableInfo* info);
int32_t VLGetVariableInfoByName(const char* name, int32_t* reserved, hostapi::TVLVariableInfo* info);
// 0: *handle is a new list block of every variable; -1 otherwise (*handle is then null).
int32_t VLGetVariablesListByType(int32_t kind, int32_t flags, int32_t reserved, hostapi::VLHandle* handle);
// Releases a block of VLGetVariablesListByType and clears the handle; 0, or -1 for no handle.
int32_t VLFreeResource(hostapi::VLHandle* handle);
// The host's tag chooser: a modal list of the names of the host's variables. The buffer of
// kVLNavigatorBufferSize bytes is zeroed first; non-zero when a name was picked, which is then in the
// buffer, zero-terminated. Answers 0 at once where the calling thread has no Qt application to show
// it with. The answer is a 16-bit value: a caller tests nothing beyond those bits.
uint16_t VLNavigatorDialog(uint32_t window, char* buffer);
}
