#include "module/module_log.h"

#include <cstdio>

#include "platform/text.h"

namespace module {

TModuleErrorClass::TModuleErrorClass(std::string logFile) : logFile_(std::move(logFile)) {}

void TModuleErrorClass::AddToLog(int32_t code, const std::string& text) {
    TDriverErrorClass::AddToLog(code, text);
    if (logFile_.empty()) return;
    const std::string line = text + ": " + platform::IntToStr(code) + "\r\n";
    std::lock_guard<std::mutex> guard(fileLock_);
    if (std::FILE* f = std::fopen(logFile_.c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

} // namespace module
