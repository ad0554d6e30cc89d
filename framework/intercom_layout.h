// Layout of the exchange area, the block that the module and the server share. Both processes are
// built from this header, but a block may come from another build: every offset, width and reserved
// byte below is fixed.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "hostapi/variables_library.h"

namespace framework {

#pragma pack(push, 1)

// A length byte and up to 255 characters; the bytes after the length carry no meaning.
struct TShortString {
    uint8_t Length;
    char Chars[255];

    std::string Get() const { return std::string(Chars, Length); }
    // Longer texts are cut to 255 characters.
    void Set(std::string_view text) {
        const std::size_t n = text.size() < sizeof Chars ? text.size() : sizeof Chars;
        Length = static_cast<uint8_t>(n);
        std::memcpy(Chars, text.data(), n);
    }
};

// "Ostrolinka" as a short string, then zeros.
struct TRegionStamp {
    uint8_t Bytes[256];
};

// The module's status byte: 1 to 3 are set by initialisation, Run and Stop; 4 to 11 are the stages
// of the module thread's pass, which the server shows.
enum TDriverState : uint8_t {
    dsNotSet = 0,
    dsInitialized = 1,
    dsRunning = 2,
    dsStopped = 3,
    dsPassStart = 4,      // a tick began: counter, server watch
    dsCommands = 5,       // a timed-out batch is given up
    dsCommandPublish = 6, // a done batch cleared, the next one published
    dsDynamicTags = 7,
    dsStaticTags = 8,
    dsServerErrors = 9,
    dsPassEnd = 10, // a scan pass done
    dsLoopEnded = 11,
};

enum TCommandState : uint8_t {
    csIdle = 0,
    csPublished = 1,
    csTaken = 2,
    csDone = 3,
};

// Region 1.
struct TOstrolinkaInfoRegion {
    TRegionStamp Stamp;
    TShortString Title;
    uint8_t State;
    TShortString Prefixes;
    int32_t TransactionId;
    int32_t HostWindow;
};

struct TServerSlot {
    int32_t ProcessId;
    int32_t WindowHandle;
    TShortString Reserved;
    int32_t TransactionId;
    uint8_t RunFlag;
};

// Region 2.
struct TServerDataRegion {
    TRegionStamp Stamp;
    TServerSlot Slots[32];
};

struct TDMLVariableEntry {
    float Value;    // written by the server
    float LastSent; // written by the module
    double Time;
    hostapi::TVLVariableInfo Info;
};

// Region 3 without its entries, which follow it back to back.
struct TDMLVariablesHeader {
    TRegionStamp Stamp;
    int32_t Count;
    int32_t Reserved;
};

struct TServerErrorEntry {
    int32_t Code;
    uint8_t Reserved[4];
    double Time;
    TShortString Text;
};

// Region 4.
struct TServerErrorRegion {
    int32_t Sequence;
    uint8_t Lock;
    uint8_t Reserved5[3];
    int32_t Count;
    uint8_t Reserved12[4];
    TServerErrorEntry Records[101]; // the last one is never used
};

struct TDynamicVariableEntry {
    TShortString Name;
    float Value;
    double Time;
    hostapi::TVLVariableInfo Info;
};

// Region 5.
struct TDynamicVariablesRegion {
    TRegionStamp Stamp;
    int32_t Count;
    TDynamicVariableEntry Entries[256]; // the last one is never used
};

struct TCommandRecord {
    int32_t VariableId;
    TShortString Domain;
    int32_t Device;
    int32_t TagAddress;
    TShortString StrAddress;
    float Value;
    float OldValue;
};

// Region 6.
struct TCommandsRegion {
    TRegionStamp Stamp;
    TShortString Domain;
    int32_t Device;
    uint8_t Reserved516[4];
    double Time;
    int32_t Count;
    uint8_t Flag;
    uint8_t Reserved533[3];
    TCommandRecord Commands[16];
    uint8_t Reserved9048[536];
};

struct TTerminalParams {
    TShortString PortName;
    uint8_t LinkState;
    uint8_t Reserved257[3];
    int32_t Frequency;
    int32_t Interval;
};

// Regions 7 to 9.
struct TTerminalRegion {
    int32_t Counter;
    int32_t Owner;
    uint8_t Lock;
    uint8_t Reserved9[3];
    TTerminalParams Params;
    char Text[56536];
};

#pragma pack(pop)

static_assert(sizeof(TShortString) == 256);
static_assert(sizeof(TRegionStamp) == 256);

static_assert(sizeof(TOstrolinkaInfoRegion) == 777);
static_assert(offsetof(TOstrolinkaInfoRegion, Title) == 256);
static_assert(offsetof(TOstrolinkaInfoRegion, State) == 512);
static_assert(offsetof(TOstrolinkaInfoRegion, Prefixes) == 513);
static_assert(offsetof(TOstrolinkaInfoRegion, TransactionId) == 769);
static_assert(offsetof(TOstrolinkaInfoRegion, HostWindow) == 773);

static_assert(sizeof(TServerSlot) == 269);
static_assert(offsetof(TServerSlot, WindowHandle) == 4);
static_assert(offsetof(TServerSlot, Reserved) == 8);
static_assert(offsetof(TServerSlot, TransactionId) == 264);
static_assert(offsetof(TServerSlot, RunFlag) == 268);
static_assert(sizeof(TServerDataRegion) == 8864);
static_assert(offsetof(TServerDataRegion, Slots) == 256);

static_assert(sizeof(TDMLVariableEntry) == 777);
static_assert(offsetof(TDMLVariableEntry, LastSent) == 4);
static_assert(offsetof(TDMLVariableEntry, Time) == 8);
static_assert(offsetof(TDMLVariableEntry, Info) == 16);
static_assert(sizeof(TDMLVariablesHeader) == 264);
static_assert(offsetof(TDMLVariablesHeader, Count) == 256);
static_assert(offsetof(TDMLVariablesHeader, Reserved) == 260);

static_assert(sizeof(TServerErrorEntry) == 272);
static_assert(offsetof(TServerErrorEntry, Reserved) == 4);
static_assert(offsetof(TServerErrorEntry, Time) == 8);
static_assert(offsetof(TServerErrorEntry, Text) == 16);
static_assert(sizeof(TServerErrorRegion) == 27488);
static_assert(offsetof(TServerErrorRegion, Lock) == 4);
static_assert(offsetof(TServerErrorRegion, Reserved5) == 5);
static_assert(offsetof(TServerErrorRegion, Count) == 8);
static_assert(offsetof(TServerErrorRegion, Reserved12) == 12);
static_assert(offsetof(TServerErrorRegion, Records) == 16);

static_assert(sizeof(TDynamicVariableEntry) == 1029);
static_assert(offsetof(TDynamicVariableEntry, Value) == 256);
static_assert(offsetof(TDynamicVariableEntry, Time) == 260);
static_assert(offsetof(TDynamicVariableEntry, Info) == 268);
static_assert(sizeof(TDynamicVariablesRegion) == 263684);
static_assert(offsetof(TDynamicVariablesRegion, Count) == 256);
static_assert(offsetof(TDynamicVariablesRegion, Entries) == 260);

static_assert(sizeof(TCommandRecord) == 532);
static_assert(offsetof(TCommandRecord, Domain) == 4);
static_assert(offsetof(TCommandRecord, Device) == 260);
static_assert(offsetof(TCommandRecord, TagAddress) == 264);
static_assert(offsetof(TCommandRecord, StrAddress) == 268);
static_assert(offsetof(TCommandRecord, Value) == 524);
static_assert(offsetof(TCommandRecord, OldValue) == 528);
static_assert(sizeof(TCommandsRegion) == 9584);
static_assert(offsetof(TCommandsRegion, Domain) == 256);
static_assert(offsetof(TCommandsRegion, Device) == 512);
static_assert(offsetof(TCommandsRegion, Reserved516) == 516);
static_assert(offsetof(TCommandsRegion, Time) == 520);
static_assert(offsetof(TCommandsRegion, Count) == 528);
static_assert(offsetof(TCommandsRegion, Flag) == 532);
static_assert(offsetof(TCommandsRegion, Reserved533) == 533);
static_assert(offsetof(TCommandsRegion, Commands) == 536);
static_assert(offsetof(TCommandsRegion, Reserved9048) == 9048);

static_assert(sizeof(TTerminalParams) == 268);
static_assert(offsetof(TTerminalParams, LinkState) == 256);
static_assert(offsetof(TTerminalParams, Frequency) == 260);
static_assert(offsetof(TTerminalParams, Interval) == 264);
static_assert(sizeof(TTerminalRegion) == 56816);
static_assert(offsetof(TTerminalRegion, Owner) == 4);
static_assert(offsetof(TTerminalRegion, Lock) == 8);
static_assert(offsetof(TTerminalRegion, Params) == 12);
static_assert(offsetof(TTerminalRegion, Text) == 280);

// Region limits.
constexpr int32_t kServerSlotCount = 32;
constexpr int32_t kMaxServerErrors = 100;
constexpr int32_t kMaxDynamicVariables = 255;
constexpr int32_t kMaxCommands = 16;
constexpr std::size_t kMaxTerminalText = sizeof(TTerminalRegion::Text) - 1;

// The block: the nine regions back to back, region 3 holding n static tags.
struct TIntercomBlock {
    static constexpr std::size_t OstrolinkaInfoOffset = 0;
    static constexpr std::size_t ServerDataOffset = OstrolinkaInfoOffset + sizeof(TOstrolinkaInfoRegion);
    static constexpr std::size_t DMLVariablesOffset = ServerDataOffset + sizeof(TServerDataRegion);

