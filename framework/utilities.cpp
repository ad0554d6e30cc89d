#include "framework/utilities.h"

#include "platform/icmp.h"
#include "platform/ini_file.h"

namespace framework {

int32_t Ping(const std::string& Address, int32_t TimeoutMs) {
    std::string source;
    const int32_t rtt = platform::IcmpEcho(Address, TimeoutMs, &source);
    // Only an answer from exactly the address asked for counts.
    return rtt >= 0 && source == Address ? rtt : -1;
}

int32_t IniReadInteger(const std::string& FileName, const std::string& Section, const std::string& Key,
                       int32_t Default) {
    return platform::TIniFile(FileName).ReadInteger(Section, Key, Default);
}

bool IniReadBool(const std::string& FileName, const std::string& Section, const std::string& Key,
                 bool Default) {
    return platform::TIniFile(FileName).ReadBool(Section, Key, Default);
}

} // namespace framework
