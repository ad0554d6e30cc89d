// Small utilities of the framework: the reachability test of the TCP connections and one-call
// readers of settings-file values.
#pragma once

#include <cstdint>
#include <string>

namespace framework {

// Round-trip time in milliseconds of one ICMP echo to the dotted IPv4 Address, or -1 (no answer
// within TimeoutMs, an answer from another address, a host name, any failure).
int32_t Ping(const std::string& Address, int32_t TimeoutMs);

// Open the ini file, read one value, close it. Default when the file, section or key is missing or
// the value is not an integer; a Boolean is an integer, 0 False and any other True.
int32_t IniReadInteger(const std::string& FileName, const std::string& Section, const std::string& Key,
                       int32_t Default);
bool IniReadBool(const std::string& FileName, const std::string& Section, const std::string& Key,
                 bool Default);

} // namespace framework
