// Processes of the machine.
#pragma once

#include <cstdint>

namespace platform {

// Non-zero for a live process (the version word of its subsystem, as the original platform gives it),
// 0 for a pid that stands for no process or for a zombie. Pid 0 means the calling process.
uint32_t GetProcessVersion(uint32_t processId);

} // namespace platform
