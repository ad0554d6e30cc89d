// The lines of a connection's trace, as cp1251 bytes.
#pragma once

#include "framework/terminal_data.h"

#include <string>
#include <vector>

namespace testsupport {

using Trace = std::vector<std::string>;

inline Trace LogLines(const framework::TTerminalDataClass& log) {
    Trace out;
    const std::string text = log.GetText();
    std::size_t pos = 0;
    while (!text.empty()) {
        const std::size_t end = text.find("\r\n", pos);
        out.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos) break;
        pos = end + 2;
    }
    return out;
}

} // namespace testsupport
