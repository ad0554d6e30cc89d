#include "framework/terminal_data.h"

#include <algorithm>

namespace framework {

void TTerminalDataClass::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    text_.clear();
}

void TTerminalDataClass::AddLine(std::string_view s) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t separator = text_.empty() ? 0 : 2;
    if (text_.size() + separator + s.size() + 2 >= kBufferSize) return;
    // The whole line is judged above, but the text ends at its first zero.
    s = s.substr(0, s.find('\0'));
    const std::size_t size = text_.size() + separator + s.size();
    // Grown by hand: doubling alone would take a full log past the bound.
    if (size > text_.capacity()) text_.reserve(std::min(kBufferSize, std::max(size, 2 * text_.capacity())));
    if (separator) text_.insert(text_.end(), {'\r', '\n'});
    text_.insert(text_.end(), s.begin(), s.end());
}

std::string TTerminalDataClass::GetText() const {
    std::lock_guard<std::mutex> guard(lock_);
    return std::string(text_.data(), text_.size());
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
