// The server's error sink: every report goes to the exchange area's error list, for the module, and
// to the server window's log. Also the test of a live registered server and the remote log's saving.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

#include "framework/driver_error.h"
#include "framework/terminal_data.h"
#include "platform/messages.h"

namespace server {

class TServerErrorClass : public framework::TDriverErrorClass {
public:
    // To the window: wParam the code, lParam the zero-terminated text, sent synchronously.
    static constexpr platform::UINT kServerLogMessage = 1246;

    explicit TServerErrorClass(platform::HWND window = 0) : Window(window) {}

    // Without an exchange area, or disabled, a report is dropped; nothing goes to the object's log.
    void WriteError(int32_t code, int32_t arg, const std::exception* e) override;
    void WriteMessage(int32_t code, const std::string& text) override;

    // The server window, 0 for none.
    std::atomic<platform::HWND> Window;

private:
    void Deliver(int32_t code, const std::string& text);
};

// A server is registered in the area's slot and still lives: its process and its window exist.
bool IsServerRunning();

// The text of a log, its characters without a terminator. False when it could not be written; the
// caller needs not care.
bool SaveLogToStream(const framework::TTerminalDataClass& log, std::ostream& out);
// Replaces the file with the text; a blank name writes nothing.
bool SaveLogToFile(const framework::TTerminalDataClass& log, const std::string& name);

} // namespace server
