// The driver's error codes, their texts, and the error object that logs them and hands an error
// record to the log window.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "framework/terminal_data.h"
#include "platform/messages.h"

namespace framework {

// The driver's result codes. The error object knows the texts of those marked so (see
// GetErrorText); the others are reported with their reporter's own text.
constexpr int32_t kErrNone = 0;        // known: operation done; also a report that carries only its text
constexpr int32_t kErrReported = -1;   // the reporter's text (a lost link, a failed cycle, ...); from a
                                       // frame or block step: nothing to work on, or it raised
constexpr int32_t kErrConfigWrite = 1; // the configuration file could not be written
constexpr int32_t kErrDuplicateAddress = -2;   // known: a tag's physical address is bound twice
constexpr int32_t kErrNoPrefix = -3;           // known: the device's prefix is empty or not in the tag base
constexpr int32_t kErrReinitialize = -4;       // known
constexpr int32_t kErrNotInitialized = -5;     // known
constexpr int32_t kErrBadArguments = -6;       // known
constexpr int32_t kErrNotSupported = -7;       // known
constexpr int32_t kErrCommandFailed = -8;      // known, with the address
constexpr int32_t kErrCrc = -9;                // known, with the device address
constexpr int32_t kErrDeviceAddress = -10;     // known, with the device address
constexpr int32_t kErrProtocol = -11;          // known, with the exception code
constexpr int32_t kErrBlockLength = -12;       // known
constexpr int32_t kErrNoAnswer = -13;          // known, with the panel number
constexpr int32_t kErrPortOpen = -14;          // known
constexpr int32_t kErrPortWrite = -15;         // known
constexpr int32_t kErrIcon = -16;              // the main window's icon did not load
constexpr int32_t kErrServerData = -20;        // received values could not be flushed
constexpr int32_t kErrTagWrite = -21;          // a new tag value could not be written
constexpr int32_t kErrTagInfo = -22;           // no information on a written tag
constexpr int32_t kErrCommandNotHandled = -24; // known
constexpr int32_t kErrRoutingString = -25;     // a tag's routing string is wrong
constexpr int32_t kErrInternalBuffer = -26;
constexpr int32_t kErrSharedData = -27;
constexpr int32_t kErrDynamicTags = -28;
constexpr int32_t kErrHostTransfer = -29;
constexpr int32_t kErrStaticTags = -30;
constexpr int32_t kErrBlockType = -31;   // known: a received block of no known type
constexpr int32_t kErrLockTagName = -32; // the access-lock tag's name is wrong

constexpr platform::UINT WM_DRIVERERROR = 3246;
constexpr platform::WPARAM DRIVER_ERROR_WPARAM = 2222;

#pragma pack(push, 1)
struct TDriverErrorRecord {
    int32_t Size;      // always 1048
    int32_t Reserved1; // zero
    double Time;       // local time of the report, days since 1899-12-30
    int32_t Code;
    char Text[1025];      // zero-terminated, at most 1024 characters
    uint8_t Reserved2[3]; // zero
};
#pragma pack(pop)
static_assert(sizeof(TDriverErrorRecord) == 1048);
static_assert(offsetof(TDriverErrorRecord, Size) == 0);
static_assert(offsetof(TDriverErrorRecord, Reserved1) == 4);
static_assert(offsetof(TDriverErrorRecord, Time) == 8);
static_assert(offsetof(TDriverErrorRecord, Code) == 16);
static_assert(offsetof(TDriverErrorRecord, Text) == 20);
static_assert(offsetof(TDriverErrorRecord, Reserved2) == 1045);

// An exception whose message is a cp1251 text, as the system's own code raises them.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

class TDriverErrorClass {
public:
    static constexpr std::size_t kMaxRecordText = 1024;

    TDriverErrorClass();
    virtual ~TDriverErrorClass();
    TDriverErrorClass(const TDriverErrorClass&) = delete;
    TDriverErrorClass& operator=(const TDriverErrorClass&) = delete;

    virtual void AddToLog(int32_t code, const std::string& text);
    // Reports a code by its table text, or an exception by its message.
    virtual void WriteError(int32_t code, int32_t arg, const std::exception* e);
    // Reports a code with the caller's text; code 0 is reported too.
    virtual void WriteMessage(int32_t code, const std::string& text);
    virtual void GetErrorText(int32_t code, int32_t arg, std::string& text);

    std::atomic<bool> Enabled{true};
    TTerminalDataClass* Log;

protected:
    // Steps shared by both reports: the record to the log window, the line to the log.
    void Deliver(int32_t code, const std::string& logText);
};

// The table text of a code with %d filled from arg, as the process's error object gives it.
std::string ErrorText(int32_t code, int32_t arg);

// The window that receives WM_DRIVERERROR, 0 when none.
extern std::atomic<platform::HWND> LogWindowHandle;
// The process's error object (the module's or the server's), nullptr while there is none.
extern TDriverErrorClass* ErrorObj;

// Reports a code with the caller's text through the process's error object, when there is one.
void Report(int32_t code, const std::string& text);

} // namespace framework
