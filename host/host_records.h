// The records a host exchanges with a driver module, as the host lays them out. The host is not
// part of the driver: it declares these itself and links no code of the module. They stay here, apart
// from hostapi/ (what the host offers the system) and from the module's own declarations: the host
// stands outside the system and must not agree with the module by construction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrolinka_host {

// wParam of a value message, and the answer that tells the module the block was taken.
constexpr uintptr_t HOST_VALUES_ACK = 2002;
// Most entries a value block carries.
constexpr int32_t kMaxValueEntries = 1204;

#pragma pack(push, 1)

// Passed by value to DLMInitDeviceDrv.
struct TDrvInitRecord {
    uint32_t HostWindow;
    int32_t MessageId;
    int32_t SourceId;
    char Directory[4097]; // zero-terminated, cp1251
    uint8_t ConfigOnly;
};
static_assert(sizeof(TDrvInitRecord) == 4110);
static_assert(offsetof(TDrvInitRecord, HostWindow) == 0);
static_assert(offsetof(TDrvInitRecord, MessageId) == 4);
static_assert(offsetof(TDrvInitRecord, SourceId) == 8);
static_assert(offsetof(TDrvInitRecord, Directory) == 12);
static_assert(offsetof(TDrvInitRecord, ConfigOnly) == 4109);

// Filled by DLMGetDeviceInfo.
struct TDeviceInfoRecord {
    uint8_t GUID[16];
    char Title[101]; // zero-terminated
    int32_t Reserved117;
    int32_t Reserved121;
    int32_t Reserved125;
    int32_t Reserved129;
    int32_t Reserved133;
    int32_t Reserved137;
    char PrefixList[1025]; // zero-terminated
};
static_assert(sizeof(TDeviceInfoRecord) == 1166);
static_assert(offsetof(TDeviceInfoRecord, Title) == 16);
static_assert(offsetof(TDeviceInfoRecord, Reserved117) == 117);
static_assert(offsetof(TDeviceInfoRecord, Reserved121) == 121);
static_assert(offsetof(TDeviceInfoRecord, Reserved125) == 125);
static_assert(offsetof(TDeviceInfoRecord, Reserved129) == 129);
static_assert(offsetof(TDeviceInfoRecord, Reserved133) == 133);
static_assert(offsetof(TDeviceInfoRecord, Reserved137) == 137);
static_assert(offsetof(TDeviceInfoRecord, PrefixList) == 141);

// One value of a value message, or one request of a write block.
struct THostValueEntry {
    int32_t VariableId;
    float Value;
    float OldValue; // the commanded value when the module gave a write up
    int32_t Time;   // ms since local midnight
    int32_t Date;   // days, 1 January of year 1 being day 1
};
static_assert(sizeof(THostValueEntry) == 20);
static_assert(offsetof(THostValueEntry, VariableId) == 0);
static_assert(offsetof(THostValueEntry, Value) == 4);
static_assert(offsetof(THostValueEntry, OldValue) == 8);
static_assert(offsetof(THostValueEntry, Time) == 12);
static_assert(offsetof(THostValueEntry, Date) == 16);

// Head of a value block (the message's lParam) and of a write block; the entries follow.
struct THostValueBlockHeader {
    int32_t SourceId;
    int32_t Count;
};
static_assert(sizeof(THostValueBlockHeader) == 8);
static_assert(offsetof(THostValueBlockHeader, SourceId) == 0);
static_assert(offsetof(THostValueBlockHeader, Count) == 4);

#pragma pack(pop)

// The day number of 30 December 1899, day 0 of TDateTime.
constexpr int32_t kDateOfDay0 = 693594;

// The module's exports as the host calls them.
extern "C" {
typedef int32_t (*TDLMGetDeviceInfo)(TDeviceInfoRecord* info);
typedef int32_t (*TDLMInitDeviceDrv)(TDrvInitRecord record);
typedef int32_t (*TDLMNoArgs)(void); // Run, Stop, Done
typedef int32_t (*TDLMWriteDataDrv)(const void* block, int32_t size);
}

} // namespace ostrolinka_host
