// The host's variable record, as its variables library fills it. The static-tag and dynamic-tag
// regions of the exchange area store it whole, so every byte keeps its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace framework {

#pragma pack(push, 1)
struct TVLVariableInfo {
    int32_t VariableId;
    char Name[41];       // zero-terminated
    char Routing[255];   // routing text, zero-terminated
    uint8_t Reserved300[356];
    float Value;         // initial value
    uint8_t Reserved660[2];
    uint8_t Byte662;     // the tag kind
    uint8_t Byte663;
    float Single664;     // the two singles whose sign the tag index records
    float Single668;
    uint8_t Reserved672[8];
    float Deadband;
    float Single684;     // scale divisor of received values, 0 for none
    uint8_t Reserved688[40];
    uint8_t Byte728;
    int32_t Int729;      // non-zero for a two-state tag
    uint8_t Reserved733[28];
};
#pragma pack(pop)

static_assert(sizeof(TVLVariableInfo) == 761);
static_assert(offsetof(TVLVariableInfo, VariableId) == 0);
static_assert(offsetof(TVLVariableInfo, Name) == 4);
static_assert(offsetof(TVLVariableInfo, Routing) == 45);
static_assert(offsetof(TVLVariableInfo, Value) == 656);
static_assert(offsetof(TVLVariableInfo, Byte662) == 662);
static_assert(offsetof(TVLVariableInfo, Byte663) == 663);
static_assert(offsetof(TVLVariableInfo, Single664) == 664);
static_assert(offsetof(TVLVariableInfo, Single668) == 668);
static_assert(offsetof(TVLVariableInfo, Deadband) == 680);
static_assert(offsetof(TVLVariableInfo, Single684) == 684);
static_assert(offsetof(TVLVariableInfo, Byte728) == 728);
static_assert(offsetof(TVLVariableInfo, Int729) == 729);

// A zero-terminated field of the record as text; a field without its zero ends at its width.
template <std::size_t N> std::string FieldText(const char (&field)[N]) {
    const void* end = std::memchr(field, 0, N);
    return std::string(field, end ? static_cast<const char*>(end) - field : N);
}

// Stores text into a zero-terminated field, cut so that the zero fits.
template <std::size_t N> void SetFieldText(char (&field)[N], const std::string& text) {
    const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

} // namespace framework
