// The module's error object. Its log lives in memory, as the log window reads it; when the settings
// file names a log file, every line is also appended there, so that a host without the log window
// (and the tests) can follow the log. Only a regular file is written (made when missing).
#pragma once

#include <mutex>
#include <string>

#include "framework/driver_error.h"

namespace module {

class TModuleErrorClass : public framework::TDriverErrorClass {
public:
    // An empty name keeps the log in memory only.
    explicit TModuleErrorClass(std::string logFile = std::string());
    void AddToLog(int32_t code, const std::string& text) override;

    const std::string& LogFile() const { return logFile_; }

private:
    std::string logFile_;
    std::mutex fileLock_;
    bool fileRefused_ = false;
};

} // namespace module