    static constexpr std::size_t DMLVariablesSize(std::size_t n) {
        return sizeof(TDMLVariablesHeader) + sizeof(TDMLVariableEntry) * n;
    }
    static constexpr std::size_t ServerErrorsOffset(std::size_t n) {
        return DMLVariablesOffset + DMLVariablesSize(n);
    }
    static constexpr std::size_t DynamicVariablesOffset(std::size_t n) {
        return ServerErrorsOffset(n) + sizeof(TServerErrorRegion);
    }
    static constexpr std::size_t CommandsOffset(std::size_t n) {
        return DynamicVariablesOffset(n) + sizeof(TDynamicVariablesRegion);
    }
    // terminal 0 request, 1 commands, 2 remote
    static constexpr std::size_t TerminalOffset(std::size_t n, int terminal) {
        return CommandsOffset(n) + sizeof(TCommandsRegion) + sizeof(TTerminalRegion) * terminal;
    }
    static constexpr std::size_t Size(std::size_t n) { return TerminalOffset(n, 3); }

    // The static-tag capacity that gives a block of `size` bytes; false when none does.
    static constexpr bool CapacityOf(std::size_t size, int32_t& n) {
        if (size < Size(0) || (size - Size(0)) % sizeof(TDMLVariableEntry) != 0) return false;
        const std::size_t c = (size - Size(0)) / sizeof(TDMLVariableEntry);
        if (c > static_cast<std::size_t>(INT32_MAX)) return false;
        n = static_cast<int32_t>(c);
        return true;
    }
};

static_assert(TIntercomBlock::ServerDataOffset == 777);
static_assert(TIntercomBlock::DMLVariablesOffset == 9641);
static_assert(TIntercomBlock::ServerErrorsOffset(0) == 9905);
static_assert(TIntercomBlock::DynamicVariablesOffset(0) == 37393);
static_assert(TIntercomBlock::CommandsOffset(0) == 301077);
static_assert(TIntercomBlock::TerminalOffset(0, 0) == 310661);
static_assert(TIntercomBlock::TerminalOffset(0, 1) == 367477);
static_assert(TIntercomBlock::TerminalOffset(0, 2) == 424293);
static_assert(TIntercomBlock::Size(0) == 481109);
static_assert(TIntercomBlock::Size(3) == 481109 + 777 * 3);

} // namespace framework
