// Starting another program, detached from the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line into its arguments: an argument in double quotes may hold blanks, one
// without quotes ends at a blank. The first argument is the program. A quote that is never closed
// makes the line unusable: empty result.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Starts the program of the command line with the other arguments, in a session of its own, with
// the caller's environment and current directory and none of its descriptors besides 0..2. The
// program is never the caller's child, so nothing is left behind as a zombie. True only when the
// program was actually executed; then processId (when given) is its pid.
bool StartDetachedProcess(std::string_view commandLine, uint32_t* processId = nullptr);

} // namespace platform
