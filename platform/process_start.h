// Starting another program, detached from the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Starts the program named by the first argument with all the arguments, each passed whole (a folder
// name may hold quotes and blanks: nothing is split again), in a session of its own, with the
// caller's environment and current directory and none of its descriptors besides 0..2. The program
// is never the caller's child, so nothing is left behind as a zombie. True only when the program was
// actually executed; then processId (when given) is its pid. False with the error number that stopped
// the start in `error` (when given).
bool StartDetachedProcess(const std::vector<std::string>& arguments, uint32_t* processId = nullptr,
                          int* error = nullptr);

} // namespace platform
