#include "platform/process.h"

#include "platform/window_table.h"

#include <climits>
#include <unistd.h>

namespace platform {

namespace {
// Major version 4, minor 0: what callers saw for every program of the original platform.
constexpr uint32_t SubsystemVersion = 0x00040000u;
} // namespace

uint32_t GetProcessVersion(uint32_t processId) {
    if (processId == 0) return SubsystemVersion;
    if (processId > static_cast<uint32_t>(INT_MAX)) return 0;
    uint64_t start = 0;
    return ProcessStartTime(static_cast<pid_t>(processId), start) ? SubsystemVersion : 0;
}

} // namespace platform
