#include "framework/terminal_data.h"

#include <cstring>

namespace framework {

TTerminalDataClass::TTerminalDataClass() : buffer_(new char[kBufferSize]), length_(0) {
    std::memset(buffer_, 0, kBufferSize);
}

TTerminalDataClass::~TTerminalDataClass() {
    delete[] buffer_;
}

void TTerminalDataClass::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    std::memset(buffer_, 0, kBufferSize);
    length_ = 0;
}

void TTerminalDataClass::AddLine(std::string_view s) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t separator = length_ > 0 ? 2 : 0;
    if (length_ + separator + s.size() + 2 >= kBufferSize) return;
    if (separator) {
        buffer_[length_++] = '\r';
        buffer_[length_++] = '\n';
    }
    std::memcpy(buffer_ + length_, s.data(), s.size());
    length_ += s.size();
    buffer_[length_] = '\0';
    if (std::memchr(s.data(), 0, s.size()) != nullptr) length_ = std::strlen(buffer_);
}

std::string TTerminalDataClass::GetText() const {
    std::lock_guard<std::mutex> guard(lock_);
    return std::string(buffer_, length_);
}

void AddLog(TTerminalDataClass* log, std::string_view line) {
    if (log != nullptr) log->AddLine(line);
}

std::string FormatLogData(std::string_view data) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 4);
    for (char c : data) {
        const auto b = static_cast<unsigned char>(c);
        out += '(';
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += ')';
    }
    return out;
}

} // namespace framework
