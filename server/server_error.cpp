#include "server/server_error.h"

#include <fstream>

#include "framework/intercom.h"
#include "platform/process.h"
#include "platform/text.h"
#include "server/server_globals.h"

namespace server {

using framework::Intercom;

void TServerErrorClass::WriteError(int32_t code, int32_t arg, const std::exception* e) {
    if (!Enabled || Intercom == nullptr) return;
    try {
        std::string text;
        if (e != nullptr)
            text = e->what();
        else
            GetErrorText(code, arg, text);
        Deliver(code, text);
    } catch (...) {
        // A report must never take its reporter down.
    }
}

void TServerErrorClass::WriteMessage(int32_t code, const std::string& text) {
    if (!Enabled || Intercom == nullptr) return;
    try {
        Deliver(code, text);
    } catch (...) {
    }
}

void TServerErrorClass::Deliver(int32_t code, const std::string& text) {
    if (framework::TIntercomInterface* area = Intercom) area->ServerErrorList.Add(code, text);
    const platform::HWND wnd = Window.load();
    // A closing window may be inside its destruction: a synchronous send to it could wait for a
    // thread that waits for us.
    if (wnd == 0 || ServerClosing.load()) return;
    platform::SendMessage(wnd, kServerLogMessage, static_cast<platform::WPARAM>(static_cast<intptr_t>(code)),
                          reinterpret_cast<platform::LPARAM>(text.c_str()));
}

bool IsServerRunning() {
    framework::TIntercomInterface* area = Intercom;
    if (area == nullptr || !area->IsOpen()) return false;
    const int32_t pid = area->ServerData.GetProcessId();
    const auto wnd = static_cast<platform::HWND>(area->ServerData.GetWindow());
    return pid != 0 && wnd != 0 && platform::IsWindow(wnd) &&
           platform::GetProcessVersion(static_cast<uint32_t>(pid)) != 0;
}

bool SaveLogToStream(const framework::TTerminalDataClass& log, std::ostream& out) {
    try {
        const std::string text = log.GetText();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        return static_cast<bool>(out);
    } catch (...) {
        return false;
    }
}

bool SaveLogToFile(const framework::TTerminalDataClass& log, const std::string& name) {
    if (platform::Trim(name).empty()) return false;
    try {
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        return out && SaveLogToStream(log, out) && out.flush();
    } catch (...) {
        return false;
    }
}

} // namespace server
