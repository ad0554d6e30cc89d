#include "platform/poll_wait.h"

#include "platform/clock.h"

#include <cerrno>
#include <limits>
#include <poll.h>

namespace platform {

int MsUntil(uint64_t deadline) {
    const uint64_t now = MonotonicMs();
    if (now >= deadline) return 0;
    const uint64_t left = deadline - now;
    return left > static_cast<uint64_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                         : static_cast<int>(left);
}

int PollOne(int fd, short events, int timeoutMs, short& revents) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        revents = p.revents;
        if (r < 0) return -1;
        return r == 0 ? 0 : 1;
    }
}

} // namespace platform
