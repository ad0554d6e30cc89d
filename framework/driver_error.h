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

constexpr platform::UINT WM_DRIVERERROR = 3246;
constexpr platform::WPARAM DRIVER_ERROR_WPARAM = 2222;

#pragma pack(push, 1)
struct TDriverErrorRecord {
    int32_t Size;          // always 1048
    int32_t Reserved1;     // zero
    double Time;           // local time of the report, days since 1899-12-30
    int32_t Code;
    char Text[1025];       // zero-terminated, at most 1024 characters
    uint8_t Reserved2[3];  // zero
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
    void Report(int32_t code, const std::string& logText);
};

// The table text of a code with %d filled from arg, as the process's error object gives it.
std::string ErrorText(int32_t code, int32_t arg);

// The window that receives WM_DRIVERERROR, 0 when none.
extern std::atomic<platform::HWND> LogWindowHandle;
// The process's error object (the module's or the server's), nullptr while there is none.
extern TDriverErrorClass* ErrorObj;

} // namespace framework
