// The device description file: per device type, the read requests with the layout of their answers
// and the write commands per host tag address; its in-memory model and its loader.
//
// The loader reports problems to the process's error object (code -1) and keeps the device types read
// before a failure. The model is read-only once loaded and is then read by every device thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/collections.h"

namespace framework {
class TTerminalDataClass;
class TReceiveVariables;
} // namespace framework

namespace modbus {

// Type codes of items and commands.
enum : uint8_t {
    btUnknown = 0,
    btByte = 1,
    btShortInt = 2,
    btSmallInt = 3,
    btWord = 4,
    btLongInt = 5,
    btLongWord = 6,
    btSingle = 7,
    btLongIntSwap = 8,
    btLongWordSwap = 9,
    btSingleSwap = 10,
};

// What is done with a decoded value.
enum : uint8_t {
    pkEmpty = 0,
    pkBitString = 1,
    pkValue = 2,
    pkAlarmCode = 3,
};

uint8_t ParseDataType(const std::string& text);
uint8_t ParseProcType(const std::string& text);

// The text at which the last parse step stopped; the load messages show it.
extern std::string ParseErrorText;
// The expected root element name.
extern std::string EddRootName;

// One typed value of a data block; an item heads the chain of its subitems.
class TDataBlockItem {
public:
    TDataBlockItem() = default;
    // Reads the element; a text that does not read leaves an empty item (no type, nothing delivered).
    explicit TDataBlockItem(const std::string& text);
    ~TDataBlockItem();
    TDataBlockItem(const TDataBlockItem&) = delete;
    TDataBlockItem& operator=(const TDataBlockItem&) = delete;

    bool LoadFromXml(const std::string& text);
    void Reset();

    std::string name;
    uint8_t TypeCode = btUnknown;
    uint8_t ProcKind = pkEmpty;
    int32_t tsaddress = -1;
    std::string expression;
    std::unique_ptr<TDataBlockItem> NextSubitem;
};

class TDataBlock : public framework::TBaseArray {
public:
    ~TDataBlock() override { FreeAll(); }
    void FreeItem(void* item) override { delete static_cast<TDataBlockItem*>(item); }

    bool LoadFromXml(const std::string& text);
    TDataBlockItem* Items(int32_t index) const { return Item<TDataBlockItem>(index); }

    std::string BlockType = "NORMAL";
};

struct TDeviceRequest {
    std::string name;
    int32_t id = -1;
    int32_t address = -1;
    int32_t size = -1;
    int32_t function = 3; // the file's number whole: one that does not fit the frame is refused, not cut
    int32_t class_ = 0;   // the file's "class"; stored only
    TDataBlock DataBlock;
};

// Fills one request record from its element; false when it is not a valid request.
bool ParseRequest(const std::string& text, TDeviceRequest& request);

class TDeviceRequestList : public framework::TBaseArray {
public:
    ~TDeviceRequestList() override { FreeAll(); }
    void FreeItem(void* item) override { delete static_cast<TDeviceRequest*>(item); }

    bool LoadFromXml(const std::string& content);
    TDeviceRequest* Requests(int32_t index) const { return Item<TDeviceRequest>(index); }
};

struct TCommandActionItem {
    bool LoadFromXml(const std::string& text);

    std::string name;
    int32_t address = -1;
    int32_t function = 0; // the file's number whole, so that 65542 is not taken for 6
    uint16_t size = 0;
    std::string expression;
    uint16_t sleep = 0; // milliseconds
    uint8_t TypeCode = btUnknown;
};

class TCommandActionList : public framework::TBaseArray {
public:
    ~TCommandActionList() override { FreeAll(); }
    void FreeItem(void* item) override { delete static_cast<TCommandActionItem*>(item); }

    bool LoadFromXml(const std::string& text);
    TCommandActionItem* Actions(int32_t index) const { return Item<TCommandActionItem>(index); }
};

struct TDeviceCommand {
    bool LoadFromXml(const std::string& text);

    std::string name;
    int32_t id = 0;
    uint8_t TypeCode = btUnknown;
    int32_t tsaddress = -1;
    TCommandActionList Actions;
};

// Sorted by tsaddress; a command whose tsaddress is present already is dropped.
class TDeviceCommandList : public framework::TSortedArray {
public:
    ~TDeviceCommandList() override { FreeAll(); }
    void FreeItem(void* item) override { delete static_cast<TDeviceCommand*>(item); }
    const void* KeyOf(const void* item) override {
        return &static_cast<const TDeviceCommand*>(item)->tsaddress;
    }
    int32_t Compare(const void* key1, const void* key2) override;

    bool LoadFromXml(const std::string& content);
    TDeviceCommand* FindByTsAddress(int32_t address) const;
    TDeviceCommand* Commands(int32_t index) const { return Item<TDeviceCommand>(index); }
};

struct TDeviceTypeRecord {
    std::string name;
    TDeviceRequestList Requests;
    TDeviceCommandList Commands;
};

// Device types sorted by name, byte-wise and letter case significant.
class TEDDV2File : public framework::TSortedArray {
public:
    static constexpr std::size_t kMaxNameLength = 255;

    ~TEDDV2File() override { FreeAll(); }
    void FreeItem(void* item) override { delete static_cast<TDeviceTypeRecord*>(item); }
    const void* KeyOf(const void* item) override {
        return &static_cast<const TDeviceTypeRecord*>(item)->name;
    }
    int32_t Compare(const void* key1, const void* key2) override;

    virtual void Prepare() {}
    // The NORMAL block decoder: 0 when every item was decoded, else -12.
    virtual int32_t DecodeReceivedData(const std::string& data, const std::string& routingPrefix,
                                       framework::TTerminalDataClass* log,
                                       framework::TReceiveVariables* received, const TDeviceRequest& request,
                                       int32_t deviceAddress) const;

    bool LoadFromFile(const std::string& path);
    bool LoadFromStrings(const std::vector<std::string>& lines);
    TDeviceTypeRecord* FindDevice(const std::string& name);
    TDeviceTypeRecord* Devices(int32_t index) const { return Item<TDeviceTypeRecord>(index); }
};

class TEDDDeviceFile : public TEDDV2File {
public:
    void Prepare() override {}
};

// The one description model of the process: nullptr until the driver's Init.
extern TEDDDeviceFile* DeviceDescriptions;

} // namespace modbus
