#include "platform/poll_wait.h"

#include "platform/clock.h"
#include "platform/thread.h"

#include <algorithm>
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

int PollOneUnlessTerminated(int fd, short events, int timeoutMs, short& revents) {
    const bool limited = timeoutMs >= 0;
    const uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(limited ? timeoutMs : 0);
    for (;;) {
        if (TThread::CurrentTerminated()) {
            revents = 0;
            return 0;
        }
        const int wait = limited ? std::min(MsUntil(deadline), kTerminationLookMs) : kTerminationLookMs;
        const int r = PollOne(fd, events, wait, revents);
        if (r != 0 || (limited && MsUntil(deadline) == 0)) return r;
    }
}

} // namespace platform
