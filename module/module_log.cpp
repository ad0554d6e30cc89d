#include "module/module_log.h"

#include "platform/files.h"
#include "platform/text.h"

namespace module {

TModuleErrorClass::TModuleErrorClass(std::string logFile) : logFile_(std::move(logFile)) {}

void TModuleErrorClass::AddToLog(int32_t code, const std::string& text) {
    TDriverErrorClass::AddToLog(code, text);
    if (logFile_.empty()) return;
    const std::string line = text + ": " + platform::IntToStr(code) + "\r\n";
    std::lock_guard<std::mutex> guard(fileLock_);
    // A FIFO or a device named as the log is not written: a FIFO nobody reads would hold this thread
    // for good. The memory log says so once, until the file takes lines again.
    std::string why;
    if (platform::AppendToRegularFile(logFile_, line, &why)) {
        fileRefused_ = false;
    } else if (!fileRefused_) {
        fileRefused_ = true;
        TDriverErrorClass::AddToLog(framework::kErrNone, why);
    }
}

} // namespace module
