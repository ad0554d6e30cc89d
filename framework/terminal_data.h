// Bounded text logs: a device's poll and command traces, a connection's trace, the error object's log.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace framework {

class TTerminalDataClass {
public:
    static constexpr std::size_t kBufferSize = 40961;

    TTerminalDataClass() = default;
    virtual ~TTerminalDataClass() = default;
    TTerminalDataClass(const TTerminalDataClass&) = delete;
    TTerminalDataClass& operator=(const TTerminalDataClass&) = delete;

    void Clear();
    // Appends a line (CR LF before it unless the buffer is empty) when the text stays at most
    // 40958 characters long; a line that does not fit is dropped whole.
    void AddLine(std::string_view s);
    std::string GetText() const;

private:
    // The error object's log is written from several threads; the lock keeps lines whole.
    mutable std::mutex lock_;
    // Grows with the lines written, never past kBufferSize: a device's logs are mostly never written.
    std::vector<char> text_;
};

// Appends a line to a log that may be absent (a step that has no log to write to).
void AddLog(TTerminalDataClass* log, std::string_view line);

// Frames in device logs: every byte as "(" + two upper-case hexadecimal digits + ")".
std::string FormatLogData(std::string_view data);

} // namespace framework
